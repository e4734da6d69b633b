test_that("print, summary and plot describe a simulation", {
  r <- pelko_simulate(two_stage(), seed = 1765185354, progress = FALSE)
  expect_output(print(r), "P\\(AI < 0.8\\)")
  s <- summary(r)
  expect_s3_class(s, "summary.pelko_simulation")
  ai <- r$replications$ai[!is.na(r$replications$ai)]
  expect_equal(s$mc_se_mean_ai, sd(ai) / sqrt(length(ai)))
  below <- sum(ai < 0.8)
  expect_identical(s$below_0.8["defined", "count"], as.numeric(below))
  expect_true(s$below_0.8["defined", "lower"] <= below / length(ai))
  expect_true(s$below_0.8["defined", "upper"] >= below / length(ai))
  out <- capture.output(print(s))
  expect_match(out, "95 % Wilson interval", all = FALSE, fixed = TRUE)
  expect_match(out, "Monte-Carlo standard error", all = FALSE)
  expect_identical(nrow(s$stages), 2L)

  path <- tempfile(fileext = ".pdf")
  grDevices::pdf(path)
  plot(r)
  grDevices::dev.off()
  expect_gt(file.size(path), 1000)
  expect_output(print(two_stage()), "2 stages")
})

test_that("a run without a defined AI prints so and has nothing to plot", {
  # One majority applicant in a pool of 50 with a strong minority advantage: rarely hired.
  expect_warning(p <- pelko_problem(10, 50, 1, 1, 3, 1, 1), class = "pelko_warning")
  r <- pelko_simulate(p, seed = 1765185354, progress = FALSE)
  skip_if(r$defined > 0, "this seed hired a majority applicant")
  expect_output(print(r), "undefined in every replication")
  expect_error(plot(r), "nothing to plot")
})

test_that("the tests count the final flags, print in the summary and plot as bars", {
  r <- pelko_simulate(two_stage(), seed = 1765185354, progress = FALSE)
  t <- r$tests
  expect_identical(t$significance, 0.05)
  expect_identical(t$rules, c("four_fifths", "z_test", "z_ir", "fisher", "fisher_mid_p",
                              "four_fifths_robust", "four_fifths_and_z",
                              "four_fifths_and_fisher"))
  expect_length(t$stages, 2L)
  expect_identical(dim(t$flags), c(nrow(r$replications), 8L))
  expect_identical(as.numeric(colSums(t$flags)), t$final$count)
  expect_identical(t$final$count[1], r$below_0.8["defined", "count"])
  expect_true(all(t$final$lower <= t$final$share & t$final$share <= t$final$upper))
  expect_true(all(t$final$expected_under_no_difference >= 0 &
                  t$final$expected_under_no_difference <= 1))
  out <- capture.output(print(summary(r)))
  expect_match(out, "significance level 0.05", all = FALSE, fixed = TRUE)
  expect_match(out, "four_fifths_and_fisher", all = FALSE, fixed = TRUE)

  strict <- pelko_simulate(two_stage(), seed = 1765185354, progress = FALSE, significance = 0.001)
  expect_true(all(strict$tests$final$count <= t$final$count))
  expect_error(pelko_simulate(two_stage(), significance = 1), "'significance'")

  path <- tempfile(fileext = ".pdf")
  grDevices::pdf(path)
  plot(r, tests = TRUE)
  grDevices::dev.off()
  expect_gt(file.size(path), 1000)
})
