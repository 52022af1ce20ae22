// Selection-model integrands and the packed Cholesky inverse they use.
#pragma once

namespace traz {

struct SelectionState;

// Single-stage integrand: density of the stage-1 cut score at a[0] of the problem s times
// the factor chosen by the selector iz. a[0] is used as scratch and restored bit for bit.
double ffte(const SelectionState& s, int iz, double* a);

// Multi-stage integrand: f[0] = joint density of the ndim stage cut scores at a of the
// problem s (prepared by prepare_state) times the factor chosen by the selector iz. a is
// restored bit for bit. The values at a point that do not depend on iz are kept, per
// thread, for later calls at the same point while s is unchanged, so the passes of one
// problem evaluate each point once.
void ftest(const SelectionState& s, int iz, const int& ndim, double* a, const int& numfun, double* f);

// The values of nsel selectors iz[0..nsel-1] at one point from one evaluation of the point:
// f[i] is what ftest gives for iz[i], bit for bit. Keeps nothing between calls (no memo).
void ftest_selectors(const SelectionState& s, const int* iz, int nsel, const int& ndim, double* a, double* f);

// Drops the point values ftest keeps: the next problem starts afresh even when its
// selection state equals the last one's.
void ftest_forget();

// In-place inverse of the symmetric positive definite leading n x n block of the
// column-major array cov (leading dimension ldcov); only its lower triangle is read.
void matinv(double* cov, const int& ldcov, const int& n, int& ier);

} // namespace traz
