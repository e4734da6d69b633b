#!/usr/bin/python3
"""pelko-report on the reports of every example and of the reviewed cases."""

import csv
import glob
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ["PELKO_SOURCE_DIR"]
PELKO = os.environ["PELKO"]
REPORT = [sys.executable, os.path.join(SOURCE, "tools", "report", "pelko-report.py")]


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


class ReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.reports = reports()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def convert(self, text, *options):
        return subprocess.run(REPORT + ["-"] + list(options), input=text, capture_output=True,
                              text=True, check=False)

    def test_every_report(self):
        self.assertGreaterEqual(len(self.reports), 10)
        for name, text in self.reports:
            with self.subTest(report=name):
                prefix = os.path.join(self.folder.name, name)
                run = self.convert(text, "--prefix", prefix)
                self.assertEqual(run.returncode, 0, run.stderr)
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

                with open(prefix + ".png", "rb") as file:
                    picture = file.read()
                self.assertEqual(picture[:8], b"\x89PNG\r\n\x1a\n")
                self.assertEqual(struct.unpack(">II", picture[16:24]), (800, 450))
                self.assertGreater(len(picture), 10000)  # axes, bars and words, not a blank

    def test_svg_picture(self):
        name, text = self.reports[0]
        picture = os.path.join(self.folder.name, "picture.svg")
        run = self.convert(text, "--prefix", os.path.join(self.folder.name, "svg"),
                           "--picture", picture)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(picture) as file:
            self.assertIn("<svg", file.read())

    def test_truncated_or_foreign_input_fails_cleanly(self):
        _, text = self.reports[0]
        cut_at = [0, 100, text.index("Expected Value"), text.index("Undef"),
                  text.index("SRA: Mean"), len(text) - 30]
        inputs = [text[:n] for n in cut_at] + ["hello\n", "\x00\x01binary"]
        rejected = open(os.path.join(SOURCE, "tests", "driver", "cases", "bad_nrep.txt")).read()
        inputs.append(subprocess.run([PELKO], input=rejected, capture_output=True, text=True,
                                     check=False).stdout)
        for n, cut in enumerate(inputs):
            with self.subTest(input=n):
                prefix = os.path.join(self.folder.name, f"cut{n}")
                run = self.convert(cut, "--prefix", prefix)
                self.assertEqual(run.returncode, 1)
                self.assertTrue(run.stderr.startswith("pelko-report: "), run.stderr)
                self.assertNotIn("Traceback", run.stderr)
                self.assertFalse(os.path.exists(prefix + ".png"))


if __name__ == "__main__":
    unittest.main()
