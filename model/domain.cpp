// Integration domains over the stage cut scores: the classic cube, and the affine map of
// a box onto the region where the cut-score density lives.
#include "model/domain.hpp"

#include "model/model.hpp"
#include "model/state.hpp"
#include "mvn/mvn.hpp"

#include <cmath>
#include <cstddef>

extern "C" {
// LAPACK: Cholesky factorisation and inverse of a symmetric positive definite matrix.
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t uplo_len);
void dpotri_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t uplo_len);
}

namespace traz {

namespace {

constexpr double kBracket = 12.0;       // the start's bisection runs on [-12, 12]
constexpr int kBisections = 48;         // 24 / 2^48: far below the difference step
constexpr double kStep = 2.0e-3;        // step of the central differences
constexpr int kNewtonSteps = 40;        // Newton gives up after this many steps
constexpr int kHalvings = 30;           // and a step after this many halvings
constexpr double kConverged = 1.0e-6;   // Newton stops below this step
constexpr double kMinSpread = 1.0e-6;   // smallest diagonal of L that is taken
constexpr double kMaxSpread = 10.0;     // largest: cut scores live on the normal scale
constexpr double kDrop = 13.0 * 2.302585092994046;  // ln 1e13: where the density has died
constexpr double kRayStep = 2.0, kRayEnd = 64.0;    // radii tried along a ray: 2, 4, ..., 64
constexpr int kRayBisections = 5;
constexpr double kMinHalfWidth = 3.0;   // the box holds [-3, 3]^K at least
constexpr double kMargin = 1.1;         // and reaches 10% past the scanned radii

// Entry (i, j), 0-based, of a column-major K x K matrix with leading dimension 3.
constexpr int at(int i, int j) { return i + 3 * j; }

// The problem as the fit sees it: log density and stage masses, with a count of the
// density evaluations.
struct Problem {
    const SelectionState& s;
    int K = 0;
    long evaluations = 0;

    // ln of the bare cut-score density at x(1..K); -infinity where it is 0 (or undefined).
    double logdensity(const double* x) {
        double a[3] = {x[0], K > 1 ? x[1] : 0.0, K > 2 ? x[2] : 0.0};
        double f = 0.0;
        ++evaluations;
        // Selector 0 matches no factor: the integrands return the bare density. The fit's
        // points are its own (no rule or cubature point repeats them): no memo.
        const int bare = 0;
        if (K == 1)
            f = ffte(s, bare, a);
        else
            ftest_selectors(s, &bare, 1, K, a, &f);
        return f > 0.0 && std::isfinite(f) ? std::log(f) : -INFINITY;
    }

    // S_k(c): the mixture's probability of scoring above the cuts c(1..k) of stages 1..k.
    double mass(int k, const double* c) const {
        double sum = 0.0;
        for (int g = 1; g <= s.ngroup; ++g) {
            double a[3];
            for (int j = 1; j <= k; ++j) a[j - 1] = c[j - 1] - s.Ef(g, j);
            double err = 0.0, p = 0.0;
            int ifail = 0;
            g01hbt(k, a, a, s.corc, err, ifail, p);
            sum += s.pg[g - 1] * p;
        }
        return sum;
    }
};

// Lower Cholesky factor of the K x K matrix a (lower triangle read) into l; false when a
// is not positive definite.
bool cholesky(const double* a, int K, double* l) {
    for (int p = 0; p < 9; ++p) l[p] = 0.0;
    for (int j = 0; j < K; ++j)
        for (int i = j; i < K; ++i) l[at(i, j)] = a[at(i, j)];
    const int n = K, lda = 3;
    int info = 0;
    dpotrf_("L", &n, l, &lda, &info, 1);
    for (int j = 1; j < K; ++j)
        for (int i = 0; i < j; ++i) l[at(i, j)] = 0.0;  // dpotrf leaves the upper part alone
    return info == 0;
}

// Inverse of the symmetric positive definite K x K matrix a into inv; false when a is not
// positive definite.
bool spd_inverse(const double* a, int K, double* inv) {
    if (!cholesky(a, K, inv)) return false;
    const int n = K, lda = 3;
    int info = 0;
    dpotri_("L", &n, inv, &lda, &info, 1);
    if (info != 0) return false;
    for (int j = 1; j < K; ++j)
        for (int i = 0; i < j; ++i) inv[at(i, j)] = inv[at(j, i)];
    return true;
}

// The shape L of a covariance sigma: its Cholesky factor, when that exists and every
// diagonal is finite and within [kMinSpread, kMaxSpread].
bool shape_of(const double* sigma, int K, double* L) {
    if (!cholesky(sigma, K, L)) return false;
    for (int i = 0; i < K; ++i)
        if (!std::isfinite(L[at(i, i)]) || !(L[at(i, i)] >= kMinSpread) || L[at(i, i)] > kMaxSpread) return false;
    for (int p = 0; p < 9; ++p)
        if (!std::isfinite(L[p])) return false;
    return true;
}

// Step 1: the cuts c where the expected numbers pass: S_k(c_1..c_k) = (n_k + 1/2)/(N + 1),
// stage by stage, by bisection (S_k falls as c_k rises).
void start_point(const Problem& pb, double* c) {
    for (int k = 1; k <= pb.K; ++k) {
        const double target = (pb.s.ns[k - 1] + 0.5) / (pb.s.napp + 1.0);
        double lo = -kBracket, hi = kBracket;
        for (int it = 0; it < kBisections; ++it) {
            c[k - 1] = 0.5 * (lo + hi);
            if (pb.mass(k, c) > target)
                lo = c[k - 1];
            else
                hi = c[k - 1];
        }
        c[k - 1] = 0.5 * (lo + hi);
    }
}

// Gradient and Hessian of the log density at x by central differences (x's own value l0
// given). False when a value is not finite.
bool derivatives(Problem& pb, const double* x, double l0, double* grad, double* hess) {
    const int K = pb.K;
    const double h = kStep;
    double y[3];
    for (int i = 0; i < K; ++i) {
        for (int j = 0; j < K; ++j) y[j] = x[j];
        y[i] = x[i] + h;
        const double up = pb.logdensity(y);
        y[i] = x[i] - h;
        const double down = pb.logdensity(y);
        grad[i] = (up - down) / (2.0 * h);
        hess[at(i, i)] = (up - 2.0 * l0 + down) / (h * h);
        for (int j = 0; j < i; ++j) {
            double v[4];
            int p = 0;
            for (double si : {h, -h})
                for (double sj : {h, -h}) {
                    for (int q = 0; q < K; ++q) y[q] = x[q];
                    y[i] += si;
                    y[j] += sj;
                    v[p++] = pb.logdensity(y);
                }
            hess[at(i, j)] = hess[at(j, i)] = (v[0] - v[1] - v[2] + v[3]) / (4.0 * h * h);
        }
    }
    for (int i = 0; i < K; ++i) {
        if (!std::isfinite(grad[i])) return false;
        for (int j = 0; j < K; ++j)
            if (!std::isfinite(hess[at(i, j)])) return false;
    }
    return true;
}

// Step 2: Newton's method for the mode from x (log density l), each step capped at 1 per
// coordinate and halved until the log density does not fall. Where the negative Hessian is
// not positive definite the step follows the gradient instead. Leaves in hess the Hessian
// at (or within kConverged of) the final x, and returns whether it was computed.
bool climb(Problem& pb, double* x, double& l, double* hess, int& steps) {
    const int K = pb.K;
    bool have = false;
    steps = 0;
    for (int it = 0; it < kNewtonSteps; ++it) {
        double grad[3], h[9] = {};
        if (!derivatives(pb, x, l, grad, h)) break;
        for (int p = 0; p < 9; ++p) hess[p] = h[p];
        have = true;
        double neg[9] = {}, cov[9];
        for (int p = 0; p < 9; ++p) neg[p] = -h[p];
        double s[3];
        if (spd_inverse(neg, K, cov)) {
            for (int i = 0; i < K; ++i) {
                s[i] = 0.0;
                for (int j = 0; j < K; ++j) s[i] += cov[at(i, j)] * grad[j];
            }
        } else {
            for (int i = 0; i < K; ++i) s[i] = grad[i];
        }
        double big = 0.0;
        for (int i = 0; i < K; ++i) big = std::fmax(big, std::fabs(s[i]));
        if (!(big > 0.0)) break;
        if (big > 1.0)
            for (int i = 0; i < K; ++i) s[i] /= big;
        bool taken = false;
        for (int half = 0; half <= kHalvings && !taken; ++half) {
            double y[3];
            for (int i = 0; i < K; ++i) y[i] = x[i] + s[i];
            const double ly = pb.logdensity(y);
            if (ly >= l) {
                for (int i = 0; i < K; ++i) x[i] = y[i];
                l = ly;
                taken = true;
            } else {
                for (int i = 0; i < K; ++i) s[i] *= 0.5;
            }
        }
        if (!taken) break;
        ++steps;
        double moved = 0.0;
        for (int i = 0; i < K; ++i) moved = std::fmax(moved, std::fabs(s[i]));
        if (moved < kConverged) break;
    }
    return have;
}

// The order-statistic covariance of the cuts at c: J^-1 C J^-T with J_kl = dS_k/dc_l and
// C_kl = (S_max(k,l) - S_k S_l)/N, the covariance of the stage proportions of a pool of N.
bool order_statistic_covariance(const Problem& pb, const double* c, double* sigma) {
    const int K = pb.K;
    double S[3], J[9] = {};
    for (int k = 1; k <= K; ++k) S[k - 1] = pb.mass(k, c);
    for (int k = 1; k <= K; ++k)
        for (int l = 1; l <= k; ++l) {
            double y[3] = {c[0], c[1], c[2]};
            y[l - 1] = c[l - 1] + kStep;
            const double up = pb.mass(k, y);
            y[l - 1] = c[l - 1] - kStep;
            const double down = pb.mass(k, y);
            J[at(k - 1, l - 1)] = (up - down) / (2.0 * kStep);
        }
    if (pb.s.napp < 1) return false;
    // J is lower triangular: its inverse by forward substitution.
    double Ji[9] = {};
    for (int col = 0; col < K; ++col)
        for (int i = col; i < K; ++i) {
            double v = i == col ? 1.0 : 0.0;
            for (int j = col; j < i; ++j) v -= J[at(i, j)] * Ji[at(j, col)];
            if (!(std::fabs(J[at(i, i)]) > 0.0)) return false;
            Ji[at(i, col)] = v / J[at(i, i)];
        }
    double C[9];
    for (int k = 0; k < K; ++k)
        for (int l = 0; l < K; ++l) C[at(k, l)] = (S[k > l ? k : l] - S[k] * S[l]) / pb.s.napp;
    double JC[9] = {};
    for (int i = 0; i < K; ++i)
        for (int j = 0; j < K; ++j)
            for (int p = 0; p < K; ++p) JC[at(i, j)] += Ji[at(i, p)] * C[at(p, j)];
    for (int i = 0; i < K; ++i)
        for (int j = 0; j < K; ++j) {
            double v = 0.0;
            for (int p = 0; p < K; ++p) v += JC[at(i, p)] * Ji[at(j, p)];
            sigma[at(i, j)] = v;
        }
    for (int p = 0; p < 9; ++p)
        if (!std::isfinite(sigma[p])) return false;
    return true;
}

// Step 4: the radius along the unit direction u (in t) where the log density has fallen
// kDrop below its peak l0; kRayEnd when it has not by then.
double reach(Problem& pb, const Domain& d, const double* u, double l0) {
    const int K = pb.K;
    auto below = [&](double r) {
        double x[3];
        for (int i = 0; i < K; ++i) {
            x[i] = d.m[i];
            for (int j = 0; j <= i; ++j) x[i] += d.L[at(i, j)] * r * u[j];
        }
        return !(pb.logdensity(x) >= l0 - kDrop);
    };
    double inside = 0.0;
    for (double r = kRayStep; r <= kRayEnd; r += kRayStep) {
        if (below(r)) {
            double outside = r;
            for (int b = 0; b < kRayBisections; ++b) {
                const double mid = 0.5 * (inside + outside);
                (below(mid) ? outside : inside) = mid;
            }
            return outside;
        }
        inside = r;
    }
    return kRayEnd;
}

Domain cube_with_note(const Problem& pb, int steps, const char* why) {
    Domain d = cube_domain(pb.K);
    d.evaluations = pb.evaluations;
    d.newton_steps = steps;
    d.note = why;
    return d;
}

} // namespace

Domain cube_domain(int ndim) {
    Domain d;
    d.ndim = ndim;
    d.method = "cube";
    d.boxed = true;
    const double h = ndim == 1 ? 6.5 : 4.5;
    for (int j = 0; j < ndim; ++j) {
        d.L[j + 3 * j] = 1.0;
        d.lo[j] = -h;
        d.hi[j] = h;
    }
    return d;
}

Domain fit_shape(const SelectionState& s) {
    Problem pb{s, s.nstage};
    if (pb.K < 1 || pb.K > 3 || s.ngroup < 1 || s.ngroup > 5 || s.napp < 1)
        return cube_with_note(pb, 0, "the problem is outside the model's limits");
    const int K = pb.K;

    double c[3] = {};
    start_point(pb, c);
    double x[3] = {c[0], c[1], c[2]};
    double l = pb.logdensity(x);
    if (!std::isfinite(l)) return cube_with_note(pb, 0, "the density vanishes where the expected numbers pass");

    double hess[9] = {};
    int steps = 0;
    const bool curved = climb(pb, x, l, hess, steps);

    Domain d;
    d.ndim = K;
    d.newton_steps = steps;
    for (int i = 0; i < K; ++i) {
        d.m[i] = x[i];
        d.start[i] = c[i];
    }
    d.peak = l;
    double neg[9] = {}, sigma[9] = {};
    for (int p = 0; p < 9; ++p) neg[p] = -hess[p];
    if (curved && spd_inverse(neg, K, sigma) && shape_of(sigma, K, d.L)) {
        d.method = "curvature";
    } else if (order_statistic_covariance(pb, c, sigma) && shape_of(sigma, K, d.L)) {
        d.method = "order statistics";
    } else {
        return cube_with_note(pb, steps, "neither the curvature nor the order statistics give a shape");
    }
    d.det = 1.0;
    for (int i = 0; i < K; ++i) d.det *= d.L[at(i, i)];
    d.evaluations = pb.evaluations;
    d.fitted = true;
    return d;
}

void fit_extent(const SelectionState& s, Domain& d) {
    if (!d.fitted || d.boxed) return;
    Problem pb{s, s.nstage};
    const int K = pb.K;
    // Step 4: how far the density reaches along every direction of the grid {-1, 0, 1}^K.
    for (int i = 0; i < K; ++i) {
        d.lo[i] = -kMinHalfWidth;
        d.hi[i] = kMinHalfWidth;
    }
    int code[3];
    int ndir = 1;
    for (int i = 0; i < K; ++i) ndir *= 3;
    for (int n = 0; n < ndir; ++n) {
        double norm = 0.0;
        for (int i = 0, v = n; i < K; ++i, v /= 3) {
            code[i] = v % 3 - 1;
            norm += code[i] * code[i];
        }
        if (norm == 0.0) continue;
        double u[3];
        for (int i = 0; i < K; ++i) u[i] = code[i] / std::sqrt(norm);
        const double r = reach(pb, d, u, d.peak);
        for (int i = 0; i < K; ++i) {
            d.lo[i] = std::fmin(d.lo[i], kMargin * r * u[i]);
            d.hi[i] = std::fmax(d.hi[i], kMargin * r * u[i]);
        }
    }
    d.evaluations += pb.evaluations;
    d.boxed = true;
}

Domain fit_domain(const SelectionState& s) {
    Domain d = fit_shape(s);
    fit_extent(s, d);
    return d;
}

void ftest_mapped(const SelectionState& s, int iz, const Domain& d, const int& ndim, double* t, const int& numfun,
                  double* f) {
    double x[3];
    for (int i = 0; i < ndim; ++i) {
        double xi = d.m[i];
        for (int j = 0; j <= i; ++j) xi += d.L[i + 3 * j] * t[j];
        x[i] = xi;
    }
    ftest(s, iz, ndim, x, numfun, f);
    f[0] *= d.det;
}

double ffte_mapped(const SelectionState& s, int iz, const Domain& d, double t) {
    double x[1] = {d.m[0] + d.L[0] * t};
    return d.det * ffte(s, iz, x);
}

void mapped_selectors(const SelectionState& s, const int* iz, int nsel, const Domain& d, const double* t, double* f) {
    const int ndim = d.ndim;
    double x[3] = {};
    for (int i = 0; i < ndim; ++i) {
        double xi = d.m[i];
        for (int j = 0; j <= i; ++j) xi += d.L[i + 3 * j] * t[j];
        x[i] = xi;
    }
    if (ndim == 1) {
        for (int i = 0; i < nsel; ++i) f[i] = ffte(s, iz[i], x);
    } else {
        ftest_selectors(s, iz, nsel, ndim, x, f);
    }
    for (int i = 0; i < nsel; ++i) f[i] *= d.det;
}

} // namespace traz
