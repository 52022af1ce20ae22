#' traz: expected outcomes of multi-stage personnel selection
#'
#' The TRAZ library computes, by numerical integration over the stage cut scores, the expected
#' criterion score of the applicants a selection design finally selects, each group's expected
#' selection rate, the adverse-impact ratios and the SD of the average criterion score, each
#' with an error bound: the numbers of the \code{traz} command, to the last digit.
#' Start with \code{\link{traz_design}} and \code{\link{traz_evaluate}}.
#'
#' @useDynLib traz, .registration = TRUE
#' @importFrom Rcpp evalCpp
#' @keywords internal
"_PACKAGE"
