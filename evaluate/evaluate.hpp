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
    // Without fitted: integrate over the classic cube and nothing else (--domain cube), its
    // numbers kept even where the cube loses density (bounds widened). Neither: the default,
    // the cube, with every pass recomputed over the fitted domain when the cube loses density.
    bool cube_only = false;
    // With fitted: integrate pass by pass with the adaptive integration over the fitted box
    // (the fitted method before the rule, kept for comparisons) instead of all passes at once
    // by the rule in the fitted coordinates.
    bool fitted_adaptive = false;
    // With fitted: the rule's level, settled from outside (0: raised until the accuracy is met).
    int fitted_level = 0;
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

// How the default mode names its recomputation over the fitted domain, from the density the
// cube lost (1 - its mass): "fitted (the fixed range lost 1.1e-2 of the density)", or, when the
// cube's mass came to more than 1, "fitted (the density over the fixed range came to 4.2e-2
// more than 1)". The report line and the warning say "integration domain: " and this (no
// apostrophe: the report's record layouts quote with it).
std::string domain_fallback_words(double cube_lost);

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

// Every pass of the problem model over a domain fitted to its density, all quantities at
// once: the rule in the fitted coordinates (level settled by level > 0, else raised until
// the deck's accuracy is met), falling back to the adaptive integration over the fitted box.
// Fills rec.domain, rec.integration and rec.passes (npass of them). Returns false, with
// rec.domain the classic one and a warning, when the density's shape cannot be fitted: the
// caller then integrates pass by pass over the classic domain.
bool integrate_fitted(const SelectionState& model, const Deck& d, int npass, int maxcls, int level, RunRecord& rec);

// The selector of pass p (1-based) in the pass plan.
int selector_of_pass(int p);

// Several selectors at once by the cubature over the box of a fitted domain (numfun = nsel):
// values, error estimates, the evaluations and the status of the one call.
struct Integrals {
    double result[16] = {}, abserr[16] = {};
    long evaluations = 0;
    int status = 0;
};
Integrals cubature_all(const SelectionState& s, const int* iz, int nsel, double relerr, int maxcls,
                       const Domain& domain);

// Takes a pass's integral into the values that carry from pass to pass: a cubature that
// refused its arguments (status 2 or more) wrote neither value, so they stay as they were
// (0 and 0 before the first pass). Returns true when the values were carried over.
bool take_integral(const Integral& in, bool multistage, double& result, double& abserr);

} // namespace traz
