"""The criterion from Python, the frontier search and resuming a search or sweep from its file."""
import concurrent.futures
import os
import pickle
import subprocess

import numpy
import pytest

import pelko

SECOND = 1796630709


def published_design(**changes):
    """Bobko, Roth & Potosky (1999) in pelko's sign, on a small pool."""
    fields = dict(replications=40, applicants=80, majority_applicants=60, retained=[8],
                  effect_sizes=[-1.0, -0.23, -0.09, -0.33],
                  correlations=[[1, .24, 0, .19], [.24, 1, .12, .16], [0, .12, 1, .51],
                                [.19, .16, .51, 1]],
                  weights=[[1, 1, 1, 1]], validities=[.3, .3, .18, .28])
    fields.update(changes)
    return pelko.Problem(**fields)


def test_a_problem_carries_its_criterion_and_a_result_its_quality():
    problem = published_design(criterion_effect_size=-0.3)
    assert problem.has_criterion and problem.criterion_effect_size == numpy.float32(-0.3)
    assert "validities=" in repr(problem)
    assert "validities" not in repr(published_design(validities=None))
    result = pelko.simulate(problem, seed=SECOND)
    assert result.quality.dtype == numpy.float32 and result.quality.shape == (40,)
    assert result.stage_quality.shape == (1, 40)
    q = result.quality_summary
    assert q.criterion_effect_size == numpy.float32(-0.3)
    assert q.overall.count == 40
    assert "quality" in repr(result)
    copy = pickle.loads(pickle.dumps(result))  # as it comes back from another process
    assert copy.quality_summary == q and copy.problem == problem
    for name in ("quality", "quality_minority", "stage_quality_majority"):
        assert numpy.array_equal(getattr(copy, name), getattr(result, name), equal_nan=True)
    plain = pelko.simulate(published_design(validities=None), seed=SECOND)
    assert plain.quality is None and plain.quality_summary is None
    assert "quality" not in repr(plain)
    assert numpy.array_equal(plain.ai, result.ai, equal_nan=True)


def test_a_small_frontier_is_each_weighting_simulated_with_the_same_seed():
    problem = published_design()
    frontier = pelko.frontier(problem, step=0.5, predictors=[0, 3], seed=SECOND, threads=1)
    assert isinstance(frontier, list) and frontier.seed == SECOND and frontier.stage == 0
    assert [r["weights"] for r in frontier] == [[1, 0, 0, 0], [.5, 0, 0, .5], [0, 0, 0, 1]]
    assert frontier.labels() == ["1/0", "0.5/0.5", "0/1"]
    assert any(r["on_front"] for r in frontier)
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    ax = frontier.plot()
    assert [t.get_text() for t in ax.texts] == frontier.labels()
    for record in frontier:
        fields = problem.as_dict()
        fields["weights"] = [record["weights"]]
        result = pelko.simulate(pelko.Problem(**fields), seed=SECOND)
        below = result.share_below(0.8)
        assert record["quality"] == result.quality_summary.overall.mean
        assert record["quality_standard_error"] == result.quality_summary.overall.standard_error
        assert record["expected_ai"] == result.summary.expected_ai
        assert (record["below_count"], record["below_total"], record["share_below_lower"]) == (
            below.count, below.total, below.lower)


def test_the_bindings_frontier_is_the_librarys(tmp_path):
    helper = os.environ.get("PELKO_DUMP_OUTCOMES")
    if not helper:
        pytest.skip("PELKO_DUMP_OUTCOMES names no helper (ctest sets it)")
    problem = published_design()
    path = tmp_path / "design.txt"
    problem.write(path)
    lines = subprocess.run([helper, str(path), str(SECOND), "2", "0", "0.5"],
                           capture_output=True, text=True, check=True).stdout.splitlines()
    frontier = pelko.frontier(problem, step=0.5, seed=SECOND)
    assert len(lines) == len(frontier) == 10
    for line, record in zip(lines, frontier):
        fields = line.split()
        reals = [float.fromhex(f) for f in fields[:8]]
        assert reals[:4] == record["weights"]
        assert reals[4:] == [record["quality"], record["quality_standard_error"],
                             record["composite_validity"], record["expected_ai"]]
        assert [int(f) for f in fields[8:]] == [record["below_count"], record["below_total"],
                                                record["on_front"],
                                                record["on_front_expected_ai"]]


def test_a_frontier_through_an_executor_equals_one_here():
    problem = published_design()
    here = pelko.frontier(problem, step=1 / 3, predictors=[0, 1], seed=SECOND)
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        there = pelko.frontier(problem, step=1 / 3, predictors=[0, 1], seed=SECOND,
                               executor=pool, chunk_size=3)
    assert there == here and len(here) == 4


def test_a_frontier_resumes_from_its_file_without_computing_its_rows_again(tmp_path):
    problem = published_design()
    path = tmp_path / "frontier.csv"
    whole = pelko.frontier(problem, step=0.5, predictors=[0, 1], seed=SECOND, file=path)
    lines = path.read_text().splitlines()
    assert len(lines) == 4 and lines[0].startswith("seed,stage,weight_1,")
    # A stop half way: two rows kept, the third cut short while it was written. Rows in the
    # file are taken as they are: a changed one shows it was not computed again.
    kept = lines[1].split(",")
    kept[6] = "0.25"  # quality
    path.write_text("\n".join([lines[0], ",".join(kept), lines[2]]) + "\n" + lines[3][:20])
    reports = []
    resumed = pelko.frontier(problem, step=0.5, predictors=[0, 1], file=path,
                             progress=lambda done, total: reports.append((done, total)))
    assert resumed.seed == SECOND
    assert resumed[0]["quality"] == 0.25
    measures = [{k: v for k, v in r.items() if not k.startswith("on_front")} for r in resumed]
    assert measures[1:] == [{k: v for k, v in r.items() if not k.startswith("on_front")}
                            for r in whole[1:]]
    assert reports[-1] == (40, 40)  # one weighting left of 40 replications
    assert path.read_text().splitlines()[1:] == [",".join(kept), lines[2], lines[3]]
    with pytest.raises(ValueError, match="seed"):
        pelko.frontier(problem, step=0.5, predictors=[0, 1], seed=SECOND + 1, file=path)


def test_a_sweep_resumes_from_its_file(tmp_path):
    problems = [published_design(retained=[n]) for n in (8, 16, 24)]
    path = tmp_path / "sweep.csv"
    whole = pelko.sweep(problems, seed=SECOND, file=path)
    assert whole == pelko.sweep(problems, seed=SECOND)
    lines = path.read_text().splitlines()
    path.write_text("\n".join(lines[:2]) + "\n")
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        assert pelko.sweep(problems, executor=pool, file=path) == whole
    assert len(path.read_text().splitlines()) == 4
    with pytest.raises(ValueError, match="another sweep"):
        pelko.sweep(problems[::-1], file=path)


@pytest.mark.parametrize("arguments, error, says", [
    (dict(stage=1), ValueError, "stage 1 is not a stage"),
    (dict(stage="0"), TypeError, "stage must be a whole number"),
    (dict(step=0.3), pelko.Error, "step"),
    (dict(step="a"), TypeError, "step must be a number"),
    (dict(predictors=[0, 4]), ValueError, "predictor 4"),
    (dict(predictors=[1, 1]), ValueError, "distinct"),
    (dict(weightings=[[1, 0, 0]]), pelko.Error, "weighting 1 has 3 weights"),
    (dict(weightings=[]), ValueError, "weightings"),
    (dict(threads=0), ValueError, "threads"),
    (dict(seed=1.5), TypeError, "seed"),
])
def test_frontier_arguments_are_refused_by_name(arguments, error, says):
    with pytest.raises(error, match=says):
        pelko.frontier(published_design(), **arguments)


def test_a_frontier_needs_a_criterion():
    with pytest.raises(ValueError, match="validities"):
        pelko.frontier(published_design(validities=None))
