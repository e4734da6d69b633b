"""The result's shares, table and pictures."""
import sys

import numpy
import pytest

import pelko
from conftest import EXAMPLES

SECOND = 1765185354


@pytest.fixture(scope="module")
def result():
    return pelko.simulate(pelko.Problem.read(EXAMPLES / "cognitive_then_interview.txt"),
                          seed=SECOND)


def test_share_below_counts_the_arrays(result):
    for ratio in (0.8, 0.5, 1.0):
        below = result.share_below(ratio)
        defined = result.ai[result.ai_defined]
        assert below.count == numpy.count_nonzero(defined < numpy.float32(ratio))
        assert below.total == len(defined)
        assert below.lower <= below.share <= below.upper
        either = result.share_below_or_undefined(ratio)
        assert either.count == below.count + result.summary.undefined
        assert either.total == len(result.ai)


def test_stages_agree_with_the_retained_counts(result):
    problem = result.problem
    minority_applicants = problem.applicants - problem.majority_applicants
    for k, stage in enumerate(result.stages):
        rate = result.majority_retained[k] / problem.majority_applicants
        assert stage.majority_rate == pytest.approx(rate.mean(), rel=1e-12)
        rate = result.minority_retained[k] / minority_applicants
        assert stage.minority_rate == pytest.approx(rate.mean(), rel=1e-12)
    last = result.majority_retained[-1] / problem.majority_applicants
    assert numpy.array_equal(result.sra, last.astype(numpy.float32))


def test_to_pandas_has_a_row_a_replication(result):
    pandas = pytest.importorskip("pandas")
    frame = result.to_pandas()
    assert isinstance(frame, pandas.DataFrame) and len(frame) == len(result.ai)
    assert list(frame["sra"]) == list(result.sra)


def test_without_pandas_or_matplotlib_the_message_says_what_to_install(result, monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError, match="needs pandas"):
        result.to_pandas()
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError, match="needs matplotlib"):
        result.plot()


def test_plot_draws_the_distribution(result, tmp_path):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    ax = result.plot()
    assert len(ax.patches) >= len(result.frequencies["value"])
    ax.figure.savefig(tmp_path / "ai.png")
    assert (tmp_path / "ai.png").stat().st_size > 0


def test_tests_match_the_programs_json_and_the_final_counts(result, tmp_path):
    import json
    import subprocess
    from conftest import _program
    out = tmp_path / "run.json"
    subprocess.run([_program(), "--seed", str(SECOND), "--json", str(out),
                    str(EXAMPLES / "cognitive_then_interview.txt")], check=True,
                   capture_output=True)
    written = json.loads(out.read_text())
    assert [r.rule for r in result.tests.final] == list(pelko.RULES) == list(written["tests"])
    for k, stage in enumerate(result.tests.stages):
        for share in stage:
            entry = written["stages"][k]["tests"][share.rule]
            assert (entry["count"], entry["total"]) == (share.count, share.total)
            assert entry["expected_under_no_difference"] == share.expected_under_no_difference
    # The per-replication flags count to the final shares; four_fifths is share_below(0.8).
    assert result.flags.shape == (len(result.ai), len(pelko.RULES))
    assert list(result.flags.sum(axis=0)) == [r.count for r in result.tests.final]
    assert result.tests.final[0].count == result.share_below(0.8).count
    assert "four_fifths_and_fisher" in str(result.tests)


def test_judge_gives_the_worked_example_and_other_levels(result):
    s = pelko.judge_selection(10, 25, 2, 15, 0.05)
    assert (round(s["z"], 3), round(s["z_ir"], 3)) == (-2.139, -2.853)
    assert (round(s["fisher_p"], 4), round(s["mid_p"], 4)) == (0.0599, 0.0209)
    strict, loose = result.judge(0.01), result.judge(0.2)
    assert strict.significance == 0.01
    for a, b in zip(strict.final, loose.final):
        assert a.count <= b.count
    with pytest.raises(ValueError, match="significance level"):
        result.judge(1.0)


def test_plot_shows_the_tests_as_bars(result):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    ax = result.plot(tests=True)
    assert len(ax.patches) == 2 * len(pelko.RULES)


def test_a_result_crosses_to_another_process_whole(result):
    import concurrent.futures
    import pickle

    copy = pickle.loads(pickle.dumps(result))
    for name in ("sra", "sri", "ai", "ai_defined", "majority_retained", "minority_retained"):
        assert numpy.array_equal(getattr(copy, name), getattr(result, name), equal_nan=True)
    assert (copy.seed, copy.summary, copy.stages) == (result.seed, result.summary, result.stages)
    assert copy.share_below(0.8) == result.share_below(0.8)
    assert copy.problem == result.problem
    with concurrent.futures.ProcessPoolExecutor(1) as pool:
        remote = pool.submit(pelko.simulate, result.problem, seed=SECOND).result()
    assert numpy.array_equal(remote.ai, result.ai, equal_nan=True)
    assert remote.share_below_or_undefined(0.7) == result.share_below_or_undefined(0.7)
