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
