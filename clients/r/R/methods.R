# Printing, summarising, plotting and converting a simulation.

format_share <- function(p) {
  sprintf("%.4f  (95 %% Wilson interval %.4f to %.4f)", p[["share"]], p[["lower"]], p[["upper"]])
}

describe_design <- function(problem, seed) {
  sprintf("%d replications of %d applicants (%d majority), retained %s; seed %.0f",
          problem$replications, problem$applicants, problem$majority,
          paste(problem$retained, collapse = " > "), seed)
}

print.pelko_simulation <- function(x, ...) {
  cat("PELKO simulation:", describe_design(x$problem, x$seed), "\n")
  cat(sprintf("Expected values: SR %.3f  AI %.3f  SRA %.3f  SRI %.3f\n", x$expected[["sr"]],
              x$expected[["ai"]], x$expected[["sra"]], x$expected[["sri"]]))
  if (!is.null(x$percentiles)) {
    p <- x$percentiles["ai", ]
    cat(sprintf("AI percentiles 25/50/75: %.3f %.3f %.3f; undefined in %d of %d\n", p$p25,
                p$p50, p$p75, x$undefined, x$problem$replications))
    cat("P(AI < 0.8):", format_share(x$below_0.8["defined", ]), "\n")
  } else {
    cat("AI is undefined in every replication: no majority applicant was hired\n")
  }
  if (!is.null(x$quality)) print_quality_line(x$quality)
  invisible(x)
}

# The mean criterion score of the hired (with its Monte-Carlo standard error), beside AI.
print_quality_line <- function(q) {
  d <- q$distribution
  cat(sprintf("Quality of hires: %.4f (SE %.4f); majority %.4f, minority %s\n",
              d["overall", "mean"], d["overall", "standard_error"], d["majority", "mean"],
              if (d["minority", "count"] > 0) sprintf("%.4f", d["minority", "mean"])
              else "none hired"))
}

print_quality <- function(q) {
  print_quality_line(q)
  cat(sprintf("Criterion effect size (minority minus majority): %.4f\n",
              q$criterion_effect_size))
  cat("Composite validity of each stage:", sprintf("%.4f", q$composite_validities), "\n")
  cat("Quality of hires (mean criterion score of the hired) over the replications:\n")
  print(format(q$distribution, digits = 4))
}

summary.pelko_simulation <- function(object, ...) {
  ai <- object$replications$ai
  ai <- ai[!is.na(ai)]
  sd_ai <- if (length(ai) > 1) sd(ai) else NA_real_
  structure(class = "summary.pelko_simulation", list(
    design = describe_design(object$problem, object$seed),
    replications = object$problem$replications,
    defined = object$defined,
    expected = object$expected,
    below_0.8 = object$below_0.8,
    mean_ai = object$expected[["ai"]],
    sd_ai = sd_ai,
    mc_se_mean_ai = sd_ai / sqrt(length(ai)),
    stages = object$stages,
    composite_effect_sizes = object$composite_effect_sizes,
    quality = object$quality,
    tests = object$tests))
}

print.summary.pelko_simulation <- function(x, ...) {
  cat("PELKO simulation:", x$design, "\n")
  cat(sprintf("Replications: %d, AI defined in %d\n", x$replications, x$defined))
  cat("P(AI < 0.8) among defined AIs:  ", format_share(x$below_0.8["defined", ]), "\n")
  cat("P(AI < 0.8 or undefined) of all:", format_share(x$below_0.8["all", ]), "\n")
  cat(sprintf("Mean AI: %.4f, Monte-Carlo standard error %.4f (SD of AI %.4f)\n", x$mean_ai,
              x$mc_se_mean_ai, x$sd_ai))
  cat("Per stage (mean hiring rates; AI over the replications where it is defined):\n")
  stages <- x$stages
  stages$composite_effect_size <- x$composite_effect_sizes
  print(format(stages, digits = 4), row.names = FALSE)
  if (!is.null(x$quality)) print_quality(x$quality)
  if (!is.null(x$tests)) {
    cat(sprintf("Tests of the final selection at the significance level %g:\n",
                x$tests$significance))
    print(tests_table(x$tests$final), row.names = FALSE)
  }
  invisible(x)
}

# rule / share flagged / 95 % interval / share flagged with no group difference.
tests_table <- function(shares) {
  data.frame(rule = format(shares$rule), flagged = sprintf("%.3f", shares$share),
             interval = sprintf("%.3f - %.3f", shares$lower, shares$upper),
             no_difference = sprintf("%.3f", shares$expected_under_no_difference))
}

# The final selection's shares flagged (with their intervals) beside the shares with no group
# difference, a pair of bars a rule.
plot_tests <- function(x, main, ...) {
  f <- x$tests$final
  heights <- rbind(f$share, f$expected_under_no_difference)
  at <- barplot(heights, beside = TRUE, names.arg = f$rule, las = 2, ylim = c(0, 1),
                col = c("steelblue", gray(0.7)), ylab = "share of replications flagged",
                main = main, cex.names = 0.7, ...)
  segments(at[1, ], f$lower, at[1, ], f$upper)
  legend("topright", bty = "n", fill = c("steelblue", gray(0.7)),
         legend = c("flagged (95 % interval)", "with no group difference"))
  invisible(x)
}

as.data.frame.pelko_simulation <- function(x, row.names = NULL, optional = FALSE, ...) {
  df <- x$replications
  if (!is.null(row.names)) row.names(df) <- row.names
  df
}

plot.pelko_simulation <- function(x, main = NULL, tests = FALSE, ...) {
  if (tests) return(plot_tests(x, if (is.null(main)) "How often each rule flags the selection" else main, ...))
  if (is.null(main)) main <- "Distribution of the AI ratio"
  if (is.null(x$frequency)) stop("AI is undefined in every replication: nothing to plot")
  f <- x$frequency
  total <- x$problem$replications
  share <- f$number / total  # of all replications, so the Undef bar is comparable
  defined <- f[-1, ]
  width <- if (nrow(defined) > 1) 0.8 * min(diff(defined$value)) else 0.05
  width <- min(width, 0.05)
  undef_at <- -0.2  # the Undef bar, left of AI 0
  xlim <- c(-0.28, max(1.05, max(defined$value) + width))
  plot(NA, xlim = xlim, ylim = c(0, max(share) * 1.1), xaxt = "n", xlab = "AI ratio",
       ylab = "share of all replications", main = main, ...)
  axis(1, at = c(undef_at, seq(0, xlim[2], by = 0.2)),
       labels = c("Undef", format(seq(0, xlim[2], by = 0.2))))
  rect(defined$value - width / 2, 0, defined$value + width / 2, share[-1], col = gray(0.6),
       border = NA)
  rect(undef_at - width / 2, 0, undef_at + width / 2, share[1], col = "firebrick", border = NA)
  abline(v = 0.8, lty = 2, col = "firebrick")
  abline(v = x$expected[["ai"]], col = "steelblue")
  legend("topright", bty = "n",
         legend = c("four-fifths line 0.8", sprintf("expected AI %.3f", x$expected[["ai"]]),
                    sprintf("Undef %.1f %%", 100 * share[1])),
         lty = c(2, 1, NA), pch = c(NA, NA, 15), col = c("firebrick", "steelblue", "firebrick"))
  invisible(x)
}
