# The criterion from R, the frontier search and resuming a search or sweep from its file.

second <- 1796630709

# Bobko, Roth & Potosky (1999) in pelko's sign, on a small pool.
published_design <- function(...) {
  arguments <- list(replications = 40, applicants = 80, majority = 60, retained = 8,
                    effect_sizes = c(-1, -0.23, -0.09, -0.33),
                    correlations = matrix(c(1, .24, 0, .19, .24, 1, .12, .16, 0, .12, 1, .51,
                                            .19, .16, .51, 1), 4),
                    weights = c(1, 1, 1, 1), validities = c(.3, .3, .18, .28))
  changes <- list(...)
  arguments[names(changes)] <- changes
  do.call(pelko_problem, arguments)
}

measures <- c("quality", "quality_standard_error", "composite_validity", "expected_ai",
              "below_count", "defined", "p_below_0.8", "p_below_0.8_lower", "p_below_0.8_upper")

test_that("a problem carries its criterion, a file keeps it and a result has the quality", {
  problem <- published_design(criterion_effect_size = -0.3)
  expect_equal(problem$validities, as_single(c(.3, .3, .18, .28)))
  expect_equal(problem$criterion_effect_size, as_single(-0.3))
  path <- tempfile(fileext = ".txt")
  on.exit(unlink(path))
  write_pelko_problem(problem, path)
  expect_identical(read_pelko_problem(path), problem)
  expect_null(published_design(validities = NULL)$validities)

  result <- pelko_simulate(problem, seed = second, progress = FALSE)
  expect_true(all(c("quality", "quality_majority", "quality_minority", "stage_quality_1") %in%
                  names(result$replications)))
  q <- result$quality
  expect_equal(q$criterion_effect_size, as_single(-0.3))
  expect_equal(q$distribution["overall", "mean"], mean(result$replications$quality))
  expect_output(print(result), "Quality of hires")
  expect_output(print(summary(result)), "Composite validity")
  plain <- pelko_simulate(published_design(validities = NULL), seed = second, progress = FALSE)
  expect_null(plain$quality)
  expect_false(any(grepl("quality", names(plain$replications))))
  expect_identical(plain$replications$ai, result$replications$ai)
})

test_that("a small frontier is each weighting simulated with the same seed", {
  problem <- published_design()
  f <- pelko_frontier(problem, step = 0.5, predictors = c(1, 4), seed = second,
                      progress = FALSE)
  expect_s3_class(f, "pelko_frontier")
  expect_equal(nrow(f), 3)
  expect_equal(f$label, c("1/0", "0.5/0.5", "0/1"))
  expect_true(any(f$on_front))
  for (i in seq_len(nrow(f))) {
    weights <- unlist(f[i, sprintf("weight_%d", 1:4)])
    result <- pelko_simulate(published_design(weights = weights), seed = second,
                             progress = FALSE)
    expect_identical(f$quality[i], result$quality$distribution["overall", "mean"])
    expect_identical(f$expected_ai[i], result$expected[["ai"]])
    expect_identical(f$`p_below_0.8_lower`[i], result$below_0.8["defined", "lower"])
  }
  listed <- pelko_frontier(problem, weightings = rbind(c(0, 0, 0, 1), c(1, 0, 0, 0)),
                           seed = second, progress = FALSE)
  expect_identical(listed$quality, f$quality[c(3, 1)])
  expect_output(print(f), "3 weightings of stage 1")
  path <- tempfile(fileext = ".pdf")
  on.exit(unlink(path))
  grDevices::pdf(path)
  expect_silent(plot(f))
  grDevices::dev.off()
})

test_that("a frontier resumes from its file without computing its rows again", {
  problem <- published_design()
  path <- tempfile(fileext = ".csv")
  on.exit(unlink(path))
  whole <- pelko_frontier(problem, step = 0.5, predictors = 1:2, seed = second, file = path,
                          progress = FALSE)
  lines <- readLines(path)
  expect_length(lines, 4)
  # A stop half way: two rows kept, the third cut short while it was written. Rows in the file
  # are taken as they are: a changed one shows it was not computed again.
  kept <- strsplit(lines[2], ",")[[1]]
  kept[7] <- "0.25"
  cat(paste(c(lines[1], paste(kept, collapse = ","), lines[3]), collapse = "\n"), "\n",
      substr(lines[4], 1, 20), file = path, sep = "")
  resumed <- pelko_frontier(problem, step = 0.5, predictors = 1:2, file = path,
                            progress = FALSE)
  expect_equal(attr(resumed, "seed"), second)
  expect_equal(resumed$quality, c(0.25, whole$quality[2:3]))
  expect_equal(readLines(path), c(lines[1], paste(kept, collapse = ","), lines[3:4]))
  expect_error(pelko_frontier(problem, step = 0.5, predictors = 1:2, seed = second + 1,
                              file = path), "'file'.*seed")
})

test_that("a sweep resumes from its file", {
  problem <- published_design()
  path <- tempfile(fileext = ".csv")
  on.exit(unlink(path))
  whole <- pelko_sweep(problem, list(retained = c(8, 16, 24)), seed = second, parallel = FALSE,
                       file = path)
  expect_true(all(c("quality", "quality_standard_error") %in% names(whole)))
  lines <- readLines(path)
  writeLines(lines[1:2], path)
  resumed <- pelko_sweep(problem, list(retained = c(8, 16, 24)), parallel = FALSE, file = path)
  expect_equal(resumed$expected_ai, whole$expected_ai)
  expect_equal(readLines(path), lines)
  expect_error(pelko_sweep(problem, list(retained = c(24, 16, 8)), file = path),
               "another sweep")
})

test_that("frontier arguments are refused by name", {
  problem <- published_design()
  expect_error(pelko_frontier(published_design(validities = NULL)), "'problem' has no criterion")
  expect_error(pelko_frontier(problem, stage = 2), "'stage'")
  expect_error(pelko_frontier(problem, step = 0), "'step'")
  expect_error(pelko_frontier(problem, step = 0.3), "step must be in", class = "pelko_error")
  expect_error(pelko_frontier(problem, predictors = c(1, 5)), "'predictors'")
  expect_error(pelko_frontier(problem, predictors = c(2, 2)), "'predictors'")
  expect_error(pelko_frontier(problem, weightings = list(c(1, 0))), "'weightings'")
  expect_error(pelko_frontier(problem, threads = 0), "'threads'")
  expect_error(pelko_frontier(problem, seed = 1.5), "'seed'")
  expect_error(pelko_frontier(problem, file = 3), "'file'")
  expect_error(published_design(validities = c(.3, NA, .1, .2)), "'validities'")
  expect_error(published_design(criterion_effect_size = c(1, 2)), "'criterion_effect_size'")
})

test_that("a frontier split over workers equals one run here and keeps its file", {
  skip_if_not_installed("future.apply")
  skip_if_not(future::supportsMulticore())
  old <- future::plan(future::multicore, workers = 2)
  on.exit(future::plan(old))
  problem <- published_design()
  path <- tempfile(fileext = ".csv")
  on.exit(unlink(path), add = TRUE)
  here <- pelko_frontier(problem, step = 0.5, predictors = 1:2, seed = second, progress = FALSE)
  there <- pelko_frontier(problem, step = 0.5, predictors = 1:2, seed = second, file = path,
                          parallel = TRUE)
  expect_equal(there, here)
  expect_length(readLines(path), 4)
})
