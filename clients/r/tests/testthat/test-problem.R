test_that("a design keeps its values and writes a problem file that reads back the same", {
  p <- two_stage()
  expect_s3_class(p, "pelko_problem")
  expect_identical(p$retained, c(12L, 5L))
  expect_identical(dim(p$weights), c(2L, 3L))
  path <- tempfile(fileext = ".txt")
  write_pelko_problem(p, path)
  expect_identical(read_pelko_problem(path), p)
  # A single stage takes its weights as a vector, and a single predictor a number.
  one <- pelko_problem(100, 50, 30, 10, -0.5, 1, 1)
  expect_identical(dim(one$weights), c(1L, 1L))
  write_pelko_problem(one, path)
  expect_identical(read_pelko_problem(path), one)
})

test_that("invalid designs give the program's own messages and the argument", {
  e <- expect_error(pelko_problem(5, 200, 150, c(50, 20), c(-1, -.5, 0), diag(3),
                                  rbind(c(1, 1, 0), c(.5, .3, .2))),
                    class = "pelko_invalid_problem")
  expect_identical(e$lines, "Input error: value nrep must be between 10 and 500000")
  expect_identical(e$argument, "replications")

  e <- expect_error(pelko_problem(1000, 200, 150, c(50, 60), c(-1, -.5, 0), diag(3),
                                  rbind(c(1, 1, 0), c(.5, .3, .2))),
                    class = "pelko_invalid_problem")
  expect_identical(e$lines, c("Input error: nma(1) must at least be equal to nma(nf)",
                              "  and not greater than nsub",
                              paste("  or the previous number may be wrong because it",
                                    "contains a , for example")))
  expect_identical(e$argument, "retained")
  expect_match(conditionMessage(e), "argument 'retained', stage 1", fixed = TRUE)

  r <- matrix(c(1, .3, .2, .3, 1, 1.4, .2, .4, 1), 3)
  e <- expect_error(pelko_problem(1000, 200, 150, c(50, 20), c(-1, -.5, 0), r,
                                  rbind(c(1, 1, 0), c(.5, .3, .2))),
                    class = "pelko_invalid_problem")
  expect_identical(e$lines, "Input error: correlation predictors 3 and 2:  1.400")
  expect_identical(c(e$index, e$second_index), c(3L, 2L))

  e <- expect_error(pelko_problem(1000, 200, 200, 20, 0, 1, 1), class = "pelko_invalid_problem")
  expect_identical(e$argument, "majority")
  # Weights that do not fit the predictors cannot come from a file, and are refused too.
  expect_error(pelko_problem(1000, 200, 150, c(50, 20), c(-1, 0), diag(2), rbind(1, 1)),
               class = "pelko_error")
  expect_error(pelko_problem(1000, 200, 150.5, 20, 0, 1, 1), "whole numbers")
  # A vector of the wrong length would be recycled into an asymmetric matrix.
  expect_error(pelko_problem(1000, 200, 150, c(50, 20), c(-1, -.5, 0), c(1, .3, .3, 1),
                             rbind(c(1, 1, 0), c(.5, .3, .2))),
               "'correlations' must be a 3 x 3 matrix, or 9 numbers", fixed = TRUE)
  expect_error(pelko_problem(1000, 200, 150, 20, NA, 1, 1), "finite")
})

test_that("a design edited by hand is refused naming the field", {
  p <- two_stage()
  for (edit in list(list("replications", "1000"), list("weights", c(1, 1, 0)),
                    list("retained", c(12.5, 5)), list("effect_sizes", c(-1, Inf, 0)),
                    list("majority", NULL))) {
    q <- p
    q[[edit[[1]]]] <- edit[[2]]
    e <- expect_error(pelko_simulate(q, seed = 1, progress = FALSE),
                      sprintf("'problem$%s' must be", edit[[1]]), fixed = TRUE)
    expect_false(grepl("compatible", conditionMessage(e)))
    expect_error(write_pelko_problem(q, tempfile()), sprintf("'problem$%s'", edit[[1]]),
                 fixed = TRUE)
  }
})

test_that("the program reports the same messages for the same design", {
  skip_if(!nzchar(Sys.getenv("PELKO")), "set PELKO to compare with the command line")
  p <- two_stage()
  p$replications <- 5L
  report <- program_report(p, 1765185354)
  e <- expect_error(pelko_problem(5, 50, 38, c(12, 5), c(-1, -.5, 0), p$correlations, p$weights))
  expect_true(all(e$lines %in% report))
})

test_that("warnings come with the program's text and the design is still made", {
  expect_warning(p <- pelko_problem(100, 50, 30, 10, c(2.5, -0.3), diag(2), c(1, 1)),
                 "WARNING: Verify value difp for predictor 1:  2.500??", fixed = TRUE,
                 class = "pelko_warning")
  expect_s3_class(p, "pelko_problem")
})

test_that("reading stops at text where a number belongs, with its place", {
  path <- tempfile(fileext = ".txt")
  writeLines(c("1000 200 150 2 3", "50 twenty"), path)
  e <- expect_error(read_pelko_problem(path), class = "pelko_unreadable_problem")
  expect_match(conditionMessage(e), "line 2")
  expect_error(read_pelko_problem(tempfile()), "cannot read")
})
