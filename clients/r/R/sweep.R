# Several designs in one call: every combination of the varied arguments, one row each.

design_label <- function(value) {
  if (is.matrix(value)) paste(apply(value, 1, paste, collapse = " "), collapse = " / ")
  else paste(value, collapse = " ")
}

sweep_row <- function(index, result, settings) {
  s <- summary(result)
  row <- data.frame(design = index, settings, seed = result$seed,
                    expected_ai = result$expected[["ai"]],
                    mc_se_mean_ai = s$mc_se_mean_ai,
                    p_below_0.8 = result$below_0.8["defined", "share"],
                    p_below_0.8_lower = result$below_0.8["defined", "lower"],
                    p_below_0.8_upper = result$below_0.8["defined", "upper"],
                    p_below_0.8_or_undefined = result$below_0.8["all", "share"],
                    stringsAsFactors = FALSE, check.names = FALSE)
  if (!is.null(result$quality)) {
    q <- result$quality$distribution
    row$quality <- q["overall", "mean"]
    row$quality_standard_error <- q["overall", "standard_error"]
  }
  for (k in seq_len(nrow(result$stages))) {
    row[[sprintf("stage%d_majority_rate", k)]] <- result$stages$majority_rate[k]
    row[[sprintf("stage%d_minority_rate", k)]] <- result$stages$minority_rate[k]
    row[[sprintf("stage%d_ai", k)]] <- result$stages$ai[k]
  }
  row
}

bind_rows <- function(rows) {
  columns <- unique(unlist(lapply(rows, names)))
  rows <- lapply(rows, function(r) {
    for (name in setdiff(columns, names(r))) r[[name]] <- NA_real_
    r[columns]
  })
  do.call(rbind, rows)
}

pelko_sweep <- function(problem, vary, seed = NULL, threads = NULL, parallel = TRUE,
                        file = NULL) {
  call <- match.call()
  if (!inherits(problem, "pelko_problem")) {
    stop(simpleError("'problem' must be a pelko_problem (see pelko_problem())", call))
  }
  arguments <- names(formals(pelko_problem))
  if (!is.list(vary) || length(vary) == 0 || is.null(names(vary)) ||
      !all(names(vary) %in% arguments)) {
    stop(simpleError(paste("'vary' must be a named list whose names are arguments of",
                           "pelko_problem():", paste(arguments, collapse = ", ")), call))
  }
  # Vectors of numbers vary a one-number argument; lists hold whole values (vectors, matrices).
  vary <- lapply(vary, function(v) if (is.list(v)) v else as.list(v))
  grid <- expand.grid(lapply(vary, seq_along), KEEP.OUT.ATTRS = FALSE)
  if (!is.null(file) && (!is.character(file) || length(file) != 1 || is.na(file))) {
    stop(simpleError("'file' must be one file name", call))
  }
  finished <- if (!is.null(file)) {
    read_finished_rows(file, c("design", "seed", names(vary), "expected_ai"),
                       c("design", "seed"), call)
  }
  if (!is.null(finished)) {
    kept_seed <- unique(finished$seed)
    if (length(kept_seed) != 1 || (!is.null(seed) && seed != kept_seed)) {
      stop(simpleError(sprintf(paste("'file' (%s) holds designs of seed %s: give that 'seed'",
                                     "(or none) to resume it, or another file"), file,
                               paste(sprintf("%.0f", kept_seed), collapse = ", ")), call))
    }
    seed <- kept_seed
  }
  # One clock second for every design: common random numbers make the designs comparable.
  if (is.null(seed)) seed <- as.numeric(Sys.time()) %/% 1
  designs <- lapply(seq_len(nrow(grid)), function(i) {
    arguments <- unclass(problem)
    for (name in names(vary)) arguments[[name]] <- vary[[name]][[grid[i, name]]]
    arguments
  })
  # Every design is checked before any runs.
  designs <- lapply(designs, function(a) do.call(pelko_problem, a))
  settings_of <- function(i) {
    settings <- lapply(names(vary), function(name) {
      value <- vary[[name]][[grid[i, name]]]
      if (length(value) == 1) value else design_label(value)
    })
    names(settings) <- names(vary)
    as.data.frame(settings, stringsAsFactors = FALSE)
  }
  run <- function(i) {
    result <- pelko_simulate(designs[[i]], seed = seed, threads = threads, progress = FALSE)
    sweep_row(i, result, settings_of(i))
  }
  indices <- seq_along(designs)
  use_future <- isTRUE(parallel) && requireNamespace("future.apply", quietly = TRUE)
  if (is.null(file)) {
    rows <- if (use_future) {
      future.apply::future_lapply(indices, run, future.packages = "pelko")
    } else {
      lapply(indices, run)
    }
  } else {
    rows <- resume_sweep(finished, indices, settings_of, file, call)
    todo <- indices[vapply(rows, is.null, TRUE)]
    # Each finished row is kept in the file before the next is computed; in parallel, after
    # each wave of one design a worker.
    workers <- if (use_future && requireNamespace("future", quietly = TRUE)) {
      future::nbrOfWorkers()
    } else 1
    for (wave in split(todo, ceiling(seq_along(todo) / workers))) {
      done <- if (workers > 1) {
        future.apply::future_lapply(wave, run, future.packages = "pelko", future.seed = NULL)
      } else lapply(wave, run)
      for (j in seq_along(wave)) {
        append_csv_row(file, as.list(done[[j]]))
        rows[[wave[j]]] <- done[[j]]
      }
    }
  }
  structure(bind_rows(rows), class = c("pelko_sweep", "data.frame"))
}

# The rows of `finished` in the places of their designs (NULL where a design is to be run); a
# row whose settings are not those of its design means the file is another sweep's.
resume_sweep <- function(finished, indices, settings_of, file, call) {
  rows <- vector("list", length(indices))
  if (is.null(finished)) return(rows)
  for (r in seq_len(nrow(finished))) {
    i <- finished$design[r]
    settings <- if (i %in% indices) settings_of(i)
    if (is.null(settings) || !all(vapply(names(settings), function(name)
      identical(as.character(finished[[name]][r]), as.character(settings[[name]])), TRUE))) {
      stop(simpleError(sprintf("'file' (%s) holds design %s of another sweep", file, i), call))
    }
    rows[[i]] <- finished[r, , drop = FALSE]
  }
  rows
}

print.pelko_sweep <- function(x, digits = 3, ...) {
  cat(sprintf("PELKO sweep: %d design%s\n", nrow(x), if (nrow(x) == 1) "" else "s"))
  shown <- as.data.frame(unclass(x), stringsAsFactors = FALSE)
  # A column subset (x[, c("design", "expected_ai")]) may have left the seed out.
  if (!is.null(shown$seed)) shown$seed <- sprintf("%.0f", shown$seed)
  print(format(shown, digits = digits), row.names = FALSE)
  invisible(x)
}
