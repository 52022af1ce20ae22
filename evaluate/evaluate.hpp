// The computation driver: deck in, report out.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

#include "deck/deck.hpp"
#include "evaluate/record.hpp"
#include "model/domain.hpp"
#include "model/state.hpp"

namespace traz {

struct RunOptions {
    // Stop after the order-statistic constants, before the first integration (fuzzing).
    bool stop_before_integration = false;
    // Caps for fuzzing the whole run: at most this many passes and this cubature budget
    // (0: the deck's own values).
    int pass_cap = 0;
    int budget_cap = 0;
    // Integrate over a domain fitted to the cut-score density instead of the classic one.
    bool fitted = false;
    // The deck's file name for diagnostics and the record ("" or "-": standard input).
    std::string source;
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

// Computes one problem from its deck text into rec. Writes nothing itself but the library
// messages (to the calling thread's message stream).
void compute(std::string_view deck_text, RunRecord& rec, const RunOptions& opt = {});
// The same for a deck already read (and completed as the reader completes it).
void compute_deck(const Deck& deck, RunRecord& rec, const RunOptions& opt = {});

// The exit status a run with this record ends with.
int exit_status(const RunRecord& rec);

// The selection state of a deck that passed the validation, prepared for the integrands
// (its order-statistic constants still to come).
SelectionState selection_state(const Deck& d, const StageValues& s);

// Log normalising constants of the stages' order-statistic densities (into s.dl4c).
void order_statistic_constants(SelectionState& s);

// Process CPU time (user plus system) in seconds, single precision.
float cpu_seconds();

// One integration over the stage cut scores of the problem s for the selector iz.
struct Integral {
    double result = 0.0, abserr = 0.0;
    long evaluations = 0;
    int status = 0;  // ier of the quadrature, ifail of the cubature
};
// Over the classic domain when domain is null or not fitted, else over the fitted one.
Integral quadrature_pass(const SelectionState& s, int iz, const Domain* domain);
Integral cubature_pass(const SelectionState& s, int iz, double relerr, int maxcls, const Domain* domain);

// Takes a pass's integral into the values that carry from pass to pass: a cubature that
// refused its arguments (status 2 or more) wrote neither value, so they stay as they were
// (0 and 0 before the first pass). Returns true when the values were carried over.
bool take_integral(const Integral& in, bool multistage, double& result, double& abserr);

} // namespace traz
