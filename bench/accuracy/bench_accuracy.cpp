// Accuracy and cost of the two integration domains over a sweep of two- and three-stage
// problems: every deck runs once over the classic cube and once over the fitted domain, and
// both are compared with an iterated Gauss-Legendre reference (two rule orders, whose
// difference shows how far the reference itself has converged).
//   bench_accuracy [--nodes N] [--only NAME]
// Prints the accuracy table, the cost table (CPU seconds of both modes and their ratio,
// integrand evaluations per pass, the fit's own evaluations) and the totals.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "deck/deck.hpp"
#include "evaluate/evaluate.hpp"
#include "evaluate/record.hpp"
#include "model/state.hpp"
#include "tensor_reference.hpp"

namespace {

struct Case {
    std::string name;
    std::string deck;
};

// A deck whose stages rank on one predictor each, so that the predictor correlations are the
// stage correlations: r = (r21, r31, r32), validities v, group-1 effect sizes e per stage.
std::string stage_deck(int napp, const std::vector<int>& ns, const std::vector<double>& r,
                       const std::vector<double>& v, const std::vector<double>& e, double pg1, double efc1) {
    const int K = static_cast<int>(ns.size());
    std::ostringstream s;
    s.precision(10);
    s << K << ' ' << K << ' ' << napp;
    for (int n : ns) s << ' ' << n;
    s << '\n';
    for (int j = 0; j < K; ++j) {
        for (int i = 0; i < K; ++i) s << (i == j ? "1 " : "0 ");
        s << '\n';
    }
    for (int j = 0; j < K; ++j) s << v[j] << ' ';
    s << '\n';
    // Upper triangle row by row: r12 r13 / r23.
    if (K == 2) s << r[0] << "\n";
    if (K == 3) s << r[0] << ' ' << r[1] << "\n" << r[2] << "\n";
    for (int j = 0; j < K; ++j) s << e[j] << ' ';
    s << "\n2 " << pg1 << " 7\n" << efc1 << "\n1.0E-4 100000\n";
    return s.str();
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<Case> sweep() {
    std::vector<Case> c;
    c.push_back({"issue-example",
                 "6 3 60 35 15 5\n1 1 0 0 0 0\n1 1 1 1 0 0\n1 1 1 1 1 1\n"
                 "0.45 0.40 0.35 0.30 0.30 0.25\n0.55 0.45 0.40 0.35 0.30\n0.45 0.40 0.35 0.30\n"
                 "0.45 0.40 0.35\n0.40 0.35\n0.35\n-0.9 -0.8 -0.4 -0.3 -0.2 -0.1\n2 0.25 7\n-0.5\n"
                 "1.0E-4 100000\n"});
    const std::string ex = std::string(TRAZ_SOURCE_DIR) + "/examples/";
    c.push_back({"example-2stage", slurp(ex + "two-stage.deck")});
    c.push_back({"example-3stage", slurp(ex + "three-stage.deck")});
    // Two stages.
    c.push_back({"2s-n10-r0.30", stage_deck(10, {5, 2}, {0.30}, {0.35, 0.45}, {-0.5, -0.4}, 0.30, -0.4)});
    c.push_back({"2s-n6-r0.70", stage_deck(6, {4, 2}, {0.70}, {0.40, 0.45}, {-0.8, -0.6}, 0.50, -0.5)});
    c.push_back({"2s-n20-r0.60", stage_deck(20, {10, 4}, {0.60}, {0.40, 0.50}, {-1.0, -0.5}, 0.50, -0.6)});
    c.push_back({"2s-n100-r0.50", stage_deck(100, {10, 5}, {0.50}, {0.30, 0.40}, {-0.7, -0.3}, 0.15, -0.3)});
    c.push_back({"2s-n50-r0.90", stage_deck(50, {20, 8}, {0.90}, {0.45, 0.50}, {-0.9, -0.7}, 0.20, -0.5)});
    c.push_back({"2s-n100-r0.95", stage_deck(100, {40, 10}, {0.95}, {0.45, 0.48}, {-0.8, -0.7}, 0.10, -0.5)});
    c.push_back({"2s-n30-r0.99", stage_deck(30, {12, 5}, {0.99}, {0.45, 0.46}, {-0.6, -0.55}, 0.40, -0.4)});
    c.push_back({"2s-n40-r0.999", stage_deck(40, {20, 10}, {0.999}, {0.45, 0.45}, {-0.5, -0.5}, 0.25, -0.4)});
    c.push_back({"2s-n80-keep79", stage_deck(80, {79, 40}, {0.80}, {0.40, 0.45}, {-0.6, -0.4}, 0.40, -0.3)});
    // Three stages.
    c.push_back({"3s-n12-r0.30", stage_deck(12, {8, 5, 2}, {0.30, 0.30, 0.30}, {0.3, 0.35, 0.4}, {-0.5, -0.4, -0.3},
                                            0.50, -0.3)});
    c.push_back({"3s-n6-r0.60", stage_deck(6, {5, 3, 1}, {0.60, 0.50, 0.70}, {0.35, 0.4, 0.45}, {-0.7, -0.5, -0.4},
                                           0.50, -0.5)});
    c.push_back({"3s-n20-r0.60", stage_deck(20, {12, 6, 3}, {0.50, 0.40, 0.60}, {0.35, 0.4, 0.45}, {-0.8, -0.6, -0.5},
                                            0.30, -0.5)});
    c.push_back({"3s-n40-r0.95", stage_deck(40, {25, 12, 5}, {0.90, 0.85, 0.95}, {0.40, 0.45, 0.48},
                                            {-0.9, -0.7, -0.6}, 0.20, -0.6)});
    c.push_back({"3s-n25-r0.98", stage_deck(25, {15, 8, 4}, {0.95, 0.95, 0.98}, {0.45, 0.46, 0.47},
                                            {-0.8, -0.75, -0.7}, 0.35, -0.5)});
    c.push_back({"3s-n60-r0.99", stage_deck(60, {30, 15, 6}, {0.98, 0.97, 0.99}, {0.45, 0.46, 0.47},
                                            {-0.7, -0.65, -0.6}, 0.25, -0.5)});
    c.push_back({"3s-n30-r0.999", stage_deck(30, {20, 10, 5}, {0.999, 0.998, 0.999}, {0.45, 0.45, 0.45},
                                             {-0.5, -0.5, -0.5}, 0.50, -0.4)});
    c.push_back({"3s-n100-97", stage_deck(100, {99, 98, 97}, {0.90, 0.80, 0.90}, {0.4, 0.45, 0.5},
                                          {-0.6, -0.5, -0.4}, 0.30, -0.4)});
    c.push_back({"3s-n100-r0.97", stage_deck(100, {50, 20, 5}, {0.95, 0.90, 0.97}, {0.40, 0.44, 0.48},
                                             {-1.0, -0.8, -0.6}, 0.10, -0.7)});
    c.push_back({"3s-n80-r0.97", stage_deck(80, {60, 40, 20}, {0.97, 0.95, 0.97}, {0.42, 0.44, 0.46},
                                            {-0.6, -0.5, -0.45}, 0.30, -0.4)});
    return c;
}

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
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--nodes") == 0 && i + 1 < argc) nodes = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_accuracy [--nodes N] [--only NAME]\n");
            return 2;
        }
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
