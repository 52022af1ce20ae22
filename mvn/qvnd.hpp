// Quadrivariate normal routine internals: the block shared with its integrand and the
// integrator copy used for the outer integration.
#pragma once

#include "mvn/tvnd.hpp"

namespace traz {

struct mvn_kernels;

// Block wdqbk: filled by qvnd before integrating, read by qvndd; one per thread.
// With u_j = sqrt(1 - r_j1^2):
struct wdqbk_block {
    double y[3];   // L_j / u_j, j = 2, 3, 4
    double sig[3]; // correlations of (2,3), (2,4), (3,4) given coordinate 1
    double c[3];   // r_j1 / u_j, j = 2, 3, 4
    const mvn_kernels* v; // the path of the inner trivariate probabilities (null: scalar)
};
inline thread_local wdqbk_block wdqbk{}; // constant-initialized, as trvbkd

// exp(-t^2/2) times P(X_j < L_j, j = 2..4 | X_1 = t), from wdqbk (tvnd at 1.0e-9).
double qvndd(const double& t);

// The integrator of the outer integration, which runs while tvnd's adoned is active.
double adone(mvn_integrand f, const double& a, const double& b, const double& tol);

} // namespace traz
