// The simulation's deck checks and its model: the joint normal distribution of the stage
// composites and the criterion within each group.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "deck/stages.hpp"
#include "deck/validate.hpp"
#include "simulate/simulate.hpp"

namespace traz::sim {

namespace {

// A composite whose variance is at most this fraction of (sum of |weights|)^2 has none:
// what is left is the rounding of the weighted sum.
constexpr double kZeroVariance = 1e-10;
constexpr double kMinWeightScale = 1e-60, kMaxWeightScale = 1e60;
// A conditional variance of a composite (or the criterion) given the ones before it at most
// this is 0: it is a weighted sum of them.
constexpr double kZeroPivot = 1e-12;

std::string num(double v, int digits = 6) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

int counts_line(const Deck& d, int item) { return item <= 3 + kMaxStage ? d.lines.counts[item - 1] : 0; }

bool check_counts(const Deck& d, DeckFault& fault) {
    const std::string what = statement_name(1);
    if (d.napp < 2 || d.napp > kMaxApplicants)
        return item_fault(fault, 1, what, 3, counts_line(d, 3),
                          "the simulation draws pools of 2 to " + std::to_string(kMaxApplicants) +
                              " applicants, not " + std::to_string(d.napp));
    for (int k = 1; k <= d.nstage; ++k) {
        const int prev = k == 1 ? d.napp : d.ns[k - 2], n = d.ns[k - 1];
        const std::string stage = "stage " + std::to_string(k);
        if (n == prev)
            return item_fault(fault, 1, what, 3 + k, counts_line(d, 3 + k),
                              stage + " keeps all " + std::to_string(prev) + " applicants: drop that stage");
        if (n > prev || n < 1)
            return item_fault(fault, 1, what, 3 + k, counts_line(d, 3 + k),
                              stage + " keeps " + std::to_string(n) + " of " + std::to_string(prev) + " applicants" +
                                  (n < 1 ? ": at least 1 must be kept" : ""));
    }
    return true;
}

bool check_groups(const Deck& d, DeckFault& fault) {
    const std::string what = statement_name(6);
    const double p = d.pg[0];
    if (d.ngroup != 1 && d.ngroup != 2)
        return item_fault(fault, 6, what, 1, d.lines.groups[0],
                          "the simulation draws one or two groups, not " + std::to_string(d.ngroup));
    if (d.ngroup == 1 && p != 1.0)
        return item_fault(fault, 6, what, 2, d.lines.groups[1],
                          "the proportion of the only group must be 1, not " + num(p));
    if (d.ngroup == 2 && !(p > 0.0 && p < 1.0))
        return item_fault(fault, 6, what, 2, d.lines.groups[1],
                          "with two groups the proportion of group 1 lies strictly between 0 and 1, not " + num(p));
    return true;
}

bool check_correlation_items(const Deck& d, DeckFault& fault) {
    for (int i = 1; i <= d.npred; ++i)
        if (!(std::fabs(d.coryt[i - 1]) <= 1.0))
            return item_fault(fault, 3, statement_name(3), i, i <= kMaxPred ? d.lines.validities[i - 1] : 0,
                              "validity " + num(d.coryt[i - 1]) + " of predictor " + std::to_string(i) +
                                  " is outside [-1, 1]");
    for (int i = 1; i < d.npred; ++i)
        for (int j = i + 1; j <= d.npred; ++j)
            if (!(std::fabs(d.Cormt(i, j)) < 1.0))
                return item_fault(fault, 4, statement_name(4, i), j - i, j <= kMaxPred ? d.lines.Correlation(i, j) : 0,
                                  "correlation " + num(d.Cormt(i, j)) + " of predictors " + std::to_string(i) +
                                      " and " + std::to_string(j) + " is outside (-1, 1)");
    return true;
}

// Stage j's composite must have a variance; w receives its weights divided by the largest in
// absolute value.
bool stage_weights(const Deck& d, int j, std::vector<double>& w, DeckFault& fault) {
    const int p = d.npred;
    const int first = j <= kMaxStage ? d.lines.weights[j - 1] : 0, last = j <= kMaxStage ? d.lines.weights_last[j - 1] : 0;
    const std::string stage = "stage " + std::to_string(j);
    auto refuse = [&](const std::string& why) { return statement_fault(fault, 2, statement_name(2, j), first, last, why); };
    double scale = 0.0;
    for (int i = 1; i <= p; ++i) scale = std::max(scale, std::fabs(d.Weip(j, i)));
    if (p == 0) return refuse(stage + "'s composite has zero variance: there are no predictors");
    if (scale == 0.0) return refuse(stage + "'s composite has zero variance: all its weights are 0");
    if (scale < kMinWeightScale || scale > kMaxWeightScale)
        return refuse(stage + "'s weights (largest " + num(scale) + " in absolute value) are outside the usable range " +
                     num(kMinWeightScale) + " to " + num(kMaxWeightScale) + ": rescale them");
    w.resize(static_cast<std::size_t>(p));
    double sum = 0.0, var = 0.0;
    for (int i = 0; i < p; ++i) w[i] = d.Weip(j, i + 1) / scale, sum += std::fabs(w[i]);
    for (int i = 0; i < p; ++i)
        for (int k = 0; k < p; ++k) var += w[i] * d.Cormt(i + 1, k + 1) * w[k];
    if (!(var > kZeroVariance * sum * sum))
        return refuse(stage + "'s composite has zero variance: its weights cancel through the predictor correlations "
                             "(variance " + num(var / (sum * sum), 3) + " of the weights' scale)");
    return true;
}

// Lower Cholesky factor of a positive semidefinite matrix (n x n, row by row, leading
// dimension kDim): a pivot at most kZeroPivot of its diagonal is a variable that the ones
// before it determine, and its column is 0.
void semidefinite_cholesky(const double* s, int n, double* l) {
    std::fill(l, l + kDim * kDim, 0.0);
    for (int k = 0; k < n; ++k) {
        double pivot = s[k * kDim + k];
        for (int i = 0; i < k; ++i) pivot -= l[k * kDim + i] * l[k * kDim + i];
        if (!(pivot > kZeroPivot * s[k * kDim + k])) continue;
        const double lkk = std::sqrt(pivot);
        l[k * kDim + k] = lkk;
        for (int r = k + 1; r < n; ++r) {
            double t = s[r * kDim + k];
            for (int i = 0; i < k; ++i) t -= l[r * kDim + i] * l[k * kDim + i];
            l[r * kDim + k] = t / lkk;
        }
    }
}

} // namespace

bool build_model(const Deck& d, Model& m, DeckFault& fault) {
    fault = {};
    if (!check_counts(d, fault) || !check_groups(d, fault) || !check_correlation_items(d, fault)) return false;
    std::vector<double> l(static_cast<std::size_t>(d.npred) * d.npred), w;
    if (!factor_correlations(d, l.data(), d.npred, fault)) return false;
    for (int j = 1; j <= d.nstage; ++j)
        if (!stage_weights(d, j, w, fault)) return false;
    if (!validities_fit(d, l.data(), d.npred, fault)) return false;

    // The standardized stage composites: their correlations, validities and group 1's means.
    StageValues v;
    derive_stages(d, v);
    const int K = d.nstage;
    double s[kDim * kDim] = {};
    for (int j = 0; j < K; ++j) {
        for (int k = 0; k < K; ++k) s[j * kDim + k] = j == k ? 1.0 : v.Cormc(j + 1, k + 1);
        s[j * kDim + K] = s[K * kDim + j] = v.cory[j];
        m.mean[0][j] = v.ef1[j];
        if (!std::isfinite(m.mean[0][j]))
            return statement_fault(fault, 5, statement_name(5), d.lines.effects, d.lines.effects,
                                   "group 1's mean on stage " + std::to_string(j + 1) + "'s composite is not a finite number");
    }
    s[K * kDim + K] = 1.0;
    m.mean[0][K] = d.efc[0];
    semidefinite_cholesky(s, K + 1, m.chol);

    m.napp = d.napp;
    m.nstage = K;
    m.ngroup = d.ngroup;
    std::copy(d.ns, d.ns + K, m.ns);
    m.pg1 = d.ngroup == 1 ? 1.0 : d.pg[0];
    return true;
}

} // namespace traz::sim
