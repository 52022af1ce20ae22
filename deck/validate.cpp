#include "deck/validate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

extern "C" void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t);

namespace traz {

namespace {

// Limits of what is computed, and the thresholds of the numerical checks.
constexpr int kWorkSize = 5000000;          // doubles in the cubature's work array
constexpr double kMinWeightScale = 1e-60;  // largest |weight| of a stage, at least ...
constexpr double kMaxWeightScale = 1e60;   // ... and at most (the variances are squared)
// A composite whose variance is at most this fraction of (sum of |weights|)^2 has none:
// what is left is the rounding of the weighted sum.
constexpr double kZeroVariance = 1e-10;
// A stage composite whose variance given the earlier stages' composites is at most this
// (in units of its own variance) depends linearly on them.
constexpr double kDependentStage = 1e-10;
// Rounding allowed in the squared multiple correlation above 1 (a criterion that is a
// weighted sum of the predictors has exactly 1).
constexpr double kMultipleCorrelationSlack = 1e-10;
constexpr double kMaxCriterionMean = 10.0;
constexpr double kMinProportion = 0.01;   // of group 1, with two groups

std::string num(double v, int digits = 6) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

std::string lines_text(int first, int last) {
    return first == last ? "line " + std::to_string(first)
                         : "lines " + std::to_string(first) + " to " + std::to_string(last);
}

// Lower Cholesky factor of the leading n x n block of a symmetric matrix (leading dimension
// ld, column by column); returns LAPACK's info: 0, or the order of the first leading minor
// that is not positive definite.
int cholesky(double* a, int n, int ld) {
    int info = 0;
    dpotrf_("L", &n, a, &ld, &info, 1);
    return info;
}

bool check_counts(const Deck& d, DeckFault& fault) {
    const std::string what = statement_name(1);
    if (d.napp < 2)
        return item_fault(fault, 1, what, 3, d.lines.counts[2],
                          "a pool of " + std::to_string(d.napp) + " applicants leaves nobody to select: "
                          "at least 2 are needed");
    for (int k = 1; k <= d.nstage; ++k) {
        const int prev = k == 1 ? d.napp : d.ns[k - 2];
        const int n = d.ns[k - 1];
        const int item = 3 + k, line = d.lines.counts[2 + k];
        const std::string stage = "stage " + std::to_string(k);
        if (n == prev)
            return item_fault(fault, 1, what, item, line,
                              stage + " keeps all " + std::to_string(prev) + " applicants: drop that stage");
        if (n > prev || n < 1)
            return item_fault(fault, 1, what, item, line,
                              stage + " keeps " + std::to_string(n) + " of " + std::to_string(prev) +
                                  " applicants" + (n < 1 ? ": at least 1 must be kept" : ""));
    }
    return true;
}

bool check_correlation_items(const Deck& d, DeckFault& fault) {
    for (int i = 1; i <= d.npred; ++i)
        if (!(std::fabs(d.coryt[i - 1]) <= 1.0))
            return item_fault(fault, 3, statement_name(3), i, d.lines.validities[i - 1],
                              "validity " + num(d.coryt[i - 1]) + " of predictor " + std::to_string(i) +
                                  " is outside [-1, 1]");
    for (int i = 1; i < d.npred; ++i)
        for (int j = i + 1; j <= d.npred; ++j)
            if (!(std::fabs(d.Cormt(i, j)) < 1.0))
                return item_fault(fault, 4, statement_name(4, i), j - i, d.lines.Correlation(i, j),
                                  "correlation " + num(d.Cormt(i, j)) + " of predictors " + std::to_string(i) +
                                      " and " + std::to_string(j) + " is outside (-1, 1)");
    return true;
}

bool check_settings(const Deck& d, DeckFault& fault) {
    const std::string what = statement_name(6);
    const int* line = d.lines.groups;
    if (d.ngroup != 1 && d.ngroup != 2)
        return item_fault(fault, 6, what, 1, line[0],
                          "TRAZ computes one or two groups, not " + std::to_string(d.ngroup));
    const double p = d.pg[0];
    if (d.ngroup == 1 && p != 1.0)
        return item_fault(fault, 6, what, 2, line[1],
                          "the proportion of the only group must be 1, not " + num(p));
    if (d.ngroup == 2 && !(p > 0.0 && p < 1.0))
        return item_fault(fault, 6, what, 2, line[1],
                          "with two groups the proportion of group 1 lies strictly between 0 and 1, not " + num(p));
    if (d.ngroup == 2 && p < kMinProportion)
        return item_fault(fault, 6, what, 2, line[1],
                          "a proportion of group 1 below " + num(kMinProportion) + " (here " + num(p) +
                              ") leaves its selection rate, a difference of two integrals divided by the "
                              "proportion, to rounding");
    if (d.npass < 1)
        return item_fault(fault, 6, what, 3, line[2],
                          std::to_string(d.npass) + " passes compute nothing: at least 1 is needed");
    if (!(std::fabs(d.efc[0]) <= kMaxCriterionMean))
        return item_fault(fault, 7, statement_name(7), 1, d.lines.criterion,
                          "criterion effect size " + num(d.efc[0]) + " is outside [-" + num(kMaxCriterionMean) +
                              ", " + num(kMaxCriterionMean) + "]");
    if (d.nstage >= 2 && !(d.relerr < 1.0))
        return item_fault(fault, 8, statement_name(8), 1, d.lines.budget[0],
                          "a relative error of " + num(d.relerr) + " asks for no accuracy at all: it must be below 1");
    if (d.nstage >= 2 && (d.maxcls < smallest_budget(d.nstage) || d.maxcls > largest_budget(d.nstage))) {
        const std::string stages = d.nstage == 2 ? " for two stages)" : " for three stages)";
        return item_fault(fault, 8, statement_name(8), 2, d.lines.budget[1],
                          d.maxcls < smallest_budget(d.nstage)
                              ? "maxcls " + std::to_string(d.maxcls) + " is below the smallest budget the cubature accepts (" +
                                    std::to_string(smallest_budget(d.nstage)) + stages
                              : "maxcls " + std::to_string(d.maxcls) +
                                    " exceeds the largest budget the work array holds (" +
                                    std::to_string(largest_budget(d.nstage)) + stages);
    }
    return true;
}

bool check_composites(const Deck& d, const double* l, DeckFault& fault) {
    const int p = d.npred;
    for (int j = 1; j <= d.nstage; ++j) {
        const std::string stage = "stage " + std::to_string(j);
        auto weights_fault = [&](const std::string& why) {
            return statement_fault(fault, 2, statement_name(2, j), d.lines.weights[j - 1],
                                   d.lines.weights_last[j - 1], why);
        };
        double scale = 0.0;
        for (int i = 1; i <= p; ++i) scale = std::max(scale, std::fabs(d.Weip(j, i)));
        if (p == 0) return weights_fault(stage + "'s composite has zero variance: there are no predictors");
        if (scale == 0.0) return weights_fault(stage + "'s composite has zero variance: all its weights are 0");
        if (scale < kMinWeightScale || scale > kMaxWeightScale)
            return weights_fault(stage + "'s weights (largest " + num(scale) + " in absolute value) are outside the usable range " +
                         num(kMinWeightScale) + " to " + num(kMaxWeightScale) + ": rescale them");
        double var = 0.0, sum = 0.0;
        for (int i = 1; i <= p; ++i) {
            const double vi = d.Weip(j, i) / scale;
            sum += std::fabs(vi);
            for (int k = 1; k <= p; ++k) var += vi * d.Cormt(i, k) * (d.Weip(j, k) / scale);
        }
        if (!(var > kZeroVariance * sum * sum))
            return weights_fault(stage + "'s composite has zero variance: its weights cancel through the predictor "
                                 "correlations (variance " + num(var / (sum * sum), 3) + " of the weights' scale)");
    }
    return validities_fit(d, l, kMaxPred, fault);
}

// The stage composites must be linearly independent: each stage's variance given the earlier
// stages' composites is kept from the Cholesky factor of their correlation matrix.
bool check_stage_dependence(const Deck& d, const StageValues& s, DeckFault& fault) {
    const int n = d.nstage;
    double a[kMaxStage * kMaxStage];
    for (int j = 1; j <= n; ++j)
        for (int k = 1; k <= n; ++k) a[(j - 1) + kMaxStage * (k - 1)] = s.Cormc(j, k);
    for (int k = 2; k <= n; ++k) {
        // Conditional variance of composite k given composites 1..k-1.
        double b[kMaxStage * kMaxStage];
        std::copy(a, a + kMaxStage * kMaxStage, b);
        const int info = cholesky(b, k, kMaxStage);
        const double pivot = b[(k - 1) + kMaxStage * (k - 1)];
        if (info == 0 && pivot * pivot > kDependentStage) continue;
        const std::string stages = "predictor weights of stages 1 to " + std::to_string(k);
        const int first = d.lines.weights[0], last = d.lines.weights_last[k - 1];
        for (int j = 1; j < k; ++j) {
            const double r = s.Cormc(j, k);
            if (!(1.0 - r * r > kDependentStage)) {
                const std::string pair = "stages " + std::to_string(j) + " and " + std::to_string(k);
                return statement_fault(fault, 2, "predictor weights of " + pair, d.lines.weights[j - 1],
                                       d.lines.weights_last[k - 1],
                                       r > 0.0 ? pair + " rank on the same composite (correlation " + num(r, 12) +
                                                     "): merge them"
                                               : pair + " rank on opposite composites (correlation " + num(r, 12) +
                                                     "), which TRAZ cannot compute");
            }
        }
        return statement_fault(fault, 2, stages, first, last,
                               "stage " + std::to_string(k) + "'s composite is a weighted sum of the earlier "
                               "stages' composites: TRAZ cannot compute linearly dependent stages");
    }
    return true;
}

} // namespace

// "deck statement 1 (...), item 4 on line 1: why"; a design built in code has no lines (0),
// and its faults name the statement and item only.
bool item_fault(DeckFault& fault, int no, const std::string& what, int item, int line, const std::string& why) {
    fault.statement = no;
    fault.item = item;
    fault.line = fault.last_line = line;
    fault.message = "deck statement " + std::to_string(no) + " (" + what + "), item " + std::to_string(item) +
                    (line > 0 ? " on line " + std::to_string(line) : "") + ": " + why;
    return false;
}

// "deck statement 4 (...), lines 4 to 5: why", for a fault of several items (without the lines
// when one of them is not known).
bool statement_fault(DeckFault& fault, int no, const std::string& what, int first, int last,
                     const std::string& why) {
    fault.statement = no;
    fault.item = 0;
    fault.line = first;
    fault.last_line = last;
    fault.message = "deck statement " + std::to_string(no) + " (" + what + ")" +
                    (first > 0 && last > 0 ? ", " + lines_text(first, last) : "") + ": " + why;
    return false;
}

bool factor_correlations(const Deck& d, double* l, int ld, DeckFault& fault) {
    const int p = d.npred;
    for (int j = 1; j <= p; ++j)
        for (int i = 1; i <= p; ++i) l[(i - 1) + static_cast<std::size_t>(ld) * (j - 1)] = d.Cormt(i, j);
    const int info = p > 0 ? cholesky(l, p, ld) : 0;
    if (info == 0) return true;
    int first = 0, last = 0;
    if (info <= kMaxPred)
        for (int j = 2; j <= info; ++j)
            for (int i = 1; i < j; ++i) {
                const int line = d.lines.Correlation(i, j);
                first = first == 0 ? line : std::min(first, line);
                last = std::max(last, line);
            }
    const std::string rows = info == 2 ? "predictor correlations, row 1"
                                       : "predictor correlations, rows 1 to " + std::to_string(info - 1);
    return statement_fault(fault, 4, rows, first, last,
                           "the correlations of predictors 1 to " + std::to_string(info) +
                               " are not positive definite (LAPACK dpotrf, leading minor " + std::to_string(info) + ")");
}

bool validities_fit(const Deck& d, const double* l, int ld, DeckFault& fault) {
    // The squared multiple correlation of the criterion on the predictors, c' R^-1 c, from
    // the Cholesky factor R = L L'.
    const int p = d.npred;
    std::vector<double> y(static_cast<std::size_t>(p));
    double r2 = 0.0;
    for (int i = 0; i < p; ++i) {
        double t = d.coryt[i];
        for (int k = 0; k < i; ++k) t -= l[i + static_cast<std::size_t>(ld) * k] * y[k];
        y[i] = t / l[i + static_cast<std::size_t>(ld) * i];
        r2 += y[i] * y[i];
    }
    if (r2 <= 1.0 + kMultipleCorrelationSlack) return true;
    const int last = p >= 1 && p <= kMaxPred ? d.lines.validities[p - 1] : 0;
    return statement_fault(fault, 3, statement_name(3), d.lines.validities_first, last,
                           "the validities do not fit the predictor correlations: their multiple correlation "
                           "with the criterion would be " + num(std::sqrt(r2), 4) + ", above 1");
}

int applicant_limit(bool fitted) { return fitted ? kMaxFittedApplicants : kMaxApplicants; }

int smallest_budget(int nstage) { return 3 * (nstage == 2 ? 65 : 127); }

int largest_budget(int nstage) {
    // The cubature needs (maxcls - num) div (2 num) + 1 subregions of 2 nstage + 4 doubles
    // each, plus 18 doubles, for its num-point rule.
    const int num = nstage == 2 ? 65 : 127;
    const int regions = (kWorkSize - 18) / (2 * nstage + 4);
    return 2 * num * regions + num - 1;
}

bool validate_deck(const Deck& d, const StageValues& s, DeckFault& fault, bool fitted) {
    fault = DeckFault{};
    if (d.npred > kMaxPred || d.nstage > kMaxStage || d.napp > applicant_limit(fitted)) return true;
    double l[kMaxPred * kMaxPred];
    const bool ok = check_counts(d, fault) && check_correlation_items(d, fault) &&
                    check_settings(d, fault) && factor_correlations(d, l, kMaxPred, fault) &&
                    check_composites(d, l, fault) && check_stage_dependence(d, s, fault);
    if (!ok) fault.message += decimal_comma_hint(d.lines, fault.line, fault.last_line);
    return ok;
}

bool validate_deck(const Deck& d, const StageValues& s, std::string& message, bool fitted) {
    DeckFault fault;
    const bool ok = validate_deck(d, s, fault, fitted);
    message = fault.message;
    return ok;
}

} // namespace traz
