// Pareto fronts of stage weights: CPU and wall time of 21-point fronts of the two- and
// three-stage examples for the search methods side by side (evaluations per point, how evenly
// the points lie, how far the methods' fronts are apart), and a grid of designs of a two-stage
// deck against its front (no grid design may beat a front point beyond the bounds).
//   bench_pareto [--skip-two] [--skip-three] [--skip-grid] [--jobs N]
//   bench_pareto --deck FILE [--points N] [--cobyla] [--steps] [--max-evaluations N] [--step H] [--level L]
//                [--jobs N]
//                (one front, point by point)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "traz/traz.hpp"

namespace {

double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string read_file(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct Variant {
    const char* name;
    traz::ParetoMethod::Optimiser optimiser;
    traz::ParetoMethod::Spacing spacing;
};

const Variant kVariants[] = {
    {"SLSQP, normal-boundary (default)", traz::ParetoMethod::Optimiser::slsqp, traz::ParetoMethod::Spacing::normal_boundary},
    {"COBYLA, normal-boundary", traz::ParetoMethod::Optimiser::cobyla, traz::ParetoMethod::Spacing::normal_boundary},
    {"SLSQP, impact-ratio steps", traz::ParetoMethod::Optimiser::slsqp, traz::ParetoMethod::Spacing::impact_steps},
};

struct Run {
    traz::ParetoFront front;
    double cpu = 0, wall = 0;
};

int max_evaluations = 0;  // per local search; 0: the method's own
double step = 0;          // finite-difference step; 0: the method's own
int level = 0;            // the search's level of the fitted rule; 0: settled by the search

Run run_front(const traz::Design& base, const Variant& v, int points, int jobs) {
    traz::ParetoRequest request;
    if (max_evaluations > 0) request.method.max_evaluations = max_evaluations;
    if (step > 0) request.method.step = step;
    if (level > 0) request.method.fitted_level = level;
    request.points = points;
    request.jobs = jobs;
    request.method.optimiser = v.optimiser;
    request.method.spacing = v.spacing;
    Run r;
    const double c0 = cpu_seconds(), w0 = wall_seconds();
    r.front = traz::pareto(base, request);
    r.cpu = cpu_seconds() - c0;
    r.wall = wall_seconds() - w0;
    return r;
}

double E_of(const traz::ParetoPoint& p) { return p.result.expected_criterion_score.value; }
double IR_of(const traz::ParetoPoint& p) { return p.result.impact_ratio.value; }

// The front's E at impact ratio x, linear between its points (NaN outside).
double E_at(const traz::ParetoFront& f, double x) {
    for (std::size_t i = 1; i < f.points.size(); ++i) {
        const double a = IR_of(f.points[i - 1]), b = IR_of(f.points[i]);
        if ((x - a) * (x - b) <= 0 && a != b)
            return E_of(f.points[i - 1]) + (x - a) / (b - a) * (E_of(f.points[i]) - E_of(f.points[i - 1]));
    }
    return NAN;
}

// Largest over smallest distance between neighbouring points, with E and the impact ratio
// scaled to [0, 1] between the ends.
double spacing_ratio(const traz::ParetoFront& f) {
    const auto& P = f.points;
    const double dE = E_of(P.front()) - E_of(P.back()), dI = IR_of(P.back()) - IR_of(P.front());
    double lo = HUGE_VAL, hi = 0;
    for (std::size_t i = 1; i < P.size(); ++i) {
        const double g = std::hypot((E_of(P[i]) - E_of(P[i - 1])) / dE, (IR_of(P[i]) - IR_of(P[i - 1])) / dI);
        lo = std::min(lo, g), hi = std::max(hi, g);
    }
    return hi / lo;
}

void time_fronts(const std::string& deck, const std::vector<Variant>& variants, int jobs) {
    const traz::Design base = traz::Design::from_deck(read_file(deck));
    std::printf("\n%s: 21-point front, %d job%s\n", deck.c_str(), jobs, jobs == 1 ? "" : "s");
    std::printf("  %-34s %8s %8s %10s %10s %8s %9s %14s\n", "method", "CPU s", "wall s", "evals/pt", "max evals",
                "settled", "spacing", "|dE| to first");
    std::vector<Run> runs;
    for (const Variant& v : variants) {
        runs.push_back(run_front(base, v, 21, jobs));
        const Run& r = runs.back();
        long total = 0, most = 0;
        int settled = 0;
        for (const traz::ParetoPoint& p : r.front.points) {
            total += p.evaluations;
            most = std::max(most, p.evaluations);
            settled += p.settled ? 1 : 0;
        }
        // How far this front is from the first method's, at the first's impact ratios.
        double apart = 0;
        for (const traz::ParetoPoint& p : runs.front().front.points) {
            const double e = E_at(r.front, IR_of(p));
            if (!std::isnan(e)) apart = std::max(apart, std::fabs(e - E_of(p)));
        }
        std::printf("  %-34s %8.2f %8.2f %10.0f %10ld %5d/%-2zu %9.2f %14.1e\n", v.name, r.cpu, r.wall,
                    static_cast<double>(total) / static_cast<double>(r.front.points.size()), most, settled,
                    r.front.points.size(), spacing_ratio(r.front), apart);
        std::fflush(stdout);
    }
}

// A two-stage deck of three predictors, stage 1 using two of them.
const char* const kGridDeck =
    "3 2 100 30 10\n"
    "1 1 0\n"
    "1 1 1\n"
    "0.50 0.22 0.40\n"
    "0.00 0.30\n"
    "0.25\n"
    "0.90 0.05 0.25\n"
    "2 0.70 7\n"
    "0.45\n"
    "1.0e-4 100000\n";

// Evaluates a grid of designs of `base` (stage 1: n1 + 1 directions, stage 2: the simplex in
// steps of 1/n2) and sets them against the front.
void grid_against(const traz::Design& base, const traz::ParetoFront& front, int n1, int n2, int jobs, bool table) {
    std::vector<traz::Design> grid;
    for (int a = 0; a <= n1; ++a)
        for (int b = 0; b <= n2; ++b)
            for (int c = 0; b + c <= n2; ++c) {
                traz::Design d = base;
                d.stages[0].weights = {double(a) / n1, 1 - double(a) / n1, 0};
                d.stages[1].weights = {double(b) / n2, double(c) / n2, double(n2 - b - c) / n2};
                grid.push_back(d);
            }
    std::vector<traz::Result> results(grid.size());
    const double c1 = cpu_seconds();
    const std::size_t nthreads = static_cast<std::size_t>(std::max(jobs, 1));
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < nthreads; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = t; i < grid.size(); i += nthreads) results[i] = traz::evaluate(grid[i]);
        });
    for (std::thread& th : threads) th.join();
    int computed = 0, beating = 0;
    double worst_beat = 0;
    for (const traz::Result& g : results) {
        if (!g.ok()) continue;
        ++computed;
        for (const traz::ParetoPoint& p : front.points) {
            const traz::Bounded &ge = g.expected_criterion_score, &gi = g.impact_ratio;
            const traz::Bounded &pe = p.result.expected_criterion_score, &pi = p.result.impact_ratio;
            const double over_E = ge.value - pe.value - ge.error_bound - pe.error_bound;
            const double over_I = gi.value - pi.value - gi.error_bound - pi.error_bound;
            if (over_E > 0 && over_I > 0) {
                ++beating;
                worst_beat = std::max(worst_beat, std::min(over_E, over_I));
            }
        }
    }
    std::printf("\n  grid of %zu designs (%d computed; the rest rank twice on one composite), %.1f CPU s\n",
                grid.size(), computed, cpu_seconds() - c1);
    std::printf("  grid designs better than a front point in both E and impact ratio beyond the bounds: %d", beating);
    if (beating > 0) std::printf(" (by up to %.2e)", worst_beat);
    std::printf("\n");
    // The grid's upper envelope against each front point: the highest E among the grid designs
    // with at least the point's impact ratio (within the bounds), and the highest impact ratio
    // among those with at least its E. The front should lie above the envelope by no more
    // than the grid's resolution: in E at equal impact ratio, or in the impact ratio at equal E.
    if (table) std::printf("  point  E          impact     envelope E at its impact ratio   envelope impact ratio at its E\n");
    double front_below = -HUGE_VAL, gap = 0;
    const double dE = E_of(front.points.front()) - E_of(front.points.back());
    const double dI = IR_of(front.points.back()) - IR_of(front.points.front());
    for (const traz::ParetoPoint& p : front.points) {
        const traz::Bounded &pe = p.result.expected_criterion_score, &pi = p.result.impact_ratio;
        double env_E = -HUGE_VAL, env_E_bound = 0, env_I = -HUGE_VAL;
        for (const traz::Result& g : results) {
            if (!g.ok()) continue;
            const traz::Bounded &ge = g.expected_criterion_score, &gi = g.impact_ratio;
            if (gi.value >= pi.value - gi.error_bound - pi.error_bound && ge.value > env_E)
                env_E = ge.value, env_E_bound = ge.error_bound + pe.error_bound;
            if (ge.value >= pe.value - ge.error_bound - pe.error_bound) env_I = std::max(env_I, gi.value);
        }
        if (table)
            std::printf("  %5d  %.6f   %.6f   %+.2e                        %+.2e\n", p.point, pe.value, pi.value,
                        env_E - pe.value, env_I - pi.value);
        if (env_E > -HUGE_VAL) front_below = std::max(front_below, env_E - pe.value - env_E_bound);
        // The point's distance to the envelope, scaled by the front's extent in E and impact ratio.
        const double e = env_E > -HUGE_VAL ? (pe.value - env_E) / dE : HUGE_VAL;
        const double i = env_I > -HUGE_VAL ? (pi.value - env_I) / dI : HUGE_VAL;
        gap = std::max(gap, std::min(e, i));
    }
    std::printf("  envelope above the front, less the bounds (<= 0 wanted): %.2e\n", front_below);
    std::printf("  front beyond the envelope, the smaller of the two gaps scaled to the front's extent "
                "(the grid's resolution): %.4f\n", gap);
}

void grid_against_front(int jobs) {
    traz::Design base = traz::Design::from_deck(kGridDeck);
    base.integration = traz::Integration::fitted;
    std::printf("\nGrids against the front: 3 predictors, 2 stages (stage 1 uses predictors 1 and 2)\n");
    const double c0 = cpu_seconds();
    traz::ParetoRequest request;
    request.jobs = jobs;
    const traz::ParetoFront front = traz::pareto(base, request);
    std::printf("  front: %zu points in %.1f CPU s\n", front.points.size(), cpu_seconds() - c0);
    grid_against(base, front, 10, 12, jobs, true);
    grid_against(base, front, 40, 40, jobs, false);
}

// One front of a deck, point by point.
void one_front(const std::string& deck, int points, const Variant& v, int jobs) {
    const traz::Design base = traz::Design::from_deck(read_file(deck));
    const Run r = run_front(base, v, points, jobs);
    std::printf("%s: %s, %d points, %.2f CPU s, %.2f wall s, spacing %.2f, search level %d\n", deck.c_str(), v.name,
                points, r.cpu, r.wall, spacing_ratio(r.front), r.front.search_level);
    for (const traz::ParetoPoint& p : r.front.points) {
        std::printf("%3d  E %.6f ±%.1e  IR %.6f ±%.1e  evals %4ld  starts %d/%d  %s (%s) |", p.point, E_of(p),
                    p.result.expected_criterion_score.error_bound, IR_of(p), p.result.impact_ratio.error_bound,
                    p.evaluations, p.starts_agreeing, p.starts, p.status.c_str(), p.optimiser.c_str());
        for (double w : p.weights) std::printf(" %.3f", w);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    bool grid = true, two = true, three = true;
    int jobs = 2, points = 21;
    std::string deck;
    Variant v = kVariants[0];
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--skip-grid") == 0) grid = false;
        else if (std::strcmp(argv[i], "--skip-two") == 0) two = false;
        else if (std::strcmp(argv[i], "--skip-three") == 0) three = false;
        else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) jobs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--deck") == 0 && i + 1 < argc) deck = argv[++i];
        else if (std::strcmp(argv[i], "--points") == 0 && i + 1 < argc) points = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--cobyla") == 0) v.optimiser = traz::ParetoMethod::Optimiser::cobyla;
        else if (std::strcmp(argv[i], "--steps") == 0) v.spacing = traz::ParetoMethod::Spacing::impact_steps;
        else if (std::strcmp(argv[i], "--max-evaluations") == 0 && i + 1 < argc) max_evaluations = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--step") == 0 && i + 1 < argc) step = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--level") == 0 && i + 1 < argc) level = std::atoi(argv[++i]);
    }
    if (!deck.empty()) {
        v.name = "chosen method";
        one_front(deck, points, v, jobs);
        return 0;
    }
    const std::string examples = std::string(TRAZ_SOURCE_DIR) + "/examples/";
    std::printf("Pareto fronts (goals: two-stage <= 20 CPU s, three-stage <= 120 CPU s)\n");
    if (two) time_fronts(examples + "two-stage.deck", {std::begin(kVariants), std::end(kVariants)}, jobs);
    if (three) time_fronts(examples + "three-stage.deck", {kVariants[0], kVariants[1]}, jobs);
    if (grid) grid_against_front(jobs);
    return 0;
}
