// Bivariate normal routine internals: its Gauss-Legendre tables and the split of bvnd
// into the work that depends on the correlation only and the work for each (h, k).
#pragma once

namespace traz {

namespace bvnd_rules {
// Column ng = 0, 1, 2 holds the 6-, 12- and 20-point rule on [-1, 1]: the abscissae of
// the negative half in increasing order, x[ng][i] with weight w[ng][i]; unused entries 0.
extern const double x[3][10];
extern const double w[3][10];
inline constexpr double twopi = 6.283185307179586;
inline constexpr double fourpi = 12.566370614359172;
} // namespace bvnd_rules

// The quantities of bvnd that depend on r alone, for node j = 2i + (s + 1)/2 of the rule
// (node pair i, sign s = -1 then +1). A caller that needs many probabilities at one
// correlation (tvnd's integrand) prepares them once; the results are the same bits.
// The node arrays have room for 24 entries so that the vector code can fill them a whole
// vector at a time; entries from n on are not read.
struct bvnd_rule {
    static constexpr int capacity = 24;
    double r;
    int n;           // number of nodes, 2 lg
    // |r| < 0.925
    double wn[capacity];  // w(i, ng)
    double asr;           // asin(r)
    double sn[capacity];  // sin(asr (s x(i, ng) + 1) / 2)
    double den[capacity]; // 1 - sn^2
    // 0.925 <= |r| < 1
    double as;            // (1 - r)(1 + r)
    double a;             // sqrt(as)
    double xs[capacity];  // (a/2 (s x(i, ng) + 1))^2
    double rs[capacity];  // sqrt(1 - xs)
    double omr[capacity]; // 1 - rs
    double tpr[capacity]; // 2 (1 + rs)
    double aw[capacity];  // a/2 w(i, ng)
};

// Fills rule for correlation r (scalar path).
void bvnd_prepare(const double& r, bvnd_rule& rule);

// bvnd(h, k, rule.r) from a rule filled by bvnd_prepare (scalar path).
double bvnd_prepared(const double& h, const double& k, const bvnd_rule& rule);

// Starts a rule for correlation r: sets rule.r and rule.n (2 lg nodes) and returns ng = 0, 1, 2
// for the 6-, 12- or 20-point rule that |r| takes.
int bvnd_rule_start(const double& r, bvnd_rule& rule);

} // namespace traz
