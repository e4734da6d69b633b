"""Running designs: one with numpy results, or several through an executor."""
import concurrent.futures
import json
import sys
import time

from pelko import _core
from pelko._problem import Problem, _raise_first_error, _warn, _whole
from pelko._resume import append_row, finished_rows, one_seed
from pelko._result import Result


class _ProgressLine:
    """Replications done, on standard error, erased at the end."""

    def __init__(self, stream):
        self.stream = stream
        self.width = 0

    def __call__(self, done, total):
        text = f"pelko: {done} of {total} replications"
        self.width = max(self.width, len(text))
        self.stream.write("\r" + text)
        self.stream.flush()

    def erase(self):
        if self.width:
            self.stream.write("\r" + " " * self.width + "\r")
            self.stream.flush()


def simulate(problem, seed=None, threads=None, progress=False):
    """Runs `problem` (a pelko.Problem) and returns a pelko.Result.

    seed: the clock second whose seeds the run uses, as `pelko --seed SECOND`; None: the
    current second (recorded in result.seed either way). threads: engine threads (None: every
    CPU the process may use); every count gives the same numbers. progress: True for a line on
    standard error, or a function called with (done, total) on this thread.

    The engine runs without the GIL; Ctrl-C (in the main thread) cancels it within a fraction of
    a second with KeyboardInterrupt. An invalid problem raises ValueError (pelko.Error) with the
    program's message; its warnings come as PelkoWarning.
    """
    if not isinstance(problem, Problem):
        raise TypeError(f"simulate takes a pelko.Problem, not {type(problem).__name__}")
    seed = None if seed is None else _whole(seed, "seed")
    if seed is not None and not 0 <= seed < 2**63:
        raise ValueError(f"seed must be a clock second (epoch seconds, 0 or more), not {seed}")
    threads = 0 if threads is None else _whole(threads, "threads")
    if threads < 0:
        raise ValueError(f"threads must be 0 or more (0 or None: every CPU), not {threads}")
    if not (progress in (True, False, None) or callable(progress)):
        raise TypeError("progress must be True, False or a function of (done, total), not "
                        f"{type(progress).__name__}")
    diagnostics = _core.validate(problem)
    _warn(diagnostics, stacklevel=2)
    _raise_first_error(diagnostics, name_argument=True)
    line = None
    if progress is True:
        line = progress = _ProgressLine(sys.stderr)
    elif progress is False or progress is None:
        progress = None
    try:
        # More threads than the CPUs run on the CPUs; the engine takes a 32-bit count.
        outcome = _core.simulate(problem, seed, min(threads, 2**31 - 1), progress)
    finally:
        if line is not None:
            line.erase()
    return Result(problem, outcome)


def record(problem, seed=None, threads=None, ratio=0.8):
    """One design's line of a sweep: its parameters, the seed and the summary values."""
    result = simulate(problem, seed=seed, threads=threads)
    s = result.summary
    below = result.share_below(ratio)
    below_or_undefined = result.share_below_or_undefined(ratio)
    entry = problem.as_dict()
    entry.update(seed=result.seed, sr=s.sr, expected_ai=s.expected_ai,
                 expected_sra=s.expected_sra, expected_sri=s.expected_sri, defined=s.defined,
                 undefined=s.undefined, ratio=ratio, share_below=below.share,
                 share_below_lower=below.lower, share_below_upper=below.upper,
                 share_below_or_undefined=below_or_undefined.share,
                 share_below_or_undefined_lower=below_or_undefined.lower,
                 share_below_or_undefined_upper=below_or_undefined.upper)
    if result.quality_summary:
        entry.update(quality=result.quality_summary.overall.mean,
                     quality_standard_error=result.quality_summary.overall.standard_error)
    return entry


def sweep(problems, executor=None, seed=None, threads=None, ratio=0.8, file=None):
    """Runs several designs and returns one record (a dict) a design, in their order.

    executor: any concurrent.futures.Executor (a thread or process pool, or a cluster's
    executor with the same interface); None runs them one after the other here. seed: one
    clock second for every design, so that all of them draw the same random numbers; None:
    the current second of each run (of the first, when a file is given).
    `pandas.DataFrame(records)` makes a table of them.

    file: a CSV file that keeps each design's record as it is finished; given again with the
    same designs, the records it holds are not computed again.
    """
    problems = list(problems)
    if file is not None:
        return _sweep_to_file(problems, executor, seed, threads, ratio, file)
    if executor is None:
        return [record(p, seed, threads, ratio) for p in problems]
    futures = [executor.submit(record, p, seed, threads, ratio) for p in problems]
    return [future.result() for future in futures]


def _sweep_to_file(problems, executor, seed, threads, ratio, file):
    # A cell is the JSON of its value, which reads back to the same value (lists, NaN too).
    rows = finished_rows(file, ("design", "seed"))
    seed = one_seed(rows, seed, file)
    if seed is None:
        seed = int(time.time())
    records = [None] * len(problems)
    for row in rows:
        design = int(row["design"])
        entry = {name: json.loads(text) for name, text in row.items() if name != "design"}
        if not 0 <= design < len(problems) or any(
                entry.get(name) != value for name, value in problems[design].as_dict().items()):
            raise ValueError(f"file {file!r} holds design {design} of another sweep")
        records[design] = entry
    todo = [i for i, entry in enumerate(records) if entry is None]

    def keep(i, entry):
        records[i] = entry
        append_row(file, ["design"] + list(entry),
                   [str(i)] + [json.dumps(value) for value in entry.values()])

    if executor is None:
        for i in todo:
            keep(i, record(problems[i], seed, threads, ratio))
    else:
        futures = {executor.submit(record, problems[i], seed, threads, ratio): i for i in todo}
        try:
            for future in concurrent.futures.as_completed(futures):
                keep(futures[future], future.result())
        finally:
            for future in futures:
                future.cancel()
    return records
