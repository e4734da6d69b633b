# Designs: built and checked by the library's own rules, read from and written to problem files.

# The R argument that holds each member of the library's problem.
argument_of_field <- c(replications = "replications", applicants = "applicants",
                       majority_applicants = "majority", retained = "retained",
                       effect_sizes = "effect_sizes", correlations = "correlations",
                       weights = "weights", validities = "validities",
                       criterion_effect_size = "criterion_effect_size")

# Where a diagnostic points, in the words of the R call.
diagnostic_place <- function(d) {
  place <- character()
  if (nzchar(d$field)) {
    arg <- argument_of_field[[d$field]]
    place <- sprintf("argument '%s'", arg)
    if (d$index > 0) {
      place <- paste0(place, switch(arg,
        retained = , weights = sprintf(", stage %d", d$index),
        correlations = if (d$second_index > 0) sprintf(", row %d, column %d", d$index,
                                                       d$second_index)
                       else sprintf(", row %d", d$index),
        sprintf(", predictor %d", d$index)))
    }
  }
  if (d$line > 0) place <- c(sprintf("line %d, column %d", d$line, d$column), place)
  paste(place, collapse = "; ")
}

diagnostic_condition <- function(d, call) {
  place <- diagnostic_place(d)
  message <- paste(c(d$lines, if (nzchar(place)) sprintf("(%s)", place)), collapse = "\n")
  kind <- if (d$severity == "error") "error" else "warning"
  structure(
    class = c(paste0("pelko_", if (kind == "error") d$kind else "warning"),
              paste0("pelko_", kind), kind, "condition"),
    list(message = message, call = call, lines = d$lines,
         argument = if (nzchar(d$field)) argument_of_field[[d$field]] else NA_character_,
         index = d$index, second_index = d$second_index, line = d$line, column = d$column))
}

# Warnings first, then the first error, as the program reports them.
signal_diagnostics <- function(diagnostics, call) {
  for (d in diagnostics) if (d$severity == "warning") warning(diagnostic_condition(d, call))
  for (d in diagnostics) if (d$severity == "error") stop(diagnostic_condition(d, call))
}

check_numbers <- function(value, name, whole = FALSE, call) {
  if (!is.numeric(value) || length(value) == 0 || anyNA(value) || any(!is.finite(value))) {
    stop(simpleError(sprintf("'%s' must be finite numbers", name), call))
  }
  if (whole && any(value != round(value) | abs(value) > .Machine$integer.max)) {
    stop(simpleError(sprintf("'%s' must be whole numbers", name), call))
  }
  value
}

as_rows <- function(m) lapply(seq_len(nrow(m)), function(i) unname(as.numeric(m[i, ])))

# The list the native code takes: the matrices as lists of rows.
native_problem <- function(problem) {
  p <- unclass(problem)
  p$correlations <- as_rows(p$correlations)
  p$weights <- as_rows(p$weights)
  p
}

new_problem <- function(native) {
  rows <- function(x) unname(do.call(rbind, lapply(x, as.numeric)))
  problem <- structure(class = "pelko_problem", list(
    replications = as.integer(native$replications),
    applicants = as.integer(native$applicants),
    majority = as.integer(native$majority),
    retained = as.integer(native$retained),
    effect_sizes = as.numeric(native$effect_sizes),
    correlations = rows(native$correlations),
    weights = rows(native$weights)))
  with_criterion(problem, native$validities, native$criterion_effect_size)
}

# A problem without a criterion keeps no criterion members at all.
with_criterion <- function(problem, validities, criterion_effect_size) {
  if (length(validities) > 0) problem$validities <- as.numeric(validities)
  if (!is.null(criterion_effect_size)) {
    problem$criterion_effect_size <- as.numeric(criterion_effect_size)
  }
  problem
}

pelko_problem <- function(replications, applicants, majority, retained, effect_sizes,
                          correlations = diag(length(effect_sizes)), weights,
                          validities = NULL, criterion_effect_size = NULL) {
  call <- match.call()
  for (name in c("replications", "applicants", "majority")) {
    value <- check_numbers(get(name), name, whole = TRUE, call = call)
    if (length(value) != 1) stop(simpleError(sprintf("'%s' must be one number", name), call))
  }
  check_numbers(retained, "retained", whole = TRUE, call = call)
  check_numbers(effect_sizes, "effect_sizes", call = call)
  check_numbers(correlations, "correlations", call = call)
  check_numbers(weights, "weights", call = call)
  if (!is.null(validities)) check_numbers(validities, "validities", call = call)
  if (!is.null(criterion_effect_size)) {
    check_numbers(criterion_effect_size, "criterion_effect_size", call = call)
    if (length(criterion_effect_size) != 1) {
      stop(simpleError("'criterion_effect_size' must be one number", call))
    }
  }
  npred <- length(effect_sizes)
  if (!is.matrix(correlations) && length(correlations) != npred * npred) {
    stop(simpleError(sprintf(paste("'correlations' must be a %d x %d matrix, or %d numbers",
                                   "column by column, one row and column a predictor; not %d",
                                   "numbers"), npred, npred, npred * npred,
                             length(correlations)), call))
  }
  if (!is.matrix(correlations)) correlations <- matrix(correlations, nrow = npred)
  if (!is.matrix(weights)) weights <- matrix(weights, nrow = 1)
  problem <- structure(class = "pelko_problem", list(
    replications = as.integer(replications), applicants = as.integer(applicants),
    majority = as.integer(majority), retained = as.integer(retained),
    effect_sizes = as.numeric(effect_sizes),
    correlations = unname(matrix(as.numeric(correlations), nrow(correlations))),
    weights = unname(matrix(as.numeric(weights), nrow(weights)))))
  problem <- with_criterion(problem, validities, criterion_effect_size)
  checked <- .validate_problem(native_problem(problem))
  signal_diagnostics(checked$diagnostics, call)
  new_problem(checked$problem)
}

read_pelko_problem <- function(path) {
  call <- match.call()
  size <- file.info(path)$size
  if (is.na(size)) stop(simpleError(sprintf("cannot read '%s'", path), call))
  text <- readChar(path, size, useBytes = TRUE)
  if (length(text) == 0) text <- ""
  parsed <- .parse_problem(text)
  signal_diagnostics(parsed$diagnostics, call)
  new_problem(parsed$problem)
}

# A pelko_problem as the native code needs it, even after a hand edit (p$weights <- "1 1"):
# each field named when it is not numbers of the right form.
checked_problem <- function(problem, call) {
  if (!inherits(problem, "pelko_problem")) {
    stop(simpleError("'problem' must be a pelko_problem (see pelko_problem())", call))
  }
  for (name in c("replications", "applicants", "majority", "retained")) {
    value <- check_numbers(problem[[name]], paste0("problem$", name), whole = TRUE, call = call)
    if (name != "retained" && length(value) != 1) {
      stop(simpleError(sprintf("'problem$%s' must be one number", name), call))
    }
  }
  check_numbers(problem$effect_sizes, "problem$effect_sizes", call = call)
  for (name in c("correlations", "weights")) {
    check_numbers(problem[[name]], paste0("problem$", name), call = call)
    if (!is.matrix(problem[[name]])) {
      stop(simpleError(sprintf("'problem$%s' must be a matrix", name), call))
    }
  }
  problem
}

write_pelko_problem <- function(problem, path) {
  problem <- checked_problem(problem, match.call())
  cat(.format_problem(native_problem(problem)), file = path, sep = "")
  invisible(path)
}

print.pelko_problem <- function(x, ...) {
  cat(sprintf(paste0("PELKO design: %d replications of %d applicants (%d majority, %d ",
                     "minority), %d stage%s, %d predictor%s\n"),
              x$replications, x$applicants, x$majority, x$applicants - x$majority,
              length(x$retained), if (length(x$retained) == 1) "" else "s",
              length(x$effect_sizes), if (length(x$effect_sizes) == 1) "" else "s"))
  cat("Retained after each stage:", x$retained, "\n")
  cat("Effect sizes (minority minus majority):", format(x$effect_sizes), "\n")
  cat("Weights (one row a stage):\n")
  print(x$weights)
  cat("Correlations:\n")
  print(x$correlations)
  if (!is.null(x$validities)) {
    cat("Validities (correlation of each predictor with the criterion):", format(x$validities),
        "\n")
    cat("Criterion effect size:", if (is.null(x$criterion_effect_size))
      "the common regression line's (beta'd)" else format(x$criterion_effect_size), "\n")
  }
  invisible(x)
}
