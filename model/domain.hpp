// Integration domains over the stage cut scores.
#pragma once
#include <string>

namespace traz {

struct SelectionState;

// The domain x = m + L t for t in the box lo <= t <= hi, with Jacobian det L (L lower
// triangular). The classic domain is m = 0, L = I and the cube [-4.5, 4.5] per stage
// ([-6.5, 6.5] for one stage).
struct Domain {
    int ndim = 0;
    bool fitted = false;  // false: the classic domain
    double m[3] = {};
    double L[9] = {};  // column-major 3 x 3, entry (i, j) at i + 3 j
    double det = 1.0;
    double lo[3] = {}, hi[3] = {};
    bool boxed = false;   // lo and hi hold the box (the classic domain's or a fitted one's)
    // How the domain was found, for the record.
    long evaluations = 0;  // density evaluations spent on the fit
    int newton_steps = 0;
    std::string method;    // how the shape was found: "curvature", "order statistics" or "cube"
    std::string note;      // why the fit fell back to the cube, when it did
    double start[3] = {};  // the cuts where the expected counts pass each stage
    double peak = 0.0;     // log density at m
};

// The classic domain of a problem with ndim stages.
Domain cube_domain(int ndim);

// A domain fitted to the bare cut-score density of the problem s (filled, with its
// order-statistic constants, and prepared): m is the density's mode, L L' the inverse
// of the negative Hessian of the log density there, and the box reaches out to where the
// density has fallen by a factor 1e13 in every direction of the cube's grid {-1, 0, 1}^K
// (and at least 3 in every direction). Falls back to the classic domain (fitted false, note
// saying why) when the fit fails. Costs a few hundred density evaluations; deterministic.
Domain fit_domain(const SelectionState& s);

// The first part of that fit: mode and shape (m, L, det L), no box (lo = hi = 0, boxed
// false); enough for rules over all of t. Falls back to the classic domain as fit_domain does.
Domain fit_shape(const SelectionState& s);
// The second part: the box of a fitted shape d (boxed true); adds its evaluations to d's.
void fit_extent(const SelectionState& s, Domain& d);

// The integrands over the box of the domain d: det L times ftest (ffte for one stage) at
// m + L t.
void ftest_mapped(const SelectionState& s, int iz, const Domain& d, const int& ndim, double* t, const int& numfun,
                  double* f);
double ffte_mapped(const SelectionState& s, int iz, const Domain& d, double t);

// The values of nsel selectors at m + L t from one evaluation of the point, each times
// det L (one stage: ffte per selector).
void mapped_selectors(const SelectionState& s, const int* iz, int nsel, const Domain& d, const double* t, double* f);

} // namespace traz
