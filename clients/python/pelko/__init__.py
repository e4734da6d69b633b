"""PELKO from Python: the sampling distribution of the adverse-impact ratio of a multi-stage
selection, by the exact Monte-Carlo engine of the program pelko, with numpy results.

    import pelko
    problem = pelko.Problem.read("examples/two_stage.txt")
    result = pelko.simulate(problem, seed=1765185354)
    result.ai                      # one AI ratio a replication, NaN where undefined
    result.share_below(0.8)        # the four-fifths risk with its Wilson interval
    print(result.tests)            # how often each rule flags the selection
"""
from pelko._core import Error, judge_selection, version as __version__
from pelko._frontier import Frontier, frontier
from pelko._problem import Problem, PelkoWarning
from pelko._result import (Proportion, QualityDistribution, QualitySummary, Result, RuleShare,
                           Tests, RULES)
from pelko._simulate import simulate, sweep

__all__ = ["Error", "Frontier", "PelkoWarning", "Problem", "Proportion", "QualityDistribution",
           "QualitySummary", "Result", "RuleShare", "RULES", "Tests", "frontier",
           "judge_selection", "simulate", "sweep", "__version__"]
