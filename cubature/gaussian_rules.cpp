// Rules for the standard normal weight and their level-by-level use; see gaussian_rules.hpp.
#include "cubature/gaussian_rules.hpp"

#include <gsl/gsl_integration.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace traz {

namespace {

using Real = long double;  // the Genz-Keister construction works in extended precision

constexpr double kSqrt2Pi = 2.5066282746310002;
constexpr int kMaxHermite = 24;      // Gauss-Hermite levels offered
constexpr int kGenzKeisterLevels = 5;
// Pairs of nodes each Genz-Keister level adds to the level before (1 -> 3 -> 9 -> 19 -> 35).
constexpr int kAddedPairs[kGenzKeisterLevels + 1] = {0, 0, 1, 3, 5, 8};

// Orthonormal Hermite polynomials h_0..h_n at x (h_k = He_k / sqrt(k!)).
void hermite_values(Real x, int n, Real* h) {
    h[0] = 1;
    if (n >= 1) h[1] = x;
    for (int k = 1; k < n; ++k) h[k + 1] = (x * h[k] - std::sqrt(Real(k)) * h[k - 1]) / std::sqrt(Real(k + 1));
}

// c <- (x - r) c, for c given by its coefficients in the orthonormal Hermite basis
// (x h_j = sqrt(j+1) h_(j+1) + sqrt(j) h_(j-1)).
std::vector<Real> times_linear(const std::vector<Real>& c, Real r) {
    std::vector<Real> d(c.size() + 1, 0);
    for (std::size_t j = 0; j < c.size(); ++j) {
        d[j + 1] += std::sqrt(Real(j + 1)) * c[j];
        if (j >= 1) d[j - 1] += std::sqrt(Real(j)) * c[j];
        d[j] -= r * c[j];
    }
    return d;
}

// Solves a x = b (n x n, row-major) by Gaussian elimination with partial pivoting.
bool solve(std::vector<Real> a, std::vector<Real> b, int n, std::vector<Real>& x) {
    for (int col = 0; col < n; ++col) {
        int piv = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(a[r * n + col]) > std::fabs(a[piv * n + col])) piv = r;
        if (!(std::fabs(a[piv * n + col]) > 0)) return false;
        if (piv != col) {
            for (int k = 0; k < n; ++k) std::swap(a[col * n + k], a[piv * n + k]);
            std::swap(b[col], b[piv]);
        }
        for (int r = col + 1; r < n; ++r) {
            const Real f = a[r * n + col] / a[col * n + col];
            for (int k = col; k < n; ++k) a[r * n + k] -= f * a[col * n + k];
            b[r] -= f * b[col];
        }
    }
    x.assign(n, 0);
    for (int r = n - 1; r >= 0; --r) {
        Real s = b[r];
        for (int k = r + 1; k < n; ++k) s -= a[r * n + k] * x[k];
        x[r] = s / a[r * n + r];
    }
    return true;
}

// The value at x of the polynomial with Hermite coefficients c (degree below 64).
Real hermite_sum(const std::vector<Real>& c, Real x) {
    Real h[64];
    const int n = static_cast<int>(c.size());
    hermite_values(x, n - 1, h);
    Real s = 0;
    for (int j = 0; j < n; ++j) s += c[j] * h[j];
    return s;
}

// The m positive roots of the even polynomial c (degree 2m), by a scan for sign changes and
// bisection to full precision; false when fewer are real. The scan's step is far below the
// spacing of the nodes (0.25 and more).
bool positive_roots(const std::vector<Real>& c, int m, std::vector<Real>& roots) {
    roots.clear();
    const Real step = 1.0L / 64;
    Real a = step / 2, fa = hermite_sum(c, a);
    for (Real b = a + step; b < 16 && static_cast<int>(roots.size()) < m; b += step) {
        const Real fb = hermite_sum(c, b);
        if ((fa < 0) != (fb < 0)) {
            Real lo = a, hi = b, flo = fa;
            for (int it = 0; it < 80; ++it) {
                const Real mid = (lo + hi) / 2, fm = hermite_sum(c, mid);
                if ((fm < 0) == (flo < 0)) lo = mid, flo = fm;
                else hi = mid;
            }
            roots.push_back((lo + hi) / 2);
        }
        a = b;
        fa = fb;
    }
    return static_cast<int>(roots.size()) == m;
}

// Weights of the interpolatory rule on the symmetric nodes x (ascending, odd count, 0 in the
// middle) for the standard normal weight: sum_i w_i h_j(x_i) = [j = 0] for even j.
std::vector<Real> symmetric_weights(const std::vector<Real>& x) {
    const int n = static_cast<int>(x.size()), mid = n / 2, P = mid + 1;  // P unknowns: centre and pairs
    std::vector<Real> a(P * P), b(P, 0), h(2 * P);
    b[0] = 1;
    for (int k = 0; k < P; ++k) {
        hermite_values(x[mid + k], 2 * P - 2, h.data());
        for (int r = 0; r < P; ++r) a[r * P + k] = (k == 0 ? 1 : 2) * h[2 * r];
    }
    std::vector<Real> u;
    if (!solve(a, b, P, u)) throw std::runtime_error("Genz-Keister weights: singular system");
    std::vector<Real> w(n);
    for (int k = 0; k < P; ++k) w[mid + k] = w[mid - k] = u[k];
    return w;
}

// Adds m pairs of nodes to the symmetric nodes x: the roots of the even polynomial q of
// degree 2m for which p q (p the node polynomial of x) is orthogonal to every polynomial of
// degree below 2m, so that the combined rule gains the most degree.
std::vector<Real> extend(const std::vector<Real>& x, int m) {
    std::vector<std::vector<Real>> pq(m + 1);  // p h_(2k), k = 0..m
    for (int k = 0; k <= m; ++k) {
        std::vector<Real> c(2 * k + 1, 0);
        c[2 * k] = 1;
        for (Real r : x) c = times_linear(c, r);
        c.resize(x.size() + 2 * m + 1, 0);  // every coefficient read below exists
        pq[k] = c;
    }
    // Odd-degree coefficients 1, 3, ..., 2m-1 of p q vanish (even ones do by symmetry).
    std::vector<Real> a(m * m), b(m), coef;
    for (int r = 0; r < m; ++r) {
        const int j = 2 * r + 1;
        for (int k = 0; k < m; ++k) a[r * m + k] = pq[k][j];
        b[r] = -pq[m][j];
    }
    if (!solve(a, b, m, coef)) throw std::runtime_error("Genz-Keister extension: singular system");
    std::vector<Real> q(2 * m + 1, 0);
    q[2 * m] = 1;
    for (int k = 0; k < m; ++k) q[2 * k] = coef[k];
    std::vector<Real> roots;
    if (!positive_roots(q, m, roots)) throw std::runtime_error("Genz-Keister extension: complex nodes");
    std::vector<Real> y = x;
    for (Real r : roots) {
        y.push_back(r);
        y.push_back(-r);
    }
    std::sort(y.begin(), y.end());
    return y;
}

double normal_density(const double* t, int d) {
    double s = 0.0;
    for (int j = 0; j < d; ++j) s += t[j] * t[j];
    return std::exp(-0.5 * s) / std::pow(kSqrt2Pi, d);
}

// Key of a point for matching points between rules: its coordinates' bits.
using PointKey = std::array<std::uint64_t, 3>;
struct PointKeyHash {
    std::size_t operator()(const PointKey& k) const {
        std::uint64_t h = k[0] * 0x9E3779B97F4A7C15ull;
        h = (h ^ (h >> 29) ^ k[1]) * 0xBF58476D1CE4E5B9ull;
        h = (h ^ (h >> 31) ^ k[2]) * 0x94D049BB133111EBull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};
PointKey key_of(const double* t, int d) {
    PointKey k{0, 0, 0};
    for (int j = 0; j < d; ++j) {
        const double v = t[j] == 0.0 ? 0.0 : t[j];  // -0 and +0 are one point
        std::memcpy(&k[j], &v, sizeof v);
    }
    return k;
}

// Adds coef times the tensor product of the 1-D rules r[0..d-1] (normal-weight form) into
// the map of points to weights, keeping the order of first appearance.
void add_tensor(const NormalRule* r, int d, double coef, std::vector<double>& t, std::vector<double>& w,
                std::unordered_map<PointKey, int, PointKeyHash>& where) {
    int n[3] = {1, 1, 1}, total = 1;
    for (int j = 0; j < d; ++j) total *= n[j] = static_cast<int>(r[j].x.size());
    for (int p = 0; p < total; ++p) {
        double pt[3] = {0, 0, 0}, wt = coef;
        int v = p;
        for (int j = 0; j < d; ++j) {
            pt[j] = r[j].x[v % n[j]];
            wt *= r[j].w[v % n[j]];
            v /= n[j];
        }
        const PointKey k = key_of(pt, d);
        const auto found = where.find(k);
        if (found != where.end()) {
            w[found->second] += wt;
            continue;
        }
        where.emplace(k, static_cast<int>(w.size()));
        for (int j = 0; j < d; ++j) t.push_back(pt[j]);
        w.push_back(wt);
    }
}

GaussianRule build(RuleFamily f, int d, int level) {
    GaussianRule g;
    g.dim = d;
    g.level = level;
    std::vector<double> w;
    std::unordered_map<PointKey, int, PointKeyHash> where;
    if (f == RuleFamily::tensor_hermite || f == RuleFamily::tensor_genz_keister) {
        const NormalRule one = f == RuleFamily::tensor_hermite ? gauss_hermite(level) : genz_keister(level);
        const NormalRule r[3] = {one, one, one};
        add_tensor(r, d, 1.0, g.t, w, where);
    } else {
        // Smolyak: the level vectors i (each 1..5) with |i| <= level + d - 1 form a downward
        // closed set I; the rule is sum over I of c_i times the tensor rule of i, with
        // c_i = sum over z in {0,1}^d with i + z in I of (-1)^|z|. Below level 6 this is the
        // classic combination (-1)^(q-|i|) C(d-1, q-|i|); above, the per-axis level stays at 5
        // (the last Genz-Keister rule) and the sum grows towards the full tensor rule.
        NormalRule rules[kGenzKeisterLevels + 1];
        for (int l = 1; l <= kGenzKeisterLevels; ++l) rules[l] = genz_keister(l);
        const int top = level + d - 1;
        const auto inside = [&](const int* i) {
            int sum = 0;
            for (int j = 0; j < d; ++j) {
                if (i[j] > kGenzKeisterLevels) return false;
                sum += i[j];
            }
            return sum <= top;
        };
        int total = 1;
        for (int j = 0; j < d; ++j) total *= kGenzKeisterLevels;
        for (int p = 0; p < total; ++p) {
            int i[3] = {1, 1, 1};
            for (int j = 0, v = p; j < d; ++j, v /= kGenzKeisterLevels) i[j] = 1 + v % kGenzKeisterLevels;
            if (!inside(i)) continue;
            int coef = 0;
            for (int z = 0; z < (1 << d); ++z) {
                int k[3] = {i[0], i[1], i[2]}, sign = 1;
                for (int j = 0; j < d; ++j)
                    if (z >> j & 1) ++k[j], sign = -sign;
                if (inside(k)) coef += sign;
            }
            if (coef == 0) continue;
            const NormalRule r[3] = {rules[i[0]], rules[i[d > 1 ? 1 : 0]], rules[i[d > 2 ? 2 : 0]]};
            add_tensor(r, d, coef, g.t, w, where);
        }
    }
    g.W.resize(w.size());
    for (std::size_t p = 0; p < w.size(); ++p) g.W[p] = w[p] / normal_density(&g.t[d * p], d);
    return g;
}

// The levels of a family in one dimension count built so far, with the shared points marked;
// built in order on first use. The vector's room is reserved for every level, so the rules
// handed out never move.
struct FamilyTable {
    std::mutex lock;
    std::vector<GaussianRule> levels;  // index level - 1
};

void add_level(FamilyTable& table, RuleFamily f, int d) {
    const int level = static_cast<int>(table.levels.size()) + 1;
    GaussianRule g = build(f, d, level);
    g.shared.assign(g.size(), -1);
    if (level > 1) {
        const GaussianRule& before = table.levels.back();
        std::unordered_map<PointKey, int, PointKeyHash> where;
        for (int p = 0; p < before.size(); ++p) where.emplace(key_of(&before.t[d * p], d), p);
        for (int p = 0; p < g.size(); ++p) {
            const auto found = where.find(key_of(&g.t[d * p], d));
            if (found != where.end()) g.shared[p] = found->second;
        }
    }
    table.levels.push_back(std::move(g));
}

} // namespace

NormalRule gauss_hermite(int n) {
    // Weight exp(-x^2 / 2) on the real line; its weights add up to sqrt(2 pi).
    gsl_integration_fixed_workspace* ws = gsl_integration_fixed_alloc(gsl_integration_fixed_hermite, n, 0.0, 0.5,
                                                                      0.0, 0.0);
    if (ws == nullptr) throw std::runtime_error("Gauss-Hermite rule: GSL refused the order");
    NormalRule r;
    const double* x = gsl_integration_fixed_nodes(ws);
    const double* w = gsl_integration_fixed_weights(ws);
    for (int i = 0; i < n; ++i) {
        r.x.push_back(std::fabs(x[i]) < 1e-15 ? 0.0 : x[i]);  // the centre of an odd rule is exactly 0
        r.w.push_back(w[i] / kSqrt2Pi);
    }
    gsl_integration_fixed_free(ws);
    return r;
}

NormalRule genz_keister(int level) {
    if (level < 1 || level > kGenzKeisterLevels) throw std::runtime_error("Genz-Keister rule: no such level");
    // All levels at once, on first use: each extends the one before.
    static const std::vector<NormalRule> rules = [] {
        std::vector<NormalRule> all;
        std::vector<Real> x{0};
        for (int l = 1; l <= kGenzKeisterLevels; ++l) {
            if (l > 1) x = extend(x, kAddedPairs[l]);
            const std::vector<Real> w = symmetric_weights(x);
            NormalRule r;
            for (std::size_t i = 0; i < x.size(); ++i) {
                r.x.push_back(static_cast<double>(x[i]));
                r.w.push_back(static_cast<double>(w[i]));
            }
            all.push_back(r);
        }
        return all;
    }();
    return rules[level - 1];
}

const char* family_name(RuleFamily f) {
    switch (f) {
    case RuleFamily::tensor_hermite: return "tensor Gauss-Hermite";
    case RuleFamily::tensor_genz_keister: return "tensor Genz-Keister";
    case RuleFamily::sparse_genz_keister: return "sparse Genz-Keister";
    }
    return "?";
}

int max_level(RuleFamily f, int dim) {
    switch (f) {
    case RuleFamily::tensor_hermite: return kMaxHermite;
    case RuleFamily::tensor_genz_keister: return kGenzKeisterLevels;
    case RuleFamily::sparse_genz_keister: return (kGenzKeisterLevels - 1) * dim + 1;
    }
    return 0;
}

const GaussianRule& gaussian_rule(RuleFamily f, int dim, int level) {
    static FamilyTable tables[3][3];
    if (dim < 1 || dim > 3 || level < 1 || level > max_level(f, dim)) throw std::runtime_error("no such Gaussian rule");
    FamilyTable& table = tables[static_cast<int>(f)][dim - 1];
    const std::lock_guard<std::mutex> hold(table.lock);
    if (table.levels.empty()) table.levels.reserve(max_level(f, dim));
    while (static_cast<int>(table.levels.size()) < level) add_level(table, f, dim);
    return table.levels[level - 1];
}

const char* stop_name(LevelStop s) {
    switch (s) {
    case LevelStop::met: return "met";
    case LevelStop::cap: return "level cap reached";
    case LevelStop::not_decreasing: return "estimates not decreasing";
    case LevelStop::not_finite: return "integrand not finite";
    }
    return "?";
}

void integrate_rule(const GaussianRule& rule, double scale, int nq, GaussianIntegrand f, void* params,
                    double* value) {
    const int d = rule.dim;
    const double jac = std::pow(scale, d);
    double fv[kMaxQuantities], t[3];
    for (int q = 0; q < nq; ++q) value[q] = 0.0;
    for (int p = 0; p < rule.size(); ++p) {
        for (int j = 0; j < d; ++j) t[j] = scale * rule.t[d * p + j];
        f(t, fv, params);
        for (int q = 0; q < nq; ++q) value[q] += rule.W[p] * fv[q];
    }
    for (int q = 0; q < nq; ++q) value[q] *= jac;
}

LevelResult integrate_levels(const LevelPlan& plan, int dim, int nq, GaussianIntegrand f, void* params) {
    LevelResult out;
    out.nq = nq;
    const int first = std::max(1, plan.first), cap = std::min(plan.cap, max_level(plan.family, dim));
    const double jac = std::pow(plan.scale, dim);
    std::vector<double> before, now;  // values at the points of the last level and this one
    double last[kMaxQuantities] = {}, worst_before = INFINITY;
    int stalled = 0;  // levels in a row whose largest change (relative to its tolerance) did not fall
    for (int level = first; level <= cap; ++level) {
        const GaussianRule& rule = gaussian_rule(plan.family, dim, level);
        now.assign(static_cast<std::size_t>(rule.size()) * nq, 0.0);
        double sum[kMaxQuantities] = {}, t[3];
        bool finite = true;
        for (int p = 0; p < rule.size(); ++p) {
            double* fv = &now[static_cast<std::size_t>(p) * nq];
            if (level > first && rule.shared[p] >= 0) {
                std::copy_n(&before[static_cast<std::size_t>(rule.shared[p]) * nq], nq, fv);
            } else {
                for (int j = 0; j < dim; ++j) t[j] = plan.scale * rule.t[dim * p + j];
                f(t, fv, params);
                ++out.points;
            }
            for (int q = 0; q < nq; ++q) {
                sum[q] += rule.W[p] * fv[q];
                finite = finite && std::isfinite(fv[q]);
            }
        }
        out.level = level;
        double worst = 0.0;
        bool met = level > first;
        for (int q = 0; q < nq; ++q) {
            out.value[q] = jac * sum[q];
            out.error[q] = level > first ? std::fabs(out.value[q] - last[q]) : INFINITY;
            const double tol = std::fmax(plan.relerr * std::fabs(out.value[q]), plan.floor[q]);
            met = met && out.error[q] <= tol;
            worst = std::fmax(worst, out.error[q] / tol);
            last[q] = out.value[q];
        }
        if (plan.known_count > 0) {
            double sum_known = 0.0;
            for (int q = plan.known_first; q < plan.known_first + plan.known_count; ++q) sum_known += out.value[q];
            const double off = std::fabs(sum_known - plan.known_sum);
            met = met && off <= plan.known_tol;
            if (level > first) worst = std::fmax(worst, off / plan.known_tol);
        }
        if (!finite) {
            out.stop = LevelStop::not_finite;
            return out;
        }
        if (met) {
            out.stop = LevelStop::met;
            return out;
        }
        stalled = level > first + 1 && !(worst < worst_before) ? stalled + 1 : 0;
        if (stalled == 2) {
            out.stop = LevelStop::not_decreasing;
            return out;
        }
        worst_before = worst;
        before.swap(now);
    }
    out.stop = LevelStop::cap;
    return out;
}

} // namespace traz
