// The computation driver: deck in, report out.
#pragma once
#include <cstdio>
#include <string_view>

#include "driver/deck.hpp"
#include "driver/report.hpp"

namespace traz {

struct RunOptions {
    // Stop after the order-statistic constants, before the first integration (fuzzing).
    bool stop_before_integration = false;
    // Caps for fuzzing the whole run: at most this many passes and this cubature budget
    // (0: the deck's own values).
    int pass_cap = 0;
    int budget_cap = 0;
    // Process CPU time in seconds; replaced in tests to make the time line fixed.
    float (*cpu_clock)() = nullptr;
    // The clock reading taken as the program's first action, when the caller has one.
    bool has_start = false;
    float start = 0.0f;
};

// Exit statuses of a run.
constexpr int kRunOk = 0;
constexpr int kRunBadDeck = 1;
constexpr int kRunFatal = 2;
constexpr int kRunWriteError = 3;

// Runs one problem: reads the deck text, writes the report to out and diagnostics to err.
int run(std::string_view deck_text, std::FILE* out, std::FILE* err, const RunOptions& opt = {});

// Stage composites of the deck's predictors: correlations, validities and group 1's means.
void derive_stages(const Deck& d, StageValues& s);

// Fills the shared selection state from a deck that passed the validation.
void fill_state(const Deck& d, const StageValues& s);

// Log normalising constants of the stages' order-statistic densities (into sel.dl4c).
void order_statistic_constants();

// Process CPU time (user plus system) in seconds, single precision.
float cpu_seconds();

// Integration of one pass over the stage cut scores for the current selector.
// Writes the status line of a cubature that ends abnormally.
void integrate_multistage(std::FILE* out, double& result, double& abserr, double relerr, int maxcls);
double integrate_single_stage();

// Integrand evaluations of the latest integration (for benchmarks).
long last_pass_evaluations();
void set_pass_evaluations(long n);

} // namespace traz
