test_that("a sweep gives one row per design, the same as single runs", {
  p <- two_stage()
  vary <- list(retained = list(c(10, 5), c(15, 5), c(20, 5)), replications = c(100, 120))
  serial <- pelko_sweep(p, vary, seed = 1765185354, parallel = FALSE)
  expect_s3_class(serial, "pelko_sweep")
  expect_identical(nrow(serial), 6L)
  expect_identical(serial$retained, rep(c("10 5", "15 5", "20 5"), 2))
  expect_identical(serial$replications, rep(c(100, 120), each = 3))
  q <- p
  q$retained <- c(15L, 5L)
  single <- pelko_simulate(q, seed = 1765185354, progress = FALSE)
  expect_identical(serial$expected_ai[2], single$expected[["ai"]])
  expect_identical(serial$stage1_majority_rate[2], single$stages$majority_rate[1])
  expect_true(all(serial$p_below_0.8_lower <= serial$p_below_0.8))
  expect_output(print(serial), "6 designs")
  expect_output(print(serial[, c("design", "expected_ai")]), "expected_ai")

  skip_if_not_installed("future.apply")
  expect_identical(pelko_sweep(p, vary, seed = 1765185354), serial)
})

test_that("a sweep checks every design before it runs any", {
  p <- two_stage()
  expect_error(pelko_sweep(p, list(retained = list(c(10, 5), c(60, 5)))),
               class = "pelko_invalid_problem")
  expect_error(pelko_sweep(p, list(stages = 1:2)), "named list")
})
