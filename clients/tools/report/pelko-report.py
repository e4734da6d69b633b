#!/usr/bin/python3
"""pelko-report: turns a pelko report, or pelko's JSON file of a run, into a picture, a table
and the four-fifths risk."""

import argparse
import csv
import io
import json
import math
import os
import re
import struct
import sys

HELP_EPILOG = """\
REPORT is the report pelko wrote, or the file of pelko --json FILE (told apart by content: a
JSON object with "program": "pelko").

Writes PREFIX.png (or the --picture file, PNG or SVG by its extension), PREFIX.csv and
PREFIX.json, where PREFIX is the input's file name without its extension (with "-report"
added for a pelko --json file), or "pelko-report" when the input comes from standard input.
It never writes over its input or over a file of pelko --json. The summary on standard output
gives P(AI < 0.8), the share of replications that fail the four-fifths rule, among the
replications with a defined AI and among all replications (an undefined AI counts as a
failure there), each with its 95 % Wilson interval, and the Monte-Carlo standard error of the
mean AI.

The report prints AI values to three decimals: a row printed as 0.800 counts as not below 0.8.
From a JSON file the count is pelko's own "ai_below_0_8", which judges the exact ratio of the
hiring rates (4/5 is not below 0.8, although single precision holds it as 0.79999995); the
frequency table's values must allow it. From it the
CSV and JSON also carry the seed second and each stage's mean hiring rates and AI, and leave
the CPU time empty. When the file has pelko's "tests" (how often each rule flags the
selection), the summary lists the final selection's shares flagged with their Wilson
intervals and the shares with no group difference, and the CSV (kind "test") and the JSON
carry them for every stage; a file without them is read as before.

The picture needs matplotlib (Debian: apt-get install python3-matplotlib); without it the
CSV, the JSON and the summary are still written.

Exit status:
  0  everything was written
  1  the input is not a complete, consistent pelko report or JSON file of pelko (cut short,
     malformed, a value that is not a finite number, counts that disagree), or it cannot be read
  2  a command-line error, or an output would replace the input or a file of pelko --json
  3  a file or standard output cannot be written
  4  the CSV, JSON and summary were written, but no picture: matplotlib is missing

See also: pelko(1), pelko-check(1).
"""

FOUR_FIFTHS = 0.8
Z95 = 1.959963984540054
# Beyond this many distinct values the picture draws lines, not one bar each.
MOST_BARS = 200
NO_MATPLOTLIB = ("no picture: drawing it needs matplotlib, which this Python ({}) lacks "
                 "(Debian: apt-get install python3-matplotlib); the CSV, JSON and summary "
                 "are written")

STATUS_DONE, STATUS_INPUT, STATUS_USAGE, STATUS_OUTPUT, STATUS_NO_PICTURE = 0, 1, 2, 3, 4


class ReportError(Exception):
    """The input is not a complete, consistent pelko report."""


class OutputError(Exception):
    """A file or standard output could not be written."""


# A number as pelko's report writer prints it: no exponent, no inf, no nan.
NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)")


def number(text, where):
    """A report field; a field of asterisks (a value too wide for it) reads as None."""
    text = text.strip()
    if text and set(text) == {"*"}:
        return None
    if not NUMBER.fullmatch(text):
        raise ReportError(f"{where}: {shown(text)} is not a finite number as pelko prints it")
    return float(text)


def whole(text, where):
    text = text.strip()
    if not re.fullmatch(r"\d+", text):
        raise ReportError(f"{where}: {shown(text)} is not a count")
    return int(text)


def shown(text, limit=40):
    """Text from the input, quoted, escaped and cut short."""
    text = text if len(text) <= limit else text[:limit] + "..."
    return ascii(text) if not text.isprintable() else '"' + text + '"'


def fields(text, width, count, where):
    """Exactly `count` fixed-width fields of a report line."""
    if len(text) != width * count:
        raise ReportError(f"{where}: expected {count} fields of {width} characters, "
                          f"found {shown(text.strip())}")
    return [number(text[i:i + width], where) for i in range(0, width * count, width)]


def parse_design(lines, report):
    """The problem as pelko echoed it: sizes, retained numbers, weights, effect sizes and the
    correlation matrix."""
    problem = report["problem"]
    patterns = {
        "nf": r"Number of selection stages:\s*(\d+)",
        "nrep": r"Number of replications for the simulation:\s*(\d+)",
        "nsub": r"Total number of applicants:\s*(\d+)",
        "nsub1": r"Number of majority group applicants:\s*(\d+)",
    }
    found = {}
    for i, line in enumerate(lines[:40]):
        for key, pattern in patterns.items():
            match = re.fullmatch(pattern, line)
            if match and key not in found:
                found[key] = i
                problem[key] = int(match.group(1))
        if line == "PROGRAM OUTPUT":
            break
    missing = [key for key in patterns if key not in problem]
    if missing:
        raise ReportError("the problem echo lacks " + ", ".join(missing))
    nf = problem["nf"]
    if not 1 <= nf <= 4 or not 0 < problem["nsub1"] < problem["nsub"] or problem["nrep"] < 1:
        raise ReportError("the problem echo holds sizes pelko never accepts")
    start = found["nsub1"] + 1
    echo = lines[start:start + 8 + 2 * nf + 10]

    def at(offset, what):
        if offset >= len(echo):
            raise ReportError(f"the problem echo ends before {what}")
        return echo[offset]

    retained = at(1, "the retained numbers")
    problem["nma"] = [int(v) for v in fields(retained[10:], 7, nf, "retained numbers")]
    weights = [at(4 + k, "the weights") for k in range(nf)]
    effect = at(6 + nf, "the effect sizes")
    npred = (len(effect) - 5) // 7
    if not 1 <= npred <= 10:
        raise ReportError("the problem echo's effect sizes line is malformed")
    problem["npred"] = npred
    problem["effect_sizes"] = fields(effect[5:], 7, npred, "effect sizes")
    problem["weights"] = [fields(w, 7, npred, f"weights of stage {k + 1}")
                          for k, w in enumerate(weights)]
    rows = []
    for i in range(npred):
        row = at(8 + nf + i, "the correlation matrix")
        if not row.startswith(f"   Row {i + 1:2d}"):
            raise ReportError(f"row {i + 1} of the correlation matrix is missing")
        rows.append(fields(row[9:], 7, npred, f"correlation row {i + 1}"))
    problem["correlations"] = rows


STATISTIC = re.compile(r"  (AI|SRA|SRI): {1,2}Mean and 50--25--75th perc(.*)")
CPU_LINE = re.compile(r"CPU TIME IN SECONDS( *)(\d+\.\d\d|\*+)")


def parse_report(text):
    """Reads the design, every statistic and the frequency table of a pelko report."""
    lines = text.splitlines()
    if not any(line.startswith("Program execution starts on") for line in lines[:3]):
        raise ReportError("this is not a pelko report: it does not begin with the start line")
    report = {"problem": {}, "stages": []}
    try:
        output_at = lines.index("PROGRAM OUTPUT")
    except ValueError:
        if any(line.startswith("Input error") for line in lines):
            raise ReportError("pelko rejected the problem: the report holds no results") from None
        raise ReportError("the report is incomplete (truncated, or pelko stopped early): "
                          "no PROGRAM OUTPUT") from None
    parse_design(lines[:output_at], report)
    problem = report["problem"]
    table_at = None
    for i in range(output_at + 1, len(lines)):
        line = lines[i]
        where = f"line {i + 1}"
        match = re.fullmatch(r"Effect size predictor composite of stage ?(\d) is:(.{10})", line)
        if match:
            field = match.group(2).strip()
            # An all-zero weight vector gives 0/0: pelko prints nan and runs on.
            size = None if field in ("nan", "-nan") else number(field, where)
            report.setdefault("composite_effect_sizes", []).append(size)
        elif line.startswith("       Expected Value   "):
            values = fields(line[len("       Expected Value   "):], 7, 4, where)
            report["expected"] = dict(zip(["sr", "ai", "sra", "sri"], values))
        elif line.startswith("Detailed Results: Number selected at the stages "):
            rest = line[len("Detailed Results: Number selected at the stages "):]
            report["stages"] = [int(v) for v in fields(rest, 6, problem["nf"], where)]
        elif STATISTIC.fullmatch(line):
            name, rest = STATISTIC.fullmatch(line).groups()
            report[name.lower()] = dict(zip(["mean", "p50", "p25", "p75"],
                                            fields(rest, 7, 4, where)))
        elif line.strip() == "Value    Freq   Cfreq   Number":
            table_at = i + 1
        elif line.startswith("CPU TIME IN SECONDS"):
            match = CPU_LINE.fullmatch(line)
            if not match or len(line) != 32:
                raise ReportError(f"{where}: the last line is cut short: {shown(line)}")
            report["cpu_seconds"] = number(match.group(2), where)
    missing = [key for key in ("expected", "ai", "sra", "sri", "cpu_seconds") if key not in report]
    if table_at is None or missing:
        raise ReportError("the report is incomplete (truncated, or pelko stopped early): "
                          "no " + (", ".join(missing) if missing else "frequency table"))
    parse_table(lines, table_at, report)
    check_consistency(report)
    return report


def parse_table(lines, table_at, report):
    nrep = report["problem"]["nrep"]
    undef = lines[table_at] if table_at < len(lines) else ""
    match = re.fullmatch(r" {18}Undef(.{8}) {8}(.{9})", undef)
    if not match:
        raise ReportError(f"line {table_at + 1}: the frequency table has no Undef row")
    where = f"line {table_at + 1}"
    report["undef"] = {"freq": number(match.group(1), where),
                       "number": whole(match.group(2), where)}
    rows = []
    for i in range(table_at + 1, len(lines)):
        line = lines[i]
        if not line.strip():
            break
        where = f"line {i + 1}"
        if len(line) != 48:
            raise ReportError(f"{where}: a frequency table row of {len(line)} characters, "
                              "not 48 (cut short?)")
        rows.append({"row": whole(line[:15], where), "value": number(line[15:23], where),
                     "freq": number(line[23:31], where), "cfreq": number(line[31:39], where),
                     "number": whole(line[39:48], where)})
    else:
        raise ReportError("the report is incomplete (truncated): it ends in the frequency table")
    report["rows"] = rows
    if not rows:
        raise ReportError("the frequency table has no rows")
    defined = sum(row["number"] for row in rows)
    if defined + report["undef"]["number"] != nrep:
        raise ReportError(f"the frequency table counts {defined + report['undef']['number']} "
                          f"replications, the problem {nrep}")


def check_consistency(report):
    """Refuses a report whose numbers cannot come from one pelko run."""
    rows = report["rows"]
    nrep = report["problem"]["nrep"]
    defined = sum(row["number"] for row in rows)
    # Freq is a single-precision share printed to three decimals.
    tolerance = 0.0005 + 1e-6
    previous = None
    for k, row in enumerate(rows, 1):
        if row["row"] != k:
            raise ReportError(f"the frequency table's row {k} is numbered {row['row']}")
        if row["number"] < 1:
            raise ReportError(f"the frequency table's row {k} counts no replication")
        value = row["value"]
        if value is not None and previous is not None and value <= previous:
            raise ReportError(f"the frequency table's values do not increase at row {k}")
        previous = value if value is not None else previous
        if row["freq"] is None or abs(row["freq"] - row["number"] / defined) > tolerance:
            raise ReportError(f"the frequency table's row {k}: Freq {row['freq']} is not "
                              f"{row['number']} of {defined}")
    undef = report["undef"]
    if undef["freq"] is None or abs(undef["freq"] - undef["number"] / nrep) > tolerance:
        raise ReportError(f"the Undef row: Freq {undef['freq']} is not "
                          f"{undef['number']} of {nrep}")
    for key in ("sr", "sra", "sri"):
        value = report["expected"][key]
        if value is None or not 0 <= value <= 1:
            raise ReportError(f"the expected {key.upper()} is not a rate between 0 and 1")
    if len(report["stages"]) != report["problem"]["nf"]:
        raise ReportError("the numbers selected at the stages do not match the problem")


# The four-fifths line as pelko compares it: the single-precision 0.8.
SINGLE_FOUR_FIFTHS = struct.unpack("<f", struct.pack("<f", FOUR_FIFTHS))[0]


# How far under 0.8 a single-precision AI may lie while its exact ratio is 4/5: a few roundings.
NEAR_FOUR_FIFTHS = 1e-6


def single(value):
    """`value` rounded to single precision, as pelko holds it."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def looks_like_json(text):
    return text.lstrip(" \t\r\n")[:1] == "{"


def unique_members(pairs):
    keys = [key for key, _ in pairs]
    if len(set(keys)) != len(keys):
        twice = next(key for key in keys if keys.count(key) > 1)
        raise ReportError(f"the member {shown(twice)} appears twice in one object")
    return dict(pairs)


def refuse_constant(name):
    raise ReportError(f"{name} is not a finite number")


def finite_float(text):
    value = float(text)
    if not math.isfinite(value):
        raise ReportError(f"{shown(text)} is not a finite number")
    return value


class Members:
    """A JSON object of pelko's file, read member by member with the path in every message."""

    def __init__(self, value, where):
        if not isinstance(value, dict):
            raise ReportError(f"{where} is not an object")
        self.value, self.where = value, where

    def get(self, key):
        if key not in self.value:
            raise ReportError(f"{self.where} lacks \"{key}\"")
        return self.value[key]

    def path(self, key):
        return f"{self.where}.{key}"

    def count(self, key, low=0, high=None):
        return count(self.get(key), self.path(key), low, high)

    def real(self, key, null=False):
        return real(self.get(key), self.path(key), null)

    def reals(self, key, length, null=False):
        return reals(self.get(key), self.path(key), length, null)

    def rate(self, key):
        value = self.real(key)
        if not 0 <= value <= 1:
            raise ReportError(f"{self.path(key)} is not a rate between 0 and 1")
        return value

    def list(self, key, length=None):
        value = self.get(key)
        if not isinstance(value, list) or (length is not None and len(value) != length):
            raise ReportError(f"{self.path(key)} is not a list"
                              + (f" of {length}" if length is not None else ""))
        return value


def count(value, where, low=0, high=None):
    if type(value) is not int or value < low or (high is not None and value > high):
        raise ReportError(f"{where} is not a count"
                          + (f" from {low} to {high}" if high is not None else ""))
    return value


def real(value, where, null=False):
    if value is None and null:
        return None
    if type(value) not in (int, float):
        raise ReportError(f"{where} is not a number")
    try:
        single(value)
    except OverflowError:
        raise ReportError(f"{where} is beyond single precision") from None
    return float(value)


def reals(value, where, length, null=False):
    if not isinstance(value, list) or len(value) != length:
        raise ReportError(f"{where} is not a list of {length} numbers")
    return [real(item, f"{where}[{i}]", null) for i, item in enumerate(value)]


def load_json(text):
    try:
        document = json.loads(text, object_pairs_hook=unique_members,
                              parse_constant=refuse_constant, parse_float=finite_float)
    except json.JSONDecodeError as error:
        raise ReportError(f"not valid JSON (cut short?): {error.msg}: line {error.lineno} "
                          f"column {error.colno}") from None
    except (ValueError, RecursionError) as error:  # an integer too long, nesting too deep
        raise ReportError(f"not a JSON file pelko wrote: {str(error).splitlines()[0]}") from None
    if not isinstance(document, dict) or document.get("program") != "pelko":
        raise ReportError('a JSON file, but not one pelko wrote: no "program": "pelko"')
    return document


def parse_json(text):
    """Reads the file of pelko --json into the form parse_report gives, with the exact values."""
    top = Members(load_json(text), "the file")
    given = Members(top.get("problem"), "problem")
    nrep = given.count("replications", 1)
    nsub = given.count("applicants", 2)
    problem = {"nf": len(given.list("retained")), "nrep": nrep, "nsub": nsub,
               "nsub1": given.count("majority_applicants", 1, nsub - 1)}
    nf = problem["nf"]
    if not 1 <= nf <= 4:
        raise ReportError("problem.retained does not hold 1 to 4 stages")
    problem["nma"] = [count(kept, f"problem.retained[{k}]", 1, nsub)
                      for k, kept in enumerate(given.get("retained"))]
    problem["npred"] = npred = len(given.list("effect_sizes"))
    if not 1 <= npred <= 10:
        raise ReportError("problem.effect_sizes does not hold 1 to 10 predictors")
    problem["effect_sizes"] = given.reals("effect_sizes", npred)
    problem["weights"] = [reals(w, f"problem.weights[{k}]", npred)
                          for k, w in enumerate(given.list("weights", nf))]
    problem["correlations"] = [reals(row, f"problem.correlations[{i}]", npred)
                               for i, row in enumerate(given.list("correlations", npred))]
    report = {"problem": problem, "stages": list(problem["nma"]), "exact_values": True}
    if type(top.get("seed_second")) is not int:
        raise ReportError("seed_second is not a whole number")
    report["seed_second"] = top.get("seed_second")
    report["composite_effect_sizes"] = top.reals("composite_effect_sizes", nf, null=True)

    summary = Members(top.get("summary"), "summary")
    report["expected"] = {"sr": summary.rate("sr"), "ai": summary.real("expected_ai"),
                          "sra": summary.rate("expected_sra"), "sri": summary.rate("expected_sri")}
    defined = summary.count("defined", 0, nrep)
    undefined = summary.count("undefined", 0, nrep)
    if defined + undefined != nrep:
        raise ReportError(f"summary: {defined} defined and {undefined} undefined AIs are not "
                          f"the {nrep} replications")
    if single(summary.real("undefined_freq")) != single(undefined / nrep):
        raise ReportError(f"summary.undefined_freq is not {undefined} of {nrep}")
    report["undef"] = {"freq": summary.real("undefined_freq"), "number": undefined}
    if defined == 0:
        raise ReportError("no replication has a defined AI: the run has no frequency table")
    table = summary.list("frequency")
    if not table:
        raise ReportError("summary.frequency is empty: pelko could not sort the values")
    report["rows"] = parse_frequency(table, defined)
    for name in ("ai", "sra", "sri"):
        statistic = Members(summary.get(name), f"summary.{name}")
        values = {key: statistic.real(key) for key in ("mean", "p50", "p25", "p75")}
        if not values["p25"] <= values["p50"] <= values["p75"]:
            raise ReportError(f"summary.{name}: the percentiles are out of order")
        report[name] = values
    table_values = {single(row["value"]) for row in report["rows"]}
    if any(single(report["ai"][key]) not in table_values for key in ("p50", "p25", "p75")):
        raise ReportError("summary.ai: a percentile is no value of the frequency table")
    report["stage_summaries"] = parse_stages(top.list("stages", nf), problem)
    report["cpu_seconds"] = None
    check_counts(top, report)
    tests = parse_tests(top, top.list("stages", nf), nrep)
    if tests is not None:
        if tests["final"]["four_fifths"]["count"] != report["below_count"]:
            raise ReportError("tests.four_fifths does not count as ai_below_0_8 does")
        report["tests"] = tests
    return report


# The rules of pelko's "tests" objects, in their order.
RULES = ("four_fifths", "z_test", "z_ir", "fisher", "fisher_mid_p", "four_fifths_robust",
         "four_fifths_and_z", "four_fifths_and_fisher")


def parse_tests(top, stages, nrep):
    """The tests of a file that has them (older files have none): the level, the final
    selection's shares and every stage's, each checked against its count."""
    if "tests" not in top.value:
        return None
    level = top.real("significance")
    if not 0 < level < 1:
        raise ReportError("significance is not a level between 0 and 1")
    every = [parse_rule_shares(Members(stage, f"stages[{k}]").get("tests"),
                               f"stages[{k}].tests", nrep) for k, stage in enumerate(stages)]
    final = parse_rule_shares(top.get("tests"), "tests", nrep)
    if final != every[-1]:
        raise ReportError("tests are not those of the last stage")
    return {"significance": level, "final": final, "stages": every}


def parse_rule_shares(value, where, nrep):
    shares = Members(value, where)
    found = {}
    for rule in RULES:
        share = Members(shares.get(rule), f"{where}.{rule}")
        flagged = share.count("count", 0, nrep)
        if share.count("total") != nrep:
            raise ReportError(f"{where}.{rule}.total is not the {nrep} replications")
        values = {"count": flagged, "total": nrep}
        for key in ("share", "lower", "upper", "expected_under_no_difference"):
            values[key] = share.rate(key)
        low, high = wilson(flagged, nrep)
        if any(abs(values[key] - exact) > 1e-9 for key, exact in
               (("share", flagged / nrep), ("lower", low), ("upper", high))):
            raise ReportError(f"{where}.{rule} is not that of {flagged} of {nrep}")
        found[rule] = values
    return found


def parse_frequency(table, defined):
    rows = []
    previous = None
    cfreq = 0.0
    for k, item in enumerate(table, 1):
        row = Members(item, f"summary.frequency[{k - 1}]")
        value, number = row.real("value"), row.count("count", 1)
        if previous is not None and single(value) <= previous:
            raise ReportError(f"the frequency table's values do not increase at row {k}")
        previous = single(value)
        freq, given_cfreq = row.real("freq"), row.real("cfreq")
        # pelko divides and sums in single precision; both steps round once.
        cfreq = single(cfreq + single(number / defined))
        if single(freq) != single(number / defined) or single(given_cfreq) != cfreq:
            raise ReportError(f"the frequency table's row {k}: freq {freq} or cfreq "
                              f"{given_cfreq} is not {number} of {defined}")
        rows.append({"row": k, "value": value, "freq": freq, "cfreq": given_cfreq,
                     "number": number})
    counted = sum(row["number"] for row in rows)
    if counted != defined:
        raise ReportError(f"the frequency table counts {counted} replications, "
                          f"the summary {defined} with a defined AI")
    return rows


def parse_stages(stages, problem):
    found = []
    for k, item in enumerate(stages, 1):
        stage = Members(item, f"stages[{k - 1}]")
        if stage.count("stage") != k or stage.count("retained") != problem["nma"][k - 1]:
            raise ReportError(f"stages[{k - 1}] is not stage {k} of the problem")
        found.append({"stage": k, "majority_rate": stage.rate("majority_rate"),
                      "minority_rate": stage.rate("minority_rate"), "ai": stage.real("ai"),
                      "ai_defined": stage.count("ai_defined", 0, problem["nrep"])})
    return found


def check_counts(top, report):
    """The program's own P(AI < 0.8) must be one the frequency table allows, and is taken."""
    # pelko judges the exact ratio of the hiring rates: a row held in single precision just
    # under 0.8 (4/5 is held as 0.79999995) may lie at or below four fifths.
    clear = sum(row["number"] for row in report["rows"] if is_below(row["value"], True)
                and single(row["value"]) < SINGLE_FOUR_FIFTHS - NEAR_FOUR_FIFTHS)
    near = sum(row["number"] for row in report["rows"] if is_below(row["value"], True)
               and single(row["value"]) >= SINGLE_FOUR_FIFTHS - NEAR_FOUR_FIFTHS)
    undefined = report["undef"]["number"]
    nrep = report["problem"]["nrep"]
    below = Members(top.get("ai_below_0_8"), "ai_below_0_8").count("count")
    if not clear <= below <= clear + near:
        raise ReportError(f"ai_below_0_8 counts {below}, the frequency table {clear} "
                          f"to {clear + near}")
    report["below_count"] = below
    for key, failed, total in (("ai_below_0_8", below, nrep - undefined),
                               ("ai_below_0_8_or_undefined", below + undefined, nrep)):
        given = Members(top.get(key), key)
        if given.count("count") != failed or given.count("total") != total:
            raise ReportError(f"{key} counts {given.get('count')} of {given.get('total')}, "
                              f"the frequency table {failed} of {total}")
        low, high = wilson(failed, total)
        for name, value in (("share", failed / total), ("lower", low), ("upper", high)):
            if abs(given.real(name) - value) > 1e-9:
                raise ReportError(f"{key}.{name} is not that of {failed} of {total}")


def is_below(value, exact):
    """Whether a table value fails the four-fifths rule; a printed value is rounded to three
    decimals, an exact one is compared in single precision as pelko does."""
    if value is None:  # too wide for its field: far above 0.8
        return False
    if exact:
        return single(value) < SINGLE_FOUR_FIFTHS
    return value < FOUR_FIFTHS - 0.0005


def wilson(successes, n):
    """The 95 % Wilson score interval of a proportion."""
    if n == 0:
        return (None, None)
    p = successes / n
    denominator = 1 + Z95 ** 2 / n
    centre = (p + Z95 ** 2 / (2 * n)) / denominator
    half = Z95 * math.sqrt(p * (1 - p) / n + Z95 ** 2 / (4 * n * n)) / denominator
    # At 0 or n successes the interval ends exactly at 0 or 1.
    low = 0.0 if successes == 0 else max(0.0, centre - half)
    high = 1.0 if successes == n else min(1.0, centre + half)
    return (low, high)


def four_fifths(report):
    """P(AI < 0.8) among defined AIs and among all replications, and the mean AI's error."""
    rows = report["rows"]
    exact = report.get("exact_values", False)
    nai = sum(row["number"] for row in rows)
    nrep = report["problem"]["nrep"]
    below = report.get("below_count")
    if below is None:
        below = sum(row["number"] for row in rows if is_below(row["value"], exact))
    undefined = report["undef"]["number"]
    mean = variance = None
    if nai > 0 and all(row["value"] is not None for row in rows):
        values = [single(row["value"]) if exact else row["value"] for row in rows]
        mean = sum(row["number"] * value for row, value in zip(rows, values)) / nai
        if nai > 1:
            variance = sum(row["number"] * (value - mean) ** 2
                           for row, value in zip(rows, values)) / (nai - 1)
    return {
        "replications": nrep,
        "defined": nai,
        "below_defined": below,
        "p_below_defined": below / nai if nai else None,
        "wilson95_defined": wilson(below, nai),
        "below_or_undefined": below + undefined,
        "p_below_all": (below + undefined) / nrep,
        "wilson95_all": wilson(below + undefined, nrep),
        "mean_ai": mean,
        "sd_ai": math.sqrt(variance) if variance is not None else None,
        "mc_se_mean_ai": math.sqrt(variance / nai) if variance is not None else None,
    }


def csv_text(report, risk):
    text = io.StringIO()
    out = csv.writer(text, lineterminator="\n")
    out.writerow(["kind", "name", "value", "freq", "cfreq", "number"])
    for key in ("sr", "ai", "sra", "sri"):
        out.writerow(["statistic", "expected_" + key, report["expected"][key], "", "", ""])
    for name in ("ai", "sra", "sri"):
        for key in ("mean", "p50", "p25", "p75"):
            out.writerow(["statistic", f"{name}_{key}", report[name][key], "", "", ""])
    for k, kept in enumerate(report["stages"], 1):
        out.writerow(["statistic", f"nma_{k}", kept, "", "", ""])
    for k, size in enumerate(report.get("composite_effect_sizes", []), 1):
        out.writerow(["statistic", f"composite_effect_size_{k}", size, "", "", ""])
    for stage in report.get("stage_summaries", []):
        for key in ("majority_rate", "minority_rate", "ai"):
            out.writerow(["statistic", f"stage{stage['stage']}_{key}", stage[key], "", "", ""])
    if "seed_second" in report:
        out.writerow(["statistic", "seed_second", report["seed_second"], "", "", ""])
    # pelko's JSON file holds no CPU time: the value is left empty.
    out.writerow(["statistic", "cpu_seconds", report["cpu_seconds"], "", "", ""])
    risk_rows = [("p_below_defined", risk["p_below_defined"]),
                 ("wilson95_defined_low", risk["wilson95_defined"][0]),
                 ("wilson95_defined_high", risk["wilson95_defined"][1]),
                 ("p_below_all", risk["p_below_all"]),
                 ("wilson95_all_low", risk["wilson95_all"][0]),
                 ("wilson95_all_high", risk["wilson95_all"][1]),
                 ("mc_se_mean_ai", risk["mc_se_mean_ai"])]
    for key, value in risk_rows:
        out.writerow(["four_fifths", key, "" if value is None else value, "", "", ""])
    tests = report.get("tests")
    if tests:
        out.writerow(["test", "significance", tests["significance"], "", "", ""])
        named = [("", tests["final"])] + [(f"stage{k}_", stage)
                                          for k, stage in enumerate(tests["stages"], 1)]
        for prefix, shares in named:
            for rule, share in shares.items():
                for key in ("share", "lower", "upper", "expected_under_no_difference"):
                    out.writerow(["test", f"{prefix}{rule}_{key}", share[key], "", "",
                                  share["count"]])
    out.writerow(["undef", "Undef", "", report["undef"]["freq"], "", report["undef"]["number"]])
    for row in report["rows"]:
        out.writerow(["row", row["row"], row["value"], row["freq"], row["cfreq"], row["number"]])
    return text.getvalue()


def json_text(report, risk):
    document = dict(report)
    document["four_fifths"] = risk
    return json.dumps(document, indent=2, allow_nan=False) + "\n"


def write_file(path, text):
    try:
        with open(path, "w", encoding="utf-8", newline="") as file:
            file.write(text)
    except OSError as error:
        raise OutputError(f"cannot write {path}: {error.strerror or error}") from None


def draw_picture(report, risk, title):
    """The figure of the AI distribution; matplotlib must be importable."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    nrep = report["problem"]["nrep"]
    rows = [row for row in report["rows"] if row["value"] is not None]
    values = [row["value"] for row in rows]
    shares = [row["number"] / nrep for row in rows]
    undef_share = report["undef"]["number"] / nrep
    figure, (undef_axes, axes) = plt.subplots(
        1, 2, figsize=(8, 4.5), dpi=100, sharey=True,
        gridspec_kw={"width_ratios": [1, 9], "wspace": 0.04})
    # The legend goes below the axes, where nothing else is drawn.
    figure.subplots_adjust(top=0.9, bottom=0.24, left=0.09, right=0.97)
    undef_axes.bar([0], [undef_share], width=0.6, color="0.6")
    undef_axes.set_xticks([0])
    undef_axes.set_xticklabels(["Undef"])
    undef_axes.set_xlim(-0.6, 0.6)
    undef_axes.set_ylabel("share of all replications")
    undef_axes.text(0, undef_share, f"{undef_share:.3f}", ha="center", va="bottom", fontsize=8)
    low_value = min(values + [0.0])
    high_value = max(values + [1.0])
    span = max(high_value - low_value, 0.1)
    if len(values) <= MOST_BARS:
        gaps = (b - a for a, b in zip(values, values[1:]))
        width = max(min(span / 60, min(gaps, default=span)), span / 400)
        axes.bar(values, shares, width=width, color="tab:blue", label="share of each AI value")
    else:
        # One collection of lines however many values: drawing stays linear and fast.
        axes.vlines(values, 0, shares, color="tab:blue", linewidth=1,
                    label="share of each AI value")
    ai = report["ai"]
    if ai["p25"] is not None and ai["p75"] is not None:
        axes.axvspan(ai["p25"], ai["p75"], color="tab:blue", alpha=0.12,
                     label=f"quartiles {ai['p25']:.3f} to {ai['p75']:.3f}")
    expected = report["expected"]["ai"]
    if expected is not None:
        axes.axvline(expected, color="tab:green", linestyle="--",
                     label=f"expected AI {expected:.3f}")
    axes.axvline(FOUR_FIFTHS, color="tab:red", label="four-fifths line 0.8")
    top = max(shares + [undef_share]) * 1.3 or 1.0
    axes.set_ylim(0, top)
    low = low_value - span * 0.05
    high = high_value + span * 0.05
    axes.set_xlim(low, high)
    right = FOUR_FIFTHS < (low + high) / 2  # the label on the side with more room
    p_defined = risk["p_below_defined"]
    axes.text(FOUR_FIFTHS + (0.01 if right else -0.01) * (high - low), top * 0.97,
              ("P(AI < 0.8) = " + ("undefined" if p_defined is None else f"{p_defined:.3f}") +
               f"\n(all replications: {risk['p_below_all']:.3f})"),
              color="tab:red", va="top", ha="left" if right else "right", fontsize=9,
              gid="four-fifths-label")
    axes.set_xlabel("AI = SRI / SRA")
    axes.legend(loc="upper center", bbox_to_anchor=(0.45, -0.14), ncol=2, fontsize=8,
                frameon=False)
    axes.tick_params(left=False)
    figure.suptitle(title, fontsize=10)
    return figure


def write_picture(report, risk, path, title):
    figure = draw_picture(report, risk, title)
    import matplotlib.pyplot as plt
    try:
        figure.savefig(path, format=os.path.splitext(path)[1][1:].lower())
    except OSError as error:
        raise OutputError(f"cannot write {path}: {error.strerror or error}") from None
    finally:
        plt.close(figure)


def have_matplotlib():
    try:
        import matplotlib  # noqa: F401
        import matplotlib.pyplot  # noqa: F401
    except ImportError:
        return False
    return True


def ratio(value):
    return "undefined" if value is None else f"{value:.4f}"


def summary(risk):
    low, high = risk["wilson95_defined"]
    low_all, high_all = risk["wilson95_all"]
    mean = ("Mean AI: not computable (a table value is too wide for its field)"
            if risk["mean_ai"] is None else
            f"Mean AI: {risk['mean_ai']:.4f}, Monte-Carlo standard error "
            f"{ratio(risk['mc_se_mean_ai'])} (SD of AI {ratio(risk['sd_ai'])})")
    return (f"Replications: {risk['replications']}, AI defined in {risk['defined']}\n"
            f"P(AI < 0.8) among defined AIs:   {ratio(risk['p_below_defined'])}"
            f"  (95 % Wilson interval {ratio(low)} to {ratio(high)})\n"
            f"P(AI < 0.8 or undefined) of all: {ratio(risk['p_below_all'])}"
            f"  (95 % Wilson interval {ratio(low_all)} to {ratio(high_all)})\n"
            f"{mean}\n")


def tests_summary(report):
    """The final selection's tests, when the input has them: share flagged, its interval and
    the share with no group difference, a rule a line."""
    tests = report.get("tests")
    if not tests:
        return ""
    lines = [f"Tests of the final selection at the significance level {tests['significance']:g}"
             " (share flagged, 95 % Wilson interval; share with no group difference):"]
    for rule, share in tests["final"].items():
        lines.append(f"  {rule:<24}{share['share']:.4f}  ({share['lower']:.4f} to "
                     f"{share['upper']:.4f});  {share['expected_under_no_difference']:.4f}")
    return "\n".join(lines) + "\n"


def complain(text):
    """One line on standard error, if there is one to write to."""
    try:
        if sys.stderr is not None:
            sys.stderr.write("pelko-report: " + text + "\n")
            sys.stderr.flush()
    except (OSError, ValueError):
        pass


PELKO_JSON_START = re.compile(rb'\s*\{\s*"program"\s*:\s*"pelko"')


def would_destroy(path, source):
    """Why writing `path` would destroy the input or pelko's own JSON file of a run, or None."""
    try:
        if not os.path.isfile(path):
            return None
        if source != "-" and os.path.samefile(path, source):
            return "is the input"
        with open(path, "rb") as file:
            if PELKO_JSON_START.match(file.read(200)):
                return "is a file of pelko --json"
    except OSError:
        pass  # writing it will say what is wrong
    return None


def read_input(path):
    if path == "-":
        if sys.stdin is None:
            raise OSError(0, "standard input is closed")
        data = sys.stdin.buffer.read()
    else:
        with open(path, "rb") as file:
            data = file.read()
    # A byte-order mark, which some editors add when a file is saved, is no part of the text.
    return data.decode("utf-8", errors="replace").removeprefix("\ufeff")


def write_stdout(text):
    try:
        if sys.stdout is None:
            raise OSError(0, "it is closed")
        sys.stdout.write(text)
        sys.stdout.flush()
    except (OSError, ValueError) as error:
        # Nothing more goes there, not even at exit.
        try:
            sys.stdout = open(os.devnull, "w")
        except OSError:
            sys.stdout = None
        reason = getattr(error, "strerror", None) or str(error)
        raise OutputError(f"cannot write the summary to standard output: {reason}") from None


class Parser(argparse.ArgumentParser):
    def error(self, message):
        complain(f"{message} (pelko-report --help tells more)")
        raise SystemExit(STATUS_USAGE)


def main(argv=None):
    parser = Parser(
        prog="pelko-report", formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Turns a pelko report or pelko's --json file into a picture of the AI "
                    "distribution, the frequency table and statistics as CSV and JSON, and a "
                    "four-fifths summary.",
        epilog=HELP_EPILOG, add_help=False)
    parser.add_argument("report", nargs="?", default="-",
                        help="the report pelko wrote, or its --json file (default: standard "
                             "input)")
    parser.add_argument("--prefix", help="stem of the files written")
    parser.add_argument("--picture", help="the picture, .png or .svg")
    parser.add_argument("--csv", help="the frequency table and statistics as CSV")
    parser.add_argument("--json", help="the same as JSON")
    parser.add_argument("--title", help="the picture's title")
    parser.add_argument("--help", "-h", action="store_true", help="print this help and exit")
    args = parser.parse_args(argv)
    if args.help:
        write_stdout(parser.format_help())
        return STATUS_DONE

    name = "standard input" if args.report == "-" else args.report
    try:
        text = read_input(args.report)
    except OSError as error:
        complain(f"cannot read {name}: {error.strerror or error}")
        return STATUS_INPUT
    from_json = looks_like_json(text)
    try:
        report = parse_json(text) if from_json else parse_report(text)
        risk = four_fifths(report)
    except ReportError as error:
        complain(f"{name}: {error}")
        return STATUS_INPUT
    # PREFIX.json of pelko's run.json would be the input itself.
    prefix = args.prefix or ("pelko-report" if args.report == "-" else
                             os.path.splitext(args.report)[0] + ("-report" if from_json else ""))
    picture = args.picture or prefix + ".png"
    if os.path.splitext(picture)[1].lower() not in (".png", ".svg"):
        complain("the picture must be a .png or .svg file")
        return STATUS_USAGE
    outputs = (picture, args.csv or prefix + ".csv", args.json or prefix + ".json")
    for path in outputs:
        reason = would_destroy(path, args.report)
        if reason:
            complain(f"{path} {reason}, which pelko-report never overwrites: name the "
                     "outputs with --prefix, --picture, --csv or --json")
            return STATUS_USAGE
    title = args.title or ("pelko: AI distribution" +
                           ("" if args.report == "-" else " of " + os.path.basename(args.report)))
    drawn = have_matplotlib()
    if drawn:
        write_picture(report, risk, picture, title)
    write_file(outputs[1], csv_text(report, risk))
    write_file(outputs[2], json_text(report, risk))
    write_stdout(summary(risk) + tests_summary(report))
    if not drawn:
        complain(NO_MATPLOTLIB.format(sys.executable or "python3"))
        return STATUS_NO_PICTURE
    return STATUS_DONE


def run():
    try:
        return main()
    except OutputError as error:
        complain(str(error))
        return STATUS_OUTPUT
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(run())
