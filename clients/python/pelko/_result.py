"""The outcome of a simulation: numpy arrays of every replication and the report's summary."""
import collections

import numpy

from pelko import _core

Proportion = collections.namedtuple("Proportion", "count total share lower upper")
Proportion.__doc__ = "A share (count / total) with its 95 % Wilson score interval."

Summary = collections.namedtuple(
    "Summary", "sr expected_ai expected_sra expected_sri defined undefined undefined_freq")
Summary.__doc__ = "The report's expected values and the counts of defined and undefined AIs."

Distribution = collections.namedtuple("Distribution", "mean p50 p25 p75")
Distribution.__doc__ = "Mean and 50th, 25th and 75th percentiles, without interpolation."

QualityDistribution = collections.namedtuple(
    "QualityDistribution", "mean sd standard_error p50 p25 p75 count")
QualityDistribution.__doc__ = ("The mean criterion score of the hired over the replications that "
                               "hired any: mean, SD, Monte-Carlo standard error, percentiles.")

QualitySummary = collections.namedtuple(
    "QualitySummary", "criterion_effect_size composite_validities overall majority minority")
QualitySummary.__doc__ = ("The criterion effect size used, each stage's composite validity "
                          "w'r/sqrt(w'Rw), and the quality of hires overall and per group.")

Stage = collections.namedtuple("Stage", "majority_rate minority_rate ai ai_defined")
Stage.__doc__ = "Mean hiring rates and mean AI of one stage over the replications."

RuleShare = collections.namedtuple(
    "RuleShare", "rule count total share lower upper expected_under_no_difference")
RuleShare.__doc__ = ("How often a rule flags the selection: count of total replications, the "
                     "share with its 95 % Wilson interval, and the share it would flag if the "
                     "groups did not differ (every retained set a random subset).")

RULES = _core.rules


class Tests:
    """How often each rule flags the selection, at every stage, at one significance level.

    rules: the rule names; stages: one list of RuleShare a stage (the last is the final
    selection, also as final); flags: bool array [replication, rule], whether the rule flags
    the replication's final selection; flag_bits: the same as one uint8 bitmask a replication
    (bit i for rule i). str() gives the table rule / share flagged / interval / share with no
    difference of the final selection.
    """

    def __init__(self, flags):
        self.significance = flags["significance"]
        self.rules = RULES
        self.stages = [[RuleShare(*share) for share in stage] for stage in flags["stages"]]
        self.final = self.stages[-1]
        self.flag_bits = flags["final_flags"]
        self.flags = (self.flag_bits[:, None] >> numpy.arange(len(RULES), dtype=numpy.uint8)) & 1 == 1

    def table(self, stage=None):
        """The table of one stage (1-based; None: the final selection) as text."""
        shares = self.final if stage is None else self.stages[stage - 1]
        lines = [f"{'rule':<24}{'flagged':>9}{'95 % interval':>18}{'no difference':>15}"]
        for r in shares:
            lines.append(f"{r.rule:<24}{r.share:9.3f}{r.lower:10.3f} - {r.upper:.3f}"
                         f"{r.expected_under_no_difference:15.3f}")
        return "\n".join(lines)

    def __str__(self):
        return (f"Tests of the final selection at the significance level {self.significance:g}\n"
                + self.table())

    def __repr__(self):
        return f"<pelko.Tests {len(self.stages)} stages, significance {self.significance:g}>"


class Result:
    """One simulation of a problem.

    sra, sri, ai: float32 arrays with one entry a replication (ai is NaN where no majority
    applicant was hired); ai_defined: bool array; majority_retained, minority_retained: int32
    arrays [stage, replication] of the applicants of each group left after each stage;
    summary: the report's expected values; ai_distribution, sra_distribution,
    sri_distribution and frequencies: the report's detailed part (None when no AI is defined);
    stages: per-stage mean rates and AI; seed: the clock second the seeds came from;
    tests: how often each rule flags the selection at the .05 level (pelko.Tests, print it for
    the table; judge(significance) at another level); flags: bool array [replication, rule]
    of the final selection's flags at .05.

    With a criterion (problem.validities): quality, quality_majority, quality_minority: float32
    arrays of the mean criterion score of the hired in each replication, overall and per group
    (NaN for a group nobody of which was hired); stage_quality, stage_quality_majority,
    stage_quality_minority: float32 arrays [stage, replication] of the same over those retained
    after each stage; quality_summary: a QualitySummary. Without a criterion all are None.
    """

    def __init__(self, problem, outcome):
        self.problem = problem
        self._outcome = outcome
        self.seed = outcome.seed_second
        self.seeds = (outcome.seed1, outcome.seed2)
        self.composite_effect_sizes = list(outcome.composite_effect_sizes)
        self.sra = outcome.sra
        self.sri = outcome.sri
        self.ai = outcome.ai
        self.ai_defined = outcome.ai_defined
        self.majority_retained = outcome.majority_retained
        self.minority_retained = outcome.minority_retained
        self.summary = Summary(**outcome.summary)
        self.stages = [Stage(**stage) for stage in outcome.stages]
        detailed = outcome.detailed
        self.ai_distribution = Distribution(**detailed["ai"]) if detailed else None
        self.sra_distribution = Distribution(**detailed["sra"]) if detailed else None
        self.sri_distribution = Distribution(**detailed["sri"]) if detailed else None
        # The report's frequency table: value, count, freq, cfreq arrays.
        self.frequencies = detailed["rows"] if detailed else None
        # Why the report has no detailed part: the program's lines.
        self.no_defined_ai_lines = list(outcome.no_defined_ai_lines)
        quality = outcome.quality_summary
        self.quality_summary = None
        for name in ("quality", "quality_majority", "quality_minority", "stage_quality",
                     "stage_quality_majority", "stage_quality_minority"):
            setattr(self, name, getattr(outcome, name) if quality else None)
        if quality:
            self.quality_summary = QualitySummary(
                criterion_effect_size=quality["criterion_effect_size"],
                composite_validities=list(quality["composite_validities"]),
                **{group: QualityDistribution(**quality[group])
                   for group in ("overall", "majority", "minority")})
        self.tests = self.judge(0.05)
        self.flags = self.tests.flags

    def judge(self, significance=0.05):
        """How often each rule flags the selection at this significance level (pelko.Tests)."""
        return Tests(self._outcome.flag_selection(float(significance)))

    def share_below(self, ratio=0.8):
        """Replications whose AI is below `ratio` among those with a defined AI, judged on the
        exact ratio of the hiring rates (a replication exactly at 4/5 is not below 0.8)."""
        return Proportion(*self._outcome.share_below(ratio))

    def share_below_or_undefined(self, ratio=0.8):
        """The same among all replications, an undefined AI counting as below."""
        return Proportion(*self._outcome.share_below_or_undefined(ratio))

    def to_pandas(self):
        """A DataFrame with one row a replication (needs pandas)."""
        try:
            import pandas
        except ImportError:
            raise ImportError("Result.to_pandas needs pandas: apt-get install python3-pandas "
                              "(or pip install pandas)") from None
        columns = {"sra": self.sra, "sri": self.sri, "ai": self.ai, "ai_defined": self.ai_defined}
        for k in range(self.problem.stages):
            columns[f"majority_retained_{k + 1}"] = self.majority_retained[k]
            columns[f"minority_retained_{k + 1}"] = self.minority_retained[k]
        if self.quality_summary:
            for name in ("quality", "quality_majority", "quality_minority"):
                columns[name] = getattr(self, name)
            for k in range(self.problem.stages):
                for name in ("quality", "quality_majority", "quality_minority"):
                    columns[f"stage{k + 1}_{name}"] = getattr(self, "stage_" + name)[k]
        frame = pandas.DataFrame(columns)
        frame.index = pandas.RangeIndex(1, len(frame) + 1, name="replication")
        return frame

    def plot(self, ax=None, ratio=0.8, tests=False):
        """The distribution of AI over all replications, with the line at `ratio` and the
        expected AI (needs matplotlib); with tests=True instead the share of replications each
        rule flags (bars, with the 95 % interval) beside the share it would flag with no group
        difference. Returns the axes."""
        try:
            import matplotlib.pyplot as plt
        except ImportError:
            raise ImportError("Result.plot needs matplotlib: apt-get install python3-matplotlib "
                              "(or pip install matplotlib)") from None
        if ax is None:
            _, ax = plt.subplots()
        if tests:
            return self._plot_tests(ax)
        total = len(self.ai)
        if self.frequencies is not None:
            ax.bar(self.frequencies["value"], self.frequencies["count"] / total, width=0.01,
                   label="AI")
            ax.axvline(self.summary.expected_ai, color="black", label="expected AI")
        if self.summary.undefined:
            ax.bar([-0.05], [self.summary.undefined / total], width=0.02, color="grey",
                   label="undefined")
        ax.axvline(ratio, color="red", linestyle="--", label=f"{ratio:g}")
        ax.set_xlabel("AI ratio")
        ax.set_ylabel("share of replications")
        ax.legend()
        return ax

    def _plot_tests(self, ax):
        shares = self.tests.final
        x = numpy.arange(len(shares))
        share = numpy.array([r.share for r in shares])
        below = share - numpy.array([r.lower for r in shares])
        above = numpy.array([r.upper for r in shares]) - share
        ax.bar(x - 0.2, share, width=0.4, yerr=[below, above], label="flagged")
        ax.bar(x + 0.2, [r.expected_under_no_difference for r in shares], width=0.4,
               color="grey", label="with no group difference")
        ax.set_xticks(x)
        ax.set_xticklabels([r.rule for r in shares], rotation=45, ha="right")
        ax.set_ylabel("share of replications flagged")
        ax.set_ylim(0, 1)
        ax.legend()
        return ax

    def __repr__(self):
        s = self.summary
        return (f"<pelko.Result {len(self.ai)} replications, seed {self.seed}: "
                f"SR {s.sr:.3f} AI {s.expected_ai:.3f} SRA {s.expected_sra:.3f} "
                f"SRI {s.expected_sri:.3f}{self._quality_text()}>")

    def _quality_text(self):
        if not self.quality_summary:
            return ""
        q = self.quality_summary.overall
        return f"; quality {q.mean:.4f} (SE {q.standard_error:.4f})"
