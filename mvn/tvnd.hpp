// Trivariate normal routine internals: the block shared with its integrand, the
// adaptive integrator and the 23-point Gauss-Kronrod rule.
#pragma once

#include "mvn/bvnd.hpp"

namespace traz {

// A function of one real, as integrated by adoned, adone and krnrdd.
using mvn_integrand = double (*)(const double&);

// Block trvbkd: filled by tvnd before each integration, read by trvfnd during it. One block
// per thread, so threads integrate side by side.
// H is the integration coordinate, A and B the other two, uA = sqrt(1 - rHA^2).
struct trvbkd_block {
    double la;  // L_A / uA
    double lb;  // L_B / uB
    double ra;  // rHA / uA
    double rb;  // rHB / uB
    double rho; // correlation of A and B given H
    bvnd_rule rule; // bvnd's rule for rho, prepared once per integration
};
// Defined here, constant-initialized, so that other translation units read it without a TLS
// wrapper call (GCC 12's null-pointer sanitizer misjudges that call's result at -O2 and up).
inline thread_local trvbkd_block trvbkd{};

// exp(-t^2/2) times P(X_A < L_A, X_B < L_B | X_H = t), from trvbkd (scalar path; the vector
// path evaluates the 23 abscissae of a rule application together).
double trvfnd(const double& t);

// Globally adaptive bisection with the 23-point Kronrod rule on at most 100
// subintervals; returns once the sum of error estimates is at most tol (always after
// at least one bisection) or the subintervals are used up.
double adoned(mvn_integrand f, const double& a, const double& b, const double& tol);

// The 23-point Kronrod rule applied to f over [a, b]; abserr = 3 |Kronrod - Gauss|.
double krnrdd(const double& a, const double& b, mvn_integrand f, double& abserr);

namespace krnrdd_rules {
// xgk[0] = 0 and the positive abscissae in decreasing order; even indices 2..10 are the
// 11-point Gauss nodes. wgk: Kronrod weights. wg[j]: Gauss weight of xgk[2j], wg[6] = 0.
extern const double xgk[12];
extern const double wgk[12];
extern const double wg[7];
} // namespace krnrdd_rules

} // namespace traz
