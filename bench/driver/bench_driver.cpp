// First the integrations side by side: CPU per run of the example decks and of the large
// three-stage decks over the fixed cube, over the fitted domain pass by pass with the
// adaptive integration (the fitted method before the rule), and over the fitted domain by the
// rule in the fitted coordinates; the process start of the traz executable; whole traz
// processes in the two modes of its command line. Then the CPU seconds of whole runs of decks
// (default: the example decks), per run and per pass, with the integrand evaluations of each
// pass, on the scalar and on the vector path of the normal probabilities side by side: the
// program runs itself once with TRAZ_SCALAR=1 and once with TRAZ_SCALAR=0 (the path is
// chosen once per process), then compares.
//   bench_driver [--repeat N] [--rounds R] [deck ...]
//     R rounds of both paths in turn (default 1); the summary takes the least time of each
//   bench_driver --modes     (the integrations only)
//   bench_driver --this-path [--repeat N] [deck ...]   (one path: the one this process takes)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <x86intrin.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decks.hpp"
#include "evaluate/evaluate.hpp"
#include "views/report.hpp"
#include "model/state.hpp"
#include "deck/stages.hpp"
#include "model/model.hpp"
#include "mvn/bvnd.hpp"
#include "mvn/simd.hpp"

// Counters of the normal-probability calls, through the linker's symbol wrapping so that the
// program's own code is unchanged: g01hbt by dimension, and bvnd wherever it is called from.
// The time stamp counter also measures the share of a run spent inside g01hbt.
namespace {
long long g01hbt_calls[5];
long long bvnd_calls;
unsigned long long g01hbt_ticks;
} // namespace

#define G01HBT _ZN4traz6g01hbtERKiPKdS3_S3_RdRiS4_
#define BVND _ZN4traz4bvndERKdS1_S1_
#define BVND_PREPARED _ZN4traz13bvnd_preparedERKdS1_RKNS_9bvnd_ruleE
#define BVND_ON _ZN4traz4bvndERKdS1_S1_PKNS_11mvn_kernelsE
#define TRVFND_N _ZN4traz8trvfnd_nERKNS_11mvn_kernelsEiRKNS_12trvbkd_blockEPKdPd
#define CAT(a, b) a##b
#define WRAP(f) CAT(__wrap_, f)
#define REAL(f) CAT(__real_, f)

extern "C" {
void REAL(G01HBT)(const int& nd, const double* a, const double* b, const double* cormul, double& err,
                  int& ifail, double& prob);
void WRAP(G01HBT)(const int& nd, const double* a, const double* b, const double* cormul, double& err,
                  int& ifail, double& prob) {
    ++g01hbt_calls[nd >= 1 && nd <= 4 ? nd : 0];
    const unsigned long long t0 = __rdtsc();
    REAL(G01HBT)(nd, a, b, cormul, err, ifail, prob);
    g01hbt_ticks += __rdtsc() - t0;
}
double REAL(BVND)(const double& h, const double& k, const double& r);
double WRAP(BVND)(const double& h, const double& k, const double& r) {
    ++bvnd_calls;
    return REAL(BVND)(h, k, r);
}
// The trivariate integrand calls the bivariate routine with its correlation prepared once
// (scalar path), or evaluates the bivariate probabilities of a rule application together
// (vector path); the trivariate routine's complement step names its path.
double REAL(BVND_PREPARED)(const double& h, const double& k, const traz::bvnd_rule& rule);
double WRAP(BVND_PREPARED)(const double& h, const double& k, const traz::bvnd_rule& rule) {
    ++bvnd_calls;
    return REAL(BVND_PREPARED)(h, k, rule);
}
void REAL(TRVFND_N)(const traz::mvn_kernels& v, int n, const traz::trvbkd_block& blk, const double* t, double* f);
void WRAP(TRVFND_N)(const traz::mvn_kernels& v, int n, const traz::trvbkd_block& blk, const double* t, double* f) {
    bvnd_calls += n;
    REAL(TRVFND_N)(v, n, blk, t, f);
}
double REAL(BVND_ON)(const double& h, const double& k, const double& r, const traz::mvn_kernels* v);
double WRAP(BVND_ON)(const double& h, const double& k, const double& r, const traz::mvn_kernels* v) {
    ++bvnd_calls;
    return REAL(BVND_ON)(h, k, r, v);
}
}

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs this program with --this-path and TRAZ_SCALAR=scalar; echoes its output if asked and
// returns the CPU seconds per run of each deck, in order.
std::vector<double> run_path(const char* scalar, const std::vector<std::string>& args, bool echo) {
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return {};
    self[len] = '\0';
    std::string cmd = std::string("TRAZ_SCALAR=") + scalar + " '" + self + "' --this-path";
    for (const std::string& a : args) cmd += " '" + a + "'";
    std::vector<double> seconds;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return seconds;
    char line[512];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        if (echo) std::fputs(line, stdout);
        const char* at = std::strstr(line, " CPU s per run,");
        if (at == nullptr) continue;
        const char* start = at;
        while (start > line && start[-1] != ' ') --start;
        seconds.push_back(std::atof(start));
    }
    pclose(p);
    return seconds;
}

// CPU seconds of one run of the deck in the mode: repeats until half a second has passed.
double cpu_per_run(const std::string& deck, bool fitted, bool adaptive, traz::RunRecord* last) {
    traz::RunOptions opt;
    opt.fitted = fitted;
    opt.fitted_adaptive = adaptive;
    int n = 0;
    const float t0 = traz::cpu_seconds();
    float t = t0;
    do {
        traz::RunRecord rec;
        traz::compute(deck, rec, opt);
        ++n;
        t = traz::cpu_seconds();
        if (last != nullptr) *last = std::move(rec);
    } while (t - t0 < 0.5f || n < 3);
    return (t - t0) / n;
}

// Median CPU seconds (user plus system) of whole processes of the command, over n runs. The
// processes are spawned (posix_spawn, which does not copy this process's page tables into the
// child as fork does: that copy would be counted as the child's time).
double process_cpu(const std::vector<std::string>& argv, int n) {
    std::vector<double> times;
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (int i = 0; i < n; ++i) {
        rusage before{}, after{};
        getrusage(RUSAGE_CHILDREN, &before);
        pid_t pid = 0;
        if (posix_spawn(&pid, args[0], &quiet, nullptr, args.data(), environ) != 0) break;
        int status = 0;
        waitpid(pid, &status, 0);
        getrusage(RUSAGE_CHILDREN, &after);
        const auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * t.tv_usec; };
        times.push_back(secs(after.ru_utime) - secs(before.ru_utime) + secs(after.ru_stime) - secs(before.ru_stime));
    }
    posix_spawn_file_actions_destroy(&quiet);
    if (times.empty()) return NAN;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The integrations side by side (see the top of this file).
void compare_modes() {
    struct Named {
        std::string name, deck;
    };
    const std::string ex = std::string(TRAZ_SOURCE_DIR) + "/examples/";
    std::vector<Named> decks;
    for (const char* name : {"single-stage", "two-stage", "three-stage"}) decks.push_back({name, slurp(ex + name + ".deck")});
    for (const traz::benchdecks::Case& c : traz::benchdecks::sweep())
        if (c.name == "10p-n100-60-25-10" || c.name == "issue-example" || c.name == "3s-n100-r0.97")
            decks.push_back({c.name, c.deck});
    const std::string traz_exe = std::string(TRAZ_BINARY_DIR) + "/traz";
    const double start = process_cpu({traz_exe, "--version"}, 101);
    const double bare = process_cpu({"/bin/true"}, 101);
    std::printf("== CPU ms per run: the fixed cube, the fitted domain pass by pass (adaptive), the fitted rule\n"
                "   (in-process; 'with start' adds the traz process start, %.2f ms, the median CPU of 101 runs of\n"
                "   traz --version; /bin/true takes %.2f ms on this machine)\n\n",
                1e3 * start, 1e3 * bare);
    std::printf("%-20s %9s %9s %9s | %9s %9s | %8s %6s %6s  %s\n", "deck", "cube", "adaptive", "rule",
                "cube+st", "rule+st", "cube/rule", "level", "points", "integrator");
    for (const Named& d : decks) {
        traz::RunRecord rec;
        const double cube = cpu_per_run(d.deck, false, false, nullptr);
        const double adaptive = cpu_per_run(d.deck, true, true, nullptr);
        const double rule = cpu_per_run(d.deck, true, false, &rec);
        std::printf("%-20s %9.3f %9.3f %9.3f | %9.3f %9.3f | %8.1f %6d %6ld  %s\n", d.name.c_str(), 1e3 * cube,
                    1e3 * adaptive, 1e3 * rule, 1e3 * (cube + start), 1e3 * (rule + start),
                    (cube + start) / (rule + start), rec.integration.level, rec.integration.points,
                    rec.integration.integrator.c_str());
        std::fflush(stdout);
    }
    std::printf("\n== whole traz processes, median CPU ms of 21 runs: traz DECK, traz --fitted DECK\n");
    for (const char* name : {"single-stage", "two-stage", "three-stage"}) {
        const std::string path = ex + name + ".deck";
        const double cube = process_cpu({traz_exe, path}, 21), rule = process_cpu({traz_exe, "--fitted", path}, 21);
        std::printf("%-20s %9.2f %9.2f   cube/fitted %.1f\n", name, 1e3 * cube, 1e3 * rule, cube / rule);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    int repeat = 0;
    int rounds = 1;
    bool this_path = false;
    std::vector<std::string> decks;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--this-path") == 0) {
            this_path = true;
            continue;
        }
        if (std::strcmp(argv[i], "--modes") == 0) {
            compare_modes();
            return 0;
        }
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
            continue;
        }
        args.push_back(argv[i]);
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            args.push_back(argv[i + 1]);
            repeat = std::atoi(argv[++i]);
        } else {
            decks.push_back(argv[i]);
        }
    }
    if (decks.empty())
        for (const char* name : {"single-stage", "two-stage", "three-stage"})
            decks.push_back(std::string(TRAZ_SOURCE_DIR) + "/examples/" + name + ".deck");

    if (!this_path) {
        compare_modes();
        std::vector<double> scalar, vector;
        const auto least = [](std::vector<double>& into, const std::vector<double>& times) {
            if (into.empty()) into = times;
            for (std::size_t i = 0; i < into.size() && i < times.size(); ++i) into[i] = std::min(into[i], times[i]);
        };
        for (int round = 0; round < rounds; ++round) {
            if (round == 0) std::printf("== scalar path (TRAZ_SCALAR=1)\n");
            std::fflush(stdout);
            least(scalar, run_path("1", args, round == 0));
            if (round == 0) std::printf("== vector path (TRAZ_SCALAR=0)\n");
            std::fflush(stdout);
            least(vector, run_path("0", args, round == 0));
        }
        std::printf("\n%-48s %12s %12s %9s   (least of %d round(s))\n", "CPU s per run", "scalar", "vector",
                    "speed-up", rounds);
        for (std::size_t i = 0; i < decks.size() && i < scalar.size() && i < vector.size(); ++i) {
            std::printf("%-48s %12.6f %12.6f %9.2f\n", decks[i].substr(decks[i].rfind('/') + 1).c_str(), scalar[i],
                        vector[i], vector[i] > 0.0 ? scalar[i] / vector[i] : 0.0);
        }
        return 0;
    }

    const traz::mvn_kernels* v = traz::mvn_vector();
    std::printf("normal probabilities on the %s path%s%s\n", v != nullptr ? "vector" : "scalar",
                v != nullptr ? ", " : "", v != nullptr ? v->target : "");
    std::FILE* sink = std::fopen("/dev/null", "w");
    for (const std::string& path : decks) {
        const std::string deck = slurp(path);
        if (deck.empty()) {
            std::printf("%s: not found\n", path.c_str());
            continue;
        }
        // One run to learn the passes, then repeats until a second of CPU time has passed.
        const float t0 = traz::cpu_seconds();
        if (traz::run(deck, sink, sink) != traz::kRunOk) {
            std::printf("%s: the run failed\n", path.c_str());
            continue;
        }
        const float first = traz::cpu_seconds() - t0;
        int n = repeat > 0 ? repeat : (first > 1.0f ? 1 : static_cast<int>(1.0f / (first + 1e-4f)) + 1);
        const float t1 = traz::cpu_seconds();
        g01hbt_ticks = 0;
        const unsigned long long ticks = __rdtsc();
        for (int r = 0; r < n; ++r) traz::run(deck, sink, sink);
        const double share = static_cast<double>(g01hbt_ticks) / static_cast<double>(__rdtsc() - ticks);
        const double per_run = (traz::cpu_seconds() - t1) / n;

        static traz::Deck d;
        static traz::StageValues sv;
        std::string error;
        traz::read_deck(deck, d, error);
        traz::derive_stages(d, sv);
        traz::SelectionState st = traz::selection_state(d, sv);
        traz::order_statistic_constants(st);
        std::printf("%s: %d stage(s), %d run(s), %.6f CPU s per run, %.1f%% of it in g01hbt\n", path.c_str(),
                    st.nstage, n, per_run, 100.0 * share);
        // Per pass: the passes of the plan once more, in order and from a fresh start as in
        // a run (the first pass evaluates the points that later passes find evaluated).
        static const int plan[7] = {1, 2, 3, 5, 9, 10, 11};
        traz::ftest_forget();
        for (int iz : plan) {
            for (long long& c : g01hbt_calls) c = 0;
            bvnd_calls = 0;
            const float p0 = traz::cpu_seconds();
            const traz::Integral in = st.nstage == 1 ? traz::quadrature_pass(st, iz, nullptr)
                                                     : traz::cubature_pass(st, iz, d.relerr, d.maxcls, nullptr);
            const float p1 = traz::cpu_seconds();
            const double n_eval = static_cast<double>(in.evaluations);
            std::printf("  iz %2d: %.6f CPU s, %8ld integrand evaluations, result %.17g\n", iz,
                        static_cast<double>(p1 - p0), in.evaluations, in.result);
            std::printf("         per evaluation: %.2f g01hbt calls of dimension 1, %.2f of 2, %.2f of 3; "
                        "%.2f bvnd calls in all\n",
                        g01hbt_calls[1] / n_eval, g01hbt_calls[2] / n_eval, g01hbt_calls[3] / n_eval,
                        static_cast<double>(bvnd_calls) / n_eval);
        }
    }
    return 0;
}
