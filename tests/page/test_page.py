"""The page pelko.html: its engine gives the program's numbers bit for bit (under node), and in
headless Chromium a run gives the program's JSON, an invalid design is refused with the
program's message, and Cancel stops a run.

Environment: PELKO_PAGE (the built pelko.html), PELKO (the program), PELKO_SOURCE_DIR; with
PELKO_SCREENSHOTS=DIR the browser tests leave screenshots there."""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

from selenium.webdriver.common.keys import Keys

HERE = pathlib.Path(__file__).resolve().parent
PAGE = pathlib.Path(os.environ.get("PELKO_PAGE", "build/page/pelko.html")).resolve()
PELKO = os.environ.get("PELKO", "build/pelko")
SOURCE = pathlib.Path(os.environ.get("PELKO_SOURCE_DIR", HERE.parent.parent))
EXAMPLE = SOURCE / "examples" / "two_stage.txt"


def program(problem, seed, folder):
    """pelko --seed SEED --json --replications: its status, output and the two files."""
    json_path, csv_path = pathlib.Path(folder, "pelko.json"), pathlib.Path(folder, "pelko.csv")
    for path in (json_path, csv_path):
        path.unlink(missing_ok=True)
    done = subprocess.run([PELKO, "--seed", str(seed), "--json", str(json_path),
                           "--replications", str(csv_path), str(problem)],
                          capture_output=True, text=True, check=False)
    read = lambda p: p.read_text() if p.exists() else None
    return done, read(json_path), read(csv_path)


class EngineMatchesProgram(unittest.TestCase):
    """The WebAssembly engine under node against the native program, file for file: the CSV
    holds every replication's rates and AI as the shortest text of their bits."""

    def test_designs_and_seeds(self):
        cases = SOURCE / "tests" / "driver" / "cases"
        designs = sorted((SOURCE / "examples").glob("*.txt")) + [
            cases / name for name in ("four_stages_ten_predictors.txt", "large_pool.txt",
                                      "undefined_ai.txt", "zero_weight_ties.txt",
                                      "one_stage_one_predictor.txt", "everybody_selected.txt")]
        seeds = (1765000001, 1796630709, 123457)
        runs = [(design, seed) for design in designs for seed in seeds]
        with tempfile.TemporaryDirectory() as folder:
            args = [str(a) for design, seed in runs for a in (design, seed)]
            subprocess.run(["node", str(HERE / "page_engine.js"), "run", str(PAGE), folder, *args],
                           check=True)
            for n, (design, seed) in enumerate(runs):
                with self.subTest(design=design.name, seed=seed):
                    done, json_text, csv_text = program(design, seed, folder)
                    self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
                    self.assertEqual(pathlib.Path(folder, f"{n}.json").read_text(), json_text)
                    self.assertEqual(pathlib.Path(folder, f"{n}.csv").read_text(), csv_text)

    def test_refused_seed_gives_the_programs_lines(self):
        # A second that is a multiple of 10000 gives a seed the generator refuses.
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run(["node", str(HERE / "page_engine.js"), "run", str(PAGE), folder,
                            str(EXAMPLE), "1765000000"], check=True)
            lines = pathlib.Path(folder, "0.json").read_text().splitlines()
            done, json_text, _ = program(EXAMPLE, 1765000000, folder)
            self.assertIsNone(json_text)
            self.assertIn("  MLTMOD requires: 0 < A < M; 0 < S < M", lines)
            for line in lines:
                self.assertIn(line, (done.stdout + done.stderr).splitlines())


@unittest.skipUnless(shutil.which("chromium") or os.path.exists("/usr/bin/chromium"), "no chromium")
class PageInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        sys.path.insert(0, str(HERE))
        import browser  # pylint: disable=import-outside-toplevel
        cls.browser = browser
        cls.downloads = tempfile.mkdtemp(prefix="pelko-downloads-")
        cls.driver = browser.start(cls.downloads)
        cls.screenshots = os.environ.get("PELKO_SCREENSHOTS")

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.driver.profile, ignore_errors=True)
        shutil.rmtree(cls.downloads, ignore_errors=True)

    def setUp(self):
        self.driver.get(PAGE.as_uri())
        self.wait(lambda: self.js("return !document.getElementById('run').disabled"),
                  "the first design to be checked")

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait(self, condition, what, timeout=60):
        return self.browser.wait_for(condition, timeout, what)

    def by_id(self, element_id):
        return self.driver.find_element("id", element_id)

    def state(self):
        return self.by_id("results").get_attribute("data-state")

    def type_into(self, element_id, text):
        field = self.by_id(element_id)
        field.clear()
        field.send_keys(text)

    def open_problem(self, path):
        self.by_id("problem-file").send_keys(str(path))

    def run_and_wait(self):
        self.wait(lambda: self.by_id("run").is_enabled(), "Run to be enabled")
        self.by_id("run").click()
        self.wait(lambda: self.state() in ("done", "error"), "the run to end")

    def screenshot(self, name):
        if self.screenshots:
            os.makedirs(self.screenshots, exist_ok=True)
            self.driver.save_screenshot(os.path.join(self.screenshots, name))

    def test_run_gives_the_programs_json_and_replications(self):
        design = SOURCE / "examples" / "cognitive_then_interview.txt"
        self.open_problem(design)
        self.wait(lambda: "Read from" in self.by_id("preset-note").text, "the file to be read")
        self.type_into("seed", "1796630709")
        self.run_and_wait()
        self.assertEqual(self.state(), "done")
        self.screenshot("page-results.png")
        self.by_id("download-json").click()
        page_json = self.browser.downloaded(self.downloads, "pelko-1796630709.json")
        self.by_id("download-csv").click()
        page_csv = self.browser.downloaded(self.downloads, "pelko-1796630709.csv")
        with tempfile.TemporaryDirectory() as folder:
            done, json_text, csv_text = program(design, 1796630709, folder)
        self.assertEqual(done.returncode, 0)
        self.assertEqual(page_json, json_text)
        self.assertEqual(page_csv, csv_text)
        # Every rule that judges the selection in the JSON has its row.
        rules = json.loads(page_json).get("tests", {})
        rows = self.driver.find_elements("css selector", "#tests-table tbody tr")
        self.assertEqual(len(rows), len(rules))
        # The picture, downloaded as a file of its own: the four-fifths line, the expected AI.
        self.by_id("download-svg").click()
        svg = self.browser.downloaded(self.downloads, "pelko-1796630709.svg")
        self.assertTrue(svg.startswith('<svg xmlns="http://www.w3.org/2000/svg"'), svg[:80])
        self.assertIn("0.8</text>", svg)
        self.assertIn("expected AI", svg)
        # Nothing was fetched from anywhere: the engine and the downloads are blobs of the page.
        fetched = self.js("return performance.getEntriesByType('resource').map((e) => e.name)")
        self.assertEqual([name for name in fetched if not name.startswith(("blob:", "data:"))], [])
        errors = [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [])

    def test_saved_problem_is_the_programs_file(self):
        self.open_problem(EXAMPLE)
        self.wait(lambda: "Read from" in self.by_id("preset-note").text, "the file to be read")
        self.by_id("download-problem").click()
        saved = self.browser.downloaded(self.downloads, "problem.txt")
        # The program reads it as the same problem: the same run to the bit.
        with tempfile.TemporaryDirectory() as folder:
            pathlib.Path(folder, "saved.txt").write_text(saved)
            _, from_saved, _ = program(pathlib.Path(folder, "saved.txt"), 1796630709, folder)
            _, from_example, _ = program(EXAMPLE, 1796630709, folder)
        self.assertIsNotNone(from_example)
        self.assertEqual(from_saved, from_example)

    def test_invalid_design_is_refused_with_the_programs_message(self):
        bad = SOURCE / "tests" / "driver" / "cases" / "bad_nrep.txt"
        with tempfile.TemporaryDirectory() as folder:
            done, _, _ = program(bad, 1796630709, folder)
        message = [line for line in done.stdout.splitlines() if line.startswith("Input error")]
        self.assertTrue(message, done.stdout)
        self.open_problem(bad)
        self.wait(lambda: message[0] in self.by_id("msg-file").text, "the file's message")
        self.assertFalse(self.by_id("run").is_enabled())
        # The same rule typed into the form: the message beside the field, Run disabled.
        self.js("document.getElementById('apply-preset').click()")
        self.wait(lambda: self.by_id("run").is_enabled(), "the preset")
        self.type_into("replications", "5")
        self.wait(lambda: message[0] in self.by_id("msg-replications").text, "the field's message")
        self.assertFalse(self.by_id("run").is_enabled())
        self.assertEqual(self.by_id("replications").get_attribute("aria-invalid"), "true")
        self.screenshot("page-invalid.png")
        self.type_into("replications", "1000")
        self.wait(lambda: self.by_id("run").is_enabled(), "Run again once valid")
        self.assertEqual(self.by_id("msg-replications").text, "")

    def test_cancel_stops_a_long_run_and_the_next_run_works(self):
        self.type_into("replications", "500000")
        self.type_into("applicants", "10000")
        self.type_into("majority", "8000")
        self.type_into("retained-1", "5000")
        self.type_into("retained-2", "100")
        self.run_and_started = self.wait(lambda: self.by_id("run").is_enabled(), "Run")
        self.by_id("run").click()
        self.wait(lambda: self.state() == "running" and
                  float(self.by_id("progress").get_attribute("value")) > 0, "progress")
        self.by_id("cancel").click()
        self.assertEqual(self.state(), "cancelled")
        self.assertFalse(self.by_id("cancel").is_enabled())
        self.type_into("replications", "1000")
        self.type_into("applicants", "200")
        self.type_into("majority", "150")
        self.type_into("retained-1", "50")
        self.type_into("retained-2", "20")
        self.run_and_wait()
        self.assertEqual(self.state(), "done")

    def test_frontier_marks_the_front_and_tells_a_points_weights(self):
        if not self.js("return !document.getElementById('frontier').hidden"):
            self.skipTest("this library has no frontier search")
        bobko = self.js("return [...document.getElementById('preset').options]"
                        ".findIndex((o) => o.text.startsWith('Bobko'))")
        self.js(f"document.getElementById('preset').value = '{bobko}';"
                "document.getElementById('apply-preset').click()")
        self.wait(lambda: self.by_id("validity-1").get_attribute("value") == "0.3", "the preset")
        self.type_into("replications", "100")
        self.type_into("frontier-step", "0.5")
        self.wait(lambda: self.by_id("frontier-run").is_enabled(), "the search to be enabled")
        self.by_id("frontier-run").click()
        self.wait(lambda: self.by_id("frontier").get_attribute("data-state") in ("done", "error"),
                  "the search to end")
        self.assertEqual(self.by_id("frontier").get_attribute("data-state"), "done",
                         self.by_id("frontier-error").text)
        points = self.driver.find_elements("css selector", "#frontier-plot .point")
        self.assertEqual(len(points), 10)  # weights in halves over four predictors
        self.assertTrue(any("on the front" in p.get_attribute("aria-label") for p in points))
        # The keyboard reaches the points: Tab from the Search button focuses the first.
        self.by_id("frontier-run").send_keys(Keys.TAB)
        self.wait(lambda: "Cognitive ability 1" in self.by_id("frontier-point").text,
                  "the focused point's weights")
        self.screenshot("page-frontier.png")

    def test_phone_width(self):
        self.driver.set_window_size(390, 2400)
        try:
            self.run_and_wait()
            # Nothing wider than the screen but the scrolling grids.
            width = self.js("return document.documentElement.scrollWidth")
            self.assertLessEqual(width, self.js("return window.innerWidth"))
            self.screenshot("page-phone.png")
        finally:
            self.driver.set_window_size(1200, 1600)


if __name__ == "__main__":
    unittest.main()
