// Standard normal distribution function.
#include "mvn/mvn.hpp"
#include "mvn/phid.hpp"
#include "mvn/simd.hpp"

#include <cmath>

namespace traz {

// Phi(z) from a rational approximation of the tail below |z| = 10/sqrt(2) and a
// continued fraction above it; exactly 0 below -37 and 1 above 37.
double phid(const double& z)
{
    return phid(z, mvn_vector());
}

double phid(const double& z, const mvn_kernels* v)
{
    if (v != nullptr) {
        return v->phid(z);
    }
    using phid_rules::p;
    using phid_rules::q;
    using phid_rules::rrtpi;
    using phid_rules::cutoff;

    const double za = std::fabs(z);
    double pr;
    if (za > phid_rules::zero_beyond) {
        pr = 0.0;
    } else {
        const double e = std::exp(-(za * za * 0.5));
        if (za < cutoff) {
            pr = e * ((((((p[6] * za + p[5]) * za + p[4]) * za + p[3]) * za + p[2]) * za + p[1]) * za + p[0])
                 / (((((((q[7] * za + q[6]) * za + q[5]) * za + q[4]) * za + q[3]) * za + q[2]) * za + q[1]) * za
                    + q[0]);
        } else {
            pr = e / (za + 1.0 / (za + 2.0 / (za + 3.0 / (za + 4.0 / (za + 0.65))))) / rrtpi;
        }
    }
    if (z > 0.0) {
        pr = 1.0 - pr;
    }
    return pr;
}

} // namespace traz
