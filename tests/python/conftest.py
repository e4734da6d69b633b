"""Shared helpers of the Python module's tests: the program and the library's own outcomes."""
import os
import pathlib
import subprocess

import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("PELKO_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
EXAMPLES = SOURCE_DIR / "examples"


def _program():
    program = os.environ.get("PELKO")
    if not program:
        pytest.skip("PELKO names no program (ctest sets it)")
    return program


def run_program(problem_path, second):
    """The program's report of a run seeded from `second`: with --seed where the program has
    it, else with the clock held at that second."""
    program = _program()
    help_text = subprocess.run([program, "--help"], capture_output=True, text=True).stdout
    if "--seed" in help_text:
        command, env = [program, "--seed", str(second)], None
    else:
        command = ["faketime", "-f", str(second), program]
        env = dict(os.environ, FAKETIME_FMT="%s")
    with open(problem_path, "rb") as problem:
        done = subprocess.run(command, stdin=problem, capture_output=True, env=env)
    return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")


def library_outcomes(problem_path, second, threads):
    """Every replication's (sra, sri, ai, ai_defined, majority retained...) from the library."""
    helper = os.environ.get("PELKO_DUMP_OUTCOMES")
    if not helper:
        pytest.skip("PELKO_DUMP_OUTCOMES names no helper (ctest sets it)")
    done = subprocess.run([helper, str(problem_path), str(second), str(threads)],
                          capture_output=True, text=True, check=True)
    rows = []
    for line in done.stdout.splitlines():
        fields = line.split()
        rows.append(tuple(float.fromhex(f) for f in fields[:3]) +
                    tuple(int(f) for f in fields[3:]))
    return rows
