# The R package: designs read, built and written back give the same numbers, on threads too;
# errors carry the command line's message and place; the README's example gives the numbers of
# `traz --format json` (when TRAZ_SOURCE_DIR and TRAZ_BIN name the repository and the command,
# as `make test` does).

deck <- test_path("two-stage.deck")
quantities <- c("expected_criterion_score", "selection_rate_group1", "selection_rate_group2",
                "ai_ratio", "impact_ratio", "sd_average_criterion_score", "proportion_selected")
columns <- c(quantities, paste0(quantities, "_error"), "target_selection_ratio", "mass")

test_that("designs read, built and written back give the same numbers, one at a time or on threads", {
  read <- traz_read_deck(deck)
  built <- traz_design(read$validities, read$correlations, read$effect_sizes, read$weights,
                       retained = c(30, 10), applicants = 100, proportion = 0.75,
                       criterion_effect = 0.3)
  again <- tempfile(fileext = ".deck")
  writeLines(traz_deck(built), again, sep = "")
  r <- traz_evaluate(read)
  expect_equal(r$outcome, "computed")
  for (other in list(traz_evaluate(built), traz_evaluate(traz_read_deck(again))))
    expect_identical(unlist(other[columns]), unlist(r[columns]))

  designs <- lapply(c(0.3, 0.5, 0.75, 0.9), function(p) traz_update(read, proportion = p))
  one_by_one <- do.call(rbind, lapply(designs, function(d) unlist(traz_evaluate(d)[columns])))
  threads <- traz_evaluate_all(designs, jobs = 4)
  expect_identical(as.matrix(threads[columns]), one_by_one)
  expect_identical(traz_evaluate(read, proportion = 0.5)$ai_ratio, threads$ai_ratio[2])
})

test_that("errors carry the message and the place of the fault", {
  bad <- tempfile(fileext = ".deck")
  writeLines(sub("30 10", "100 10", readLines(deck)), bad)
  e <- tryCatch(traz_evaluate(traz_read_deck(bad)), traz_error = function(e) e)
  expect_s3_class(e, "traz_error")
  expect_match(conditionMessage(e), "item 4 on line 1: stage 1 keeps all 100 applicants", fixed = TRUE)
  expect_equal(c(e$statement, e$item, e$line), c(1, 4, 1))
  expect_equal(e$outcome, "refused")

  d <- traz_read_deck(deck)
  e <- tryCatch(traz_evaluate(d, retained = c(100, 10)), traz_error = function(e) e)
  expect_equal(c(e$statement, e$item, e$line), c(1, 4, 0))
  expect_no_match(conditionMessage(e), "line")
  expect_error(traz_evaluate(d, weights = rbind(1:4, 1:4, 1:4)), "3 stage\\(s\\) of weights but 2",
               class = "traz_error")
  expect_error(traz_evaluate(d, effect_sizes = 1:3), "3 effect sizes for 4 predictors", class = "traz_error")
  writeLines("4 2 x", bad)
  expect_error(traz_read_deck(bad), "expected an integer, found \"x\" on line 1", class = "traz_error")
  expect_error(traz_update(d, retained = c(30, 10.5)), "retained must be whole numbers")

  rows <- traz_evaluate_all(list(ok = d, refused = traz_update(d, retained = c(100, 10))))
  expect_equal(rows$design, c("ok", "refused"))
  expect_equal(rows$outcome, c("computed", "refused"))
  expect_true(is.na(rows$ai_ratio[2]) && grepl("keeps all 100", rows$diagnostic[2]))
})

test_that("the README's example gives the numbers of traz --format json", {
  source_dir <- Sys.getenv("TRAZ_SOURCE_DIR")
  traz_bin <- Sys.getenv("TRAZ_BIN")
  skip_if(source_dir == "" || traz_bin == "", "TRAZ_SOURCE_DIR and TRAZ_BIN are not set")
  skip_if_not_installed("jsonlite")
  readme <- paste(readLines(file.path(source_dir, "README.md")), collapse = "\n")
  section <- strsplit(readme, "## From R", fixed = TRUE)[[1]][2]
  code <- regmatches(section, regexpr("```r\n(.*?)```", section))
  code <- sub("```$", "", sub("^```r\n", "", code))

  dir <- tempfile()
  dir.create(dir)
  old <- setwd(dir)
  on.exit(setwd(old))
  example <- new.env()
  capture.output(eval(parse(text = code), envir = example))
  expect_gt(file.size("weights-r.png"), 10000)

  results <- example$results
  expect_equal(nrow(results), 11)
  for (i in seq_along(example$designs)) {
    writeLines(traz_deck(example$designs[[i]]), "design.deck", sep = "")
    printed <- jsonlite::fromJSON(system2(traz_bin, c("--format", "json", "design.deck"), stdout = TRUE),
                                  simplifyVector = FALSE)$results
    for (q in setdiff(quantities, "impact_ratio")) {
      if (is.null(printed[[q]])) {
        expect_true(is.na(results[[q]][i]))
      } else {
        expect_identical(results[[q]][i], printed[[q]]$value, label = paste(q, i))
        expect_identical(results[[paste0(q, "_error")]][i], printed[[q]]$error_bound, label = paste(q, i))
      }
    }
    expect_identical(results$target_selection_ratio[i], printed$target_selection_ratio)
  }
})

# What `traz ARGS --format json` prints for decks of the designs (NULL when TRAZ_BIN is not set).
command_line_json <- function(args, designs) {
  traz_bin <- Sys.getenv("TRAZ_BIN")
  if (traz_bin == "" || !requireNamespace("jsonlite", quietly = TRUE)) return(NULL)
  decks <- vapply(designs, function(d) {
    f <- tempfile(fileext = ".deck")
    writeLines(traz_deck(d), f, sep = "")
    f
  }, "")
  # A refused design makes the exit status 1: not a failure here.
  out <- suppressWarnings(system2(traz_bin, c(args[1], decks, args[-1], "--format", "json"), stdout = TRUE,
                                  stderr = FALSE))
  jsonlite::fromJSON(out, simplifyVector = FALSE)
}
value_of <- function(x) if (is.null(x)) NA_real_ else as.numeric(x)

test_that("a simulation is the same on any threads, agrees with the integration and is traz simulate's", {
  d <- traz_read_deck(deck)
  one <- traz_simulate(d, replications = 20000, seed = 7, jobs = 1)
  expect_identical(traz_simulate(d, replications = 20000, seed = 7, jobs = 2), one)
  exact <- traz_evaluate(d)
  for (q in c("expected_criterion_score", "selection_rate_group1", "selection_rate_group2", "ai_ratio",
              "sd_average_criterion_score"))
    expect_lt(abs(one[[q]] - exact[[q]]), 4 * one[[paste0(q, "_se")]], label = q)
  expect_error(traz_simulate(d, replications = 0), "0 replications", class = "traz_error")

  printed <- command_line_json(c("simulate", "--replications", "20000", "--seed", "7"), list(d))
  skip_if(is.null(printed), "TRAZ_BIN is not set")
  for (q in names(printed$results)) expect_identical(one[[q]], value_of(printed$results[[q]]), label = q)
  expect_identical(c(one$impact_ratio_q05, one$impact_ratio_q50, one$impact_ratio_q95),
                   unlist(printed$quantiles$impact_ratio))
})

test_that("a Pareto front runs from the highest score to the highest impact ratio as traz pareto's", {
  d <- traz_read_deck(deck)
  front <- traz_pareto(d, points = 5, jobs = 2)
  expect_equal(front$point, 1:5)
  expect_true(all(front$settled) && all(front$status == "settled"))
  expect_equal(which.max(front$expected_criterion_score), 1)
  expect_equal(which.max(front$impact_ratio), 5)
  middle <- traz_evaluate(attr(front, "designs")[[3]])
  expect_identical(unlist(middle[columns]), unlist(front[3, columns]))
  expect_error(traz_pareto(traz_update(d, passes = 3)), "at least 4 passes", class = "traz_error")

  printed <- command_line_json(c("pareto", "--points", "5"), list(d))
  skip_if(is.null(printed), "TRAZ_BIN is not set")
  for (i in 1:5) {
    row <- printed$rows[[i]]
    for (w in names(row$weights)) expect_identical(front[[w]][i], row$weights[[w]], label = paste(w, i))
    for (q in setdiff(quantities, "impact_ratio")) {
      expect_identical(front[[q]][i], value_of(row$results[[q]]$value), label = paste(q, i))
      expect_identical(front[[paste0(q, "_error")]][i], value_of(row$results[[q]]$error_bound), label = paste(q, i))
    }
  }
})

test_that("a comparison gives traz compare's differences, dominance and verdict", {
  a <- traz_read_deck(deck)
  designs <- list(a, traz_update(a, weights = rbind(c(1, 1, 0, 0), c(1, 0, 0, 0))),
                  traz_update(a, weights = rbind(c(1, 1, 0, 0), c(0, 0, 1, 1))),
                  traz_update(a, retained = c(100, 10)))
  cmp <- traz_compare(designs)
  expect_equal(cmp$design, c("A", "B", "C", "D"))
  expect_equal(cmp$dominated_by, c("", "A C", "", ""))
  expect_match(attr(cmp, "verdict"), "^B is dominated by A and C")
  expect_equal(cmp$outcome[4], "refused")
  expect_identical(cmp$expected_criterion_score[1:3],
                   traz_evaluate_all(designs[1:3])$expected_criterion_score)

  printed <- command_line_json("compare", designs)
  skip_if(is.null(printed), "TRAZ_BIN is not set")
  expect_identical(attr(cmp, "verdict"), printed$verdict)
  for (i in 1:4) {
    expect_identical(cmp$dominated_by[i], paste(unlist(printed$designs[[i]]$dominated_by), collapse = " "))
    for (q in names(printed$designs[[i]]$difference_to_A)) {
      b <- printed$designs[[i]]$difference_to_A[[q]]
      expect_identical(cmp[[paste0("difference_", q)]][i], value_of(b$value), label = paste(q, i))
      expect_identical(cmp[[paste0("difference_", q, "_error")]][i], value_of(b$error_bound), label = paste(q, i))
    }
  }
})
