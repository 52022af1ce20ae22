// Prints the CPU seconds of whole runs of decks (default: the example decks), per run and
// per pass, with the integrand evaluations of each pass.
//   bench_driver [--repeat N] [deck ...]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "model/state.hpp"
#include "model/model.hpp"
#include "mvn/bvnd.hpp"

// Counters of the normal-probability calls, through the linker's symbol wrapping so that the
// program's own code is unchanged: g01hbt by dimension, and bvnd wherever it is called from.
namespace {
long long g01hbt_calls[5];
long long bvnd_calls;
} // namespace

#define G01HBT _ZN4traz6g01hbtERKiPKdS3_S3_RdRiS4_
#define BVND _ZN4traz4bvndERKdS1_S1_
#define BVND_PREPARED _ZN4traz13bvnd_preparedERKdS1_RKNS_9bvnd_ruleE
#define CAT(a, b) a##b
#define WRAP(f) CAT(__wrap_, f)
#define REAL(f) CAT(__real_, f)

extern "C" {
void REAL(G01HBT)(const int& nd, const double* a, const double* b, const double* cormul, double& err,
                  int& ifail, double& prob);
void WRAP(G01HBT)(const int& nd, const double* a, const double* b, const double* cormul, double& err,
                  int& ifail, double& prob) {
    ++g01hbt_calls[nd >= 1 && nd <= 4 ? nd : 0];
    REAL(G01HBT)(nd, a, b, cormul, err, ifail, prob);
}
double REAL(BVND)(const double& h, const double& k, const double& r);
double WRAP(BVND)(const double& h, const double& k, const double& r) {
    ++bvnd_calls;
    return REAL(BVND)(h, k, r);
}
// The trivariate integrand calls the bivariate routine with its correlation prepared once.
double REAL(BVND_PREPARED)(const double& h, const double& k, const traz::bvnd_rule& rule);
double WRAP(BVND_PREPARED)(const double& h, const double& k, const traz::bvnd_rule& rule) {
    ++bvnd_calls;
    return REAL(BVND_PREPARED)(h, k, rule);
}
}

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

int main(int argc, char** argv) {
    int repeat = 0;
    std::vector<std::string> decks;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) repeat = std::atoi(argv[++i]);
        else decks.push_back(argv[i]);
    }
    if (decks.empty())
        for (const char* name : {"single-stage", "two-stage", "three-stage"})
            decks.push_back(std::string(TRAZ_SOURCE_DIR) + "/examples/" + name + ".deck");

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
        for (int r = 0; r < n; ++r) traz::run(deck, sink, sink);
        const double per_run = (traz::cpu_seconds() - t1) / n;

        static traz::Deck d;
        std::string error;
        traz::read_deck(deck, d, error);
        std::printf("%s: %d stage(s), %d run(s), %.6f CPU s per run\n", path.c_str(), traz::sel.nstage,
                    n, per_run);
        // Per pass: the passes of the plan once more, in order and from a fresh start as in
        // a run (the first pass evaluates the points that later passes find evaluated).
        static const int plan[7] = {1, 2, 3, 5, 9, 10, 11};
        traz::ftest_forget();
        for (int iz : plan) {
            traz::sel.iz = iz;
            for (long long& c : g01hbt_calls) c = 0;
            bvnd_calls = 0;
            double result = 0.0, abserr = 0.0;
            const float p0 = traz::cpu_seconds();
            if (traz::sel.nstage == 1) result = traz::integrate_single_stage();
            else traz::integrate_multistage(sink, result, abserr, d.relerr, d.maxcls);
            const float p1 = traz::cpu_seconds();
            const double n_eval = static_cast<double>(traz::last_pass_evaluations());
            std::printf("  iz %2d: %.6f CPU s, %8ld integrand evaluations, result %.8f\n", iz,
                        static_cast<double>(p1 - p0), traz::last_pass_evaluations(), result);
            std::printf("         per evaluation: %.2f g01hbt calls of dimension 1, %.2f of 2, %.2f of 3; "
                        "%.2f bvnd calls in all\n",
                        g01hbt_calls[1] / n_eval, g01hbt_calls[2] / n_eval, g01hbt_calls[3] / n_eval,
                        static_cast<double>(bvnd_calls) / n_eval);
        }
    }
    return 0;
}
