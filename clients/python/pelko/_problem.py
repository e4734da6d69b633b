"""A selection design, read from and written to the program's problem files."""
import operator
import warnings

import numpy

from pelko import _core


class PelkoWarning(UserWarning):
    """A value pelko runs on, though probably not as meant (the program's WARNING lines)."""


def _whole(value, name):
    """An integer argument; a bool or a real is refused, naming the argument."""
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{name} must be a whole number, not {type(value).__name__}")
    return operator.index(value)


def _sequence(values, name):
    """A list argument; a string is no list of numbers, although it iterates."""
    if isinstance(values, (str, bytes)) or not hasattr(values, "__iter__"):
        raise TypeError(f"{name} must be a list, not {type(values).__name__}")
    return list(values)


def _single(value, name):
    """`value` rounded to single precision, as the engine takes it."""
    if isinstance(value, (bool, str, bytes)):
        raise TypeError(f"{name} must hold numbers, not {type(value).__name__}")
    try:
        with numpy.errstate(over="ignore"):  # beyond single precision is infinity, as read
            return float(numpy.float32(float(value)))
    except (TypeError, ValueError):
        raise TypeError(f"{name} must hold numbers, not {type(value).__name__}") from None


def _message(diagnostic):
    return "\n".join(diagnostic["lines"])


def _argument(diagnostic):
    """Which argument, and which entry of it, a diagnostic is about."""
    field, index, second = diagnostic["field"], diagnostic["index"], diagnostic["second_index"]
    place = f"argument '{field}'"
    if index and field in ("retained", "weights"):
        place += f", stage {index}"
    if index and field == "weights" and second:
        place += f", predictor {second}"
    if index and field in ("effect_sizes", "validities"):
        place += f", predictor {index}"
    if index and field == "correlations":
        place += f", row {index}" + (f", column {second}" if second else "")
    return place


def _raise_first_error(diagnostics, name_argument=False):
    """The first error as pelko.Error: the program's lines, and for a problem built from
    arguments a last line naming the argument."""
    for diagnostic in diagnostics:
        if diagnostic["severity"] == "error":
            message = _message(diagnostic)
            if name_argument and diagnostic["field"]:
                message += f"\n({_argument(diagnostic)})"
            error = _core.Error(message)
            error.kind = diagnostic["kind"]
            error.field = diagnostic["field"]
            error.lines = list(diagnostic["lines"])
            error.line = diagnostic["line"]
            error.column = diagnostic["column"]
            raise error


def _warn(diagnostics, stacklevel):
    for diagnostic in diagnostics:
        if diagnostic["severity"] == "warning":
            warnings.warn(_message(diagnostic), PelkoWarning, stacklevel=stacklevel + 1)


class Problem:
    """A selection design in the researcher's words.

    replications: applicant pools drawn (10..500000); applicants: in each pool (2..10000);
    majority_applicants: applicants 1..majority_applicants of a pool are the majority group;
    retained: applicants left after each stage (one entry a stage, at most 4); effect_sizes:
    minority mean minus majority mean of each predictor in standard deviations (at most 10);
    correlations: the predictors' correlation matrix, one row a predictor; weights: one row of
    predictor weights a stage. Reals are taken in single precision, as the program reads them.

    A criterion (job performance, standardised in the majority group) is optional:
    validities: the correlation of each predictor with it (None: no criterion);
    criterion_effect_size: its minority mean minus majority mean (None: the value of a
    regression line common to both groups, beta'd with beta = R^-1 r).
    """

    _fields = ("replications", "applicants", "majority_applicants", "retained", "effect_sizes",
               "correlations", "weights", "validities", "criterion_effect_size")
    _criterion_fields = ("validities", "criterion_effect_size")

    def __init__(self, *, replications, applicants, majority_applicants, retained, effect_sizes,
                 correlations, weights, validities=None, criterion_effect_size=None):
        self.replications = _whole(replications, "replications")
        self.applicants = _whole(applicants, "applicants")
        self.majority_applicants = _whole(majority_applicants, "majority_applicants")
        self.retained = [_whole(n, "retained") for n in _sequence(retained, "retained")]
        self.effect_sizes = [_single(d, "effect_sizes")
                             for d in _sequence(effect_sizes, "effect_sizes")]
        self.correlations = [[_single(r, "correlations") for r in _sequence(row, "correlations")]
                             for row in _sequence(correlations, "correlations")]
        self.weights = [[_single(w, "weights") for w in _sequence(row, "weights")]
                        for row in _sequence(weights, "weights")]
        # An empty list of validities is no criterion, as None is.
        self.validities = None
        if validities is not None:
            self.validities = [_single(v, "validities")
                               for v in _sequence(validities, "validities")] or None
        self.criterion_effect_size = (None if criterion_effect_size is None
                                      else _single(criterion_effect_size, "criterion_effect_size"))

    @classmethod
    def parse(cls, text, _stacklevel=2):
        """The problem of a problem file's text (str or bytes); ValueError (pelko.Error) with
        the program's message when the program would refuse it, PelkoWarning for its warnings."""
        if isinstance(text, str):
            text = text.encode("utf-8")
        problem, diagnostics = _core.parse(bytes(text))
        _raise_first_error(diagnostics)
        _warn(diagnostics, stacklevel=_stacklevel)
        return cls(**problem)

    @classmethod
    def read(cls, path):
        """The problem in the file at `path` (bytes as the program reads them)."""
        with open(path, "rb") as f:
            return cls.parse(f.read(), _stacklevel=3)

    def text(self):
        """The problem file that reads back to this problem, bit for bit."""
        return _core.format(self)

    def write(self, path):
        with open(path, "w", encoding="ascii", newline="\n") as f:
            f.write(self.text())

    def check(self):
        """Raises ValueError (pelko.Error) with the program's message for an invalid problem;
        returns the program's warnings as strings."""
        diagnostics = _core.validate(self)
        _raise_first_error(diagnostics, name_argument=True)
        return [_message(d) for d in diagnostics if d["severity"] == "warning"]

    def composite_effect_sizes(self):
        """The analytic standardized group difference of each stage's composite."""
        return _core.composite_effect_sizes(self)

    @property
    def has_criterion(self):
        return self.validities is not None

    @property
    def stages(self):
        return len(self.retained)

    @property
    def predictors(self):
        return len(self.effect_sizes)

    def as_dict(self):
        return {name: getattr(self, name) for name in self._fields}

    def __eq__(self, other):
        return isinstance(other, Problem) and self.as_dict() == other.as_dict()

    def __repr__(self):
        def shown(value):  # reals as their shortest single-precision form
            if isinstance(value, list):
                return "[" + ", ".join(shown(v) for v in value) + "]"
            return str(numpy.float32(value)) if isinstance(value, float) else repr(value)

        args = ", ".join(f"{name}={shown(getattr(self, name))}" for name in self._fields
                         if name not in self._criterion_fields or getattr(self, name) is not None)
        return f"Problem({args})"

    def __reduce__(self):
        return (_rebuild, (self.as_dict(),))


def _rebuild(fields):
    return Problem(**fields)
