// Cost of the simulation: microseconds per replication of the example decks and of a
// 100-applicant, 10-predictor, three-stage deck on one thread, and replications per second on
// 1 and 2 jobs. Then the check against the integration (over the classic cube and over the
// fitted domain) of the examples and two hard three-stage decks at CHECKED replications.
//   bench_simulate [REPLICATIONS [CHECKED]]   (defaults 200000 and 1000000; CHECKED 0 skips)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "simulate/record.hpp"
#include "traz/traz.hpp"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU time of the calling thread (1 job runs on the calling thread): what the replications
// cost, whatever else the shared machine runs.
double thread_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// z = (simulated - analytic)/SE of each expectation, with the integration over the cube and
// over the fitted domain.
void check(const std::string& src, std::int64_t reps) {
    const std::vector<std::string> decks = {"examples/single-stage.deck", "examples/two-stage.deck",
                                            "examples/three-stage.deck", "bench/simulate/hard-r095.deck",
                                            "bench/simulate/hard-r099.deck"};
    std::printf("\nz of the simulation (%lld replications) against the integration\n", static_cast<long long>(reps));
    std::printf("%-32s %-7s %9s %9s %9s %9s %9s\n", "deck", "domain", "E", "rate1", "rate2", "AI", "SD");
    for (const std::string& name : decks) {
        const std::string text = slurp(src + "/" + name);
        traz::Deck d;
        traz::sim::Model m;
        traz::DeckFault fault;
        if (!traz::read_deck(text, d, fault) || !traz::sim::build_model(d, m, fault)) {
            std::printf("%-32s %s\n", name.c_str(), fault.message.c_str());
            continue;
        }
        const traz::sim::Summary s = traz::sim::summarise(m, traz::sim::simulate(m, 1, 0, reps, 0));
        for (bool fitted : {false, true}) {
            const traz::Result r = traz::evaluate_deck(text, {}, fitted ? traz::Integration::fitted : traz::Integration::cube);
            const traz::sim::Analytic a{r.expected_criterion_score.value, r.selection_rate_group1.value,
                                        r.selection_rate_group2.value, r.ai_ratio.value, r.sd_average_criterion_score.value};
            std::printf("%-32s %-7s", name.c_str(), fitted ? "fitted" : "cube");
            for (const traz::sim::CheckRow& c : traz::sim::compare(s, a)) std::printf(" %9.2f", c.z);
            std::printf("%s\n", r.warnings.empty() ? "" : "   (mass check warns)");
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::int64_t reps = argc > 1 ? std::atoll(argv[1]) : 200000;
    const std::string src = TRAZ_SOURCE_DIR;
    const std::int64_t checked = argc > 2 ? std::atoll(argv[2]) : 1000000;
    const std::vector<std::string> decks = {"examples/single-stage.deck", "examples/two-stage.deck",
                                            "examples/three-stage.deck", "bench/simulate/ten-predictors.deck"};
    std::printf("%u hardware threads; %lld replications per deck\n", std::thread::hardware_concurrency(),
                static_cast<long long>(reps));
    std::printf("%-38s %12s %14s %14s %8s\n", "deck", "CPU us/rep", "reps/s 1 job", "reps/s 2 jobs", "speed-up");
    for (const std::string& name : decks) {
        traz::Deck d;
        traz::sim::Model m;
        traz::DeckFault fault;
        if (!traz::read_deck(slurp(src + "/" + name), d, fault) || !traz::sim::build_model(d, m, fault)) {
            std::printf("%-38s %s\n", name.c_str(), fault.message.c_str());
            continue;
        }
        // CPU microseconds per replication on one thread: the best of three runs.
        double us = 1e300;
        for (int k = 0; k < 3; ++k) {
            const double t0 = thread_seconds();
            traz::sim::simulate(m, 1, 0, reps, 1);
            us = std::min(us, (thread_seconds() - t0) * 1e6 / static_cast<double>(reps));
        }
        // Wall-clock replications per second on 1 and 2 jobs.
        double rate[2] = {};
        for (int jobs = 1; jobs <= 2; ++jobs) {
            const auto t0 = std::chrono::steady_clock::now();
            const traz::sim::Sample s = traz::sim::simulate(m, 1, 0, reps, jobs);
            rate[jobs - 1] = static_cast<double>(s.mean_criterion.size()) / seconds_since(t0);
        }
        std::printf("%-38s %12.3f %14.0f %14.0f %8.2f\n", name.c_str(), us, rate[0], rate[1],
                    rate[1] / rate[0]);
    }
    if (checked > 0) check(src, checked);
    return 0;
}
