// Accuracy and cost of the integrations over a sweep of two- and three-stage problems: every
// deck runs over the classic cube, over the fitted domain pass by pass with the adaptive
// cubature (the fitted method before the rule), and over the fitted domain with the rule in
// the fitted coordinates (--fitted); all are compared with an iterated Gauss-Legendre
// reference (two rule orders, whose difference shows how far the reference itself has
// converged). The decks are in decks.hpp.
//   bench_accuracy [--nodes N] [--only NAME]
//   bench_accuracy --reference-check [--only NAME]   (the reference's change from 32 to 96 points)
// Prints the accuracy table (with, for --fitted, whether every error bound holds the reference
// and how the passes were integrated), the acceptance counts, the fallbacks and the median
// points, then the cost table (CPU seconds of the three, integrand evaluations) and the totals.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "deck/deck.hpp"
#include "evaluate/evaluate.hpp"
#include "evaluate/record.hpp"
#include "model/state.hpp"
#include "views/report.hpp"
#include "decks.hpp"
#include "tensor_reference.hpp"

namespace {

using traz::benchdecks::Case;
using traz::benchdecks::sweep;

// The classic cube alone (--domain cube), the fitted domain pass by pass, the fitted rule
// (--fitted), and the default: the cube, recomputed over the fitted domain when it loses density.
enum class Mode { cube, adaptive, rule, automatic };

struct Outcome {
    traz::RunRecord rec;
    double cpu = 0.0;
};

Outcome run(const std::string& deck, Mode mode) {
    Outcome o;
    traz::RunOptions opt;
    opt.fitted = mode == Mode::adaptive || mode == Mode::rule;
    opt.fitted_adaptive = mode == Mode::adaptive;
    opt.cube_only = mode == Mode::cube;
    const float t0 = traz::cpu_seconds();
    traz::compute(deck, o.rec, opt);
    o.cpu = traz::cpu_seconds() - t0;
    return o;
}

// The reference of a deck.
traz::tensorref::Reference reference(const std::string& deck, int nodes) {
    bool ok = false;
    const traz::tensorref::Reference ref = traz::tensorref::tensor_reference(deck, nodes, ok);
    if (!ok) {
        std::fprintf(stderr, "bench_accuracy: a deck of the sweep cannot be read\n");
        std::exit(1);
    }
    return ref;
}

struct Deviation {
    bool computed = false;
    double worst = 0.0;  // largest absolute deviation of E, R1, R2, SD
    double ai = 0.0;     // relative deviation of the AI ratio
    double mass = 0.0;   // mass - 1
    int ifail = 0;       // largest status of the passes
    long evals = 0;      // integrand evaluations of the passes (a fitted rule's points once)
    bool bounds = true;  // every reported error bound holds the reference
    bool ok() const { return computed && worst <= 2e-5 && ai <= 3e-4 && std::fabs(mass) <= 5e-6 && ifail == 0; }
};

Deviation compare(const traz::RunRecord& rec, const traz::tensorref::Reference& ref) {
    Deviation d;
    d.computed = rec.outcome == traz::Outcome::computed;
    if (!d.computed) return d;
    const traz::Results& r = rec.results;
    const traz::BoundedResult* q[6] = {&r.criterion, &r.rate1, &r.rate2, &r.ai, &r.sd, &r.impact};
    const double refs[6] = {ref.E, ref.R1, ref.R2, ref.AI, ref.SD,
                            std::fmin(ref.R1, ref.R2) / std::fmax(ref.R1, ref.R2)};
    for (int i = 0; i < 6; ++i) {
        const double dev = q[i]->value - refs[i];
        if (i != 3 && i != 5) d.worst = std::fmax(d.worst, std::isnan(dev) ? INFINITY : std::fabs(dev));
        d.bounds = d.bounds && std::fabs(dev) <= q[i]->error;
    }
    d.ai = std::fabs(r.ai.value / ref.AI - 1.0);
    if (std::isnan(d.ai)) d.ai = INFINITY;
    d.mass = rec.mass.mass - 1.0;
    for (const traz::PassRecord& p : rec.passes) {
        d.ifail = std::max(d.ifail, p.status);
        d.evals += p.evaluations;
    }
    if (rec.integration.used) d.evals = rec.integration.points;
    return d;
}

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// "how": the rule's level and points, or the fallback's integrator.
std::string how(const traz::RunRecord& rec) {
    const traz::FittedIntegration& fi = rec.integration;
    if (!fi.used) return rec.domain.fitted ? "pass by pass" : "fit failed";
    char buf[96];
    if (fi.fallback.empty())
        std::snprintf(buf, sizeof buf, "rule %d, %ld pts", fi.level, fi.points);
    else
        std::snprintf(buf, sizeof buf, "%s after level %d, %ld pts", fi.integrator.c_str(), fi.level, fi.points);
    return buf;
}

// The default mode on one deck: its deviations, whether it was recomputed over the fitted
// domain and said so in the report and the warnings, and whether --domain cube's bounds
// (widened by the fitted run where the cube lost density) hold the reference.
struct DefaultRow {
    std::string name;
    Deviation dev;
    bool beyond_limits = false;  // more than 100 applicants: the classic limit refuses it
    bool refused = false;        // refused otherwise
    double lost = NAN;           // what the cube lost, when the passes were recomputed
    bool said = false;           // the report line and the warning name the recomputation
    double cpu = 0.0;
    bool cube_bounds = true;     // --domain cube's bounds hold the reference
    bool cube_kept = false;      // --domain cube kept results of a cube that lost density
    bool ok() const { return dev.computed && dev.worst <= 5e-5 && dev.ai <= 3e-4; }
};

DefaultRow default_row(const std::string& name, const Outcome& o, const Deviation& cube, const traz::RunRecord& cube_rec,
                       const traz::tensorref::Reference& ref) {
    DefaultRow row;
    row.name = name;
    row.dev = compare(o.rec, ref);
    row.cpu = o.cpu;
    row.beyond_limits = o.rec.outcome == traz::Outcome::limits_refused;
    row.refused = !row.dev.computed && !row.beyond_limits;
    row.lost = o.rec.cube_lost;
    if (!std::isnan(row.lost)) {
        const std::string words = "integration domain: " + traz::domain_fallback_words(row.lost);
        std::FILE* f = std::tmpfile();
        traz::write_report(f, o.rec);
        std::rewind(f);
        std::string report;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) report.append(buf, n);
        std::fclose(f);
        row.said = report.find("\n   " + words + "\n") != std::string::npos &&
                   std::find(o.rec.warnings.begin(), o.rec.warnings.end(), words) != o.rec.warnings.end();
    }
    row.cube_bounds = !cube.computed || cube.bounds;
    row.cube_kept = cube_rec.cube_kept;
    return row;
}

void print_defaults(const std::vector<DefaultRow>& rows) {
    std::printf("\nThe default mode (the cube, every pass recomputed over the fitted domain when the cube loses\n"
                "density) against the reference: dev and AI as above (within 5e-5 and 3e-4 relative: ok); bd:\n"
                "every error bound holds the reference; domain: what the results come from; cube bd: the\n"
                "bounds of --domain cube (widened by the fitted run where the cube lost density) hold it.\n\n");
    std::printf("%-19s | %8s %8s %2s %2s | %-38s | %7s | %7s\n", "deck", "dev", "AI", "ok", "bd", "domain", "cube bd",
                "cpu s");
    int computed = 0, ok = 0, bounds = 0, recomputed = 0, said = 0, refused = 0, beyond = 0, cube_bounds = 0, kept = 0;
    double worst = 0.0, worst_ai = 0.0;
    for (const DefaultRow& r : rows) {
        if (r.beyond_limits || r.refused) {
            std::printf("%-19s | %-61s |\n", r.name.c_str(),
                        r.beyond_limits ? "beyond the classic limit of 100 applicants (--fitted computes it)"
                                        : "REFUSED");
            beyond += r.beyond_limits;
            refused += r.refused;
            continue;
        }
        char domain[64];
        if (std::isnan(r.lost)) std::snprintf(domain, sizeof domain, "cube");
        else std::snprintf(domain, sizeof domain, "fitted, the cube lost %.1e%s", r.lost, r.said ? "" : " (NOT SAID)");
        std::printf("%-19s | %8.2e %8.2e %2s %2s | %-38s | %7s | %7.3f\n", r.name.c_str(), r.dev.worst, r.dev.ai,
                    r.ok() ? "y" : "n", r.dev.bounds ? "y" : "n", domain,
                    r.cube_kept ? (r.cube_bounds ? "y (w)" : "n (w)") : (r.cube_bounds ? "y" : "n"), r.cpu);
        ++computed;
        ok += r.ok();
        bounds += r.dev.bounds;
        recomputed += !std::isnan(r.lost);
        said += !std::isnan(r.lost) && r.said;
        cube_bounds += r.cube_bounds;
        kept += r.cube_kept;
        worst = std::fmax(worst, r.dev.worst);
        worst_ai = std::fmax(worst_ai, r.dev.ai);
    }
    std::printf("\nDefault mode over %zu decks: %d refused that it could compute, %d beyond the classic limit of 100 "
                "applicants.\nOf the %d computed: %d within 5e-5 (AI 3e-4 relative), worst %.2e (AI %.2e); every error "
                "bound holding the reference on %d;\nrecomputed over the fitted domain %d (the report and the warnings "
                "say so on %d). --domain cube: bounds holding on %d of %d\n(%d of them widened by the fitted run).\n",
                rows.size(), refused, beyond, computed, ok, worst, worst_ai, bounds, recomputed, said, cube_bounds,
                computed, kept);
}

} // namespace

int main(int argc, char** argv) {
    int nodes = 48;
    std::string only;
    bool reference_check = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--nodes") == 0 && i + 1 < argc) nodes = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
        else if (std::strcmp(argv[i], "--reference-check") == 0) reference_check = true;
        else {
            std::fprintf(stderr, "usage: bench_accuracy [--nodes N] [--only NAME] [--reference-check]\n");
            return 2;
        }
    }
    if (reference_check) {
        // How the reference converges: the largest change of the seven integrals between orders.
        const int orders[] = {32, 48, 64, 96};
        std::printf("%-20s %10s %10s %10s   (largest change of the seven integrals)\n", "deck", "32->48", "48->64",
                    "64->96");
        for (const Case& c : sweep()) {
            if (!only.empty() && c.name != only) continue;
            std::printf("%-20s", c.name.c_str());
            traz::tensorref::Reference before = reference(c.deck, orders[0]);
            for (int k = 1; k < 4; ++k) {
                const traz::tensorref::Reference now = reference(c.deck, orders[k]);
                double change = 0.0;
                for (int s = 0; s < 7; ++s) change = std::fmax(change, std::fabs(now.integral[s] - before.integral[s]));
                std::printf(" %10.1e", change);
                before = now;
            }
            std::printf("\n");
            std::fflush(stdout);
        }
        return 0;
    }
    const int coarse = nodes * 2 / 3;
    std::printf("Deviations from the iterated Gauss-Legendre reference (%d points per line; 'ref' is its change\n"
                "from %d points). dev: largest |deviation| of E, R1, R2, SD; AI: relative deviation of the AI\n"
                "ratio; mass-1: share passes' sum minus 1; if: largest ifail of the passes; bd: every error\n"
                "bound of E, R1, R2, AI, SD and the impact ratio holds the reference (y/n). Fitted pass by pass: only whether it\n"
                "meets the bounds below (ok/no).\n\n",
                nodes, coarse);
    std::printf("%-19s %1s %5s | %8s %8s %9s %2s | %3s | %8s %8s %9s %2s %2s | %-28s | %7s\n", "deck", "K", "N",
                "cube dev", "AI", "mass-1", "if", "pbp", "fit dev", "AI", "mass-1", "if", "bd", "fitted: how", "ref");

    struct Cost {
        std::string name;
        double cpu[3];
        long evals[3];
        long fit_evals;
        bool cube_refused;
    };
    std::vector<Cost> costs;
    int bad[3] = {}, warned[3] = {}, cases = 0, refused = 0, fallbacks = 0, bounds_missed = 0;
    double worst_dev = 0, worst_ai = 0, worst_mass = 0;
    std::vector<double> points;
    std::vector<DefaultRow> defaults;
    std::vector<Case> decks = sweep();
    for (const Case& c : traz::benchdecks::default_mode()) decks.push_back(c);
    for (const Case& c : decks) {
        if (!only.empty() && c.name != only) continue;
        Outcome o[3] = {run(c.deck, Mode::cube), run(c.deck, Mode::adaptive), run(c.deck, Mode::rule)};
        const Outcome automatic = run(c.deck, Mode::automatic);
        const traz::tensorref::Reference ref = reference(c.deck, nodes);
        const traz::tensorref::Reference ref0 = reference(c.deck, coarse);
        const double conv = std::fmax(std::fmax(std::fabs(ref.E - ref0.E), std::fabs(ref.R1 - ref0.R1)),
                                      std::fmax(std::fabs(ref.SD - ref0.SD), std::fabs(ref.mass - ref0.mass)));
        Deviation dv[3];
        for (int m = 0; m < 3; ++m) dv[m] = compare(o[m].rec, ref);
        const traz::RunRecord& fit = o[2].rec;
        const int K = fit.deck->nstage;
        const bool cube_refused = !dv[0].computed;
        char cube_cols[64];
        if (cube_refused)
            std::snprintf(cube_cols, sizeof cube_cols, "%-32s", o[0].rec.outcome == traz::Outcome::limits_refused
                                                                    ? "refused (more than 100 applicants)"
                                                                    : "refused by the range check");
        else
            std::snprintf(cube_cols, sizeof cube_cols, "%8.2e %8.2e %9.2e %2d", dv[0].worst, dv[0].ai, dv[0].mass,
                          dv[0].ifail);
        std::printf("%-19s %1d %5d | %s | %3s | %8.2e %8.2e %9.2e %2d %2s | %-28s | %7.1e\n", c.name.c_str(), K,
                    fit.deck->napp, cube_cols, dv[1].computed ? (dv[1].ok() ? "ok" : "no") : "-", dv[2].worst,
                    dv[2].ai, dv[2].mass, dv[2].ifail, dv[2].bounds ? "y" : "n", how(fit).c_str(), conv);
        ++cases;
        refused += cube_refused;
        for (int m = 0; m < 3; ++m) {
            bad[m] += !dv[m].ok();
            warned[m] += o[m].rec.mass.warned;
        }
        fallbacks += !fit.integration.fallback.empty();
        bounds_missed += !dv[2].bounds;
        points.push_back(static_cast<double>(dv[2].evals));
        worst_dev = std::fmax(worst_dev, dv[2].worst);
        worst_ai = std::fmax(worst_ai, dv[2].ai);
        worst_mass = std::fmax(worst_mass, std::fabs(dv[2].mass));
        costs.push_back({c.name, {o[0].cpu, o[1].cpu, o[2].cpu}, {dv[0].evals, dv[1].evals, dv[2].evals},
                         fit.domain.evaluations, cube_refused});
        defaults.push_back(default_row(c.name, automatic, dv[0], o[0].rec, ref));
        std::fflush(stdout);
    }
    std::printf("\nOutside the bounds (|dev| <= 2e-5, AI <= 3e-4 relative, |mass-1| <= 5e-6, ifail 0) of %d decks: "
                "cube %d (%d of them refused: range check or more than 100 applicants), fitted pass by pass %d, "
                "fitted %d.\n",
                cases, bad[0], refused, bad[1], bad[2]);
    std::printf("Mass warnings: cube %d, fitted pass by pass %d, fitted %d. Fitted worst: dev %.2e, AI %.2e, "
                "|mass-1| %.2e.\n",
                warned[0], warned[1], warned[2], worst_dev, worst_ai, worst_mass);
    std::printf("Fitted: error bounds missing the reference on %d decks; fallbacks to the adaptive integration %d; "
                "median points per deck %.0f.\n\n",
                bounds_missed, fallbacks, median(points));

    std::printf("%-19s | %8s %8s %8s %9s | %9s %9s %7s | %6s\n", "deck", "cube s", "pbp s", "fitted s", "cube/fit",
                "cube ev", "pbp ev", "fit ev", "fit's");
    double total[3] = {}, only_fitted = 0;
    for (const Cost& c : costs) {
        if (c.cube_refused) {
            std::printf("%-19s | %8s %8.3f %8.4f %9s | %9s %9ld %7ld | %6ld\n", c.name.c_str(), "refused", c.cpu[1],
                        c.cpu[2], "", "", c.evals[1], c.evals[2], c.fit_evals);
            only_fitted += c.cpu[2];
            continue;
        }
        std::printf("%-19s | %8.3f %8.3f %8.4f %9.1f | %9ld %9ld %7ld | %6ld\n", c.name.c_str(), c.cpu[0], c.cpu[1],
                    c.cpu[2], c.cpu[0] / c.cpu[2], c.evals[0], c.evals[1], c.evals[2], c.fit_evals);
        for (int m = 0; m < 3; ++m) total[m] += c.cpu[m];
    }
    std::printf("\nTotal CPU seconds over the decks the cube computes: cube %.3f, fitted pass by pass %.3f, fitted %.3f "
                "(cube/fitted %.1f)\n(the decks only the fitted modes compute took %.3f s more with --fitted)\n",
                total[0], total[1], total[2], total[0] / total[2], only_fitted);
    print_defaults(defaults);
    return 0;
}
