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

// The stages from their weights (a row per stage) and retained counts, as the bindings take
// them; throws Error (statement 1) when the two counts of stages differ.
std::vector<Stage> stages_of(const std::vector<std::vector<double>>& weights, const std::vector<int>& retained);

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
struct SweepRequest {
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
std::vector<std::string> sweep_names(const Design& base, const SweepRequest& request);
// Runs the sweep. on_point, when given, receives the points in grid order as they are done
// (on the calling thread); the points are also returned in that order. Results do not depend
// on jobs or shards, bit for bit. Throws Error for a bad range, a grid beyond
// kMaxSweepPoints, or when no thread can be started.
std::vector<SweepPoint> sweep(const Design& base, const SweepRequest& request,
                              const std::function<void(const SweepPoint&)>& on_point = {});

// Finite-sample simulation: replications that each draw a pool and run the stages, and what
// an employer would observe summarised over them.
struct SimulationRequest {
    long long replications = 100000;
    unsigned long long seed = 1;  // replication r draws from the stream of (seed, r)
    int jobs = 0;                 // threads (0: every core); the results do not depend on it
    // Called on the calling thread with the replications done, about four times a second.
    std::function<void(long long done)> progress;
};

// An estimate with its Monte Carlo standard error (NaN where it does not exist).
struct Estimate {
    double value = NAN;
    double se = NAN;
};

struct Simulation {
    long long replications = 0;
    Estimate expected_criterion_score;    // mean over replications of the mean criterion score selected
    Estimate selection_rate_group1;       // expected hires over expected applicants, per group
    Estimate selection_rate_group2;
    Estimate ai_ratio;                    // of the expected rates, group 2's over group 1's
    Estimate impact_ratio;                // mean realised impact ratio (replications where it is defined)
    Estimate sd_average_criterion_score;  // SD of the mean criterion score across replications
    // Probabilities over the replications whose impact ratio is defined (both groups have applicants):
    Estimate p_four_fifths;               // the impact ratio is below 4/5
    Estimate p_fisher;                    // Fisher's exact test, two-sided p < .05
    Estimate p_z;                         // the pooled two-proportion Z test, two-sided p < .05
    Estimate p_both;                      // flagged by the four-fifths rule and Fisher's test
    Estimate p_no_hire_group1, p_no_hire_group2;
    Estimate share_undefined;             // replications with a group without applicants
    long long undefined = 0;              // their number
    long long z_undefined = 0;            // defined replications whose Z test has no variance
    double criterion_quantiles[3] = {NAN, NAN, NAN};     // 5, 50 and 95 % points of the mean criterion score
    double impact_ratio_quantiles[3] = {NAN, NAN, NAN};  // and of the realised impact ratio
};

// Simulates a design (pools up to 1,000,000 applicants, up to 10 stages and 100 predictors).
// Throws Error for a design the simulation cannot draw (with the statement and item at fault).
Simulation simulate(const Design& design, const SimulationRequest& request = {});

// ---------------------------------------------------------------------------------------------
// Which design? Pareto-optimal stage weights, and designs side by side.
// ---------------------------------------------------------------------------------------------

// A weight the Pareto search may change: predictor `predictor` of stage `stage` (both 1-based),
// one whose weight in the base design is not zero.
struct FreeWeight {
    int stage = 0;
    int predictor = 0;
};

// How each front point is searched. The defaults are the measured choice; the others are
// kept so that the benchmark can compare them.
struct ParetoMethod {
    enum class Optimiser { slsqp, cobyla };
    Optimiser optimiser = Optimiser::slsqp;  // SLSQP with finite-difference gradients, or COBYLA
    // Where the points lie: equal steps along the chord between the ends, with E and the impact
    // ratio scaled to [0, 1] between them, each point the farthest design along the chord's
    // normal (normal-boundary intersection); or equal steps of the impact ratio, each point the
    // highest E at an impact ratio of at least its step (the points crowd where E falls slowly).
    enum class Spacing { normal_boundary, impact_steps };
    Spacing spacing = Spacing::normal_boundary;
    int starts = 3;                 // local searches per front point (the best one counts)
    int candidates = 8;             // quasi-random designs screened for the starts
    int max_evaluations = 400;      // per local search
    double step = 1e-4;             // finite-difference step in the chart coordinates
    double search_relerr = 1e-5;    // accuracy the search's level of the fitted rule is settled for
    // The level of the fitted rule for every evaluation of the search (the results are then
    // smooth in the weights). 0: the highest level that the base design, the chart's centre,
    // the heuristic starts and the screened designs need at search_relerr (no level, each
    // design its own, when one of them needs the adaptive fallback).
    int fitted_level = 0;
};

struct ParetoRequest {
    int points = 21;                // along the front, both ends included (at least 2)
    bool negative_weights = false;  // weights may take either sign
    int jobs = 0;                   // threads (0: every core)
    int shard_index = 1, shard_count = 1;  // points I, I+N, I+2N, ... only
    std::string source;             // the base deck's file name, for the rows
    // Called on the calling thread with the points done so far and the total, about four
    // times a second and at the end: for a progress bar.
    std::function<void(int done, int total)> progress;
    ParetoMethod method;
};

// One point of the front. Point 1 is the design with the highest expected criterion score,
// point N the one with the highest impact ratio; the points between lie in equal steps as the
// method's spacing says.
struct ParetoPoint {
    int point = 0;
    double target_impact_ratio = NAN;  // with impact_steps: the search's lower limit (NaN otherwise and at the ends)
    std::vector<double> weights;       // one per free weight; each stage's sum to 1 in absolute value
    Design design;                     // the base design with these weights
    Result result;                     // the design evaluated at the base's relerr (fitted domain)
    bool settled = false;              // the search converged and met its target
    std::string status;                // "settled", or why not
    std::string optimiser;             // the optimiser's stopping reason for the best start
    long evaluations = 0;              // designs evaluated by the search of this point
    int starts = 0;                    // local searches run
    int starts_agreeing = 0;           // of which ended within 1e-5 of the best score
};

struct ParetoFront {
    std::vector<FreeWeight> free_weights;  // the order of ParetoPoint::weights
    int search_level = 0;                  // the fitted rule's level in the search (0: none settled)
    ParetoPoint highest_criterion;         // the end with the highest expected criterion score
    ParetoPoint highest_impact;            // the end with the highest impact ratio
    std::vector<ParetoPoint> points;       // this shard's points, in order
    int total_points = 0;                  // the front's points over all shards
};

// The free weights of a base design, after checking that it can be searched (two groups, at
// least 4 passes, a stage with two or more weights, no negative weight without
// negative_weights, sound points and shard); throws Error otherwise.
std::vector<FreeWeight> pareto_free_weights(const Design& base, const ParetoRequest& request);
// Searches the front of the base design: every point maximises the expected criterion score at
// an impact ratio of at least its target. on_point, when given, receives this shard's points
// in order as they are done (on the calling thread). Results do not depend on jobs or shards,
// bit for bit. Throws Error for a base that cannot be searched.
ParetoFront pareto(const Design& base, const ParetoRequest& request,
                   const std::function<void(const ParetoPoint&)>& on_point = {});

// Designs side by side: each one's results, its differences to the first, and which designs
// another one beats in both the expected criterion score and the impact ratio. The designs are
// named A, B, C, ... in order.
struct Comparison {
    struct Quantities {
        Bounded expected_criterion_score, selection_rate_group1, selection_rate_group2, ai_ratio,
            impact_ratio, sd_average_criterion_score;
    };
    std::vector<Result> results;          // one per design, in order
    // One per design: its quantities minus the first design's, each bounded by the sum of the
    // two bounds.
    std::vector<Quantities> differences;
    // dominated_by[i]: the designs (0-based) higher than design i in both the expected
    // criterion score and the impact ratio by more than the bound of the difference.
    std::vector<std::vector<int>> dominated_by;
    // One line: which designs are dominated; or that none is, each being higher in one of the
    // two; or that every difference is within the integration error.
    std::string verdict;
};

// Evaluates the designs (sources: their deck file names for the results, may be empty) and
// compares them. A design that is not computed is left out of the verdict.
Comparison compare(const std::vector<Design>& designs, const std::vector<std::string>& sources = {});

} // namespace traz
