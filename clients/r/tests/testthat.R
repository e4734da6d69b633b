library(testthat)
library(pelko)

test_check("pelko")
