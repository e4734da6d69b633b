"""Cancelling, the GIL released while the engine runs, and sweeps through executors."""
import concurrent.futures
import signal
import threading
import time

import numpy
import pytest

import pelko
from conftest import EXAMPLES

SECOND = 1765185354

# Minutes of work on this machine: only ever run until cancelled.
LARGE = pelko.Problem(replications=500000, applicants=10000, majority_applicants=8000,
                      retained=[4000, 2000, 1000, 300], effect_sizes=[-1.0] * 10,
                      correlations=[[1.0 if i == j else 0.3 for j in range(10)]
                                    for i in range(10)],
                      weights=[[1.0] * 10] * 4)


def seconds_to_stop(interrupt, **options):
    """Runs LARGE, calls `interrupt` after 0.5 s and returns how long simulate took after it."""
    interrupted = []

    def fire():
        interrupted.append(time.monotonic())
        interrupt()

    timer = threading.Timer(0.5, fire)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            pelko.simulate(LARGE, seed=SECOND, **options)
    finally:
        timer.cancel()
    return time.monotonic() - interrupted[0]


@pytest.mark.parametrize("threads", [1, None])
def test_sigint_cancels_within_a_second(threads):
    assert threading.current_thread() is threading.main_thread()
    assert seconds_to_stop(lambda: signal.raise_signal(signal.SIGINT), threads=threads) < 1.0


def test_an_exception_in_progress_cancels_and_is_raised():
    calls = []

    def progress(done, total):
        calls.append(done)
        if len(calls) == 3:
            raise RuntimeError("enough")

    with pytest.raises(RuntimeError, match="enough"):
        pelko.simulate(LARGE, seed=SECOND, progress=progress)
    assert calls == sorted(calls) and len(calls) == 3
    # Nothing of the cancelled run is left behind.
    result = pelko.simulate(pelko.Problem.read(EXAMPLES / "two_stage.txt"), seed=SECOND)
    assert len(result.ai) == 1000


def test_the_gil_is_free_while_the_engine_runs():
    problem = pelko.Problem.read(EXAMPLES / "four_stage_battery.txt")
    problem.replications = 5000  # about a quarter of a second
    worker = threading.Thread(target=pelko.simulate, args=(problem,), kwargs={"seed": SECOND})
    worker.start()
    busy = sum(i * i for i in range(200000))  # needs the GIL, a few milliseconds
    still_running = worker.is_alive()
    worker.join()
    assert busy and still_running


def test_two_simulations_at_once_equal_the_sequential_ones():
    problems = [pelko.Problem.read(EXAMPLES / "four_stage_battery.txt"),
                pelko.Problem.read(EXAMPLES / "cognitive_then_interview.txt")]
    sequential = [pelko.simulate(p, seed=SECOND) for p in problems]
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        together = list(pool.map(lambda p: pelko.simulate(p, seed=SECOND), problems))
    for a, b in zip(sequential, together):
        assert numpy.array_equal(a.sra, b.sra) and numpy.array_equal(a.sri, b.sri)
        assert numpy.array_equal(a.ai, b.ai, equal_nan=True)
        assert numpy.array_equal(a.majority_retained, b.majority_retained)


def sweep_problems():
    base = pelko.Problem.read(EXAMPLES / "two_stage.txt")
    problems = []
    for retained in ([50, 20], [100, 20], [40, 10], [20, 20]):
        fields = base.as_dict()
        fields["retained"] = retained
        problems.append(pelko.Problem(**fields))
    return problems


@pytest.mark.parametrize("executor", [concurrent.futures.ThreadPoolExecutor,
                                      concurrent.futures.ProcessPoolExecutor])
def test_a_sweep_through_an_executor_equals_one_run_a_design(executor):
    problems = sweep_problems()
    with executor(max_workers=2) as pool:
        records = pelko.sweep(problems, executor=pool, seed=SECOND, threads=1)
    assert records == pelko.sweep(problems, seed=SECOND)
    assert [r["retained"] for r in records] == [p.retained for p in problems]
    for problem, record in zip(problems, records):
        result = pelko.simulate(problem, seed=SECOND)
        below = result.share_below(0.8)
        assert record["seed"] == SECOND
        assert record["expected_ai"] == result.summary.expected_ai
        assert (record["share_below"], record["share_below_lower"]) == (below.share, below.lower)


def test_a_sweep_reports_a_refused_design():
    problems = sweep_problems()
    problems[2].replications = 5
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        with pytest.raises(ValueError, match="nrep"):
            pelko.sweep(problems, executor=pool, seed=SECOND)


# The interpreter ends (or Ctrl-C ends the main thread) while a daemon thread is inside
# simulate: the process ends as Python ends it, without an abort.
@pytest.mark.parametrize("ending,status", [("sys.exit(0)", 0), ("raise KeyboardInterrupt", -2)])
def test_the_interpreter_may_end_while_another_thread_simulates(ending, status):
    import subprocess
    import sys
    script = f"""
import sys, threading, time
sys.path[:0] = {sys.path!r}
import pelko
problem = pelko.Problem(replications=500000, applicants=10000, majority_applicants=8000,
                        retained=[4000, 300], effect_sizes=[-1.0] * 3,
                        correlations=[[1, 0, 0], [0, 1, 0], [0, 0, 1]], weights=[[1, 1, 1]] * 2)
threading.Thread(target=pelko.simulate, args=(problem,), daemon=True).start()
time.sleep(0.5)
{ending}
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == status, done.stderr
    assert "terminate called" not in done.stderr
