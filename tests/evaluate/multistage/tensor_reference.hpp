// Reference values of a two- or three-stage problem by an iterated Gauss-Legendre product
// rule, independent of the cubature and of the integration domains the program uses.
//
// The cut-score density factorises stage by stage: f(z) = f1(z1) f2(z2 | z1) f3(z3 | z1, z2),
// each factor a one-dimensional order-statistic density, and ftest with ndim = k returns the
// product of the first k factors. So the integral is taken as nested one-dimensional ones,
//   I = int dz1 int dz2 int dz3 ftest(z),
// each over the interval where its own factor lives: scanned per line outward from the cut
// where the expected number passes that stage, to where the line's density has fallen below
// 1e-16 of its largest value seen. Every interval gets the same n-point Gauss-Legendre rule.
// The seven selectors of the pass plan are integrated at the same points.
//
// The first form takes a filled selection state (selection_state, order_statistic_constants);
// the second fills one from a deck. Drops the thread's point memo (ftest_forget) as it goes.
#pragma once
#include <gsl/gsl_integration.h>

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "deck/deck.hpp"
#include "evaluate/evaluate.hpp"
#include "model/model.hpp"
#include "model/state.hpp"
#include "mvn/mvn.hpp"

namespace traz::tensorref {

// The selectors of the pass plan, in pass order.
inline constexpr int kSelectors[7] = {1, 2, 3, 5, 9, 10, 11};

struct Reference {
    double integral[7] = {};  // one per selector of kSelectors
    double E = 0, R1 = 0, R2 = 0, AI = 0, SD = 0, mass = 0;
    long evaluations = 0;
};

namespace detail {

// The problem's first k stage factors along one line: coordinate k-1 varies, the earlier
// ones are fixed.
struct Line {
    const SelectionState& st;
    int k;
    double z[3];
    long* count;
    double density(double t) {
        double a[3] = {z[0], z[1], z[2]};
        a[k - 1] = t;
        double f = 0.0;
        ftest(st, 0, k, a, 1, &f);  // selector 0, no factor: the bare density
        ++*count;
        return f > 0.0 && std::isfinite(f) ? f : 0.0;
    }
    // Probability of scoring above the cuts z(1..k) with z(k) = t, over the mixture.
    double mass(double t) const {
        double s = 0.0;
        for (int g = 1; g <= st.ngroup; ++g) {
            double a[3];
            for (int j = 1; j <= k; ++j) a[j - 1] = (j == k ? t : z[j - 1]) - st.Ef(g, j);
            double err = 0, p = 0;
            int ifail = 0;
            g01hbt(k, a, a, st.corc, err, ifail, p);
            s += st.pg[g - 1] * p;
        }
        return s;
    }
};

// The interval of a line where its density is above 1e-16 of the largest value seen.
inline void interval(Line& line, double& lo, double& hi) {
    // Start where the expected number passes: mass(t) / mass of the earlier stages = (n_k + 1/2)/(n_(k-1) + 1).
    const int k = line.k;
    const double before = k == 1 ? 1.0 : Line{line.st, k - 1, {line.z[0], line.z[1], 0}, line.count}.mass(line.z[k - 2]);
    const double target = before * (line.st.ns[k - 1] + 0.5) / ((k == 1 ? line.st.napp : line.st.ns[k - 2]) + 1.0);
    double a = -12, b = 12;
    for (int i = 0; i < 50; ++i) ((line.mass(0.5 * (a + b)) > target) ? a : b) = 0.5 * (a + b);
    const double t0 = 0.5 * (a + b);
    double peak = line.density(t0);
    double ends[2];
    for (int side = 0; side < 2; ++side) {
        const double dir = side == 0 ? -1.0 : 1.0;
        double inside = 0.0, step = 0.05, outside = 0.0;
        for (;; step *= 2.0) {
            const double f = line.density(t0 + dir * step);
            peak = std::fmax(peak, f);
            if (f < 1e-16 * peak || step > 24.0) {
                outside = step;
                break;
            }
            inside = step;
        }
        for (int i = 0; i < 8; ++i) {
            const double mid = 0.5 * (inside + outside);
            (line.density(t0 + dir * mid) < 1e-16 * peak ? outside : inside) = mid;
        }
        ends[side] = t0 + dir * outside;
    }
    lo = ends[0];
    hi = ends[1];
}

} // namespace detail

// The seven selector integrals with n Gauss-Legendre points per interval, and the report's
// quantities from them by the pass plan's arithmetic.
inline Reference tensor_reference(const SelectionState& st, int n) {
    Reference ref;
    const int K = st.nstage;
    gsl_integration_glfixed_table* rule = gsl_integration_glfixed_table_alloc(n);
    std::vector<double> x(n), w(n);
    for (int i = 0; i < n; ++i) gsl_integration_glfixed_point(-1.0, 1.0, i, &x[i], &w[i], rule);
    gsl_integration_glfixed_table_free(rule);

    double z[3] = {};
    // Integrates stage k's line at the earlier cuts z, adding weight times the selector
    // values at every point into sums.
    auto level = [&](auto&& self, int k, double weight, double* sums) -> void {
        if (k < 1 || k > 3) return;
        detail::Line line{st, k, {z[0], z[1], z[2]}, &ref.evaluations};
        double lo, hi;
        detail::interval(line, lo, hi);
        const double half = 0.5 * (hi - lo), mid = 0.5 * (hi + lo);
        for (int i = 0; i < n; ++i) {
            z[k - 1] = mid + half * x[i];
            const double wi = weight * half * w[i];
            if (k < K) {
                if (k == 1) ftest_forget();  // keeps the memo from filling
                self(self, k + 1, wi, sums);
                continue;
            }
            for (int s = 0; s < 7; ++s) {
                double a[3] = {z[0], z[1], z[2]};
                double f = 0.0;
                ftest(st, kSelectors[s], K, a, 1, &f);
                sums[s] += wi * f;
            }
            ++ref.evaluations;
        }
    };
    level(level, 1, 1.0, ref.integral);

    const double* I = ref.integral;
    const double srtot = st.srtot, pg1 = st.pg[0], pg2 = st.pg[1];
    const double Kn = st.ns[K - 1];
    ref.E = I[0];
    ref.mass = I[1] + I[2];
    ref.R2 = I[3] * srtot;
    ref.R1 = (srtot - pg2 * ref.R2) / pg1;
    ref.AI = ref.R2 / ref.R1;
    ref.SD = std::sqrt(((Kn - 1.0) * (I[5] - ref.E * ref.E) + I[4] - ref.E * ref.E) / Kn);
    return ref;
}

// The same for a deck, its selection state filled as a run fills it. ok is false when the
// deck cannot be read.
inline Reference tensor_reference(std::string_view deck_text, int n, bool& ok) {
    Deck d;
    StageValues s;
    std::string error;
    ok = read_deck(deck_text, d, error) && d.nstage >= 2 && d.nstage <= 3;
    if (!ok) return {};
    derive_stages(d, s);
    SelectionState st = selection_state(d, s);
    order_statistic_constants(st);
    return tensor_reference(st, n);
}

} // namespace traz::tensorref
