// Vector kernels of the normal probabilities and the choice between them and the scalar code.
//
// The vector path evaluates several Gauss-Legendre nodes (one bvnd call) or several bvnd calls
// (the 23 Kronrod nodes of one trivariate rule application) at a time, with Highway's exp and
// sin. Its results differ from the scalar path's in the last bits only, and are the same bits
// on every instruction set it runs on (AVX2, AVX-512):
//   - every exp and sin is Highway's, evaluated lane by lane;
//   - every other operation is the scalar path's, in its order, without fused multiply-add;
//   - a Gauss-Legendre sum over nodes j = 0..n-1 is formed as eight partial sums
//     s_m = sum over j = m (mod 8), in increasing j, then ((s0 + s1) + (s2 + s3)) +
//     ((s4 + s5) + (s6 + s7)), whatever the vector width. A bvnd evaluated alone and the same
//     bvnd evaluated in a batch are therefore the same bits too.
//
// The path is chosen once per process, on first use, so every thread computes the same bits:
// the vector path where the CPU has AVX2 with FMA, unless the environment variable
// TRAZ_SCALAR is set to a value other than "" or "0", which forces the scalar path.
#pragma once

#include "mvn/bvnd.hpp"
#include "mvn/tvnd.hpp"

#include <cstdint>

namespace traz {

// The vector kernels compiled for one instruction set.
struct mvn_kernels {
    const char* target; // instruction set, e.g. "AVX2"
    int lanes;          // doubles per vector
    // Phi(z) for one value.
    double (*phid)(double z);
    // Phi(z[i]) for i < n.
    void (*phid_n)(int n, const double* z, double* p);
    // bvnd(h, k, r) for one (h, k, r).
    double (*bvnd)(double h, double k, double r);
    // Fills rule for correlation r (the vector sin in place of the scalar one).
    void (*bvnd_prepare)(double r, bvnd_rule& rule);
    // p[i] = bvnd(h[i], k[i], rule.r) for i < n, from a rule filled by bvnd_prepare above.
    void (*bvnd_n)(int n, const double* h, const double* k, const bvnd_rule& rule, double* p);
    // f[i] = trvfnd(t[i]) for i < n, from blk (its rule filled by bvnd_prepare above).
    void (*trvfnd_n)(int n, const trvbkd_block& blk, const double* t, double* f);
};

// The kernels this process computes with, or null for the scalar path. Chosen on the first
// call, once for all threads.
const mvn_kernels* mvn_vector();

// The best kernels this CPU runs, whatever TRAZ_SCALAR says; null if it has none (no AVX2).
// For comparisons of the two paths.
const mvn_kernels* mvn_vector_available();

// The kernels of one Highway target (HWY_AVX2, HWY_AVX3, ...), null if they are not compiled
// or the CPU lacks the target. For tests of the claim that every target gives the same bits.
const mvn_kernels* mvn_vector_for_target(std::int64_t target);

// v.trvfnd_n(n, blk, t, f): the vector path's trivariate integrand at n abscissae.
void trvfnd_n(const mvn_kernels& v, int n, const trvbkd_block& blk, const double* t, double* f);

// The routines of mvn.hpp on an explicit path: v = null is the scalar path.
double phid(const double& z, const mvn_kernels* v);
double bvnd(const double& h, const double& k, const double& r, const mvn_kernels* v);
double tvnd(const double* limit, const double* sigma, const double& epsi, const mvn_kernels* v);
double qvnd(const double* limit, const double* sigma, const double& epsi, const mvn_kernels* v);

} // namespace traz
