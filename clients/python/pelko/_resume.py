"""Results kept in a CSV file row by row, so that a search or sweep stopped half way goes on
where it stopped."""
import csv
import io
import os
import tempfile


def finished_rows(path, required):
    """The complete rows of the file at `path` as dicts of strings ([] when there is none),
    which must have the columns `required` (an empty cell is NaN). A last line cut short by a
    stop while it was written is dropped, and the file is written again without it (a new
    file renamed over it), so that the next row starts on a line of its own."""
    try:
        with open(path, "r", encoding="utf-8", newline="") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    if not text:
        return []
    lines = text.splitlines(keepends=True)
    kept = [line for line in lines if line.strip()]
    if kept and not kept[-1].endswith("\n"):
        kept.pop()
    rows = list(csv.DictReader(io.StringIO("".join(kept))))
    if kept:
        header = next(csv.reader([kept[0]]))
        missing = [name for name in required if name not in header]
        if missing:
            raise ValueError(f"file {path!r} has no column {', '.join(missing)}: not a file of "
                             "this function")
    complete = [None not in row and None not in row.values() for row in rows]
    if not all(complete):
        kept = kept[:1] + [line for line, ok in zip(kept[1:], complete) if ok]
        rows = [row for row, ok in zip(rows, complete) if ok]
    if len(kept) != len(lines):
        directory = os.path.dirname(os.path.abspath(path))
        with tempfile.NamedTemporaryFile("w", dir=directory, delete=False, encoding="utf-8",
                                         newline="") as fresh:
            fresh.write("".join(kept))
        os.replace(fresh.name, path)
    return rows


def append_row(path, header, cells):
    """Appends one row (strings), with the header when the file is new, and flushes it to the
    disk: a row in the file is a finished result."""
    new = not os.path.exists(path) or os.path.getsize(path) == 0
    with open(path, "a", encoding="utf-8", newline="") as f:
        writer = csv.writer(f, lineterminator="\n")
        if new:
            writer.writerow(header)
        writer.writerow(cells)
        f.flush()
        os.fsync(f.fileno())


def real(value):
    """A number as the file holds it: the shortest text that reads back to the same double;
    empty for NaN."""
    value = float(value)
    return "" if value != value else repr(value)


def one_seed(rows, seed, path):
    """The seed of the rows already in the file, which a resumed run must keep."""
    seeds = {int(float(row["seed"])) for row in rows}
    if len(seeds) > 1 or (seeds and seed is not None and int(seed) not in seeds):
        shown = ", ".join(map(str, sorted(seeds)))
        raise ValueError(f"file {path!r} holds results of seed {shown}: give that seed (or "
                         "None) to resume it, or another file")
    return seeds.pop() if seeds else seed
