// The R package's bridge to the TRAZ library: designs as R lists (see R/traz.R) in, results
// as R lists out. Faults come back as a list(error = ...) that R turns into a condition of
// class "traz_error", so no C++ exception or R error jumps across the other's frames.
#include <Rcpp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "traz/traz.hpp"

namespace {

const char* const kQuantities[] = {"expected_criterion_score", "selection_rate_group1", "selection_rate_group2",
                                   "ai_ratio", "impact_ratio", "sd_average_criterion_score", "proportion_selected"};
traz::Bounded traz::Result::* const kMembers[] = {
    &traz::Result::expected_criterion_score, &traz::Result::selection_rate_group1,
    &traz::Result::selection_rate_group2,    &traz::Result::ai_ratio,
    &traz::Result::impact_ratio,             &traz::Result::sd_average_criterion_score,
    &traz::Result::proportion_selected};
constexpr int kCount = 7;

Rcpp::List error_list(const traz::Diagnostic& d, const std::string& outcome) {
    return Rcpp::List::create(Rcpp::Named("message") = d.message, Rcpp::Named("statement") = d.statement,
                              Rcpp::Named("item") = d.item, Rcpp::Named("line") = d.line,
                              Rcpp::Named("outcome") = outcome);
}

Rcpp::List failed(const traz::Diagnostic& d, const std::string& outcome) {
    return Rcpp::List::create(Rcpp::Named("error") = error_list(d, outcome));
}

traz::Integration integration_of(const std::string& s) {
    if (s == "cube") return traz::Integration::cube;
    if (s == "fitted") return traz::Integration::fitted;
    return traz::Integration::automatic;
}

std::string integration_name(traz::Integration i) {
    return i == traz::Integration::cube ? "cube" : i == traz::Integration::fitted ? "fitted" : "automatic";
}

std::vector<double> numbers(SEXP x) { return Rcpp::as<std::vector<double>>(x); }

// The design of an R design list (R/traz.R has checked the kinds of its fields). A design
// read from a deck and left as it was keeps the deck's lines, so that refusals name them.
traz::Design design_of(const Rcpp::List& g) {
    traz::Design d;
    d.validities = numbers(g["validities"]);
    const Rcpp::NumericMatrix c = g["correlations"];
    d.correlations.assign(static_cast<std::size_t>(c.nrow()), std::vector<double>(static_cast<std::size_t>(c.ncol())));
    for (int i = 0; i < c.nrow(); ++i)
        for (int j = 0; j < c.ncol(); ++j) d.correlations[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = c(i, j);
    d.effect_sizes = numbers(g["effect_sizes"]);
    const Rcpp::NumericMatrix w = g["weights"];
    const Rcpp::IntegerVector retained = g["retained"];
    std::vector<std::vector<double>> rows(static_cast<std::size_t>(w.nrow()));
    for (int j = 0; j < w.nrow(); ++j)
        for (int i = 0; i < w.ncol(); ++i) rows[static_cast<std::size_t>(j)].push_back(w(j, i));
    d.stages = traz::stages_of(rows, Rcpp::as<std::vector<int>>(retained));
    d.applicants = Rcpp::as<int>(g["applicants"]);
    d.groups = Rcpp::as<int>(g["groups"]);
    d.proportion = Rcpp::as<double>(g["proportion"]);
    d.criterion_effect = Rcpp::as<double>(g["criterion_effect"]);
    d.passes = Rcpp::as<int>(g["passes"]);
    d.relerr = Rcpp::as<double>(g["relerr"]);
    d.maxcls = Rcpp::as<int>(g["maxcls"]);
    d.integration = integration_of(Rcpp::as<std::string>(g["integration"]));
    const SEXP text = g.attr("deck_text");
    if (!Rf_isNull(text)) {
        traz::Design read = traz::Design::from_deck(Rcpp::as<std::string>(text));
        read.integration = d.integration;
        if (read.to_deck() == d.to_deck()) return read;
    }
    return d;
}

Rcpp::NumericMatrix matrix_of(const std::vector<std::vector<double>>& rows, std::size_t cols) {
    Rcpp::NumericMatrix m(static_cast<int>(rows.size()), static_cast<int>(cols));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < cols; ++j) m(static_cast<int>(i), static_cast<int>(j)) = rows[i][j];
    return m;
}

Rcpp::List list_of(const traz::Design& d) {
    std::vector<std::vector<double>> weights;
    std::vector<int> retained;
    for (const traz::Stage& s : d.stages) {
        weights.push_back(s.weights);
        retained.push_back(s.retained);
    }
    const std::size_t npred = d.validities.size();
    return Rcpp::List::create(
        Rcpp::Named("validities") = d.validities, Rcpp::Named("correlations") = matrix_of(d.correlations, npred),
        Rcpp::Named("effect_sizes") = d.effect_sizes, Rcpp::Named("weights") = matrix_of(weights, npred),
        Rcpp::Named("retained") = retained, Rcpp::Named("applicants") = d.applicants,
        Rcpp::Named("proportion") = d.proportion, Rcpp::Named("criterion_effect") = d.criterion_effect,
        Rcpp::Named("groups") = d.groups, Rcpp::Named("passes") = d.passes, Rcpp::Named("relerr") = d.relerr,
        Rcpp::Named("maxcls") = d.maxcls, Rcpp::Named("integration") = integration_name(d.integration));
}

double na_if_nan(double x) { return std::isnan(x) ? NA_REAL : x; }

Rcpp::DataFrame passes_of(const traz::Result& r) {
    const std::size_t n = r.passes.size();
    Rcpp::IntegerVector pass(n), selector(n), status(n);
    Rcpp::NumericVector result(n), error(n), evaluations(n);
    Rcpp::CharacterVector integrates(n);
    for (std::size_t k = 0; k < n; ++k) {
        const traz::PassResult& p = r.passes[k];
        pass[k] = p.pass, selector[k] = p.selector, status[k] = p.status;
        result[k] = na_if_nan(p.result), error[k] = na_if_nan(p.error_estimate);
        evaluations[k] = static_cast<double>(p.evaluations);
        integrates[k] = p.integrates;
    }
    return Rcpp::DataFrame::create(Rcpp::Named("pass") = pass, Rcpp::Named("selector") = selector,
                                   Rcpp::Named("integrates") = integrates, Rcpp::Named("result") = result,
                                   Rcpp::Named("error_estimate") = error, Rcpp::Named("evaluations") = evaluations,
                                   Rcpp::Named("status") = status, Rcpp::Named("stringsAsFactors") = false);
}

// Why a result that was not computed has no numbers.
traz::Diagnostic failure_of(const traz::Result& r) {
    traz::Diagnostic d = r.diagnostic;
    if (d.message.empty() && r.outcome == "fatal_library_error")
        d.message = "a library routine failed fatally: " + r.library_messages;
    if (d.message.empty()) d.message = "the design was not computed (" + r.outcome + ")";
    return d;
}

Rcpp::List result_list(const traz::Result& r) {
    if (!r.ok()) return failed(failure_of(r), r.outcome);
    Rcpp::NumericVector values(kCount), bounds(kCount);
    Rcpp::CharacterVector names(kCount);
    for (int k = 0; k < kCount; ++k) {
        values[k] = na_if_nan((r.*kMembers[k]).value);
        bounds[k] = na_if_nan((r.*kMembers[k]).error_bound);
        names[k] = kQuantities[k];
    }
    values.names() = names;
    bounds.names() = names;
    int worst = 0;
    for (const traz::PassResult& p : r.passes) worst = std::max(worst, p.status);
    return Rcpp::List::create(
        Rcpp::Named("outcome") = r.outcome, Rcpp::Named("values") = values, Rcpp::Named("bounds") = bounds,
        Rcpp::Named("target_selection_ratio") = r.target_selection_ratio,
        Rcpp::Named("mass") = r.mass_checked ? r.mass : NA_REAL, Rcpp::Named("domain") = r.domain,
        Rcpp::Named("worst_status") = worst, Rcpp::Named("warnings") = r.warnings,
        Rcpp::Named("library_messages") = r.library_messages, Rcpp::Named("passes") = passes_of(r),
        Rcpp::Named("cpu_seconds") = r.cpu_seconds);
}

} // namespace

// Evaluates a list of designs on `jobs` threads; one result list (or list(error = ...)) each.
// [[Rcpp::export(.traz_evaluate)]]
Rcpp::List traz_evaluate_designs(Rcpp::List designs, int jobs) {
    const std::size_t n = static_cast<std::size_t>(designs.size());
    std::vector<traz::Design> d(n);
    std::vector<traz::Result> results(n);
    std::vector<traz::Diagnostic> misfit(n);
    std::vector<char> fits(n, 1);
    for (std::size_t k = 0; k < n; ++k) {
        try {
            d[k] = design_of(designs[static_cast<R_xlen_t>(k)]);
        } catch (const traz::Error& e) {
            misfit[k] = e.diagnostic(), fits[k] = 0;
        }
    }
    // No R call below until the threads are done: they see C++ data only.
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t k; (k = next.fetch_add(1)) < n;) {
            if (!fits[k]) continue;
            try {
                results[k] = traz::evaluate(d[k]);
            } catch (const traz::Error& e) {
                misfit[k] = e.diagnostic(), fits[k] = 0;
            }
        }
    };
    const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), std::max<std::size_t>(n, 1));
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();

    Rcpp::List out(static_cast<R_xlen_t>(n));
    for (std::size_t k = 0; k < n; ++k)
        out[static_cast<R_xlen_t>(k)] = fits[k] ? result_list(results[k]) : failed(misfit[k], "design");
    return out;
}

// The design of deck text, or list(error = ...).
// [[Rcpp::export(.traz_read_deck)]]
Rcpp::List traz_read_deck_text(std::string text) {
    try {
        Rcpp::List g = list_of(traz::Design::from_deck(text));
        return Rcpp::List::create(Rcpp::Named("design") = g);
    } catch (const traz::Error& e) {
        return failed(e.diagnostic(), "bad_deck");
    }
}

// The deck text of a design, or list(error = ...).
// [[Rcpp::export(.traz_deck)]]
Rcpp::List traz_deck_text(Rcpp::List design) {
    try {
        return Rcpp::List::create(Rcpp::Named("deck") = design_of(design).to_deck());
    } catch (const traz::Error& e) {
        return failed(e.diagnostic(), "design");
    }
}

namespace {

const char* const kSimulated[] = {"expected_criterion_score", "selection_rate_group1", "selection_rate_group2",
                                  "ai_ratio", "impact_ratio", "sd_average_criterion_score", "p_four_fifths",
                                  "p_fisher", "p_z", "p_both", "p_no_hire_group1", "p_no_hire_group2",
                                  "share_undefined"};
traz::Estimate traz::Simulation::* const kSimulatedMembers[] = {
    &traz::Simulation::expected_criterion_score, &traz::Simulation::selection_rate_group1,
    &traz::Simulation::selection_rate_group2,    &traz::Simulation::ai_ratio,
    &traz::Simulation::impact_ratio,             &traz::Simulation::sd_average_criterion_score,
    &traz::Simulation::p_four_fifths,            &traz::Simulation::p_fisher,
    &traz::Simulation::p_z,                      &traz::Simulation::p_both,
    &traz::Simulation::p_no_hire_group1,         &traz::Simulation::p_no_hire_group2,
    &traz::Simulation::share_undefined};

std::string weight_name(const traz::FreeWeight& f) {
    return "w(" + std::to_string(f.stage) + "," + std::to_string(f.predictor) + ")";
}

} // namespace

// Simulates a design: list(values = the named numbers of traz simulate's CSV but the deck), or
// list(error = ...).
// [[Rcpp::export(.traz_simulate)]]
Rcpp::List traz_simulate_design(Rcpp::List design, double replications, double seed, int jobs) {
    traz::Simulation s;
    try {
        const traz::Design d = design_of(design);
        traz::SimulationRequest request;
        request.replications = static_cast<long long>(replications);
        request.seed = static_cast<unsigned long long>(seed);
        request.jobs = jobs;
        s = traz::simulate(d, request);
    } catch (const traz::Error& e) {
        return failed(e.diagnostic(), "design");
    }
    std::vector<double> values{seed, static_cast<double>(s.replications)};
    std::vector<std::string> names{"seed", "replications"};
    for (std::size_t k = 0; k < std::size(kSimulated); ++k) {
        values.push_back(na_if_nan((s.*kSimulatedMembers[k]).value));
        values.push_back(na_if_nan((s.*kSimulatedMembers[k]).se));
        names.push_back(kSimulated[k]);
        names.push_back(std::string(kSimulated[k]) + "_se");
    }
    const char* const suffix[3] = {"_q05", "_q50", "_q95"};
    for (int q = 0; q < 3; ++q) {
        values.push_back(na_if_nan(s.criterion_quantiles[q]));
        names.push_back(std::string("mean_criterion_score") + suffix[q]);
    }
    for (int q = 0; q < 3; ++q) {
        values.push_back(na_if_nan(s.impact_ratio_quantiles[q]));
        names.push_back(std::string("impact_ratio") + suffix[q]);
    }
    values.push_back(static_cast<double>(s.undefined));
    names.push_back("undefined_ratio_replications");
    values.push_back(static_cast<double>(s.z_undefined));
    names.push_back("z_undefined_replications");
    Rcpp::NumericVector out = Rcpp::wrap(values);
    out.names() = Rcpp::wrap(names);
    return Rcpp::List::create(Rcpp::Named("values") = out);
}

// The Pareto front of a design's stage weights: list(point, results (as .traz_evaluate's),
// weights (a matrix, one column per free weight), settled, status, designs (NULL for a point
// without a design)), or list(error = ...).
// [[Rcpp::export(.traz_pareto)]]
Rcpp::List traz_pareto_design(Rcpp::List design, int points, bool negative_weights, int jobs) {
    traz::ParetoFront front;
    try {
        traz::ParetoRequest request;
        request.points = points;
        request.negative_weights = negative_weights;
        request.jobs = jobs;
        front = traz::pareto(design_of(design), request);
    } catch (const traz::Error& e) {
        return failed(e.diagnostic(), "design");
    }
    const std::size_t n = front.points.size(), m = front.free_weights.size();
    Rcpp::IntegerVector point(n);
    Rcpp::List results(n), designs(n);
    Rcpp::NumericMatrix weights(static_cast<int>(n), static_cast<int>(m));
    Rcpp::LogicalVector settled(n);
    Rcpp::CharacterVector status(n), names(m);
    for (std::size_t k = 0; k < m; ++k) names[k] = weight_name(front.free_weights[k]);
    for (std::size_t i = 0; i < n; ++i) {
        const traz::ParetoPoint& p = front.points[i];
        point[i] = p.point;
        results[i] = result_list(p.result);
        for (std::size_t k = 0; k < m; ++k)
            weights(static_cast<int>(i), static_cast<int>(k)) = k < p.weights.size() ? p.weights[k] : NA_REAL;
        settled[i] = p.settled;
        status[i] = p.status;
        if (!p.weights.empty()) designs[i] = list_of(p.design);
    }
    Rcpp::colnames(weights) = names;
    return Rcpp::List::create(Rcpp::Named("point") = point, Rcpp::Named("results") = results,
                              Rcpp::Named("weights") = weights, Rcpp::Named("settled") = settled,
                              Rcpp::Named("status") = status, Rcpp::Named("designs") = designs);
}

// Compares designs: list(results (as .traz_evaluate's), differences (a matrix, one row per
// design: each quantity's difference to the first and its bound), dominated_by (the 1-based
// designs that dominate each), verdict), or list(error = ...).
// [[Rcpp::export(.traz_compare)]]
Rcpp::List traz_compare_designs(Rcpp::List designs) {
    traz::Comparison c;
    try {
        std::vector<traz::Design> d;
        for (R_xlen_t k = 0; k < designs.size(); ++k) d.push_back(design_of(designs[k]));
        c = traz::compare(d);
    } catch (const traz::Error& e) {
        return failed(e.diagnostic(), "design");
    }
    using Q = traz::Comparison::Quantities;
    const traz::Bounded Q::* const members[] = {&Q::expected_criterion_score, &Q::selection_rate_group1,
                                                &Q::selection_rate_group2,    &Q::ai_ratio,
                                                &Q::impact_ratio,             &Q::sd_average_criterion_score};
    const std::size_t n = c.results.size(), m = std::size(members);
    Rcpp::List results(n), dominated_by(n);
    Rcpp::NumericMatrix differences(static_cast<int>(n), static_cast<int>(2 * m));
    Rcpp::CharacterVector names(2 * m);
    for (std::size_t k = 0; k < m; ++k) {
        names[2 * k] = std::string("difference_") + kQuantities[k];
        names[2 * k + 1] = std::string("difference_") + kQuantities[k] + "_error";
    }
    for (std::size_t i = 0; i < n; ++i) {
        results[i] = result_list(c.results[i]);
        for (std::size_t k = 0; k < m; ++k) {
            differences(static_cast<int>(i), static_cast<int>(2 * k)) = na_if_nan((c.differences[i].*members[k]).value);
            differences(static_cast<int>(i), static_cast<int>(2 * k + 1)) = na_if_nan((c.differences[i].*members[k]).error_bound);
        }
        std::vector<int> by;
        for (int j : c.dominated_by[i]) by.push_back(j + 1);
        dominated_by[i] = Rcpp::wrap(by);
    }
    Rcpp::colnames(differences) = names;
    return Rcpp::List::create(Rcpp::Named("results") = results, Rcpp::Named("differences") = differences,
                              Rcpp::Named("dominated_by") = dominated_by, Rcpp::Named("verdict") = c.verdict);
}
