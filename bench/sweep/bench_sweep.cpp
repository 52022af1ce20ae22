// Points per second of design sweeps on 1 and 2 jobs (wall clock), side by side:
// the worked example (two stages, 11 points) and a three-stage sweep.
//   bench_sweep [--repeat N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "cli/sweep.hpp"

namespace {

double seconds_of(traz::SweepOptions o, int jobs, int repeat) {
    o.jobs = jobs;
    o.progress = false;
    o.output = "/dev/null";
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < repeat; ++r) traz::run_sweep(o);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / repeat;
}

} // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) repeat = std::atoi(argv[++i]);
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
    return 0;
}
