# Results kept in a CSV file row by row, so that a search or sweep stopped half way goes on
# where it stopped.

# Reals with 17 significant digits, so that they read back to the same doubles; NA empty.
csv_cells <- function(row) {
  vapply(row, function(v) {
    if (length(v) != 1 || is.na(v)) return("")
    if (is.logical(v)) return(if (v) "TRUE" else "FALSE")
    if (is.numeric(v)) return(sprintf("%.17g", v))
    paste0("\"", gsub("\"", "\"\"", as.character(v), fixed = TRUE), "\"")
  }, "")
}

# Appends one row (a named list of single values), with the header when the file is new, and
# flushes it: a row in the file is a finished result.
append_csv_row <- function(file, row) {
  new <- !file.exists(file) || file.info(file)$size == 0
  con <- file(file, open = "a")
  on.exit(close(con))
  if (new) writeLines(paste(names(row), collapse = ","), con)
  writeLines(paste(csv_cells(row), collapse = ","), con)
  flush(con)
}

# The finished rows of `file` (NULL when it does not exist or holds none), which must have the
# columns `required` and values in those of them that are `identity`. A last line cut short by
# a stop while it was written is dropped, and the file is written again without it (through
# a new file renamed over it), so that the next row starts on a line of its own.
read_finished_rows <- function(file, required, identity, call) {
  if (!file.exists(file) || file.info(file)$size == 0) return(NULL)
  size <- file.info(file)$size
  cut_short <- !identical(readBin(file, "raw", n = size)[size], as.raw(10L))
  lines <- readLines(file, warn = FALSE)
  kept <- lines[nzchar(lines)]
  if (cut_short) kept <- kept[-length(kept)]
  rows <- if (length(kept) > 1) {
    tryCatch(utils::read.csv(text = kept, check.names = FALSE, stringsAsFactors = FALSE),
             error = function(e) stop(simpleError(sprintf(
               "'file' (%s) is not a results file this function wrote: %s", file,
               conditionMessage(e)), call)))
  }
  if (!is.null(rows)) {
    missing <- setdiff(required, names(rows))
    if (length(missing) > 0) {
      stop(simpleError(sprintf("'file' (%s) has no column %s: not a file this function wrote",
                               file, paste(missing, collapse = ", ")), call))
    }
    complete <- stats::complete.cases(rows[identity])
    if (!all(complete)) kept <- kept[c(TRUE, complete)]
    rows <- rows[complete, , drop = FALSE]
  }
  if (length(kept) != length(lines)) {
    fresh <- tempfile(tmpdir = dirname(file))
    writeLines(kept, fresh)
    file.rename(fresh, file)
  }
  if (is.null(rows) || nrow(rows) == 0) NULL else rows
}
