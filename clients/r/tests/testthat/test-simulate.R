test_that("the same seed gives the command line's report", {
  p <- two_stage(replications = 300, applicants = 80)
  second <- 1765185354
  report <- program_report(p, second)
  r <- pelko_simulate(p, seed = second, progress = FALSE)
  expect_identical(r$seed, second)
  expect_identical(r$generator_seeds, c(85354L, 5L * 5354L))

  composite <- grep("Effect size predictor composite", report, value = TRUE)
  expect_identical(sub(".*is: ", "", composite), sprintf("%.6f", r$composite_effect_sizes))
  expect_identical(numbers_after(report, "Expected Value") |> f3(),
                   f3(r$expected[c("sr", "ai", "sra", "sri")]))
  for (name in c("AI", "SRA", "SRI")) {
    expect_identical(f3(numbers_after(report, paste0(name, ": +Mean and 50--25--75th perc"))),
                     f3(unlist(r$percentiles[tolower(name), ])), label = name)
  }
  undef <- numbers_after(report, "Undef")
  expect_identical(c(f3(undef[1]), format(undef[2])),
                   c(f3(r$frequency$freq[1]), format(r$frequency$number[1])))
  rows <- grep("^ +[0-9]+ +[0-9.]+ +[0-9.]+ +[0-9.]+ +[0-9]+$", report, value = TRUE)
  table <- do.call(rbind, lapply(strsplit(trimws(rows), " +"), as.numeric))
  f <- r$frequency[-1, ]
  expect_identical(nrow(table), nrow(f))
  expect_identical(f3(table[, 2]), f3(f$value))
  expect_identical(f3(table[, 3]), f3(f$freq))
  expect_identical(f3(table[, 4]), f3(f$cfreq))
  expect_identical(as.integer(table[, 5]), f$number)
})

test_that("every replication equals the command line's, bit for bit", {
  p <- two_stage(replications = 300, applicants = 80)
  csv <- tempfile(fileext = ".csv")
  on.exit(unlink(csv))
  program_report(p, 1765185354, replications = csv)
  expected <- utils::read.csv(csv)
  d <- pelko_simulate(p, seed = 1765185354, progress = FALSE)$replications
  expect_identical(nrow(d), nrow(expected))
  for (column in c("sra", "sri", "ai")) {
    defined <- !is.na(expected[[column]])
    expect_identical(is.na(d[[column]]), !defined, label = column)
    expect_identical(d[[column]][defined], as_single(expected[[column]][defined]), label = column)
  }
  for (stage in 1:2) {
    for (group in c("majority", "minority")) {
      expect_identical(d[[paste0(group, "_retained_", stage)]],
                       as.integer(expected[[paste0("stage", stage, "_", group)]]))
    }
  }
})

test_that("the replications add up to the summary the report prints", {
  r <- pelko_simulate(two_stage(replications = 200), seed = 1765185354, progress = FALSE)
  d <- r$replications
  expect_identical(nrow(d), 200L)
  expect_identical(d$replication, 1:200)
  counts <- table(d$ai)
  expect_identical(as.integer(counts), r$frequency$number[-1])
  expect_identical(sum(is.na(d$ai)), r$undefined)
  expect_equal(mean(d$sra), r$expected[["sra"]], tolerance = 1e-6)
  expect_equal(d$sra, d$majority_retained_2 / r$problem$majority, tolerance = 1e-7)
  expect_true(all(d$majority_retained_2 + d$minority_retained_2 == 5L))
  expect_true(all(d$majority_retained_1 >= d$majority_retained_2))
  expect_identical(as.data.frame(r), d)
})

test_that("every engine and thread count gives the same replications", {
  p <- two_stage(replications = 400, applicants = 60)
  reference <- pelko:::run_simulation(p, seed = 1765185354, engine = "reference")
  for (threads in 1:3) {
    fast <- pelko_simulate(p, seed = 1765185354, threads = threads, progress = FALSE)
    expect_identical(fast$replications, reference$replications, label = paste(threads, "threads"))
    expect_identical(fast$frequency, reference$frequency)
  }
})

test_that("without a seed the clock's second is recorded and repeats the run", {
  p <- two_stage()
  before <- floor(as.numeric(Sys.time()))
  r <- pelko_simulate(p, progress = FALSE)
  expect_true(r$seed >= before && r$seed <= before + 60)
  again <- if (r$seed %% 10000 == 0) r else pelko_simulate(p, seed = r$seed, progress = FALSE)
  expect_identical(again$replications, r$replications)
})

test_that("failures of the run are R errors with the program's lines", {
  p <- two_stage()
  e <- expect_error(pelko_simulate(p, seed = 1765180000, progress = FALSE),
                    class = "pelko_generator_refused")
  expect_true(length(e$lines) > 0)
  q <- p
  q$correlations <- matrix(c(1, .9, .9, .9, 1, -.9, .9, -.9, 1), 3)
  expect_error(pelko_simulate(q, seed = 1765185354, progress = FALSE),
               class = "pelko_not_positive_definite")
  expect_error(pelko_simulate(list(), seed = 1), "pelko_problem")
})

test_that("seeds and threads are refused by name, and many threads run on the CPUs", {
  p <- two_stage()
  # Inf and numbers beyond 64 bits have no clock second: the same error as NA and 1.5.
  for (seed in list(1.5, NA, Inf, -Inf, 1e300, 2^63, -5, "1", c(1, 2))) {
    expect_error(pelko_simulate(p, seed = seed, progress = FALSE),
                 "'seed' must be one whole number, 0 or more: a clock second", fixed = TRUE)
  }
  for (threads in list(-1, 1.5, NA, Inf, "2")) {
    expect_error(pelko_simulate(p, seed = 1, threads = threads, progress = FALSE),
                 "'threads' must be one whole number", fixed = TRUE)
  }
  every <- pelko_simulate(p, seed = 1765185354, threads = 0, progress = FALSE)
  expect_no_warning(many <- pelko_simulate(p, seed = 1765185354, threads = 1e10,
                                           progress = FALSE))
  expect_identical(many$replications, every$replications)
})

test_that("a run leaves R's random numbers alone", {
  # future's parallel sweeps warn of any function that creates or changes .Random.seed.
  if (exists(".Random.seed", envir = globalenv(), inherits = FALSE)) {
    saved <- get(".Random.seed", envir = globalenv())
    rm(".Random.seed", envir = globalenv())
    on.exit(assign(".Random.seed", saved, envir = globalenv()))
  }
  p <- two_stage()
  pelko_simulate(p, seed = 1765185354, progress = FALSE)
  write_pelko_problem(p, tempfile())
  expect_false(exists(".Random.seed", envir = globalenv(), inherits = FALSE))
})

test_that("a cancelled or interrupted run stops early and leaves R usable", {
  p <- two_stage(replications = 20000, applicants = 100)
  e <- expect_error(pelko:::run_simulation(p, seed = 1765185354, cancel_after = 1L),
                    class = "pelko_cancelled")
  expect_identical(e$lines, "pelko: the simulation was cancelled")
  # A user interrupt (Ctrl-C) arriving during the run becomes R's own interrupt condition.
  started <- Sys.time()
  got <- tryCatch(pelko:::run_simulation(p, seed = 1765185354, interrupt_after = 2L),
                  interrupt = function(i) "interrupted")
  expect_identical(got, "interrupted")
  expect_lt(as.numeric(Sys.time() - started, units = "secs"), 5)
  expect_s3_class(pelko_simulate(two_stage(), seed = 1765185354, progress = FALSE),
                  "pelko_simulation")
})

test_that("the progress line is written to the console only when asked", {
  p <- two_stage(replications = 2000)
  shown <- capture.output(invisible(pelko_simulate(p, seed = 1765185354, progress = TRUE)),
                          type = "message")
  expect_match(paste(shown, collapse = ""), "of 2000 replications")
  quiet <- capture.output(invisible(pelko_simulate(p, seed = 1765185354, progress = FALSE)),
                          type = "message")
  expect_identical(quiet, character())
})
