"""Invalid input raises ValueError with the program's own message."""
import numpy
import pytest

import pelko
from conftest import EXAMPLES, run_program

SECOND = 1765185354


def two_stage(**changes):
    fields = pelko.Problem.read(EXAMPLES / "two_stage.txt").as_dict()
    fields.update(changes)
    return pelko.Problem(**fields)


@pytest.mark.parametrize("changes,kind", [
    (dict(replications=9), "invalid_problem"),
    (dict(applicants=10001), "invalid_problem"),
    (dict(majority_applicants=200), "invalid_problem"),
    (dict(retained=[20, 50]), "invalid_problem"),
    (dict(correlations=[[1, 1.5, .2], [.3, 1, .4], [.2, .4, 1]]), "invalid_problem"),
    # Positive definite fails only in the engine's set-up.
    (dict(correlations=[[1, .9, .9], [.9, 1, -.9], [.9, -.9, 1]]), "not_positive_definite"),
])
def test_a_refused_problem_gives_the_programs_message(tmp_path, changes, kind):
    problem = two_stage(**changes)
    with pytest.raises(ValueError) as raised:
        pelko.simulate(problem, seed=SECOND)
    assert isinstance(raised.value, pelko.Error) and raised.value.kind == kind
    path = tmp_path / "problem.txt"
    problem.write(path)
    status, report, diagnostics = run_program(path, SECOND)
    assert status == 1
    program_lines = (report + diagnostics).splitlines()
    for line in str(raised.value).splitlines():
        assert line in program_lines or line.startswith("(argument '")


def test_unreadable_text_gives_the_programs_diagnostic(tmp_path):
    text = "1000 200 150 2 3\n50 20\n-1 x 0\n"
    with pytest.raises(ValueError) as raised:
        pelko.Problem.parse(text)
    assert raised.value.kind == "unreadable_problem"
    path = tmp_path / "problem.txt"
    path.write_text(text)
    status, _, diagnostics = run_program(path, SECOND)
    assert status == 2
    assert str(raised.value).splitlines() == diagnostics.splitlines()
    with pytest.raises(ValueError):
        pelko.Problem.read(path)


def test_shapes_the_file_cannot_hold_are_refused():
    with pytest.raises(ValueError):
        two_stage(weights=[[1, 1], [.5, .3, .2]]).check()
    with pytest.raises(ValueError):
        two_stage(retained=[]).check()
    with pytest.raises(TypeError):
        two_stage(replications=1000.5)
    with pytest.raises(TypeError):
        pelko.simulate("examples/two_stage.txt")


def test_a_seed_the_generator_refuses():
    with pytest.raises(ValueError) as raised:
        pelko.simulate(two_stage(), seed=1765180000)
    assert raised.value.kind == "generator_refused"


def test_warnings_are_python_warnings():
    problem = two_stage(effect_sizes=[-2.5, -0.5, 0.0])
    assert problem.check() == ["WARNING: Verify value difp for predictor 1: -2.500??"]
    with pytest.warns(pelko.PelkoWarning, match="predictor 1"):
        pelko.simulate(problem, seed=SECOND)


def test_written_problems_read_back_bit_for_bit(tmp_path):
    problem = two_stage(effect_sizes=[-1 / 3, 1e-7, 1.23456], weights=[[1, 2, 0], [3e-5, 1, 0.1]])
    path = tmp_path / "problem.txt"
    problem.write(path)
    assert pelko.Problem.read(path) == problem
    assert pelko.Problem.parse(path.read_bytes()) == problem


def test_no_defined_ai_keeps_the_outcomes_and_the_programs_lines():
    problem = pelko.Problem(replications=10, applicants=20, majority_applicants=1, retained=[1],
                            effect_sizes=[5.0], correlations=[[1]], weights=[[1]])
    with pytest.warns(pelko.PelkoWarning):
        result = pelko.simulate(problem, seed=SECOND)
    assert result.summary.defined == 0 and result.ai_distribution is None
    assert numpy.isnan(result.ai).all()
    assert result.no_defined_ai_lines
    assert result.share_below(0.8).total == 0
    assert result.share_below_or_undefined(0.8).share == 1.0


@pytest.mark.parametrize("call,error,words", [
    (lambda: pelko.simulate(two_stage(), threads=-1), ValueError, "threads must be 0 or more"),
    (lambda: pelko.simulate(two_stage(), threads="2"), TypeError, "threads must be a whole"),
    (lambda: pelko.simulate(two_stage(), threads=2.7), TypeError, "threads must be a whole"),
    (lambda: pelko.simulate(two_stage(), seed=True), TypeError, "seed must be a whole"),
    (lambda: pelko.simulate(two_stage(), seed=-5), ValueError, "seed must be a clock second"),
    (lambda: pelko.simulate(two_stage(), seed=2**63), ValueError, "seed must be a clock second"),
    (lambda: pelko.simulate(two_stage(), progress="yes"), TypeError, "progress must be"),
    (lambda: two_stage(effect_sizes="-1"), TypeError, "effect_sizes must be a list"),
    (lambda: two_stage(weights=["1 1 0", [1, 1, 1]]), TypeError, "weights must be a list"),
    (lambda: two_stage(correlations=[[1, "x", 0]] * 3), TypeError, "correlations must hold"),
    (lambda: two_stage(replications=True), TypeError, "replications must be a whole"),
    (lambda: two_stage(retained=[50, None]), TypeError, "retained must be a whole"),
])
def test_arguments_are_refused_by_name(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_the_programs_refusals_name_the_argument_in_python_words():
    for changes, argument in [(dict(replications=2**70), "argument 'replications'"),
                              (dict(majority_applicants=-2**40), "argument 'majority_applicants'"),
                              (dict(retained=[2**40, 20]), "argument 'retained', stage 1"),
                              (dict(correlations=[[1, .3, .2], [3, 1, .4], [.2, .4, 1]]),
                               "argument 'correlations', row 2, column 1")]:
        with pytest.raises(pelko.Error) as raised:
            pelko.simulate(two_stage(**changes), seed=SECOND)
        assert str(raised.value).splitlines()[-1] == f"({argument})"
        assert raised.value.lines[0].startswith("Input error: ")
    problem = two_stage()
    problem.weights = "1 1 0"  # set by hand after construction
    with pytest.raises(TypeError, match="Problem.weights must be a list of rows of numbers"):
        pelko.simulate(problem, seed=SECOND)


def test_an_infinite_weight_is_a_warning_that_names_it():
    problem = two_stage(weights=[[1, 1, 0], [0.5, 1e39, 0.2]])
    assert problem.check() == ["WARNING: weight of predictor 2 at stage 2 is inf, beyond single "
                               "precision: the stage's composite is not defined"]
    with pytest.warns(pelko.PelkoWarning, match="weight of predictor 2 at stage 2 is inf"):
        pelko.simulate(problem, seed=SECOND)


def test_a_nan_ratio_is_refused():
    result = pelko.simulate(two_stage(), seed=SECOND)
    with pytest.raises(pelko.Error) as raised:
        result.share_below(float("nan"))
    assert raised.value.kind == "invalid_argument"
