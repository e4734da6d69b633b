# The command-line program, for comparing reports: its path is in the environment variable PELKO.
pelko_program <- function() {
  program <- Sys.getenv("PELKO")
  if (!nzchar(program) || !file.exists(program)) {
    skip("set PELKO to the pelko executable (built by CMake) to compare with the command line")
  }
  normalizePath(program)
}

# The report of `problem` run by the program with the seeds of clock `second`; with
# `replications`, the program also writes every replication there as CSV.
program_report <- function(problem, second, replications = NULL) {
  program <- pelko_program()
  input <- tempfile(fileext = ".txt")
  on.exit(unlink(input))
  write_pelko_problem(problem, input)
  args <- c("--seed", format(second, scientific = FALSE))
  if (!is.null(replications)) args <- c(args, "--replications", replications)
  suppressWarnings(system2(program, c(args, input), stdout = TRUE, stderr = FALSE))
}

# A double rounded to single precision, as the program holds its reals.
as_single <- function(x) readBin(writeBin(x, raw(), size = 4), "double", n = length(x), size = 4)

# The numbers of the one report line that starts with `label` (a regular expression).
numbers_after <- function(report, label) {
  pattern <- paste0("^ *", label, " +")
  line <- grep(pattern, report, value = TRUE)
  expect_length(line, 1)
  fields <- strsplit(trimws(sub(pattern, "", line)), " +")[[1]]
  as.numeric(fields)
}

f3 <- function(x) sprintf("%.3f", x)

two_stage <- function(replications = 100, applicants = 50) {
  pelko_problem(replications = replications, applicants = applicants,
                majority = round(0.75 * applicants),
                retained = c(round(applicants / 4), round(applicants / 10)),
                effect_sizes = c(-1, -0.5, 0),
                correlations = matrix(c(1, .3, .2, .3, 1, .4, .2, .4, 1), 3),
                weights = rbind(c(1, 1, 0), c(.5, .3, .2)))
}
