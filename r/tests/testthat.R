library(testthat)
library(traz)

test_check("traz")
