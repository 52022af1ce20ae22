// Points per second of design sweeps on 1 and 2 jobs (wall clock), side by side:
// the worked example (two stages, 11 points) and a three-stage sweep. Then how smoothly the
// results change along a fine sweep (mix(2) of the sweep example in steps of 0.001, 1,001
// points) over the fixed cube and over the fitted domain: the largest and the median third
// difference of E and of the AI ratio, and the CPU seconds of the sweep.
//   bench_sweep [--repeat N] [--smooth-only]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/io.hpp"
#include "cli/sweep.hpp"
#include "evaluate/evaluate.hpp"
#include "traz/traz.hpp"

namespace {

double seconds_of(traz::SweepOptions o, int jobs, int repeat) {
    o.jobs = jobs;
    o.progress = false;
    o.output = "/dev/null";
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < repeat; ++r) traz::run_sweep(o);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / repeat;
}

// Largest and median absolute third difference along the points.
void third_differences(const std::vector<double>& v, double& largest, double& median) {
    std::vector<double> d;
    for (std::size_t i = 0; i + 3 < v.size(); ++i) d.push_back(std::fabs(v[i + 3] - 3 * v[i + 2] + 3 * v[i + 1] - v[i]));
    std::sort(d.begin(), d.end());
    largest = d.empty() ? NAN : d.back();
    median = d.empty() ? NAN : d[d.size() / 2];
}

void smoothness(const std::string& examples) {
    std::string text, why;
    traz::read_input(examples + "sweep-weights.deck", text, why);
    std::printf("\nsweep-weights.deck --vary 'mix(2)=0:1:0.001' --mix-to 0,0,1,1: third differences along the "
                "1,001 points\n%-8s %12s %12s %12s %12s %9s  %s\n",
                "domain", "E largest", "E median", "AI largest", "AI median", "CPU s", "level");
    for (bool fitted : {false, true}) {
        traz::Design base = traz::Design::from_deck(text);
        base.integration = fitted ? traz::Integration::fitted : traz::Integration::cube;
        traz::SweepRequest request;
        request.vary = {"mix(2)=0:1:0.001"};
        request.mix_to = {0, 0, 1, 1};
        request.jobs = 1;
        const float t0 = traz::cpu_seconds();
        const std::vector<traz::SweepPoint> points = traz::sweep(base, request);
        const float cpu = traz::cpu_seconds() - t0;
        std::vector<double> E, AI;
        for (const traz::SweepPoint& p : points) {
            E.push_back(p.result.expected_criterion_score.value);
            AI.push_back(p.result.ai_ratio.value);
        }
        double el, em, al, am;
        third_differences(E, el, em);
        third_differences(AI, al, am);
        std::printf("%-8s %12.2e %12.2e %12.2e %12.2e %9.2f  %s\n", fitted ? "fitted" : "cube", el, em, al, am, cpu,
                    fitted ? ("settled at " + std::to_string(points[0].result.rule_level)).c_str() : "");
    }
}

} // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    bool smooth_only = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) repeat = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--smooth-only") == 0) smooth_only = true;
    }
    if (smooth_only) {
        smoothness(std::string(TRAZ_SOURCE_DIR) + "/examples/");
        return 0;
    }
    const std::string ex = std::string(TRAZ_SOURCE_DIR) + "/examples/";
    struct Case {
        const char* what;
        traz::SweepOptions o;
        int points;
    } cases[2];
    cases[0] = {"sweep-weights.deck, mix(2)=0:1:0.1", {}, 11};
    cases[0].o.base = ex + "sweep-weights.deck";
    cases[0].o.vary = {"mix(2)=0:1:0.1"};
    cases[0].o.mix_to = "0,0,1,1";
    cases[1] = {"three-stage.deck, pg=0.5:0.9:0.1", {}, 5};
    cases[1].o.base = ex + "three-stage.deck";
    cases[1].o.vary = {"pg=0.5:0.9:0.1"};
    std::printf("%u hardware threads; wall-clock seconds per sweep (mean of %d)\n",
                std::thread::hardware_concurrency(), repeat);
    std::printf("%-38s %7s %10s %10s %10s %10s %8s\n", "sweep", "points", "1 job s", "pts/s", "2 jobs s", "pts/s",
                "speed-up");
    for (const Case& c : cases) {
        const double s1 = seconds_of(c.o, 1, repeat), s2 = seconds_of(c.o, 2, repeat);
        std::printf("%-38s %7d %10.3f %10.2f %10.3f %10.2f %8.2f\n", c.what, c.points, s1, c.points / s1, s2,
                    c.points / s2, s1 / s2);
    }
    smoothness(ex);
    return 0;
}
