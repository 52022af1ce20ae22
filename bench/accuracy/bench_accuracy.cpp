// Accuracy and cost of the two integration domains over a sweep of two- and three-stage
// problems: every deck runs once over the classic cube and once over the fitted domain, and
// both are compared with an iterated Gauss-Legendre reference (two rule orders, whose
// difference shows how far the reference itself has converged). The decks are in decks.hpp.
//   bench_accuracy [--nodes N] [--only NAME]
//   bench_accuracy --reference-check [--only NAME]   (the reference's change from 32 to 96 points)
// Prints the accuracy table, the cost table (CPU seconds of both modes and their ratio,
// integrand evaluations per pass, the fit's own evaluations) and the totals.
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
#include "decks.hpp"
#include "tensor_reference.hpp"

namespace {

using traz::benchdecks::Case;
using traz::benchdecks::sweep;

struct Outcome {
    traz::RunRecord rec;
    double cpu = 0.0;
};

Outcome run(const std::string& deck, bool fitted) {
    Outcome o;
    traz::RunOptions opt;
    opt.fitted = fitted;
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
    double worst = 0.0;  // largest absolute deviation of E, R1, R2, SD
    double ai = 0.0;     // relative deviation of the AI ratio
    double mass = 0.0;   // mass - 1
    int ifail = 0;       // largest status of the passes
    long evals = 0;      // integrand evaluations of all passes
};

Deviation compare(const traz::RunRecord& rec, const traz::tensorref::Reference& ref) {
    Deviation d;
    const traz::Results& r = rec.results;
    for (double dev : {r.criterion.value - ref.E, r.rate1.value - ref.R1, r.rate2.value - ref.R2, r.sd.value - ref.SD})
        d.worst = std::fmax(d.worst, std::isnan(dev) ? INFINITY : std::fabs(dev));
    d.ai = std::fabs(r.ai.value / ref.AI - 1.0);
    if (std::isnan(d.ai)) d.ai = INFINITY;
    d.mass = rec.mass.mass - 1.0;
    for (const traz::PassRecord& p : rec.passes) {
        d.ifail = std::max(d.ifail, p.status);
        d.evals += p.evaluations;
    }
    return d;
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
                "ratio; mass-1: share passes' sum minus 1; if: largest ifail of the passes.\n\n",
                nodes, coarse);
    std::printf("%-15s %2s %4s | %9s %9s %10s %2s | %9s %9s %10s %2s | %8s\n", "deck", "K", "N", "cube dev", "AI",
                "mass-1", "if", "fit dev", "AI", "mass-1", "if", "ref");

    struct Cost {
        std::string name;
        double cpu_cube, cpu_fit;
        long evals_cube, evals_fit, fit_evals;
        int steps;
        std::string method;
        bool cube_refused;
    };
    std::vector<Cost> costs;
    int bad_cube = 0, bad_fit = 0, cube_warned = 0, fit_warned = 0, cases = 0, refused = 0;
    double worst_fit = 0, worst_fit_ai = 0, worst_fit_mass = 0;
    for (const Case& c : sweep()) {
        if (!only.empty() && c.name != only) continue;
        const Outcome cube = run(c.deck, false);
        const Outcome fit = run(c.deck, true);
        const traz::tensorref::Reference ref = reference(c.deck, nodes);
        const traz::tensorref::Reference ref0 = reference(c.deck, coarse);
        const double conv = std::fmax(std::fmax(std::fabs(ref.E - ref0.E), std::fabs(ref.R1 - ref0.R1)),
                                      std::fmax(std::fabs(ref.SD - ref0.SD), std::fabs(ref.mass - ref0.mass)));
        const Deviation dc = compare(cube.rec, ref), df = compare(fit.rec, ref);
        const int K = cube.rec.deck->nstage;
        const bool cube_refused = cube.rec.outcome == traz::Outcome::refused;
        if (cube_refused)
            std::printf("%-15s %2d %4d | %-36s | %9.2e %9.2e %10.2e %2d | %8.1e%s\n", c.name.c_str(), K,
                        cube.rec.deck->napp, "refused by the range check", df.worst, df.ai, df.mass, df.ifail, conv,
                        fit.rec.domain.fitted ? "" : "  (fit fell back to the cube)");
        else
            std::printf("%-15s %2d %4d | %9.2e %9.2e %10.2e %2d | %9.2e %9.2e %10.2e %2d | %8.1e%s\n", c.name.c_str(),
                        K, cube.rec.deck->napp, dc.worst, dc.ai, dc.mass, dc.ifail, df.worst, df.ai, df.mass, df.ifail,
                        conv, fit.rec.domain.fitted ? "" : "  (fit fell back to the cube)");
        ++cases;
        const bool cube_ok = dc.worst <= 2e-5 && dc.ai <= 3e-4 && std::fabs(dc.mass) <= 5e-6 && dc.ifail == 0;
        const bool fit_ok = df.worst <= 2e-5 && df.ai <= 3e-4 && std::fabs(df.mass) <= 5e-6 && df.ifail == 0;
        bad_cube += !cube_ok;
        refused += cube_refused;
        bad_fit += !fit_ok;
        cube_warned += cube.rec.mass.warned;
        fit_warned += fit.rec.mass.warned;
        worst_fit = std::fmax(worst_fit, df.worst);
        worst_fit_ai = std::fmax(worst_fit_ai, df.ai);
        worst_fit_mass = std::fmax(worst_fit_mass, std::fabs(df.mass));
        costs.push_back({c.name, cube.cpu, fit.cpu, dc.evals, df.evals, fit.rec.domain.evaluations,
                         fit.rec.domain.newton_steps, fit.rec.domain.method, cube_refused});
        std::fflush(stdout);
    }
    std::printf("\nOutside the bounds (|dev| <= 2e-5, AI <= 3e-4 relative, |mass-1| <= 5e-6, ifail 0): "
                "cube %d of %d (%d of them refused by the default mode's range check), fitted %d of %d.\n",
                bad_cube, cases, refused, bad_fit, cases);
    std::printf("Mass warnings: cube %d, fitted %d. Fitted worst: dev %.2e, AI %.2e, |mass-1| %.2e.\n\n",
                cube_warned, fit_warned, worst_fit, worst_fit_ai, worst_fit_mass);

    std::printf("%-15s | %8s %8s %6s | %10s %10s | %6s %5s %s\n", "deck", "cube s", "fitted s", "ratio", "cube ev/p",
                "fit ev/p", "fit ev", "steps", "shape");
    double total_cube = 0, total_fit = 0, fit_only = 0;
    for (const Cost& c : costs) {
        if (c.cube_refused) {
            std::printf("%-15s | %8s %8.3f %6s | %10s %10.0f | %6ld %5d %s\n", c.name.c_str(), "refused", c.cpu_fit, "",
                        "", c.evals_fit / 7.0, c.fit_evals, c.steps, c.method.c_str());
            fit_only += c.cpu_fit;
            continue;
        }
        std::printf("%-15s | %8.3f %8.3f %6.3f | %10.0f %10.0f | %6ld %5d %s\n", c.name.c_str(), c.cpu_cube, c.cpu_fit,
                    c.cpu_fit / c.cpu_cube, c.evals_cube / 7.0, c.evals_fit / 7.0, c.fit_evals, c.steps,
                    c.method.c_str());
        total_cube += c.cpu_cube;
        total_fit += c.cpu_fit;
    }
    std::printf("\nTotal CPU seconds over the decks both modes compute: cube %.3f, fitted %.3f, ratio fitted/cube "
                "%.3f\n(the decks only the fitted mode computes took %.3f s more)\n",
                total_cube, total_fit, total_fit / total_cube, fit_only);
    return 0;
}
