"""The designs worth choosing: the library's frontier search, here or through an executor."""
import concurrent.futures
import math
import operator
import sys
import time

from pelko import _core
from pelko._problem import Problem
from pelko._resume import append_row, finished_rows, one_seed, real
from pelko._simulate import _ProgressLine

# The columns of a frontier file after seed, stage and weight_1 .. weight_n; the R package
# writes and resumes the same files.
_FILE_MEASURES = ("quality", "quality_standard_error", "composite_validity", "expected_ai",
                  "below_count", "defined", "p_below_0.8", "p_below_0.8_lower",
                  "p_below_0.8_upper")


class Frontier(list):
    """The points of a frontier search, one record (a dict) a candidate weighting in the
    order of the candidates: weights (one a predictor), quality and quality_standard_error (the
    mean criterion score of the hired over the replications), composite_validity, expected_ai,
    share_below with share_below_lower and share_below_upper (P(AI < 0.8) among defined AIs
    with its 95 % Wilson interval), below_count, below_total, on_front (no other point has
    quality at least as high and P(AI < 0.8) at least as low, better in one) and
    on_front_expected_ai (the same with expected AI at least as high). seed: the clock second
    every candidate used; stage: the 0-based stage whose weights vary.
    `pandas.DataFrame(frontier)` makes a table of it."""

    def __init__(self, records, seed, stage):
        super().__init__(records)
        self.seed = seed
        self.stage = stage

    def front(self, expected_ai=False):
        """The records on the front (of expected AI in place of P(AI < 0.8) if asked)."""
        key = "on_front_expected_ai" if expected_ai else "on_front"
        return [record for record in self if record[key]]

    def labels(self):
        """Each point's weights of the predictors that vary over the search, as "w1/w2/..."."""
        if not self:
            return []
        columns = [j for j in range(len(self[0]["weights"]))
                   if any(r["weights"][j] != self[0]["weights"][j] for r in self)]
        columns = columns or list(range(len(self[0]["weights"])))
        return ["/".join(f"{r['weights'][j]:.3g}" for j in columns) for r in self]

    def plot(self, ax=None, labels=None):
        """Quality against P(AI < 0.8), the front marked and joined, each point labelled with
        its weights (labels=None: when there are at most 40 points; else the front's only).
        Needs matplotlib. Returns the axes."""
        try:
            import matplotlib.pyplot as plt
        except ImportError:
            raise ImportError("Frontier.plot needs matplotlib: apt-get install "
                              "python3-matplotlib (or pip install matplotlib)") from None
        if ax is None:
            _, ax = plt.subplots()
        if labels is None:
            labels = len(self) <= 40
        risk = [r["share_below"] for r in self]
        quality = [r["quality"] for r in self]
        beaten = [i for i, r in enumerate(self) if not r["on_front"]]
        front = sorted((i for i, r in enumerate(self) if r["on_front"]),
                       key=lambda i: (risk[i], quality[i]))
        ax.scatter([risk[i] for i in beaten], [quality[i] for i in beaten], facecolors="none",
                   edgecolors="grey", label="beaten")
        ax.plot([risk[i] for i in front], [quality[i] for i in front], "o-", color="firebrick",
                label="on the front")
        for i, text in enumerate(self.labels()):
            if labels or self[i]["on_front"]:
                ax.annotate(text, (risk[i], quality[i]), fontsize=7, xytext=(3, 3),
                            textcoords="offset points")
        ax.margins(x=0.15)  # room for the labels of the points at the edges
        ax.set_xlabel("P(AI < 0.8)")
        ax.set_ylabel("quality of hires (mean criterion score)")
        ax.legend()
        return ax

    def __repr__(self):
        return (f"<pelko.Frontier {len(self)} weightings of stage {self.stage}, seed {self.seed}: "
                f"{len(self.front())} on the front>")


def _record(point):
    below = point["below"]
    return {"weights": list(point["weights"]), "quality": point["quality"],
            "quality_standard_error": point["quality_standard_error"],
            "composite_validity": point["composite_validity"],
            "expected_ai": point["expected_ai"], "share_below": below[2],
            "share_below_lower": below[3], "share_below_upper": below[4],
            "below_count": below[0], "below_total": below[1]}


def _file_cells(record, seed, stage):
    return ([str(seed), str(stage + 1)] + [real(w) for w in record["weights"]] +
            [real(record[name]) for name in ("quality", "quality_standard_error",
                                             "composite_validity", "expected_ai")] +
            [str(record["below_count"]), str(record["below_total"])] +
            [real(record[name]) for name in ("share_below", "share_below_lower",
                                             "share_below_upper")])


def _from_file(row, predictors):
    weights = [float(row[f"weight_{j + 1}"]) for j in range(predictors)]
    number = {name: float(row[name]) if row[name] else math.nan for name in _FILE_MEASURES}
    return {"weights": weights, "quality": number["quality"],
            "quality_standard_error": number["quality_standard_error"],
            "composite_validity": number["composite_validity"],
            "expected_ai": number["expected_ai"], "share_below": number["p_below_0.8"],
            "share_below_lower": number["p_below_0.8_lower"],
            "share_below_upper": number["p_below_0.8_upper"],
            "below_count": int(number["below_count"]), "below_total": int(number["defined"])}


def _key(weights):
    """Weights as a key that a float read back from a file gives too."""
    return " ".join(f"{w:.9g}" for w in weights)


def _chunk(problem, stage, weightings, seed, threads):
    """One share of a search, run where an executor puts it."""
    _, points = _core.frontier(problem, stage, 1.0, [], weightings, seed, threads, None, None)
    return [_record(point) for point in points]


def _run_chunks(executor, chunk_size, todo, keep, progress, task, replications):
    """Runs the weightings `todo` through `executor` in chunks, keeping each chunk's points as
    it comes back and telling progress in replications of the whole search."""
    if chunk_size is None:
        workers = getattr(executor, "_max_workers", None) or 1
        chunk_size = max(1, math.ceil(len(todo) / (4 * workers)))
    chunk_size = _whole(chunk_size, "chunk_size", minimum=1)
    chunks = [todo[i:i + chunk_size] for i in range(0, len(todo), chunk_size)]
    futures = {executor.submit(*task(chunk)): chunk for chunk in chunks}
    done = 0
    try:
        for future in concurrent.futures.as_completed(futures):
            for i, record in zip(futures[future], future.result()):
                keep(i, record)
            done += len(futures[future])
            if progress is not None:
                progress(done * replications, len(todo) * replications)
    finally:
        for future in futures:
            future.cancel()


def _whole(value, name, minimum=0):
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"frontier: {name} must be a whole number, not "
                        f"{type(value).__name__}") from None
    if value < minimum:
        raise ValueError(f"frontier: {name} must be at least {minimum}, not {value}")
    return value


def frontier(problem, stage=0, step=0.1, predictors=None, weightings=None, seed=None,
             threads=None, progress=False, file=None, executor=None, chunk_size=None):
    """The designs worth choosing: every candidate weighting of `stage` (0-based) simulated
    with the same seed, with the quality of those hired beside the risk of adverse impact.
    Returns a Frontier (a list of records, with .plot()).

    The candidates are a lattice of weights 0, step, 2 step, .. 1 summing to 1 over the
    0-based `predictors` (None: all), every other predictor weighted 0; or `weightings`, a
    list of full weight rows, which replaces the lattice. The problem needs validities.
    seed: one clock second for every candidate (None: the current second). threads: engine
    threads of each simulation. progress: True for a line on standard error, or a function
    called with (replications done, total) of the whole search.

    file: a CSV file that keeps each finished point as it is done; given again, the points it
    holds are not computed again (the R package reads and writes the same files).
    executor: a concurrent.futures.Executor (a process pool, or a cluster's executor) that
    runs the candidates in chunks of `chunk_size` weightings (None: about four chunks a
    worker). The search is the library's either way: the same seed gives the same points.
    """
    if not isinstance(problem, Problem):
        raise TypeError(f"frontier takes a pelko.Problem, not {type(problem).__name__}")
    if not problem.has_criterion:
        raise ValueError("frontier: the problem has no criterion: give pelko.Problem its "
                         "validities")
    stage = _whole(stage, "stage")
    if stage >= problem.stages:
        raise ValueError(f"frontier: stage {stage} is not a stage of this problem: 0.."
                         f"{problem.stages - 1} (stages count from 0)")
    if isinstance(step, bool) or not isinstance(step, (int, float)):
        raise TypeError(f"frontier: step must be a number, not {type(step).__name__}")
    predictors = [_whole(j, "each of predictors") for j in (predictors or [])]
    for j in predictors:
        if j >= problem.predictors:
            raise ValueError(f"frontier: predictor {j} is not a predictor of this problem: 0.."
                             f"{problem.predictors - 1} (predictors count from 0)")
    if len(set(predictors)) != len(predictors):
        raise ValueError("frontier: predictors must be distinct")
    if weightings is not None:
        weightings = [[float(w) for w in row] for row in weightings]
        if not weightings:
            raise ValueError("frontier: weightings is empty (None: the lattice)")
    if seed is not None:
        seed = _whole(seed, "seed", minimum=-(2 ** 63))
    threads = 0 if threads is None else _whole(threads, "threads", minimum=1)
    candidates = _core.frontier_weightings(problem, stage, float(step), predictors,
                                           weightings or [])

    weight_columns = [f"weight_{j + 1}" for j in range(problem.predictors)]
    header = ["seed", "stage"] + weight_columns + list(_FILE_MEASURES)
    kept = {}
    if file is not None:
        rows = finished_rows(file, header)
        if any(int(float(row["stage"])) != stage + 1 for row in rows):
            raise ValueError(f"file {file!r} holds a search of another stage")
        seed = one_seed(rows, seed, file)
        for row in rows:
            record = _from_file(row, problem.predictors)
            kept[_key(record["weights"])] = record
    if seed is None:
        seed = int(time.time())

    records = [kept.get(_key(w)) for w in candidates]
    todo = [i for i, record in enumerate(records) if record is None]

    def keep(i, record):
        records[i] = record
        if file is not None:
            append_row(file, header, _file_cells(record, seed, stage))

    line = None
    if progress is True:
        line = progress = _ProgressLine(sys.stderr)
    elif progress is False:
        progress = None
    try:
        if todo and executor is None:
            _core.frontier(problem, stage, float(step), [], [candidates[i] for i in todo], seed,
                           threads, progress,
                           lambda place, point: keep(todo[place], _record(point)))
        elif todo:
            _run_chunks(executor, chunk_size, todo, keep, progress,
                        lambda chunk: (_chunk, problem, stage, [candidates[i] for i in chunk],
                                       seed, threads),
                        problem.replications)
    finally:
        if line is not None:
            line.erase()

    marks = _core.mark_fronts([(r["quality"], r["share_below"], r["expected_ai"])
                               for r in records])
    for record, (on_front, on_front_expected_ai) in zip(records, marks):
        record["on_front"] = on_front
        record["on_front_expected_ai"] = on_front_expected_ai
    return Frontier(records, seed, stage)
