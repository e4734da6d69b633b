# Running a design with the library's engine, and the result as R values.

pelko_condition <- function(error, call) {
  lines <- c(error$message_lines, error$halt_lines)
  structure(
    class = c(paste0("pelko_", error$kind), "pelko_error", "error", "condition"),
    list(message = paste(lines, collapse = "\n"), call = call, lines = lines,
         message_lines = error$message_lines, halt_lines = error$halt_lines))
}

one_whole_number <- function(x) {
  is.numeric(x) && length(x) == 1 && is.finite(x) && x == round(x)
}

# The internal entry: `engine`, `cancel_after` and `interrupt_after` are for the tests.
run_simulation <- function(problem, seed = NULL, threads = NULL, progress = FALSE,
                           engine = "automatic", cancel_after = 0L, interrupt_after = 0L,
                           call = sys.call(-1), significance = 0.05) {
  native <- native_problem(checked_problem(problem, call))
  # A clock second as the program takes it: a whole number from 0 below 2^63 (Inf and huge
  # numbers have no 64-bit value; a negative second gives seeds the generator refuses).
  if (is.null(seed)) {
    seed <- NA_real_
  } else if (!one_whole_number(seed) || seed < 0 || seed >= 2^63) {
    stop(simpleError("'seed' must be one whole number, 0 or more: a clock second", call))
  }
  # 0: every CPU; more threads than the CPUs run on the CPUs.
  if (is.null(threads)) {
    threads <- 0L
  } else if (!one_whole_number(threads) || threads < 0) {
    stop(simpleError("'threads' must be one whole number, 0 or more (0: every CPU)", call))
  }
  if (!is.numeric(significance) || length(significance) != 1 || is.na(significance) ||
      significance <= 0 || significance >= 1) {
    stop(simpleError("'significance' must be one number between 0 and 1", call))
  }
  out <- .simulate(native, as.numeric(seed), as.integer(min(threads, .Machine$integer.max)),
                   isTRUE(progress), engine, as.integer(cancel_after),
                   as.integer(interrupt_after), as.numeric(significance))
  if (!is.null(out$error)) stop(pelko_condition(out$error, call))
  new_simulation(out$result)
}

new_simulation <- function(r) {
  stages <- seq_along(r$problem$retained)
  frequency <- percentiles <- NULL
  if (!is.null(r$detailed)) {
    d <- r$detailed
    percentiles <- data.frame(row.names = c("ai", "sra", "sri"),
                              rbind(d$ai, d$sra, d$sri))
    # The Undef row first, as the report prints it; its share is of all replications.
    frequency <- data.frame(value = c(NA, d$rows$value), freq = c(r$undefined_freq, d$rows$freq),
                            cfreq = c(NA, d$rows$cfreq), number = c(r$undefined, d$rows$number))
  }
  proportion <- function(p) unlist(p)
  structure(class = "pelko_simulation", list(
    problem = new_problem(r$problem),
    seed = r$seed,
    generator_seeds = r$generator_seeds,
    composite_effect_sizes = r$composite_effect_sizes,
    replications = r$replications,
    expected = r$expected,
    defined = r$defined,
    undefined = r$undefined,
    percentiles = percentiles,
    frequency = frequency,
    stages = data.frame(stage = stages, retained = r$problem$retained,
                        majority_rate = r$stages$majority_rate,
                        minority_rate = r$stages$minority_rate,
                        ai = r$stages$ai, ai_defined = r$stages$ai_defined),
    below_0.8 = rbind(defined = proportion(r$below_0.8),
                      all = proportion(r$`below_0.8_or_undefined`)),
    no_defined_ai = r$no_defined_ai_lines,
    quality = new_quality(r$quality),
    tests = new_tests(r$tests)))
}

# The quality of hires: the criterion effect size used, each stage's composite validity and the
# distribution of the mean criterion score of the hired, overall and per group; NULL without a
# criterion.
new_quality <- function(q) {
  if (is.null(q)) return(NULL)
  list(criterion_effect_size = q$criterion_effect_size,
       composite_validities = q$composite_validities,
       distribution = data.frame(row.names = c("overall", "majority", "minority"),
                                 rbind(q$overall, q$majority, q$minority)))
}

# How often each rule flags the selection: a data frame a stage (the last also as `final`),
# and the final selection's flags as a logical matrix [replication, rule].
new_tests <- function(t) {
  shares <- as.data.frame(t$shares, stringsAsFactors = FALSE)
  rules <- unique(shares$rule)
  stages <- lapply(split(shares, shares$stage), function(s) {
    row.names(s) <- NULL
    s[, names(s) != "stage"]
  })
  bits <- t$final_flags
  flags <- vapply(seq_along(rules) - 1L, function(i) bitwAnd(bits, bitwShiftL(1L, i)) != 0L,
                  logical(length(bits)))
  flags <- matrix(flags, nrow = length(bits), dimnames = list(NULL, rules))
  list(significance = t$significance, rules = rules, stages = unname(stages),
       final = stages[[length(stages)]], flags = flags)
}

pelko_simulate <- function(problem, seed = NULL, threads = NULL, progress = interactive(),
                           significance = 0.05) {
  run_simulation(problem, seed = seed, threads = threads, progress = progress,
                 call = match.call(), significance = significance)
}
