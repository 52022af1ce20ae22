// Bivariate normal routine internals: its Gauss-Legendre tables and the split of bvnd
// into the work that depends on the correlation only and the work for each (h, k).
#pragma once

namespace traz {

namespace bvnd_rules {
// Column ng = 0, 1, 2 holds the 6-, 12- and 20-point rule on [-1, 1]: the abscissae of
// the negative half in increasing order, x[ng][i] with weight w[ng][i]; unused entries 0.
extern const double x[3][10];
extern const double w[3][10];
} // namespace bvnd_rules

// The quantities of bvnd that depend on r alone, for node j = 2i + (s + 1)/2 of the rule
// (node pair i, sign s = -1 then +1). A caller that needs many probabilities at one
// correlation (tvnd's integrand) prepares them once; the results are the same bits.
struct bvnd_rule {
    double r;
    int n;           // number of nodes, 2 lg
    // |r| < 0.925
    double wn[20];   // w(i, ng)
    double asr;      // asin(r)
    double sn[20];   // sin(asr (s x(i, ng) + 1) / 2)
    double den[20];  // 1 - sn^2
    // 0.925 <= |r| < 1
    double as;       // (1 - r)(1 + r)
    double a;        // sqrt(as)
    double xs[20];   // (a/2 (s x(i, ng) + 1))^2
    double rs[20];   // sqrt(1 - xs)
    double omr[20];  // 1 - rs
    double tpr[20];  // 2 (1 + rs)
    double aw[20];   // a/2 w(i, ng)
};

// Fills rule for correlation r.
void bvnd_prepare(const double& r, bvnd_rule& rule);

// bvnd(h, k, rule.r) from a prepared rule.
double bvnd_prepared(const double& h, const double& k, const bvnd_rule& rule);

} // namespace traz
