"""Puts the page together: the template with its style, its script, the presets and the engine
(the WebAssembly module as JavaScript, and the worker's glue) inside, as one file."""
import json
import pathlib
import re
import sys

ENGINE_END = "/* end of the engine module */"

def problem_lines(text):
    """How many lines the problem takes: 3 + predictors + stages, from its first line."""
    counts = re.split(r"[\s,]+", text.split("\n", 1)[0].strip())
    return 3 + int(counts[4]) + int(counts[3])


def example_presets(examples):
    presets = []
    for path in sorted(examples.glob("*.txt")):
        text = path.read_text()
        note = " ".join(line.strip() for line in text.splitlines()[problem_lines(text):]).strip()
        title = "Example: " + path.stem.replace("_", " ")
        presets.append({"title": title, "note": note, "text": text})
    return presets


def inline_script(text):
    # Nothing inside a script element may close it.
    if re.search(r"</script", text, re.IGNORECASE):
        text = re.sub(r"</(script)", r"<\\/\1", text, flags=re.IGNORECASE)
    return text


def main():
    page_dir, examples, module, output = (pathlib.Path(a) for a in sys.argv[1:5])
    # The shipped examples first: the two-stage one opens the page.
    presets = example_presets(examples)
    presets.sort(key=lambda p: p["title"] != "Example: two stage")
    presets += json.loads((page_dir / "published_presets.json").read_text())
    # The module alone comes first, up to the marker (the tests run it under node).
    engine = module.read_text() + "\n" + ENGINE_END + "\n" + (page_dir / "worker.js").read_text()
    if re.search(r"</script", engine, re.IGNORECASE):
        sys.exit("assemble: the engine's source holds '</script'")
    html = (page_dir / "pelko.html").read_text()
    parts = {
        "/*@STYLE@*/": (page_dir / "page.css").read_text(),
        "/*@PRESETS@*/": inline_script(json.dumps(presets)),
        "/*@ENGINE@*/": engine,
        "/*@APP@*/": inline_script((page_dir / "app.js").read_text()),
    }
    for marker, text in parts.items():
        if html.count(marker) != 1:
            sys.exit(f"assemble: {marker} missing from the template")
        html = html.replace(marker, text)
    output.write_text(html)


if __name__ == "__main__":
    main()
