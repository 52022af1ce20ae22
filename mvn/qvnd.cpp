// Quadrivariate normal lower probability by adaptive integration over the first coordinate.
#include "mvn/mvn.hpp"
#include "mvn/qvnd.hpp"
#include "mvn/simd.hpp"

#include <cmath>

namespace traz {

// P(X1 < L1, ..., X4 < L4): the first coordinate is integrated from -8.5 to L1 over the
// density times the conditional trivariate probability of the other three.
double qvnd(const double* limit, const double* sigma, const double& epsi)
{
    return qvnd(limit, sigma, epsi, mvn_vector());
}

double qvnd(const double* limit, const double* sigma, const double& epsi, const mvn_kernels* v)
{
    constexpr double rrtpi = 2.506628274631; // sqrt(2 pi)
    constexpr double lower = -8.5;
    const double r21 = sigma[0];
    const double r31 = sigma[1];
    const double r32 = sigma[2];
    const double r41 = sigma[3];
    const double r42 = sigma[4];
    const double r43 = sigma[5];

    const double u2 = std::sqrt(1.0 - r21 * r21);
    const double u3 = std::sqrt(1.0 - r31 * r31);
    const double u4 = std::sqrt(1.0 - r41 * r41);
    wdqbk.y[0] = limit[1] / u2;
    wdqbk.y[1] = limit[2] / u3;
    wdqbk.y[2] = limit[3] / u4;
    wdqbk.sig[0] = (r32 - r31 * r21) / (u2 * u3);
    wdqbk.sig[1] = (r42 - r41 * r21) / (u2 * u4);
    wdqbk.sig[2] = (r43 - r41 * r31) / (u3 * u4);
    wdqbk.c[0] = r21 / u2;
    wdqbk.c[1] = r31 / u3;
    wdqbk.c[2] = r41 / u4;
    wdqbk.v = v;
    return adone(qvndd, lower, limit[0], epsi) / rrtpi;
}

double qvndd(const double& t)
{
    constexpr double epsi = 1.0e-9; // accuracy of the inner trivariate probabilities
    const double sig[3] = {wdqbk.sig[0], wdqbk.sig[1], wdqbk.sig[2]};
    const double y[3] = {wdqbk.y[0] - t * wdqbk.c[0], wdqbk.y[1] - t * wdqbk.c[1],
                         wdqbk.y[2] - t * wdqbk.c[2]};
    const double p = tvnd(y, sig, epsi, wdqbk.v);
    return std::exp(-(t * t * 0.5)) * p;
}

// The outer integration runs while tvnd's own integration is active. adoned keeps all of
// its state on its own stack frame, so the nested use is safe and adone is that integrator.
double adone(mvn_integrand f, const double& a, const double& b, const double& tol)
{
    return adoned(f, a, b, tol);
}

} // namespace traz
