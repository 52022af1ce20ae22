// The results record of one run: what was read, what was derived, what each pass
// integrated and what follows from the passes. The computation fills it once; the
// classic report, JSON and CSV are views of it and compute nothing themselves.
#pragma once
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "deck/deck.hpp"
#include "deck/stages.hpp"
#include "model/domain.hpp"

namespace traz {

// How a run ended.
enum class Outcome {
    computed,        // the passes ran
    limits_refused,  // the classic limits refused the deck after its echo (too many ...)
    refused,         // the deck checks refused the deck before any report line
    bad_deck,        // the deck could not be read
    unreadable,      // the deck file could not be opened or read
    fatal,           // a fatal library error after the echo
    stopped,         // stopped before the first integration on request (fuzzing)
};

// How the driver used a pass's result (the rules of the pass plan).
enum class PassUse {
    criterion,   // expected criterion score line, E = result
    share,       // group share: dropped (an empty line closes the group range)
    rates,       // selection rates (and AI ratio) line
    ratio,       // adverse-impact factor: dropped
    proportion,  // proportion selected and target ratio line
    moment2,     // second moment: V = result - E^2
    sd,          // SD of the average: C = result - E^2
    unused,      // selector 11: nothing
    other,       // a selector no rule names: reported as the criterion line
};

constexpr double kNone = NAN;  // a value the run did not produce

struct PassRecord {
    int pass = 0;          // 1-based
    int iz = 0;            // selector
    int group = 0;         // m of the share, rates and ratio rules
    PassUse use = PassUse::other;
    double result = 0.0;   // the value the pass uses (carried from the pass before when
    double abserr = 0.0;   // the cubature refused its arguments)
    long evaluations = 0;  // integrand evaluations
    int status = 0;        // ifail of the cubature, or ier of the quadrature
    bool multistage = false;
    bool carried = false;  // the integrator refused its arguments: values carried over
    bool empty_after = false;  // an empty line closes the rule's group range
    bool has_ai = false;       // the rates rule gives an AI ratio (pg(1) is not 1)
    double bound = 0.0;    // error bound of the result: abserr, plus the mass the domain missed
    // Values the rule derived (kNone where it derives none).
    double r1 = kNone, r2 = kNone, ai = kNone, sd = kNone;
    double r1_err = kNone, r2_err = kNone, ai_err = kNone, sd_err = kNone;
};

// A result with its error bound, propagated from the error estimates of the passes it
// is computed from. Both are NaN when the run did not produce the result.
struct BoundedResult {
    double value = kNone;
    double error = kNone;
    bool present() const { return !std::isnan(value); }
};

struct Results {
    BoundedResult criterion;   // expected criterion score of those selected
    BoundedResult rate1;       // expected selection rate of group 1
    BoundedResult rate2;       // expected selection rate of group 2
    BoundedResult ai;          // AI ratio rate2 / rate1
    BoundedResult impact;      // impact ratio: the lower rate over the higher (at most 1)
    BoundedResult sd;          // SD of the average criterion score of the selected
    BoundedResult proportion;  // proportion selected (one group)
    double target = kNone;  // target selection ratio ns(nstage)/napp
};

// How a fitted run obtained the passes' integrals: every pass's quantity at the same points,
// by a rule for the normal weight in the fitted coordinates raised level by level, or, when
// the rule could not meet the accuracy, by the adaptive integration over the fitted box.
struct FittedIntegration {
    bool used = false;          // the passes came from here (false: pass by pass as before)
    std::string rule;           // the rule's family
    int level = 0;              // the rule's last level computed
    bool level_settled = false; // the level was given (a sweep's, or the command line's)
    bool met = false;           // every quantity met the accuracy at that level
    long rule_points = 0;       // points of the rule (a point that levels share counts once)
    std::string fallback;       // why the adaptive integration took over ("" when it did not)
    std::string integrator;     // what gave the results: "rule", "cubature" or "quadrature"
    long points = 0;            // integrand evaluations of the passes, rule and fallback
};

// The check that the cut-score density integrates to 1 over the integration domain: the
// group-share passes add up to that integral.
struct MassCheck {
    bool done = false;      // false when the pass count leaves out a share pass
    double mass = kNone;    // sum of the share passes
    double threshold = kNone;
    bool warned = false;    // |mass - 1| above the threshold
};

struct RunRecord {
    std::string source;  // file name, or "-" for standard input
    Outcome outcome = Outcome::computed;
    std::string diagnostic;  // the one-line reason of a refusal or a bad deck
    DeckFault fault;         // the same with its statement, item and lines (when a deck statement is at fault)

    std::unique_ptr<Deck> deck = std::make_unique<Deck>();
    std::unique_ptr<StageValues> stages = std::make_unique<StageValues>();
    int ifin[10] = {};  // the classic limits that failed

    std::vector<PassRecord> passes;
    Results results;
    MassCheck mass;
    bool fitted_requested = false;
    // The default mode: the density the fixed cube lost (1 - its mass) when the passes were
    // recomputed over the fitted domain for that reason (NaN when they were not).
    double cube_lost = kNone;
    // --domain cube: the run kept the cube's results although the cube lost density, and
    // widened their bounds by what a run over the fitted domain shows.
    bool cube_kept = false;
    Domain domain;  // the integration domain of the passes
    FittedIntegration integration;  // how a fitted run integrated (integration.used)
    const char* domain_kind() const { return domain.fitted ? "fitted" : "cube"; }
    std::vector<std::string> warnings;  // one line each, for standard error

    float cpu_start = 0.0f, cpu_end = 0.0f;
    float cpu_seconds() const { return cpu_end - cpu_start; }
};

} // namespace traz
