# Designs, their evaluation and the errors of the TRAZ library. The computation is the
# library's (src/traz_r.cpp); this file checks the kinds of the arguments and shapes results.

.fields <- c("validities", "correlations", "effect_sizes", "weights", "retained", "applicants",
             "proportion", "criterion_effect", "groups", "passes", "relerr", "maxcls", "integration")

# Raises the library's fault as a condition of class "traz_error".
.traz_stop <- function(e, call = sys.call(-1)) {
  stop(structure(class = c("traz_error", "error", "condition"),
                 list(message = e$message, call = call, statement = e$statement, item = e$item,
                      line = e$line, outcome = e$outcome)))
}

.check_numbers <- function(x, name) {
  if (!is.numeric(x) || anyNA(x))
    stop(sprintf("traz: %s must be numbers (no NA)", name), call. = FALSE)
  as.numeric(x)
}

.check_whole <- function(x, name) {
  x <- .check_numbers(x, name)
  if (any(abs(x) > .Machine$integer.max) || any(x != round(x)))
    stop(sprintf("traz: %s must be whole numbers", name), call. = FALSE)
  as.integer(x)
}

.check_scalar <- function(x, name, whole = FALSE) {
  if (length(x) != 1) stop(sprintf("traz: %s must be one number", name), call. = FALSE)
  if (whole) .check_whole(x, name) else .check_numbers(x, name)
}

.check_matrix <- function(x, name) {
  if (is.data.frame(x)) x <- as.matrix(x)
  if (!is.matrix(x)) x <- matrix(x, nrow = 1)  # a vector: one row
  storage.mode(x) <- "double"
  .check_numbers(x, name)
  dimnames(x) <- NULL
  x
}

# Checks the kinds of a design's fields and gives it its class.
.as_design <- function(g) {
  missing_fields <- setdiff(.fields, names(g))
  if (length(missing_fields))
    stop("traz: the design lacks ", paste(missing_fields, collapse = ", "), call. = FALSE)
  g$validities <- .check_numbers(g$validities, "validities")
  g$correlations <- .check_matrix(g$correlations, "correlations")
  g$effect_sizes <- .check_numbers(g$effect_sizes, "effect_sizes")
  g$weights <- .check_matrix(g$weights, "weights")
  g$retained <- .check_whole(g$retained, "retained")
  for (f in c("applicants", "groups", "passes", "maxcls")) g[[f]] <- .check_scalar(g[[f]], f, whole = TRUE)
  for (f in c("proportion", "criterion_effect", "relerr")) g[[f]] <- .check_scalar(g[[f]], f)
  g$integration <- match.arg(g$integration, c("automatic", "cube", "fitted"))
  structure(g[.fields], class = "traz_design", deck_text = attr(g, "deck_text"))
}

#' Selection designs
#'
#' A design is a pool of applicants from two groups (or one) passing one to three selection
#' stages; each stage ranks those still in the pool on a weighted composite of the predictors
#' and keeps a fixed number.
#'
#' @param validities correlation of each predictor with the criterion.
#' @param correlations the predictor correlation matrix (symmetric, unit diagonal).
#' @param effect_sizes group 1 minus group 2 on each predictor, in within-group SDs.
#' @param weights the predictor weights of each stage, one row per stage (a vector for one stage).
#' @param retained the applicants each stage keeps, one count per stage.
#' @param applicants the pool.
#' @param proportion the share of group 1 in the pool (1 with one group).
#' @param criterion_effect group 1 minus group 2 on the criterion, in SDs.
#' @param groups 1 or 2.
#' @param passes integration passes; 7 give every result.
#' @param relerr relative accuracy of the two- and three-stage integrations.
#' @param maxcls integrand evaluations an integration may spend.
#' @param integration \code{"automatic"}, \code{"cube"} (the fixed integration range) or
#'   \code{"fitted"} (a range fitted to the cut-score density).
#' @param design a design.
#' @param ... fields to change, by name.
#' @return \code{traz_design} and \code{traz_update}: a list of class \code{"traz_design"}
#'   holding the fields.
#' @examples
#' d <- traz_design(validities = c(0.5, 0.3), correlations = diag(2), effect_sizes = c(0.8, 0.2),
#'                  weights = c(1, 1), retained = 10, applicants = 50, proportion = 0.3)
#' traz_update(d, retained = 5)
#' @export
traz_design <- function(validities, correlations, effect_sizes, weights, retained, applicants,
                        proportion = 0.5, criterion_effect = 0, groups = 2L, passes = 7L,
                        relerr = 1e-4, maxcls = 100000L, integration = "automatic") {
  .as_design(list(validities = validities, correlations = correlations, effect_sizes = effect_sizes,
                  weights = weights, retained = retained, applicants = applicants,
                  proportion = proportion, criterion_effect = criterion_effect, groups = groups,
                  passes = passes, relerr = relerr, maxcls = maxcls, integration = integration))
}

#' @rdname traz_design
#' @export
traz_update <- function(design, ...) {
  changes <- list(...)
  unknown <- setdiff(names(changes), .fields)
  if (length(unknown) || is.null(names(changes)) && length(changes))
    stop("traz: not a design field: ", paste(unknown, collapse = ", "), call. = FALSE)
  g <- unclass(design)
  if (length(changes)) {
    g[names(changes)] <- changes
    attr(g, "deck_text") <- NULL  # no longer the design of the deck it was read from
  }
  .as_design(g)
}

#' Evaluate selection designs
#'
#' \code{traz_evaluate} computes one design, given by its fields or as a \code{traz_design}
#' (whose fields the other arguments change); \code{traz_evaluate_all} computes a list of designs
#' into a data frame.
#'
#' The results are the expected criterion score of those finally selected (from group 2's mean,
#' in SDs), each group's expected selection rate, the adverse-impact ratio (group 2's rate over
#' group 1's), the impact ratio (the lower rate over the higher), the SD of the average criterion
#' score of those selected and, with one group, the proportion selected; each with its error
#' bound in \code{<name>_error}. A result the design's passes do not give is \code{NA}.
#'
#' @inheritParams traz_design
#' @param validities the predictor validities, or a \code{traz_design}.
#' @return \code{traz_evaluate}: a list of class \code{"traz_result"}: \code{outcome}, each
#'   result and its \code{_error} bound, \code{target_selection_ratio}, \code{mass} (what the
#'   cut-score density integrates to over the integration domain, \code{NA} when not checked),
#'   \code{domain}, \code{worst_status} (the largest integrator status; 0: every pass met its
#'   accuracy), \code{warnings}, \code{library_messages}, \code{passes} (a data frame),
#'   \code{cpu_seconds} and \code{design}.
#'
#' A design that TRAZ refuses, or whose fields do not fit together, raises an error of class
#' \code{"traz_error"} whose message is the command line's and which carries \code{statement},
#' \code{item} and \code{line} (of the deck statement at fault; 0 when none) and \code{outcome}.
#' @examples
#' r <- traz_evaluate(validities = c(0.5, 0.3), correlations = diag(2), effect_sizes = c(0.8, 0.2),
#'                    weights = c(1, 1), retained = 10, applicants = 50, proportion = 0.3)
#' r$expected_criterion_score
#' r$ai_ratio
#' tryCatch(traz_evaluate(traz_update(r$design, retained = 50)),
#'          traz_error = function(e) conditionMessage(e))
#' @export
traz_evaluate <- function(validities, correlations, effect_sizes, weights, retained, applicants,
                          proportion = 0.5, criterion_effect = 0, groups = 2L, passes = 7L,
                          relerr = 1e-4, maxcls = 100000L, integration = "automatic") {
  if (!missing(validities) && inherits(validities, "traz_design")) {
    given <- setdiff(names(match.call())[-1], c("", "validities"))
    design <- do.call(traz_update, c(list(validities), mget(given)))
  } else {
    design <- traz_design(validities, correlations, effect_sizes, weights, retained, applicants,
                          proportion, criterion_effect, groups, passes, relerr, maxcls, integration)
  }
  r <- .traz_evaluate(list(design), 1L)[[1]]
  if (!is.null(r$error)) .traz_stop(r$error)
  .result(r, design)
}

.result <- function(r, design) {
  out <- list(outcome = r$outcome)
  for (q in names(r$values)) {
    out[[q]] <- r$values[[q]]
    out[[paste0(q, "_error")]] <- r$bounds[[q]]
  }
  structure(c(out, r[c("target_selection_ratio", "mass", "domain", "worst_status", "warnings",
                       "library_messages", "passes", "cpu_seconds")], list(design = design)),
            class = "traz_result")
}

#' @rdname traz_evaluate
#' @param designs a list of \code{traz_design}s (its names, if any, become the column
#'   \code{design}).
#' @param jobs threads that evaluate designs side by side.
#' @return \code{traz_evaluate_all}: a data frame with one row per design: \code{outcome}, each
#'   result and its \code{_error} bound, \code{target_selection_ratio}, \code{mass}, \code{domain},
#'   \code{worst_status}, \code{warnings} (joined by "; ") and \code{diagnostic} (why a design
#'   was not computed: its row has \code{NA} results, and no error is raised).
#' @export
traz_evaluate_all <- function(designs, jobs = 1L) {
  if (inherits(designs, "traz_design") || !is.list(designs))
    stop("traz: designs must be a list of traz_design", call. = FALSE)
  designs <- lapply(designs, function(g) if (inherits(g, "traz_design")) g else .as_design(g))
  results <- .traz_evaluate(designs, .check_scalar(jobs, "jobs", whole = TRUE))
  if (!length(results)) return(data.frame())
  out <- .result_columns(results)
  if (!is.null(names(designs))) out <- c(list(design = names(designs)), out)
  as.data.frame(out, stringsAsFactors = FALSE)
}

# The columns of results (as .traz_evaluate gives them), one row each: a result that was not
# computed has NA numbers and its diagnostic.
.result_columns <- function(results) {
  rows <- lapply(results, function(r) {
    if (!is.null(r$error)) {
      values <- stats::setNames(rep(NA_real_, length(.quantities)), .quantities)
      return(c(list(outcome = r$error$outcome), .columns(values, values),
               list(target_selection_ratio = NA_real_, mass = NA_real_, domain = NA_character_,
                    worst_status = NA_integer_, warnings = "", diagnostic = r$error$message)))
    }
    c(list(outcome = r$outcome), .columns(r$values, r$bounds),
      list(target_selection_ratio = r$target_selection_ratio, mass = r$mass, domain = r$domain,
           worst_status = r$worst_status, warnings = paste(r$warnings, collapse = "; "),
           diagnostic = ""))
  })
  columns <- names(rows[[1]])
  lapply(stats::setNames(columns, columns), function(k) unlist(lapply(rows, `[[`, k)))
}

.quantities <- c("expected_criterion_score", "selection_rate_group1", "selection_rate_group2",
                 "ai_ratio", "impact_ratio", "sd_average_criterion_score", "proportion_selected")

.columns <- function(values, bounds) {
  out <- list()
  for (q in .quantities) {
    out[[q]] <- unname(values[[q]])
    out[[paste0(q, "_error")]] <- unname(bounds[[q]])
  }
  out
}

#' Decks
#'
#' \code{traz_read_deck} reads a deck file (the input of the \code{traz} command) into a design;
#' \code{traz_deck} writes a design as deck text.
#'
#' @param path a deck file.
#' @param design a \code{traz_design}.
#' @return \code{traz_read_deck}: a \code{traz_design}; \code{traz_deck}: the deck text (one
#'   string), which \code{traz_read_deck} reads back to the same design.
#'
#' A deck that cannot be read raises an error of class \code{"traz_error"}.
#' @examples
#' d <- traz_design(validities = c(0.5, 0.3), correlations = diag(2), effect_sizes = c(0.8, 0.2),
#'                  weights = c(1, 1), retained = 10, applicants = 50, proportion = 0.3)
#' f <- tempfile(fileext = ".deck")
#' writeLines(traz_deck(d), f, sep = "")
#' identical(unclass(traz_read_deck(f))[1:12], unclass(d)[1:12])
#' @export
traz_read_deck <- function(path) {
  text <- readChar(path, file.size(path), useBytes = TRUE)  # as it is: the lines as traz counts them
  r <- .traz_read_deck(text)
  if (!is.null(r$error)) .traz_stop(r$error)
  g <- r$design
  attr(g, "deck_text") <- text
  .as_design(g)
}

#' @rdname traz_read_deck
#' @export
traz_deck <- function(design) {
  r <- .traz_deck(.as_design(design))
  if (!is.null(r$error)) .traz_stop(r$error)
  r$deck
}

#' @export
print.traz_design <- function(x, ...) {
  cat(sprintf("<traz design: %d predictors, %d stage(s), %d applicants, retained %s>\n",
              length(x$validities), nrow(x$weights), x$applicants,
              paste(x$retained, collapse = ", ")))
  cat(traz_deck(x))
  invisible(x)
}

#' @export
print.traz_result <- function(x, ...) {
  cat("<traz result>\n")
  for (q in .quantities)
    if (!is.na(x[[q]]))
      cat(sprintf("  %-28s %.6f  (error bound %.2g)\n", q, x[[q]], x[[paste0(q, "_error")]]))
  for (w in x$warnings) cat("  warning:", w, "\n")
  invisible(x)
}

#' Simulate selections
#'
#' Draws the selections of a design: replications that each draw a pool of applicants and run
#' the stages, as \code{traz simulate} does. Besides the expectations that
#' \code{\link{traz_evaluate}} integrates (here with Monte Carlo standard errors), it gives what
#' one selection shows: how often the four-fifths rule, Fisher's exact test or the Z test
#' flags it, how often a group has no hire, and quantiles. Pools of up to 1,000,000 applicants,
#' up to 10 stages and 100 predictors.
#'
#' @param design a \code{traz_design}.
#' @param replications the number of replications.
#' @param seed replication r draws from the random stream of (seed, r), so the results do not
#'   depend on \code{jobs}.
#' @param jobs threads (0: every core).
#' @return A list of class \code{"traz_simulation"} with the names of \code{traz simulate
#'   --format csv}: \code{seed}, \code{replications}, then each estimate and its standard error
#'   \code{<name>_se} (\code{NA} where it does not exist): \code{expected_criterion_score},
#'   \code{selection_rate_group1}, \code{selection_rate_group2}, \code{ai_ratio},
#'   \code{impact_ratio} (the mean realised impact ratio), \code{sd_average_criterion_score},
#'   \code{p_four_fifths}, \code{p_fisher}, \code{p_z}, \code{p_both}, \code{p_no_hire_group1},
#'   \code{p_no_hire_group2}, \code{share_undefined}; then the 5, 50 and 95 \% points
#'   \code{mean_criterion_score_q05} ... \code{impact_ratio_q95}, and the counts
#'   \code{undefined_ratio_replications} and \code{z_undefined_replications}.
#'   \code{as.data.frame()} makes it one row. A design the simulation cannot draw raises a
#'   \code{traz_error}.
#' @examples
#' d <- traz_design(validities = c(0.5, 0.3), correlations = diag(2), effect_sizes = c(0.8, 0.2),
#'                  weights = c(1, 1), retained = 10, applicants = 50, proportion = 0.3)
#' s <- traz_simulate(d, replications = 10000, seed = 1, jobs = 2)
#' c(s$p_four_fifths, s$p_four_fifths_se)
#' @export
traz_simulate <- function(design, replications = 100000, seed = 1, jobs = 0L) {
  replications <- .check_scalar(replications, "replications", whole = TRUE)
  seed <- .check_scalar(seed, "seed")
  if (seed < 0 || seed != round(seed) || seed > 2^53)
    stop("traz: seed must be a whole number from 0 to 2^53", call. = FALSE)
  r <- .traz_simulate(.as_design(design), replications, seed, .check_scalar(jobs, "jobs", whole = TRUE))
  if (!is.null(r$error)) .traz_stop(r$error)
  structure(as.list(r$values), class = c("traz_simulation", "list"))
}

#' @export
print.traz_simulation <- function(x, ...) {
  cat(sprintf("<traz simulation: %d replications, seed %.0f>\n", x$replications, x$seed))
  for (q in c("expected_criterion_score", "selection_rate_group1", "selection_rate_group2", "ai_ratio",
              "impact_ratio", "sd_average_criterion_score", "p_four_fifths", "p_fisher", "p_z", "p_both",
              "p_no_hire_group1", "p_no_hire_group2"))
    if (!is.na(x[[q]])) cat(sprintf("  %-28s %.6f  (SE %.2g)\n", q, x[[q]], x[[paste0(q, "_se")]]))
  invisible(x)
}

#' Pareto fronts and comparisons
#'
#' \code{traz_pareto} finds the stage weights with the highest expected criterion score for each
#' impact ratio, as \code{traz pareto} does: the weights of each stage that are not zero in the
#' design are searched (non-negative unless \code{negative_weights}), everything else is kept.
#' Point 1 is the design with the highest expected criterion score, the last point the one with
#' the highest impact ratio. Each point is evaluated over the fitted domain at the design's
#' \code{relerr}. \code{traz_compare} evaluates designs, named A, B, C, ... in order, and says
#' which are dominated: lower than another in both the expected criterion score and the impact
#' ratio by more than the bound of the difference.
#'
#' @param design a \code{traz_design} with two groups and at least 4 passes.
#' @param points points along the front, both ends included.
#' @param negative_weights whether weights may take either sign.
#' @param jobs threads (0: every core); the front does not depend on it.
#' @param designs a list of \code{traz_design}s (its names, if any, become the column
#'   \code{name}).
#' @return \code{traz_pareto}: a data frame with one row per point: \code{point}, the columns
#'   of \code{\link{traz_evaluate_all}}, one column per free weight \code{w(k,i)} (stage k,
#'   predictor i; each stage's weights sum to 1 in absolute value), \code{settled} and
#'   \code{status} (\code{"settled"}, or why the search could not settle the point); its
#'   attribute \code{"designs"} holds each point's \code{traz_design} (\code{NULL} for a point
#'   without one). A design that cannot be searched raises a \code{traz_error}.
#'
#'   \code{traz_compare}: a data frame of class \code{"traz_comparison"} with one row per design:
#'   \code{design} (A, B, ...), the columns of \code{\link{traz_evaluate_all}},
#'   \code{difference_<name>} and \code{difference_<name>_error} (to design A, bounded by the sum
#'   of the two bounds) and \code{dominated_by} (e.g. \code{"A C"}); its attribute
#'   \code{"verdict"} is one line, which \code{print} shows below the table. A design that is
#'   refused is a row with its diagnostic and is left out of the verdict.
#' @examples
#' d <- traz_design(validities = c(0.5, 0.3), correlations = diag(2), effect_sizes = c(0.8, 0.2),
#'                  weights = c(1, 1), retained = 10, applicants = 50, proportion = 0.3)
#' front <- traz_pareto(d, points = 5, jobs = 2)
#' front[c("point", "expected_criterion_score", "impact_ratio", "w(1,1)", "w(1,2)")]
#' traz_compare(list(d, attr(front, "designs")[[3]]))
#' @export
traz_pareto <- function(design, points = 21L, negative_weights = FALSE, jobs = 0L) {
  if (!is.logical(negative_weights) || length(negative_weights) != 1 || is.na(negative_weights))
    stop("traz: negative_weights must be TRUE or FALSE", call. = FALSE)
  r <- .traz_pareto(.as_design(design), .check_scalar(points, "points", whole = TRUE), negative_weights,
                    .check_scalar(jobs, "jobs", whole = TRUE))
  if (!is.null(r$error)) .traz_stop(r$error)
  out <- c(list(point = r$point), .result_columns(r$results),
           as.list(as.data.frame(r$weights, check.names = FALSE)),
           list(settled = r$settled, status = r$status))
  designs <- lapply(r$designs, function(g) if (is.null(g)) NULL else .as_design(g))
  structure(as.data.frame(out, stringsAsFactors = FALSE, check.names = FALSE), designs = designs)
}

#' @rdname traz_pareto
#' @export
traz_compare <- function(designs) {
  if (inherits(designs, "traz_design") || !is.list(designs) || length(designs) < 2)
    stop("traz: designs must be a list of two or more traz_design", call. = FALSE)
  r <- .traz_compare(lapply(designs, .as_design))
  if (!is.null(r$error)) .traz_stop(r$error)
  labels <- LETTERS[(seq_along(designs) - 1) %% 26 + 1]
  out <- c(list(design = labels), if (!is.null(names(designs))) list(name = names(designs)),
           .result_columns(r$results), as.list(as.data.frame(r$differences)),
           list(dominated_by = vapply(r$dominated_by, function(j) paste(labels[j], collapse = " "), "")))
  structure(as.data.frame(out, stringsAsFactors = FALSE), verdict = r$verdict,
            class = c("traz_comparison", "data.frame"))
}

#' @export
print.traz_comparison <- function(x, ...) {
  print(structure(x, class = "data.frame", verdict = NULL), ...)
  if (!is.null(attr(x, "verdict"))) cat("\n", attr(x, "verdict"), "\n", sep = "")
  invisible(x)
}
