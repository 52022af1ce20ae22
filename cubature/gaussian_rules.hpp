// Rules for integrals against the standard normal weight in 1 to 3 dimensions, and their use
// level by level with an error estimate for several quantities at once.
//
// A rule of a family and level approximates
//     int f(t) dt  ~  sum_i W_i f(t_i)     (t in R^d, d = 1..3)
// with W_i = w_i / phi_d(t_i), where (t_i, w_i) integrates polynomials times the standard
// normal density phi_d exactly up to the rule's degree. So a function that is close to a
// Gaussian hump centred at 0 with unit spread, times a smooth factor, is integrated well.
//
// Families:
//   tensor_hermite   level n: n-point Gauss-Hermite per axis (n^d points, degree 2n-1);
//                    not nested (only the centre is shared between odd levels)
//   tensor_genz_keister  level 1..5: 1, 3, 9, 19, 35 points per axis (degrees 1, 5, 15, 29,
//                    51), nested: every level holds the points of the level before
//   sparse_genz_keister  level 1..4d+1: Smolyak sums of tensor Genz-Keister rules whose
//                    levels (each at most 5) add up to at most level + d - 1; nested. Levels
//                    1..5 are the classic sparse grids (3 dimensions: 1, 7, 37, 147, 495
//                    points); the last level is the full tensor rule of level 5
#pragma once
#include <string>
#include <vector>

namespace traz {

// One-dimensional rule for the standard normal weight: int g(t) phi(t) dt ~ sum w_i g(x_i).
struct NormalRule {
    std::vector<double> x, w;
};

// n-point Gauss-Hermite rule (n >= 1), from the eigenvalues of the Jacobi matrix.
NormalRule gauss_hermite(int n);

// Genz-Keister rule of level 1..5 (1, 3, 9, 19, 35 points), each level the one before
// plus the pairs of nodes that raise its degree furthest; nodes ascending.
NormalRule genz_keister(int level);

enum class RuleFamily { tensor_hermite, tensor_genz_keister, sparse_genz_keister };

const char* family_name(RuleFamily f);

// Highest level a family offers in dim dimensions.
int max_level(RuleFamily f, int dim);

// A rule of some level in d dimensions, as weights for the plain integral (see above).
struct GaussianRule {
    int dim = 0;
    int level = 0;
    std::vector<double> t;   // point i at t[d i .. d i + d - 1]
    std::vector<double> W;   // weights for int f(t) dt (normal weight divided out)
    std::vector<int> shared; // index of the same point in the level before, or -1
    int size() const { return static_cast<int>(W.size()); }
};

// The rule of family f in dim dimensions (1..3) at level (1..max_level(f)); built on first
// use and kept (safe to call from several threads).
const GaussianRule& gaussian_rule(RuleFamily f, int dim, int level);

// Quantities integrated together; the integrand evaluates all of them at a point.
constexpr int kMaxQuantities = 16;

// Writes the nq quantities of the integrand at t (dim coordinates) into f.
using GaussianIntegrand = void (*)(const double* t, double* f, void* params);

// Why the levels stopped.
enum class LevelStop {
    met,             // every quantity met its tolerance
    cap,             // the last level allowed was reached first
    not_decreasing,  // the estimates stopped falling as the levels rose
    not_finite,      // an integrand value was not a finite number
};

const char* stop_name(LevelStop s);

struct LevelPlan {
    RuleFamily family = RuleFamily::tensor_hermite;
    int first = 1;          // the first level computed
    int cap = 1;            // the last level allowed
    double relerr = 1e-4;   // tolerance of quantity q: max(relerr |Q_q|, floor[q])
    double floor[kMaxQuantities] = {};
    double scale = 1.0;     // the rule's points are spread by this factor (t = scale u)
    // Quantities whose exact sum is known (known_count 0: none): a level meets only when
    // their sum is also within known_tol of known_sum.
    int known_first = 0, known_count = 0;
    double known_sum = 0.0, known_tol = 0.0;
};

struct LevelResult {
    int nq = 0;
    int level = 0;           // the level whose values are returned
    LevelStop stop = LevelStop::cap;
    long points = 0;         // integrand evaluations over all levels computed
    double value[kMaxQuantities] = {};
    double error[kMaxQuantities] = {};  // |value at this level - value at the level before|
};

// Integrates the nq (1..kMaxQuantities) quantities of f over R^dim with the plan's rules,
// level after level from plan.first, until every quantity's change from the level before
// is within its tolerance, the cap is reached, or the largest change relative to its
// tolerance has not fallen for two levels in a row (a known sum's distance from its value
// counts as one more change). Points a level shares with the level before are not evaluated
// again. The first level has no estimate: its error is infinite, and it never meets.
LevelResult integrate_levels(const LevelPlan& plan, int dim, int nq, GaussianIntegrand f, void* params);

// The plain integral of f at one rule (no estimate), for checks and benchmarks.
void integrate_rule(const GaussianRule& rule, double scale, int nq, GaussianIntegrand f, void* params,
                    double* value);

} // namespace traz
