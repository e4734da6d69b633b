"""The module gives the numbers of the program and of the library, bit for bit."""
import re

import numpy
import pytest

import pelko
from conftest import EXAMPLES, library_outcomes, run_program

SECOND = 1765185354
EXAMPLE_NAMES = ["two_stage.txt", "cognitive_then_interview.txt", "four_stage_battery.txt"]


def printed(value, decimals=3):
    """Whether a report field printed as `value` could show this single-precision number."""
    return lambda number: abs(number - float(value)) <= 0.5 * 10**-decimals * (1 + 1e-6)


def report_numbers(report, label):
    line = next(l for l in report.splitlines() if label in l)
    return line.split(label, 1)[1].split()


@pytest.mark.parametrize("name", EXAMPLE_NAMES)
def test_summary_equals_the_report(name):
    status, report, _ = run_program(EXAMPLES / name, SECOND)
    assert status == 0
    result = pelko.simulate(pelko.Problem.read(EXAMPLES / name), seed=SECOND)
    assert result.seed == SECOND

    composites = re.findall(r"composite of stage \d is: *(\S+)", report)
    assert len(composites) == result.problem.stages
    for text, number in zip(composites, result.composite_effect_sizes):
        assert printed(text, 6)(number)

    s = result.summary
    expected = report_numbers(report, "Expected Value")
    for text, number in zip(expected, [s.sr, s.expected_ai, s.expected_sra, s.expected_sri]):
        assert printed(text)(number), (text, number)

    for label, dist in [("AI:  Mean and 50--25--75th perc", result.ai_distribution),
                        ("SRA: Mean and 50--25--75th perc", result.sra_distribution),
                        ("SRI: Mean and 50--25--75th perc", result.sri_distribution)]:
        for text, number in zip(report_numbers(report, label), dist):
            assert printed(text)(number), (label, text, number)

    # The frequency table: every row's count exactly, the values as printed.
    rows = re.findall(r"^ +\d+ +(\S+) +(\S+) +(\S+) +(\d+)$", report, re.MULTILINE)
    table = result.frequencies
    assert [int(r[3]) for r in rows] == list(table["count"])
    for (value, freq, cfreq, _), v, f, c in zip(rows, table["value"], table["freq"],
                                                table["cfreq"]):
        assert printed(value)(v) and printed(freq)(f) and printed(cfreq)(c)
    undef = report_numbers(report, "Undef")
    assert int(undef[-1]) == s.undefined == numpy.count_nonzero(~result.ai_defined)
    assert s.defined + s.undefined == result.problem.replications


@pytest.mark.parametrize("name,threads", [("two_stage.txt", 1), ("four_stage_battery.txt", 2)])
def test_every_replication_equals_the_library(name, threads):
    rows = library_outcomes(EXAMPLES / name, SECOND, threads)
    result = pelko.simulate(pelko.Problem.read(EXAMPLES / name), seed=SECOND, threads=threads)
    sra, sri, ai, defined = (numpy.array([r[i] for r in rows]) for i in range(4))
    assert numpy.array_equal(result.sra.astype(numpy.float64), sra)
    assert numpy.array_equal(result.sri.astype(numpy.float64), sri)
    assert numpy.array_equal(result.ai_defined, defined == 1)
    assert numpy.array_equal(result.ai[defined == 1].astype(numpy.float64), ai[defined == 1])
    assert numpy.isnan(result.ai[defined == 0]).all()
    majority = numpy.array([r[4:] for r in rows]).T
    assert numpy.array_equal(result.majority_retained, majority)
    applicants_retained = numpy.array(result.problem.retained)[:, None]
    assert numpy.array_equal(result.majority_retained + result.minority_retained,
                             numpy.broadcast_to(applicants_retained, majority.shape))


def test_every_thread_count_gives_the_same_numbers():
    problem = pelko.Problem.read(EXAMPLES / "four_stage_battery.txt")
    one = pelko.simulate(problem, seed=SECOND, threads=1)
    for threads in (2, 3):
        other = pelko.simulate(problem, seed=SECOND, threads=threads)
        for name in ("sra", "sri", "majority_retained", "minority_retained"):
            assert numpy.array_equal(getattr(one, name), getattr(other, name)), name
        assert numpy.array_equal(one.ai, other.ai, equal_nan=True)
        assert one.summary == other.summary


def test_the_seed_is_recorded_and_chooses_the_numbers():
    problem = pelko.Problem.read(EXAMPLES / "two_stage.txt")
    clock = pelko.simulate(problem)
    assert clock.seed > 1_700_000_000
    again = pelko.simulate(problem, seed=clock.seed)
    assert numpy.array_equal(clock.sra, again.sra)
    other = pelko.simulate(problem, seed=clock.seed + 1)
    assert not numpy.array_equal(clock.sra, other.sra)
    assert again.seeds == (clock.seed % 100000, 5 * (clock.seed % 10000))


def test_a_problem_constructed_in_python_runs_as_its_file():
    problem = pelko.Problem(replications=1000, applicants=200, majority_applicants=150,
                            retained=[50, 20], effect_sizes=[-1.0, -0.5, 0.0],
                            correlations=[[1, .3, .2], [.3, 1, .4], [.2, .4, 1]],
                            weights=[[1, 1, 0], [.5, .3, .2]])
    assert problem == pelko.Problem.read(EXAMPLES / "two_stage.txt")
    a = pelko.simulate(problem, seed=SECOND)
    b = pelko.simulate(pelko.Problem.read(EXAMPLES / "two_stage.txt"), seed=SECOND)
    assert numpy.array_equal(a.ai, b.ai, equal_nan=True)
