#!/usr/bin/python3
"""pelko-report: turns a pelko report into a picture, a table and the four-fifths risk."""

import argparse
import csv
import json
import math
import os
import re
import sys

HELP_EPILOG = """\
Writes PREFIX.png (or the --picture file, PNG or SVG by its extension), PREFIX.csv and
PREFIX.json, where PREFIX is the report's file name without its extension, or "pelko-report"
when the report comes from standard input. The summary on standard output gives P(AI < 0.8),
the share of replications that fail the four-fifths rule, among the replications with a
defined AI and among all replications (an undefined AI counts as a failure there), each with
its 95 % Wilson interval, and the Monte-Carlo standard error of the mean AI.

The report prints AI values to three decimals: a row printed as 0.800 counts as not below 0.8.

Exit status: 0 when everything was written, 1 when the input is not a complete pelko report
or a file cannot be written, 2 on a command-line error.
"""

FOUR_FIFTHS = 0.8
Z95 = 1.959963984540054


class ReportError(Exception):
    """The input is not a complete pelko report."""


def number(text):
    """A report field; a field of asterisks (a value too wide for it) reads as None."""
    text = text.strip()
    if not text or set(text) == {"*"}:
        return None
    return float(text)


def fields(text, width):
    """Splits fixed-width fields of the given width."""
    return [text[i:i + width] for i in range(0, len(text) - width + 1, width)]


def after(line, label):
    return line[line.index(label) + len(label):]


def parse_report(text):
    """Reads every statistic and the frequency table of a pelko report."""
    lines = text.splitlines()
    if not any(line.startswith("Program execution starts on") for line in lines[:3]):
        raise ReportError("this is not a pelko report: it does not begin with the start line")
    report = {"problem": {}, "stages": []}
    problem = report["problem"]
    patterns = {
        "nrep": r"Number of replications for the simulation:\s*(\d+)",
        "nsub": r"Total number of applicants:\s*(\d+)",
        "nsub1": r"Number of majority group applicants:\s*(\d+)",
        "nf": r"Number of selection stages:\s*(\d+)",
    }
    for key, pattern in patterns.items():
        match = re.search(pattern, text)
        if match:
            problem[key] = int(match.group(1))
    table_at = None
    for i, line in enumerate(lines):
        if "Expected Value" in line:
            values = [number(v) for v in fields(after(line, "Expected Value   "), 7)]
            report["expected"] = dict(zip(["sr", "ai", "sra", "sri"], values))
        elif line.startswith("Detailed Results: Number selected at the stages"):
            report["stages"] = [int(v) for v in after(line, "stages ").split()]
        elif "Mean and 50--25--75th perc" in line:
            name = line.split(":")[0].strip().lower()
            values = [number(v) for v in fields(after(line, "perc"), 7)]
            report[name] = dict(zip(["mean", "p50", "p25", "p75"], values))
        elif line.strip() == "Value    Freq   Cfreq   Number":
            table_at = i + 1
        elif line.startswith("CPU TIME IN SECONDS"):
            report["cpu_seconds"] = number(after(line, "SECONDS"))
        match = re.match(r"Effect size predictor composite of stage (\d) is:\s*(\S+)", line)
        if match:
            report.setdefault("composite_effect_sizes", []).append(float(match.group(2)))
    missing = [key for key in ("expected", "ai", "sra", "sri", "cpu_seconds") if key not in report]
    if table_at is None or missing:
        if "Input error" in text:
            raise ReportError("pelko rejected the problem: the report holds no results")
        raise ReportError("the report is incomplete (truncated, or pelko stopped early): "
                          "no " + (", ".join(missing) if missing else "frequency table"))
    undef = lines[table_at]
    if "Undef" not in undef:
        raise ReportError("the frequency table has no Undef row")
    report["undef"] = {"freq": number(undef[23:31]), "number": int(undef[39:48])}
    rows = []
    for line in lines[table_at + 1:]:
        if not line.strip():
            break
        rows.append({"row": int(line[10:15]), "value": number(line[15:23]),
                     "freq": number(line[23:31]), "cfreq": number(line[31:39]),
                     "number": int(line[39:48])})
    if not rows:
        raise ReportError("the frequency table has no rows")
    report["rows"] = rows
    defined = sum(row["number"] for row in rows)
    nrep = defined + report["undef"]["number"]
    if "nrep" in problem and problem["nrep"] != nrep:
        raise ReportError(f"the frequency table counts {nrep} replications, "
                          f"the problem {problem['nrep']}")
    problem["nrep"] = nrep
    return report


def wilson(successes, n):
    """The 95 % Wilson score interval of a proportion."""
    if n == 0:
        return (math.nan, math.nan)
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
    nai = sum(row["number"] for row in rows)
    nrep = report["problem"]["nrep"]
    below = sum(row["number"] for row in rows
                if row["value"] is not None and row["value"] < FOUR_FIFTHS - 0.0005)
    undefined = report["undef"]["number"]
    mean = sum(row["number"] * row["value"] for row in rows) / nai
    variance = (sum(row["number"] * (row["value"] - mean) ** 2 for row in rows) / (nai - 1)
                if nai > 1 else math.nan)
    return {
        "replications": nrep,
        "defined": nai,
        "below_defined": below,
        "p_below_defined": below / nai,
        "wilson95_defined": wilson(below, nai),
        "below_or_undefined": below + undefined,
        "p_below_all": (below + undefined) / nrep,
        "wilson95_all": wilson(below + undefined, nrep),
        "mean_ai": mean,
        "sd_ai": math.sqrt(variance),
        "mc_se_mean_ai": math.sqrt(variance / nai),
    }


def write_csv(report, risk, path):
    with open(path, "w", newline="") as file:
        out = csv.writer(file)
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
        out.writerow(["statistic", "cpu_seconds", report["cpu_seconds"], "", "", ""])
        for key in ("p_below_defined", "p_below_all", "mc_se_mean_ai"):
            out.writerow(["four_fifths", key, risk[key], "", "", ""])
        out.writerow(["undef", "Undef", "", report["undef"]["freq"], "",
                      report["undef"]["number"]])
        for row in report["rows"]:
            out.writerow(["row", row["row"], row["value"], row["freq"], row["cfreq"],
                          row["number"]])


def write_json(report, risk, path):
    document = dict(report)
    document["four_fifths"] = risk
    with open(path, "w") as file:
        json.dump(document, file, indent=2)
        file.write("\n")


def write_picture(report, risk, path, title):
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
    undef_axes.bar([0], [undef_share], width=0.6, color="0.6")
    undef_axes.set_xticks([0], ["Undef"])
    undef_axes.set_xlim(-0.6, 0.6)
    undef_axes.set_ylabel("share of all replications")
    undef_axes.text(0, undef_share, f"{undef_share:.3f}", ha="center", va="bottom", fontsize=8)
    span = max(max(values + [1.0]) - min(values + [0.0]), 0.1)
    width = max(min(span / 60, min((b - a for a, b in zip(values, values[1:])), default=span)),
                span / 400)
    axes.bar(values, shares, width=width, color="tab:blue", label="share of each AI value")
    ai = report["ai"]
    if ai["p25"] is not None and ai["p75"] is not None:
        axes.axvspan(ai["p25"], ai["p75"], color="tab:blue", alpha=0.12,
                     label=f"quartiles {ai['p25']:.3f} to {ai['p75']:.3f}")
    expected = report["expected"]["ai"]
    axes.axvline(expected, color="tab:green", linestyle="--",
                 label=f"expected AI {expected:.3f}")
    axes.axvline(FOUR_FIFTHS, color="tab:red")
    top = max(shares + [undef_share]) * 1.15 or 1.0
    axes.set_ylim(0, top)
    low = min(values + [0.0]) - span * 0.05
    high = max(values + [1.0]) + span * 0.05
    axes.set_xlim(low, high)
    right = FOUR_FIFTHS < (low + high) / 2  # the label on the side with more room
    axes.text(FOUR_FIFTHS + (0.01 if right else -0.01) * (high - low), top * 0.97,
              f"P(AI < 0.8) = {risk['p_below_defined']:.3f}\n"
              f"(all replications: {risk['p_below_all']:.3f})",
              color="tab:red", va="top", ha="left" if right else "right", fontsize=9)
    axes.set_xlabel("AI = SRI / SRA")
    axes.legend(loc="best", fontsize=8, frameon=False)
    axes.tick_params(left=False)
    figure.suptitle(title, fontsize=10)
    figure.savefig(path, format=os.path.splitext(path)[1][1:].lower())
    plt.close(figure)


def summary(report, risk, out):
    low, high = risk["wilson95_defined"]
    low_all, high_all = risk["wilson95_all"]
    out.write(
        f"Replications: {risk['replications']}, AI defined in {risk['defined']}\n"
        f"P(AI < 0.8) among defined AIs:   {risk['p_below_defined']:.4f}"
        f"  (95 % Wilson interval {low:.4f} to {high:.4f})\n"
        f"P(AI < 0.8 or undefined) of all: {risk['p_below_all']:.4f}"
        f"  (95 % Wilson interval {low_all:.4f} to {high_all:.4f})\n"
        f"Mean AI: {risk['mean_ai']:.4f}, Monte-Carlo standard error {risk['mc_se_mean_ai']:.4f}"
        f" (SD of AI {risk['sd_ai']:.4f})\n")


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="pelko-report", formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Turns a pelko report into a picture of the AI distribution, the "
                    "frequency table and statistics as CSV and JSON, and a four-fifths "
                    "summary.",
        epilog=HELP_EPILOG)
    parser.add_argument("report", nargs="?", default="-",
                        help="the report pelko wrote (default: standard input)")
    parser.add_argument("--prefix", help="stem of the files written")
    parser.add_argument("--picture", help="the picture, .png or .svg")
    parser.add_argument("--csv", help="the frequency table and statistics as CSV")
    parser.add_argument("--json", help="the same as JSON")
    parser.add_argument("--title", help="the picture's title")
    args = parser.parse_args(argv)

    name = "standard input" if args.report == "-" else args.report
    try:
        if args.report == "-":
            text = sys.stdin.read()
        else:
            with open(args.report, encoding="utf-8", errors="replace") as file:
                text = file.read()
        report = parse_report(text)
        risk = four_fifths(report)
    except OSError as error:
        sys.stderr.write(f"pelko-report: cannot read {name}: {error.strerror}\n")
        return 1
    except (ReportError, ValueError, IndexError) as error:
        sys.stderr.write(f"pelko-report: {name}: {error}\n")
        return 1
    prefix = args.prefix or ("pelko-report" if args.report == "-"
                             else os.path.splitext(args.report)[0])
    picture = args.picture or prefix + ".png"
    if os.path.splitext(picture)[1].lower() not in (".png", ".svg"):
        sys.stderr.write("pelko-report: the picture must be a .png or .svg file\n")
        return 2
    title = args.title or ("pelko: AI distribution" +
                           ("" if args.report == "-" else " of " + os.path.basename(args.report)))
    try:
        write_picture(report, risk, picture, title)
        write_csv(report, risk, args.csv or prefix + ".csv")
        write_json(report, risk, args.json or prefix + ".json")
    except OSError as error:
        sys.stderr.write(f"pelko-report: cannot write {error.filename}: {error.strerror}\n")
        return 1
    summary(report, risk, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
