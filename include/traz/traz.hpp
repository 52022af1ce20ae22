// TRAZ as a library: a selection design in, its expected outcomes with error bounds out.
//
// A design is a finite pool of applicants from two groups (or one) passing one to three
// selection stages; each stage ranks those still in the pool on a weighted composite of the
// predictors and keeps a fixed number. evaluate() integrates over the stage cut scores and
// returns the expected criterion score of those finally selected, each group's expected
// selection rate, the adverse-impact ratios and the SD of the average criterion score, each
// with an error bound.
//
//     traz::Design d = traz::Design::from_deck(text);   // or fill the fields in code
//     traz::Result r = traz::evaluate(d);
//     if (r.ok()) std::printf("%g +- %g\n", r.expected_criterion_score.value,
//                             r.expected_criterion_score.error_bound);
//
// Every call works on its own data: calls from several threads at once are safe and give
// the same results as one at a time. Nothing here reads or writes a global of the caller's.
#pragma once
#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace traz {

struct RunRecord;  // the evaluation's whole record, which the report, JSON and CSV render
struct DeckLines;  // where each item of a deck's text stood

// How the passes integrate over the stage cut scores.
enum class Integration {
    automatic,  // the fixed cube, every pass recomputed over the fitted domain when the cube loses density
    cube,       // the fixed cube [-4.5, 4.5] per stage ([-6.5, 6.5] for one stage) and its numbers, however
                // much density it loses (then a warning, and bounds widened by a run over the fitted domain)
    fitted,     // a domain fitted to the cut-score density
};

// "automatic", "cube" or "fitted" (the command line's --domain); throws Error for another name.
Integration integration_named(std::string_view name);

struct Stage {
    std::vector<double> weights;  // one per predictor; 0 leaves a predictor out of this stage
    int retained = 0;             // applicants this stage keeps
};

// A selection design. Group 1 is the group the effect sizes describe; group 2 is the
// reference group with means 0.
struct Design {
    std::vector<double> validities;                 // correlation of each predictor with the criterion
    std::vector<std::vector<double>> correlations;  // predictor correlations: symmetric, unit diagonal
    std::vector<double> effect_sizes;               // group 1 minus group 2 per predictor, in within-group SDs
    std::vector<Stage> stages;                      // in order; each keeps fewer than the one before
    int applicants = 0;                             // the pool
    int groups = 2;                                 // 1 or 2
    double proportion = 0.5;                        // of group 1 in the pool (1 with one group)
    double criterion_effect = 0.0;                  // group 1 minus group 2 on the criterion, in SDs
    int passes = 7;                                 // 7 give every result
    double relerr = 1.0e-4;                         // relative accuracy of two- and three-stage passes
    int maxcls = 100000;                            // integrand evaluations a pass may spend
    Integration integration = Integration::automatic;

    // Reads deck text (the eight statements); throws Error when it cannot be read.
    static Design from_deck(std::string_view text);
    // The design as deck text that from_deck reads back to the same values.
    std::string to_deck() const;

    // Where each item stood in the deck text it was read from (null for a design built in
    // code), so that a refusal can name the line.
    std::shared_ptr<const DeckLines> lines;
};

// Why a design was not computed: the deck statement (1..8) and item (0: the statement as a
// whole) at fault and its line in the deck text (0 when there was none), with the one-line
// message the command line prints.
struct Diagnostic {
    int statement = 0;
    int item = 0;
    int line = 0;
    std::string message;
};

class Error : public std::runtime_error {
public:
    explicit Error(Diagnostic d) : std::runtime_error(d.message), diagnostic_(std::move(d)) {}
    const Diagnostic& diagnostic() const { return diagnostic_; }

private:
    Diagnostic diagnostic_;
};

// A result with its error bound: |true value - value| <= error_bound as far as the
// integrators' error estimates hold. NaN when the design's passes do not give it; an
// infinite bound means none could be given.
struct Bounded {
    double value = NAN;
    double error_bound = NAN;
    bool present() const { return !std::isnan(value); }
};

// One integration over the stage cut scores.
struct PassResult {
    int pass = 0;
    int selector = 0;
    std::string integrates;    // what the pass integrates, in words
    double result = NAN;
    double error_estimate = NAN;
    long evaluations = 0;
    int status = 0;            // 0: the accuracy was met
    std::string status_meaning;
    bool carried_over = false; // the integrator refused its arguments: the previous values were kept
};

struct Result {
    // "computed", or why not: "refused" (the checks), "refused_after_echo" (the classic
    // limits), "bad_deck", "fatal_library_error".
    std::string outcome;
    Diagnostic diagnostic;  // when not computed
    bool ok() const { return outcome == "computed"; }

    Bounded expected_criterion_score;    // of those finally selected, from group 2's mean, in SDs
    Bounded selection_rate_group1;
    Bounded selection_rate_group2;
    Bounded ai_ratio;                    // group 2's rate over group 1's
    Bounded impact_ratio;                // the lower rate over the higher (what the four-fifths rule judges)
    Bounded sd_average_criterion_score;  // SD of the average criterion score of those selected
    Bounded proportion_selected;         // one group: its share passing every stage
    double target_selection_ratio = NAN; // retained at the last stage over the pool

    std::vector<PassResult> passes;
    bool mass_checked = false;           // the group-share passes were there to check the density
    double mass = NAN;                   // what the cut-score density integrates to (1 when whole)
    std::string domain;                  // "cube" or "fitted"
    // The default mode recomputed every pass over the fitted domain because the fixed cube lost
    // this much of the cut-score density (NaN when it did not).
    double cube_lost = NAN;
    // Fitted integration: the rule's level, whether it was settled from outside, the
    // integrand evaluations of the passes, and why the adaptive integration took over from
    // the rule ("" when it did not).
    int rule_level = 0;
    bool rule_level_settled = false;
    long points = 0;
    std::string fallback;
    std::vector<std::string> warnings;   // one line each
    std::string library_messages;        // message blocks of the numerical library, if any
    double cpu_seconds = 0.0;

    std::shared_ptr<const RunRecord> record;  // the whole record, for the views below
};

struct Options {
    std::string source;  // the deck's file name, for diagnostics and the views ("" for none)
    // Fitted integration: the level of the rule in the fitted coordinates, settled (0: raised
    // until relerr is met, or the adaptive integration takes over). A run given the level a
    // sweep settled on gives that sweep's numbers.
    int fitted_level = 0;
};

// Evaluates a design. A design the checks refuse gives a result that is not ok() with its
// diagnostic (evaluate never throws for that); a design whose fields do not fit together
// (weights of the wrong length, a correlation matrix that is not square) throws Error.
Result evaluate(const Design& design, const Options& options = {});
// Reads deck text and evaluates it as integration says; a deck that cannot be read gives
// outcome "bad_deck".
Result evaluate_deck(std::string_view deck_text, const Options& options = {},
                     Integration integration = Integration::automatic);

// Views of a result: the classic report, the JSON object, and a CSV header and row.
std::string report(const Result& result);
std::string to_json(const Result& result);
std::string csv_header();
std::string csv_row(const Result& result);

// Design sweeps: one or two quantities varied over a grid, every point a full evaluation.
struct SweepSpec {
    // "NAME=FROM:TO:STEP" or "NAME=V1,V2,..." with NAME one of ns(k), napp, pg, efc, ef(i),
    // cory(i), mix(k); two for a grid, the first varying fastest.
    std::vector<std::string> vary;
    std::vector<double> mix_to;  // mix(k): stage k's weights become (1 - t) A + t B, B these
    int jobs = 0;                // threads (0: every core)
    int shard_index = 1, shard_count = 1;  // points I, I+N, I+2N, ... only
    std::string source;          // the base deck's file name, for the rows and diagnostics
    // Fitted integration: the rule's level for every point. 0: the sweep settles it before
    // the first point, one above the highest level the grid's corners need (their results
    // then change smoothly from point to point); every point records it.
    int fitted_level = 0;
    // Called on the calling thread with the points done so far (in any order) and the total,
    // about four times a second and at the end: for a progress bar.
    std::function<void(int done, int total)> progress;
    // Called on the calling thread about four times a second; once it returns true no
    // further point starts, the points running finish, those that complete the grid order
    // are still handed on, and sweep() returns the points handed on so far.
    std::function<bool()> cancel;
    // false: each point's result is released once on_point has had it (the points returned
    // then carry their number and values only), so that a long sweep's memory stays bounded.
    bool keep_results = true;
};

// Most points a sweep's grid may have (before sharding); larger grids are refused before
// anything is allocated for them.
constexpr long kMaxSweepPoints = 1000000;
// Most threads a sweep runs, whatever jobs asks for; fewer when the machine's memory is
// small (each thread keeps a memo of integrand values of about 25 MB).
constexpr int kMaxSweepJobs = 256;

struct SweepPoint {
    int point = 0;                   // 1-based in the grid
    std::vector<double> values;      // of the varied quantities, in the order of vary
    Result result;
};

// The names of the varied quantities ("mix(2)", "pg"), after checking the ranges against the
// base design; throws Error for a bad range.
std::vector<std::string> sweep_names(const Design& base, const SweepSpec& spec);
// Runs the sweep. on_point, when given, receives the points in grid order as they are done
// (on the calling thread); the points are also returned in that order. Results do not depend
// on jobs or shards, bit for bit. Throws Error for a bad range, a grid beyond
// kMaxSweepPoints, or when no thread can be started.
std::vector<SweepPoint> sweep(const Design& base, const SweepSpec& spec,
                              const std::function<void(const SweepPoint&)>& on_point = {});

} // namespace traz
