#!/usr/bin/python3
"""pelko-report on the reports and JSON files of every example and of the reviewed cases, on
broken and hostile inputs, on failing outputs and without matplotlib."""

import csv
import glob
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import types
import unittest

SOURCE = os.environ["PELKO_SOURCE_DIR"]
PELKO = os.environ["PELKO"]
SCRIPT = os.path.join(SOURCE, "clients", "tools", "report", "pelko-report.py")
REPORT = [sys.executable, SCRIPT]

# The tool is a script with a dash in its name: loaded as a module from its source.
tool = types.ModuleType("pelko_report")
tool.__file__ = SCRIPT
sys.modules[tool.__name__] = tool
with open(SCRIPT) as source:
    exec(compile(source.read(), SCRIPT, "exec"), tool.__dict__)


def has_matplotlib():
    return tool.have_matplotlib()


def reports():
    """(name, report text) of every example, run now, and of every reviewed case."""
    found = []
    for problem in sorted(glob.glob(os.path.join(SOURCE, "examples", "*.txt"))):
        with open(problem, "rb") as file:
            run = subprocess.run([PELKO], stdin=file, capture_output=True, text=True, check=False)
        found.append((os.path.basename(problem), run.stdout))
    for report in sorted(glob.glob(os.path.join(SOURCE, "tests", "driver", "cases", "*.out"))):
        with open(report) as file:
            found.append((os.path.basename(report), file.read()))
    return found


def with_table(text, rows, undefined=0):
    """The report `text` with its frequency table replaced by `rows` of (value, number)."""
    lines = text.splitlines()
    nrep = sum(n for _, n in rows) + undefined
    defined = nrep - undefined
    head = lines.index("                  Value    Freq   Cfreq   Number")
    end = lines.index("", head + 1)
    table = [f"                  Undef{undefined / nrep:8.3f}        {undefined:9d}"]
    cumulative = 0.0
    for k, (value, number) in enumerate(rows, 1):
        cumulative += number / defined
        table.append(f"{k:15d}{value:8.3f}{number / defined:8.3f}{cumulative:8.3f}{number:9d}")
    lines[head + 1:end] = table
    for i, line in enumerate(lines):
        if line.startswith("Number of replications for the simulation:"):
            lines[i] = f"Number of replications for the simulation:{nrep:7d}"
    return "\n".join(lines) + "\n"


# Every AI of 5 majority and 4 minority hired of 9 and 9 is 4/5, which pelko stores as the float
# just below 0.8 and prints as 0.800.
FOUR_FIFTHS_DESIGN = "1000 18 9 1 1\n9\n0\n1\n1\n"


def pelko_json(problem, seed, folder):
    """(report, JSON file text) of one run of `problem` (a path or the problem's text)."""
    path = os.path.join(folder, "run.json")
    if os.path.exists(problem):
        with open(problem) as file:
            problem = file.read()
    run = subprocess.run([PELKO, "--seed", str(seed), "--json", path], input=problem,
                         capture_output=True, text=True, check=False)
    with open(path) as file:
        return run.stdout, file.read()


def run_tool(args, text=None, **options):
    return subprocess.run(REPORT + args, input=text, capture_output=True, text=True,
                          check=False, **options)


class ReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.reports = reports()
        cls.example = dict(cls.reports)["example.out"]

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def convert(self, text, *options):
        return run_tool(["-"] + list(options), text)

    def assertOneLine(self, run, status, *words):
        self.assertEqual(run.returncode, status, run.stderr)
        self.assertNotIn("Traceback", run.stderr)
        self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
        self.assertTrue(run.stderr.startswith("pelko-report: "), run.stderr)
        for word in words:
            self.assertIn(word, run.stderr)


class EveryReport(ReportTest):
    def test_every_report(self):
        if not has_matplotlib():
            self.skipTest("matplotlib is not installed (scripts/install-deps.sh installs it)")
        self.assertGreaterEqual(len(self.reports), 10)
        for name, text in self.reports:
            with self.subTest(report=name):
                prefix = self.path(name)
                run = self.convert(text, "--prefix", prefix)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(run.stderr, "")
                self.assertIn("P(AI < 0.8) among defined AIs", run.stdout)
                nrep = int(text.split("Number of replications for the simulation:")[1].split()[0])

                with open(prefix + ".csv", newline="") as file:
                    rows = list(csv.DictReader(file))
                counted = [r for r in rows if r["kind"] in ("row", "undef")]
                self.assertEqual(sum(int(r["number"]) for r in counted), nrep)

                with open(prefix + ".json") as file:
                    document = json.load(file)
                risk = document["four_fifths"]
                below = [r for r in document["rows"] if r["value"] < 0.8]
                # The Freq column is rounded to three decimals, one rounding per row.
                self.assertAlmostEqual(risk["p_below_defined"], sum(r["freq"] for r in below),
                                       delta=0.0005 * len(below) + 1e-9)
                self.assertEqual(risk["below_defined"], sum(r["number"] for r in below))
                self.assertEqual(risk["replications"], nrep)
                self.assertLessEqual(risk["wilson95_all"][0], risk["p_below_all"])
                self.assertGreaterEqual(risk["wilson95_all"][1], risk["p_below_all"])
                # The CSV carries the same Wilson bounds.
                csv_risk = {r["name"]: float(r["value"]) for r in rows
                            if r["kind"] == "four_fifths"}
                self.assertEqual(csv_risk["wilson95_defined_low"], risk["wilson95_defined"][0])
                self.assertEqual(csv_risk["wilson95_defined_high"], risk["wilson95_defined"][1])
                self.assertEqual(csv_risk["wilson95_all_low"], risk["wilson95_all"][0])
                self.assertEqual(csv_risk["wilson95_all_high"], risk["wilson95_all"][1])

                with open(prefix + ".png", "rb") as file:
                    picture = file.read()
                self.assertEqual(picture[:8], b"\x89PNG\r\n\x1a\n")
                self.assertEqual(struct.unpack(">II", picture[16:24]), (800, 450))
                self.assertGreater(len(picture), 10000)  # axes, bars and words, not a blank

    def test_json_carries_the_design(self):
        run = self.convert(self.example, "--prefix", self.path("design"))
        self.assertIn(run.returncode, (0, 4), run.stderr)
        with open(self.path("design.json")) as file:
            problem = json.load(file)["problem"]
        self.assertEqual(problem["nf"], 2)
        self.assertEqual(problem["npred"], 3)
        self.assertEqual((problem["nrep"], problem["nsub"], problem["nsub1"]), (1000, 200, 150))
        self.assertEqual(problem["nma"], [50, 20])
        self.assertEqual(problem["effect_sizes"], [-1.0, -0.5, 0.0])
        self.assertEqual(problem["weights"], [[1.0, 1.0, 0.0], [0.5, 0.3, 0.2]])
        self.assertEqual(problem["correlations"],
                         [[1.0, 0.3, 0.2], [0.3, 1.0, 0.4], [0.2, 0.4, 1.0]])

    def test_svg_picture(self):
        if not has_matplotlib():
            self.skipTest("matplotlib is not installed")
        picture = self.path("picture.svg")
        run = self.convert(self.example, "--prefix", self.path("svg"), "--picture", picture)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(picture) as file:
            self.assertIn("<svg", file.read())


class JsonFiles(ReportTest):
    def test_same_results_as_the_report_of_the_same_run(self):
        problems = sorted(glob.glob(os.path.join(SOURCE, "examples", "*.txt")))
        problems += [os.path.join(SOURCE, "tests", "driver", "cases", name) for name in
                     ("undefined_ai.txt", "zero_weight_ties.txt", "everybody_selected.txt")]
        for problem in problems + [FOUR_FIFTHS_DESIGN]:
            with self.subTest(problem=os.path.basename(problem)[:30]):
                text, document = pelko_json(problem, 1765185354, self.folder.name)
                printed, exact = tool.parse_report(text), tool.parse_json(document)
                for key in ("nf", "nrep", "nsub", "nsub1", "nma", "npred"):
                    self.assertEqual(printed["problem"][key], exact["problem"][key])
                self.assertEqual(printed["stages"], exact["stages"])
                self.assertEqual(printed["undef"]["number"], exact["undef"]["number"])
                self.assertEqual([r["number"] for r in printed["rows"]],
                                 [r["number"] for r in exact["rows"]])
                close = 0.0005 + 1e-6  # three decimals of a single-precision value
                for row, exact_row in zip(printed["rows"], exact["rows"]):
                    self.assertLessEqual(abs(row["value"] - exact_row["value"]), close)
                for name in ("expected", "ai", "sra", "sri"):
                    for key, value in printed[name].items():
                        self.assertLessEqual(abs(value - exact[name][key]), close, (name, key))
                # The exact count may add only rows printed as 0.800 whose ratio is below 4/5.
                printed_as_four_fifths = sum(r["number"] for r in printed["rows"]
                                             if r["value"] == 0.8)
                risk, exact_risk = tool.four_fifths(printed), tool.four_fifths(exact)
                self.assertGreaterEqual(exact_risk["below_defined"], risk["below_defined"])
                self.assertLessEqual(exact_risk["below_defined"],
                                     risk["below_defined"] + printed_as_four_fifths)
                self.assertEqual(exact_risk["below_defined"],
                                 json.loads(document)["ai_below_0_8"]["count"])
                self.assertAlmostEqual(risk["mean_ai"], exact_risk["mean_ai"], delta=close)
        # In the design above more than 300 replications sit exactly at 4/5, held as
        # 0.79999995: not below 0.8, in the report and in the JSON file alike.
        at_four_fifths = sum(e["number"] for e in exact["rows"] if e["value"] == 0.79999995)
        self.assertGreater(at_four_fifths, 300)
        self.assertEqual(exact_risk["below_defined"], risk["below_defined"])

    def test_outputs_of_a_json_file(self):
        _, document = pelko_json(FOUR_FIFTHS_DESIGN, 5, self.folder.name)
        source = self.path("edge.json")
        with open(source, "w") as file:
            file.write(document)
        run = run_tool([source])
        self.assertIn(run.returncode, (0, 4), run.stderr)
        self.assertIn("P(AI < 0.8) among defined AIs:   0.1760", run.stdout)
        with open(source) as file:
            self.assertEqual(file.read(), document)
        with open(self.path("edge-report.json")) as file:
            written = json.load(file)
        self.assertTrue(written["exact_values"])
        self.assertEqual(written["seed_second"], 5)
        self.assertEqual(written["four_fifths"]["below_defined"], 176)
        self.assertIn(0.79999995, [row["value"] for row in written["rows"]])
        with open(self.path("edge-report.csv"), newline="") as file:
            rows = {r["name"]: r["value"] for r in csv.DictReader(file) if r["kind"] == "statistic"}
        self.assertEqual(rows["cpu_seconds"], "")
        self.assertEqual(rows["stage1_ai"], str(json.loads(document)["stages"][0]["ai"]))
        if has_matplotlib():
            self.assertTrue(os.path.exists(self.path("edge-report.png")))

    def test_the_tests_of_a_json_file_and_files_without_them(self):
        _, document = pelko_json(os.path.join(SOURCE, "examples", "two_stage.txt"), 1765185354,
                                 self.folder.name)
        given = json.loads(document)
        source = self.path("tested.json")
        with open(source, "w") as file:
            file.write(document)
        run = run_tool([source])
        self.assertIn(run.returncode, (0, 4), run.stderr)
        self.assertIn("Tests of the final selection at the significance level 0.05", run.stdout)
        final = given["tests"]["four_fifths_robust"]
        self.assertIn(f"  four_fifths_robust      {final['share']:.4f}  ", run.stdout)
        with open(self.path("tested-report.json")) as file:
            written = json.load(file)
        self.assertEqual(written["tests"]["final"], given["tests"])
        self.assertEqual(written["tests"]["stages"][0], given["stages"][0]["tests"])
        with open(self.path("tested-report.csv"), newline="") as file:
            rows = {r["name"]: r for r in csv.DictReader(file) if r["kind"] == "test"}
        self.assertEqual(rows["z_ir_share"]["value"], str(given["tests"]["z_ir"]["share"]))
        self.assertEqual(rows["stage1_fisher_expected_under_no_difference"]["value"],
                         str(given["stages"][0]["tests"]["fisher"]["expected_under_no_difference"]))
        # A file of an older pelko, without tests, is read as before.
        old = dict(given)
        del old["tests"], old["significance"]
        old["stages"] = [{k: v for k, v in stage.items() if k != "tests"}
                         for stage in given["stages"]]
        report = tool.parse_json(json.dumps(old))
        self.assertNotIn("tests", report)
        self.assertEqual(tool.tests_summary(report), "")
        # Counts that do not fit their shares, or a final selection other than the last stage.
        broken = json.loads(document)
        broken["tests"]["z_test"]["count"] += 1
        with self.assertRaisesRegex(tool.ReportError, "tests.z_test is not that of"):
            tool.parse_json(json.dumps(broken))
        broken = json.loads(document)
        broken["stages"][-1]["tests"]["fisher"] = broken["stages"][0]["tests"]["fisher"]
        with self.assertRaisesRegex(tool.ReportError, "not those of the last stage"):
            tool.parse_json(json.dumps(broken))

    def test_a_byte_order_mark_is_read_past(self):
        text, document = pelko_json(FOUR_FIFTHS_DESIGN, 5, self.folder.name)
        for name, content in (("marked.json", document), ("marked.out", text)):
            with open(self.path(name), "wb") as file:
                file.write(b"\xef\xbb\xbf" + content.encode())
            run = run_tool([self.path(name), "--prefix", self.path(name + "-report")])
            self.assertIn(run.returncode, (0, 4), run.stderr)
            self.assertIn("P(AI < 0.8) among defined AIs:   0.", run.stdout)

    def test_never_overwrites_the_input_or_a_json_file_of_pelko(self):
        text, document = pelko_json(FOUR_FIFTHS_DESIGN, 5, self.folder.name)
        for name, content in (("kept.json", document), ("kept.out", text)):
            with open(self.path(name), "w") as file:
                file.write(content)
        for args in ([self.path("kept.json"), "--prefix", self.path("kept")],
                     [self.path("kept.out")], ["-", "--json", self.path("kept.json")]):
            with self.subTest(args=args):
                self.assertOneLine(run_tool(args, text), 2, "never overwrites")
                with open(self.path("kept.json")) as file:
                    self.assertEqual(file.read(), document)
                self.assertFalse(os.path.exists(self.path("kept.csv")))

    def test_the_count_below_0_8_must_be_pelkos(self):
        _, document = pelko_json(FOUR_FIFTHS_DESIGN, 5, self.folder.name)
        # pelko's count, 176, leaves out the 342 replications at exactly 4/5 (0.79999995);
        # counting them, or fewer than the rows clearly below 0.8, the table does not allow.
        def with_count(count):
            changed = json.loads(document)
            for key, total in (("ai_below_0_8", 1000), ("ai_below_0_8_or_undefined", 1000)):
                low, high = tool.wilson(count, total)
                changed[key] = {"count": count, "total": total, "share": count / total,
                                "lower": low, "upper": high}
            return json.dumps(changed)
        self.assertEqual(tool.four_fifths(tool.parse_json(document))["below_defined"], 176)
        for count in (175, 519):
            with self.assertRaisesRegex(tool.ReportError, f"ai_below_0_8 counts {count}"):
                tool.parse_json(with_count(count))
        # With the 4/5 rows held as 0.8 itself only 176 is possible.
        at_four_fifths = document.replace("0.79999995", "0.8")
        self.assertEqual(tool.four_fifths(tool.parse_json(at_four_fifths))["below_defined"], 176)
        with self.assertRaisesRegex(tool.ReportError, "ai_below_0_8 counts 518"):
            tool.parse_json(with_count(518).replace("0.79999995", "0.8"))

    def test_broken_files(self):
        _, document = pelko_json(FOUR_FIFTHS_DESIGN, 5, self.folder.name)
        row = '{"value": 0.5, "count": 156, "freq": 0.156, "cfreq": 0.176}'
        self.assertIn(row, document)
        _, nobody = pelko_json("10 20 1 1 1\n1\n3\n1\n1\n", 5, self.folder.name)
        broken = {
            "cut short": (document[:len(document) // 2], "not valid JSON"),
            "cut at the end": (document.rstrip()[:-1], "not valid JSON"),
            "NaN": (document.replace('"sr": 0.5', '"sr": NaN'), "not a finite number"),
            "Infinity": (document.replace(row, row.replace("0.5", "-Infinity")), "finite"),
            "1e999": (document.replace(row, row.replace("0.5", "1e999")), "finite"),
            "beyond single": (document.replace(row, row.replace("0.5", "1e300")), "single"),
            "null": (document.replace(row, row.replace("0.5", "null")), "not a number"),
            "string": (document.replace('"defined": 1000', '"defined": "1000"'), "count"),
            "boolean": (document.replace(row, row.replace('"count": 156', '"count": true')),
                        "not a count"),
            "twice": (document.replace('"sr":', '"sr": 0.5, "sr":'), "appears twice"),
            "freq": (document.replace(row, row.replace("0.156", "0.157")), "freq"),
            "cfreq": (document.replace(row, row.replace("0.176", "0.175")), "cfreq"),
            "count": (document.replace(row, row.replace("156", "155")), "155 of 1000"),
            "no pelko": (document.replace('"pelko"', '"other"', 1), "not one pelko wrote"),
            "nesting": ('{"program": "pelko", "problem": ' + "[" * 100000, "JSON"),
            "huge integer": (document.replace("1000", "9" * 5000, 1), "JSON"),
            "no defined AI": (nobody, "no replication has a defined AI"),
        }
        for label, (text, words) in broken.items():
            with self.subTest(broken=label):
                prefix = self.path("broken")
                run = self.convert(text, "--prefix", prefix)
                self.assertOneLine(run, 1, words)
                self.assertFalse(os.path.exists(prefix + ".csv"))


class Readme(ReportTest):
    def test_the_summary_shown_is_that_of_the_report_shown(self):
        with open(os.path.join(SOURCE, "README.md")) as file:
            readme = file.read()
        blocks = readme.split("```")[1::2]
        results = next(b for b in blocks if b.lstrip("\n").startswith("PROGRAM OUTPUT"))
        shown = next(b for b in blocks if b.lstrip("\n").startswith("Replications:"))
        echo = self.example[:self.example.index("PROGRAM OUTPUT")]
        report = tool.parse_report(echo + results.lstrip("\n"))
        self.assertEqual(tool.summary(tool.four_fifths(report)), shown.lstrip("\n"))


class Interpreters(ReportTest):
    def test_without_matplotlib_the_rest_is_written(self):
        # -S leaves out the site folders, where the distribution's matplotlib lives.
        prefix = self.path("bare")
        run = subprocess.run([sys.executable, "-S", SCRIPT, "-", "--prefix", prefix],
                             input=self.example, capture_output=True, text=True, check=False)
        self.assertOneLine(run, 4, "python3-matplotlib", "CSV, JSON and summary")
        self.assertIn("P(AI < 0.8) among defined AIs", run.stdout)
        self.assertTrue(os.path.exists(prefix + ".csv"))
        self.assertTrue(os.path.exists(prefix + ".json"))
        self.assertFalse(os.path.exists(prefix + ".png"))

    def test_any_python3_on_path(self):
        interpreters = {sys.executable, shutil.which("python3") or sys.executable}
        for python in sorted(interpreters):
            with self.subTest(python=python):
                prefix = self.path("other")
                run = subprocess.run([python, SCRIPT, "-", "--prefix", prefix],
                                     input=self.example, capture_output=True, text=True,
                                     check=False)
                self.assertIn(run.returncode, (0, 4), run.stderr)
                self.assertNotIn("Traceback", run.stderr)
                self.assertTrue(os.path.exists(prefix + ".json"))


class BrokenReports(ReportTest):
    def assertRefused(self, text, *words):
        prefix = self.path("refused")
        for suffix in (".png", ".csv", ".json"):
            if os.path.exists(prefix + suffix):
                os.remove(prefix + suffix)
        run = self.convert(text, "--prefix", prefix)
        self.assertOneLine(run, 1, *words)
        self.assertFalse(os.path.exists(prefix + ".png"))
        self.assertFalse(os.path.exists(prefix + ".csv"))

    def test_truncated_or_foreign_input(self):
        text = self.example
        cut_at = [0, 100, text.index("Expected Value"), text.index("Undef"),
                  text.index("SRA: Mean"), len(text) - 30]
        inputs = [text[:n] for n in cut_at] + ["hello\n", "\x00\x01binary"]
        with open(os.path.join(SOURCE, "tests", "driver", "cases", "bad_nrep.txt")) as file:
            rejected = file.read()
        inputs.append(subprocess.run([PELKO], input=rejected, capture_output=True, text=True,
                                     check=False).stdout)
        for n, cut in enumerate(inputs):
            with self.subTest(input=n):
                self.assertRefused(cut)

    def test_cut_inside_the_last_line(self):
        text = self.example.rstrip("\n")
        last = text.rindex("\n") + 1
        for end in range(last + 1, len(text)):
            with self.subTest(end=end):
                self.assertRefused(text[:end])
        self.assertIn(self.convert(text, "--prefix", self.path("whole")).returncode, (0, 4))

    def test_non_finite_values(self):
        for bad in ("    inf", "    nan", "  1e999", "   -inf"):
            for where in ("  AI:  Mean and 50--25--75th perc  0.175",
                          "       Expected Value     0.100"):
                line = next(l for l in self.example.splitlines() if l.startswith(where[:20]))
                broken = line[:-7] + bad
                with self.subTest(value=bad, line=where[:20]):
                    self.assertRefused(self.example.replace(line, broken),
                                       "not a finite number")
        row = "              1   0.000   0.325   0.325      325"
        line = next(l for l in self.example.splitlines() if l.startswith("              1 "))
        self.assertEqual(len(line), len(row))
        self.assertRefused(self.example.replace(line, line[:15] + "    inf" + line[22:]),
                           "not a finite number")

    def test_missing_fields(self):
        for label in ("  AI:  Mean", "  SRA: Mean", "  SRI: Mean", "       Expected Value"):
            line = next(l for l in self.example.splitlines() if l.startswith(label))
            with self.subTest(line=label):
                self.assertRefused(self.example.replace(line, line[:-7]), "fields")

    def test_inconsistent_tables(self):
        # Every replication undefined, with rows that count nobody.
        lines = self.example.splitlines()
        head = lines.index("                  Value    Freq   Cfreq   Number")
        undefined = [l[:39] + "        0" for l in lines[head + 2:lines.index("", head)]]
        all_undefined = lines[:head + 1] + [
            "                  Undef   1.000             1000"] + undefined + lines[
            lines.index("", head):]
        self.assertRefused("\n".join(all_undefined) + "\n")
        # A count that does not add up, a Freq that is not the count's share, rows out of order.
        rows = [(0.0, 325), (0.158, 395), (0.333, 204), (0.529, 61), (0.75, 12), (1.0, 3)]
        self.assertRefused(with_table(self.example, rows).replace(
            "replications for the simulation:   1000",
            "replications for the simulation:    999"), "counts 1000")
        swapped = with_table(self.example, rows).replace("   0.395   0.720", "   0.295   0.720")
        self.assertRefused(swapped, "Freq")
        self.assertRefused(with_table(self.example, [rows[1], rows[0]] + rows[2:]),
                           "do not increase")


class Outputs(ReportTest):
    def test_standard_output_full_closed_or_gone(self):
        prefix = self.path("out")
        for redirect, words in ((">/dev/full", "No space left"), (">&-", "standard output")):
            with self.subTest(redirect=redirect):
                run = subprocess.run(
                    ["sh", "-c", f'"$0" "$1" - --prefix "$2" {redirect}',
                     sys.executable, SCRIPT, prefix],
                    input=self.example, capture_output=True, text=True, check=False)
                self.assertOneLine(run, 3, words)
        # A reader that is gone: the pipe is closed before the summary is written.
        run = subprocess.run(
            ["sh", "-c", '"$0" "$1" - --prefix "$2" | true', sys.executable, SCRIPT, prefix],
            input=self.example, capture_output=True, text=True, check=False)
        self.assertNotIn("Traceback", run.stderr)
        self.assertLessEqual(len(run.stderr.splitlines()), 1, run.stderr)

    def test_files_that_cannot_be_written(self):
        for option in ("--csv", "--json"):
            with self.subTest(option=option):
                run = self.convert(self.example, "--prefix", self.path("files"), option,
                                   "/dev/full")
                self.assertOneLine(run, 3, "cannot write /dev/full", "No space left")
        run = self.convert(self.example, "--prefix", self.path("no/such/folder/x"))
        self.assertOneLine(run, 3, "cannot write", "No such file or directory")

    def test_inputs_that_cannot_be_read(self):
        run = run_tool([self.folder.name])
        self.assertOneLine(run, 1, "cannot read", "Is a directory")
        run = run_tool([self.path("missing.out")])
        self.assertOneLine(run, 1, "cannot read", "No such file or directory")
        run = subprocess.run(["sh", "-c", '"$0" "$1" - --prefix "$2" <&-', sys.executable,
                              SCRIPT, self.path("closed")], capture_output=True, text=True,
                             check=False)
        self.assertOneLine(run, 1, "cannot read standard input")

    def test_command_line_errors(self):
        for args in (["--no-such-option"], ["-", "--picture", self.path("x.gif")], ["a", "b"]):
            with self.subTest(args=args):
                run = run_tool(args, self.example)
                self.assertOneLine(run, 2)
        run = run_tool(["--help"])
        self.assertEqual(run.returncode, 0)
        for word in ("Exit status", "python3-matplotlib", "pelko-check(1)"):
            self.assertIn(word, run.stdout)


class Picture(ReportTest):
    def setUp(self):
        if not has_matplotlib():
            self.skipTest("matplotlib is not installed")

    def test_label_clear_of_the_legend(self):
        texts = [text for _, text in self.reports]
        # Values crowding either side of 0.8, and one value far out.
        texts += [with_table(self.example, [(0.05, 10), (0.79, 500), (0.81, 400)]),
                  with_table(self.example, [(0.7, 100), (0.9, 800), (1.2, 100)]),
                  with_table(self.example, [(0.0, 100), (0.5, 100), (9.5, 100)], undefined=50),
                  with_table(self.example, [(0.8, 1000)])]
        for n, text in enumerate(texts):
            with self.subTest(report=n):
                report = tool.parse_report(text)
                figure = tool.draw_picture(report, tool.four_fifths(report), "title")
                renderer = figure.canvas.get_renderer()
                axes = figure.axes[1]
                label = next(t for t in axes.texts if t.get_gid() == "four-fifths-label")
                label_box = label.get_window_extent(renderer)
                legend_box = axes.get_legend().get_window_extent(renderer)
                whole = figure.bbox
                self.assertFalse(label_box.overlaps(legend_box), (label_box, legend_box))
                for box in (label_box, legend_box):
                    self.assertTrue(whole.x0 <= box.x0 and box.x1 <= whole.x1 and
                                    whole.y0 <= box.y0 and box.y1 <= whole.y1, box)
                self.assertTrue(axes.bbox.x0 <= label_box.x0 and label_box.x1 <= axes.bbox.x1)
                import matplotlib.pyplot as plt
                plt.close(figure)

    def test_a_large_table_is_one_collection(self):
        rows = [(k / 1000, 1) for k in range(20000)]
        report = tool.parse_report(with_table(self.example, rows))
        figure = tool.draw_picture(report, tool.four_fifths(report), "title")
        axes = figure.axes[1]
        # One bar per value would be 20000 patches; lines are one collection.
        self.assertLess(len(axes.patches), 10)
        self.assertEqual(len(axes.collections), 1)
        import matplotlib.pyplot as plt
        plt.close(figure)


class Mutations(ReportTest):
    """Truncations and corruptions of real reports: a one-line refusal or a consistent result,
    never an exception."""

    def mutants(self):
        rng = random.Random(20)
        for name, text in self.reports[:6]:
            for end in range(0, len(text), max(1, len(text) // 150)):
                yield f"{name} cut at {end}", text[:end]
            lines = text.splitlines(keepends=True)
            for n in range(1000):
                mutant = list(lines)
                k = rng.randrange(len(mutant))
                kind = n % 6
                if kind == 0:
                    del mutant[k]
                elif kind == 1:
                    mutant.insert(k, mutant[rng.randrange(len(mutant))])
                elif kind == 2:
                    line = mutant[k]
                    at = rng.randrange(max(1, len(line)))
                    mutant[k] = line[:at] + rng.choice("0123456789-.*eE+ \t,nafi\x00\xff") + \
                        line[at + 1:]
                elif kind == 3:
                    line = mutant[k]
                    at = rng.randrange(max(1, len(line)))
                    mutant[k] = line[:at] + rng.choice(["inf", "nan", "1e999", "-", "***"]) + \
                        line[at:]
                elif kind == 4:
                    mutant[k] = mutant[k].rstrip("\n")
                else:
                    digits = [i for i, c in enumerate(mutant[k]) if c.isdigit()]
                    if digits:
                        i = rng.choice(digits)
                        mutant[k] = mutant[k][:i] + str(rng.randrange(10)) + mutant[k][i + 1:]
                yield f"{name} mutant {n}", "".join(mutant)

    def json_mutants(self):
        rng = random.Random(16)
        problems = [os.path.join(SOURCE, "examples", "two_stage.txt"),
                    os.path.join(SOURCE, "tests", "driver", "cases", "undefined_ai.txt"),
                    FOUR_FIFTHS_DESIGN]
        for problem in problems:
            _, text = pelko_json(problem, 1765185354, self.folder.name)
            label = os.path.basename(problem)[:20]
            for end in range(0, len(text), max(1, len(text) // 150)):
                yield f"{label} JSON cut at {end}", text[:end]
            for n in range(600):
                at = rng.randrange(len(text))
                kind = n % 4
                if kind == 0:
                    mutant = text[:at] + rng.choice('0123456789-.eE+ ,:[]{}"nt\x00') + \
                        text[at + 1:]
                elif kind == 1:
                    mutant = text[:at] + rng.choice(["NaN", "Infinity", "1e999", "null", "true",
                                                     '"x"', "-", "[]", "{}", "9" * 30]) + text[at:]
                elif kind == 2:
                    lines = text.splitlines(keepends=True)
                    k = rng.randrange(len(lines))
                    lines[k:k + 1] = [] if n % 8 == 2 else [lines[k], lines[k]]
                    mutant = "".join(lines)
                else:
                    digits = [i for i, c in enumerate(text) if c.isdigit()]
                    i = rng.choice(digits)
                    mutant = text[:i] + str(rng.randrange(10)) + text[i + 1:]
                yield f"{label} JSON mutant {n}", mutant

    def test_no_exception_escapes_from_json(self):
        accepted = 0
        for label, text in self.json_mutants():
            try:
                report = tool.parse_json(text)
            except tool.ReportError as error:
                self.assertEqual(len(str(error).splitlines()), 1, label)
                continue
            except Exception as error:  # noqa: BLE001 - any other is the fault sought
                self.fail(f"{label}: {type(error).__name__}: {error}")
            accepted += 1
            risk = tool.four_fifths(report)
            tool.csv_text(report, risk)
            tool.json_text(report, risk)
            tool.summary(risk)
            tool.tests_summary(report)
            self.assertEqual(risk["below_defined"], json.loads(text)["ai_below_0_8"]["count"])
        self.assertGreater(accepted, 0)

    def test_no_traceback_from_the_program_on_json(self):
        for n, (label, text) in enumerate(self.json_mutants()):
            if n % 150:
                continue
            with self.subTest(mutant=label):
                run = self.convert(text, "--prefix", self.path("json-mutant"))
                self.assertNotIn("Traceback", run.stderr)
                self.assertIn(run.returncode, (0, 1, 4), run.stderr)
                self.assertLessEqual(len(run.stderr.splitlines()), 1, run.stderr)

    def test_no_exception_escapes(self):
        accepted = 0
        count = 0
        for label, text in self.mutants():
            count += 1
            try:
                report = tool.parse_report(text)
            except tool.ReportError as error:
                self.assertEqual(len(str(error).splitlines()), 1, label)
                continue
            except Exception as error:  # noqa: BLE001 - any other is the fault sought
                self.fail(f"{label}: {type(error).__name__}: {error}")
            accepted += 1
            risk = tool.four_fifths(report)
            tool.csv_text(report, risk)
            tool.json_text(report, risk)
            tool.summary(risk)
            self.assertEqual(risk["defined"] + report["undef"]["number"],
                             report["problem"]["nrep"], label)
        self.assertGreater(count, 6000)
        self.assertGreater(accepted, 0)

    def test_no_traceback_from_the_program(self):
        # A sample through the program itself, picture included.
        for n, (label, text) in enumerate(self.mutants()):
            if n % 500:
                continue
            with self.subTest(mutant=label):
                run = self.convert(text, "--prefix", self.path("mutant"))
                self.assertNotIn("Traceback", run.stderr)
                self.assertIn(run.returncode, (0, 1, 4), run.stderr)
                self.assertLessEqual(len(run.stderr.splitlines()), 1, run.stderr)


if __name__ == "__main__":
    unittest.main()
