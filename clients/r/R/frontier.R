# The designs worth choosing: the library's frontier search over weightings of one stage.

frontier_measures <- c("quality", "quality_standard_error", "composite_validity", "expected_ai",
                       "below_count", "defined", "p_below_0.8", "p_below_0.8_lower",
                       "p_below_0.8_upper")

# One finished point as a row of the results file: the seed, the stage, the weights, the measures.
frontier_row <- function(point, seed, stage) {
  weights <- as.list(point$weights)
  names(weights) <- sprintf("weight_%d", seq_along(weights))
  b <- point$below
  c(list(seed = seed, stage = stage), weights,
    list(quality = point$quality, quality_standard_error = point$quality_standard_error,
         composite_validity = point$composite_validity, expected_ai = point$expected_ai,
         below_count = b$count, defined = b$total, `p_below_0.8` = b$share,
         `p_below_0.8_lower` = b$lower, `p_below_0.8_upper` = b$upper))
}

# Weights as a key that a float read back from a file gives too.
weights_key <- function(weights) paste(sprintf("%.9g", weights), collapse = " ")

check_whole <- function(value, name, call, allow_null = FALSE, minimum = 1) {
  if (allow_null && is.null(value)) return(invisible(NULL))
  if (!is.numeric(value) || length(value) == 0 || anyNA(value) || any(value != round(value)) ||
      any(value < minimum)) {
    stop(simpleError(sprintf("'%s' must be whole numbers of at least %d", name, minimum), call))
  }
}

# A matrix (one row a weighting) or a list of weight vectors, as a list of numeric rows.
weightings_list <- function(weightings, predictors, call) {
  if (is.null(weightings)) return(list())
  rows <- if (is.matrix(weightings)) as_rows(weightings)
          else if (is.list(weightings)) lapply(weightings, function(w) unname(as.numeric(w)))
          else NULL
  if (is.null(rows) || length(rows) == 0 ||
      any(vapply(rows, function(w) length(w) != predictors || anyNA(w) || any(!is.finite(w)),
                 TRUE))) {
    stop(simpleError(sprintf(paste("'weightings' must be a matrix with one row a weighting, or a",
                                   "list of weight vectors, each %d finite numbers (one a",
                                   "predictor)"), predictors), call))
  }
  rows
}

library_call <- function(out, call) {
  if (!is.null(out$error)) stop(pelko_condition(out$error, call))
  out$result
}

pelko_frontier <- function(problem, stage = 1, step = 0.1, predictors = NULL, weightings = NULL,
                           seed = NULL, threads = NULL, progress = interactive(), file = NULL,
                           parallel = FALSE) {
  call <- match.call()
  if (!inherits(problem, "pelko_problem")) {
    stop(simpleError("'problem' must be a pelko_problem (see pelko_problem())", call))
  }
  if (is.null(problem$validities)) {
    stop(simpleError(paste("'problem' has no criterion: give pelko_problem() its 'validities'",
                           "to search for the designs worth choosing"), call))
  }
  check_whole(stage, "stage", call)
  if (length(stage) != 1 || stage > length(problem$retained)) {
    stop(simpleError(sprintf("'stage' must be one stage of the problem, 1..%d",
                             length(problem$retained)), call))
  }
  if (!is.numeric(step) || length(step) != 1 || is.na(step) || step <= 0 || step > 1) {
    stop(simpleError("'step' must be one number in (0, 1] that divides 1, such as 0.1 or 0.25",
                     call))
  }
  npred <- length(problem$effect_sizes)
  check_whole(predictors, "predictors", call, allow_null = TRUE)
  if (any(predictors > npred) || anyDuplicated(predictors)) {
    stop(simpleError(sprintf("'predictors' must be distinct predictors of the problem, 1..%d",
                             npred), call))
  }
  candidates <- weightings_list(weightings, npred, call)
  if (!is.null(seed) && (!is.numeric(seed) || length(seed) != 1 || is.na(seed) ||
                         seed != round(seed))) {
    stop(simpleError("'seed' must be one whole number: a clock second", call))
  }
  check_whole(threads, "threads", call, allow_null = TRUE)
  if (!is.null(file) && (!is.character(file) || length(file) != 1 || is.na(file))) {
    stop(simpleError("'file' must be one file name", call))
  }
  native <- native_problem(problem)
  candidates <- library_call(.frontier_weightings(native, as.integer(stage), as.numeric(step),
                                                  as.integer(predictors), candidates), call)
  threads <- if (is.null(threads)) 0L else as.integer(threads)

  weight_columns <- sprintf("weight_%d", seq_len(npred))
  finished <- if (!is.null(file)) {
    read_finished_rows(file, c("seed", "stage", weight_columns, frontier_measures),
                       c("seed", "stage", weight_columns), call)
  }
  if (!is.null(finished)) {
    if (any(finished$stage != stage)) {
      stop(simpleError(sprintf("'file' (%s) holds a search of another stage", file), call))
    }
    kept_seed <- unique(finished$seed)
    if (length(kept_seed) != 1 || (!is.null(seed) && seed != kept_seed)) {
      stop(simpleError(sprintf(paste("'file' (%s) holds points of seed %s: give that 'seed'",
                                     "(or none) to resume it, or another file"), file,
                               paste(sprintf("%.0f", kept_seed), collapse = ", ")), call))
    }
    seed <- kept_seed
    for (name in c(weight_columns, frontier_measures)) {
      finished[[name]] <- as.numeric(finished[[name]])
    }
  }
  # One clock second for every weighting: common random numbers.
  if (is.null(seed)) seed <- as.numeric(Sys.time()) %/% 1

  keys <- vapply(candidates, weights_key, "")
  done_keys <- if (is.null(finished)) character() else
    apply(as.matrix(finished[weight_columns]), 1, weights_key)
  todo <- which(!keys %in% done_keys)
  rows <- vector("list", length(candidates))
  for (i in which(keys %in% done_keys)) {
    rows[[i]] <- as.list(finished[match(keys[i], done_keys), c("seed", "stage", weight_columns,
                                                               frontier_measures)])
  }
  keep <- function(i, point) {
    row <- frontier_row(point, seed, stage)
    if (!is.null(file)) append_csv_row(file, row)
    rows[[i]] <<- row
  }
  run_chunk <- function(indices, show) {
    library_call(.frontier(native, as.integer(stage), as.numeric(step), as.integer(predictors),
                           candidates[indices], as.numeric(seed), threads, show, NULL),
                 call)$points
  }
  workers <- if (isTRUE(parallel) && requireNamespace("future.apply", quietly = TRUE) &&
                 requireNamespace("future", quietly = TRUE)) future::nbrOfWorkers() else 1
  if (length(todo) > 0 && workers > 1) {
    # Waves of one weighting a worker, each wave's rows kept before the next starts.
    for (wave in split(todo, ceiling(seq_along(todo) / workers))) {
      points <- future.apply::future_lapply(wave, function(i) run_chunk(i, FALSE)[[1]],
                                            future.packages = "pelko", future.seed = NULL)
      for (j in seq_along(wave)) keep(wave[j], points[[j]])
    }
  } else if (length(todo) > 0) {
    library_call(.frontier(native, as.integer(stage), as.numeric(step), as.integer(predictors),
                           candidates[todo], as.numeric(seed), threads, isTRUE(progress),
                           function(place, point) keep(todo[place], point)), call)
  }
  new_frontier(rows, seed, stage, weight_columns)
}

new_frontier <- function(rows, seed, stage, weight_columns) {
  frame <- do.call(rbind, lapply(rows, function(r) as.data.frame(r, check.names = FALSE)))
  marks <- .mark_fronts(frame$quality, frame$`p_below_0.8`, frame$expected_ai)
  frame$on_front <- marks$on_front
  frame$on_front_expected_ai <- marks$on_front_expected_ai
  weights <- as.matrix(frame[weight_columns])
  # The label names the weights that vary, so that the plot shows what tells points apart.
  varying <- which(apply(weights, 2, function(w) any(w != w[1])))
  if (length(varying) == 0) varying <- seq_along(weight_columns)
  frame$label <- apply(weights[, varying, drop = FALSE], 1, function(w)
    paste(sprintf("%.3g", w), collapse = "/"))
  attr(frame, "labelled_predictors") <- unname(varying)
  rownames(frame) <- NULL
  structure(frame, class = c("pelko_frontier", "data.frame"), seed = seed, stage = stage)
}

print.pelko_frontier <- function(x, digits = 3, ...) {
  cat(sprintf("PELKO frontier: %d weighting%s of stage %d, seed %.0f", nrow(x),
              if (nrow(x) == 1) "" else "s", attr(x, "stage"), attr(x, "seed")))
  if (!is.null(x$on_front)) {
    cat(sprintf("; %d on the front of quality against P(AI < 0.8)", sum(x$on_front)))
  }
  cat("\n")
  shown <- as.data.frame(unclass(x), stringsAsFactors = FALSE)
  shown$seed <- shown$stage <- NULL
  print(format(shown, digits = digits), row.names = FALSE)
  invisible(x)
}

plot.pelko_frontier <- function(x, labels = nrow(x) <= 40,
                                main = "Quality of hires against the risk of adverse impact",
                                ...) {
  if (!any(is.finite(x$quality))) stop("no weighting of this frontier has a quality to plot")
  # Room on the right for the labels of the riskiest points.
  risk <- range(x$`p_below_0.8`)
  xlim <- c(risk[1], risk[2] + 0.25 * max(diff(risk), 0.05))
  plot(x$`p_below_0.8`, x$quality, pch = ifelse(x$on_front, 19, 1), xlim = xlim,
       col = ifelse(x$on_front, "firebrick", "gray40"), xlab = "P(AI < 0.8)",
       ylab = "quality of hires (mean criterion score)", main = main, ...)
  front <- x[x$on_front, , drop = FALSE]
  front <- front[order(front$`p_below_0.8`, front$quality), , drop = FALSE]
  graphics::lines(front$`p_below_0.8`, front$quality, col = "firebrick")
  shown <- if (isTRUE(labels)) rep(TRUE, nrow(x)) else x$on_front
  text(x$`p_below_0.8`[shown], x$quality[shown], x$label[shown], pos = 4, cex = 0.7)
  mtext(sprintf("labels: weights of predictors %s", paste(attr(x, "labelled_predictors"),
                                                         collapse = "/")), side = 3, cex = 0.8)
  legend("bottomright", bty = "n", legend = c("on the front", "beaten"), pch = c(19, 1),
         col = c("firebrick", "gray40"))
  invisible(x)
}
