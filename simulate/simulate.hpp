// The finite-sample simulation of a deck: each replication draws a pool of applicants and
// runs the stages, and the outcomes an employer would observe are summarised over the
// replications: expectations with Monte Carlo standard errors, probabilities of adverse-impact
// findings and quantiles.
#pragma once
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "deck/deck.hpp"

namespace traz::sim {

constexpr int kMaxApplicants = 1000000;  // largest pool a replication draws
constexpr int kDim = kReadStage + 1;     // stage composites and the criterion

// The model of one replication, derived from a deck that passed the simulation's checks.
// Within a group the standardized stage composites and the criterion are jointly normal with
// correlation matrix S = L L' (stages 1..nstage, then the criterion); group 1's means are
// mean[0][.], group 2's mean[1][.] (all 0). Drawing e ~ N(0, I), composite k is
// mean[g][k] + sum_{i<=k} L(k, i) e_i, so a stage needs only the e_i of those still in the pool.
struct Model {
    int napp = 0, nstage = 0, ngroup = 0;
    int ns[kReadStage] = {};
    double pg1 = 1.0;                // proportion of group 1
    double mean[2][kDim] = {};
    double chol[kDim * kDim] = {};   // L, row by row: L(k, i) = chol[k * kDim + i]
    double L(int k, int i) const { return chol[k * kDim + i]; }
    int hires() const { return ns[nstage - 1]; }
};

// Checks that the deck describes a model the simulation can draw and derives the model.
// Returns false with the fault: the statement, the item and its line when the reader kept it
// (up to 10 predictors and 3 stages), and a one-line message in the words of `traz`'s checks.
bool build_model(const Deck& d, Model& m, DeckFault& fault);

// What one replication records: the mean criterion score of those finally selected, and
// each group's applicants and hires.
struct Replication {
    double mean_criterion = 0.0;
    int applicants[2] = {};
    int hires[2] = {};
};

// An applicant still in the pool, with its score on the current stage's composite.
struct Candidate {
    double score;
    int id;   // applicant
    int row;  // row of its draws
};

// Keeps in cand[0 .. keep) the best `keep` of cand[0 .. n), which are in applicant order: the
// highest scores, a tie at the cut going to the lower applicant numbers, so the kept set never
// depends on how the scores were ordered. They stay in applicant order. `work` holds 2n doubles.
void keep_best(Candidate* cand, int n, int keep, double* work);

class Stream;  // the random words of a replication

// Draws replications of one model; owns the work space of one thread.
class Replicator {
public:
    explicit Replicator(const Model& m);
    ~Replicator();
    Replicator(const Replicator&) = delete;
    Replicator& operator=(const Replicator&) = delete;
    // Replication r of the run with this seed: its draws come from the Philox stream keyed by
    // the seed with r in the counter, whatever thread runs it.
    Replication run(std::uint64_t seed, std::uint64_t r);

private:

    const Model& m_;
    std::unique_ptr<Stream> stream_;
    std::vector<Candidate> cand_;
    std::vector<double> work_;            // of keep_best
    std::vector<double> first_;           // stage 1 draw of every applicant
    int dim_;                             // draws per row: stages and criterion
    std::vector<double> noise_;           // draws of the stage 1 survivors, dim_ per row
    std::vector<int> row_id_, rows_;
};

// The 2 x 2 table of hires by group of one replication, and what an adverse-impact analysis
// reads from it. Group g has n[g] applicants and h[g] hires (g = 0: group 1).
struct TableOutcome {
    bool defined = false;  // both groups have applicants: the impact ratio exists
    double rate[2] = {NAN, NAN};
    double impact_ratio = NAN;  // lower rate over higher
    double ai_ratio = NAN;      // group 2's rate over group 1's; NaN when group 1 hired nobody
    bool four_fifths = false;   // impact ratio below 4/5 (decided in integers)
    double p_fisher = NAN;      // two-sided p of Fisher's exact test
    double p_z = NAN;           // two-sided p of the pooled two-proportion Z test
    bool z_defined = false;     // its pooled variance is positive
    bool no_hire[2] = {};
};
TableOutcome table_outcome(const int n[2], const int h[2]);

// Two-sided p of Fisher's exact test of the table (x hires of t group-1 applicants, `hires`
// of `total` applicants): the sum of the hypergeometric probabilities not above that of x,
// with a relative tolerance of 1e-7 (as R's fisher.test).
double fisher_p(int total, int hires, int t, int x);

// The replications of a run, or of a shard of it: the mean criterion score of each
// replication in replication order, and how many replications had each table, keyed by
// (group 1's applicants, group 1's hires).
struct Sample {
    std::int64_t first = 0;  // the first replication's number
    std::vector<double> mean_criterion;
    std::map<std::pair<int, int>, std::int64_t> tables;
};

// Called from the calling thread about four times a second with the replications done.
using Progress = std::function<void(std::int64_t done)>;

// Runs replications first .. first+count-1 on `jobs` threads (0: every core). The sample is
// the same bit for bit whatever the number of jobs.
Sample simulate(const Model& m, std::uint64_t seed, std::int64_t first, std::int64_t count, int jobs,
                const Progress& progress = {});

// An estimate with its Monte Carlo standard error (NaN when it does not exist).
struct Estimate {
    double value = NAN, se = NAN;
};

// The summary of a whole run.
struct Summary {
    std::int64_t replications = 0;
    std::int64_t undefined = 0;    // replications with a group without applicants
    std::int64_t z_undefined = 0;  // defined replications whose Z test has no variance
    Estimate criterion;            // E: expected mean criterion score of those selected
    Estimate rate[2];              // expected hires of group g over its expected applicants
    Estimate ai_ratio;             // rate[1] / rate[0], delta-method SE
    Estimate impact_ratio;         // mean realised impact ratio (defined replications)
    Estimate sd;                   // SD of the mean criterion score across replications
    Estimate p_four_fifths, p_fisher, p_z, p_both, p_no_hire[2];  // over defined replications
    Estimate share_undefined;
    double criterion_q[3] = {NAN, NAN, NAN};  // 5, 50 and 95 % points
    double impact_q[3] = {NAN, NAN, NAN};
};
constexpr double kQuantiles[3] = {0.05, 0.50, 0.95};

// The sample is taken over: its values are sorted for the quantiles.
Summary summarise(const Model& m, Sample s);

// Quantile p of sorted values, interpolated as R's quantile() by default (type 7).
double quantile_sorted(const std::vector<double>& sorted, double p);

} // namespace traz::sim
