// Standard normal distribution function.
#include "mvn/mvn.hpp"
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
    constexpr double p0 = 220.2068679123761;
    constexpr double p1 = 221.2135961699311;
    constexpr double p2 = 112.0792914978709;
    constexpr double p3 = 33.912866078383;
    constexpr double p4 = 6.37396220353165;
    constexpr double p5 = 0.7003830644436881;
    constexpr double p6 = 0.03526249659989109;
    constexpr double q0 = 440.4137358247522;
    constexpr double q1 = 793.8265125199484;
    constexpr double q2 = 637.3336333788311;
    constexpr double q3 = 296.5642487796737;
    constexpr double q4 = 86.78073220294608;
    constexpr double q5 = 16.06417757920695;
    constexpr double q6 = 1.755667163182642;
    constexpr double q7 = 0.08838834764831845;
    constexpr double rrtpi = 2.506628274631001; // sqrt(2 pi)
    constexpr double cutoff = 7.071067811865475; // 10/sqrt(2)

    const double za = std::fabs(z);
    double p;
    if (za > 37.0) {
        p = 0.0;
    } else {
        const double e = std::exp(-(za * za * 0.5));
        if (za < cutoff) {
            p = e * ((((((p6 * za + p5) * za + p4) * za + p3) * za + p2) * za + p1) * za + p0)
                / (((((((q7 * za + q6) * za + q5) * za + q4) * za + q3) * za + q2) * za + q1) * za + q0);
        } else {
            p = e / (za + 1.0 / (za + 2.0 / (za + 3.0 / (za + 4.0 / (za + 0.65))))) / rrtpi;
        }
    }
    if (z > 0.0) {
        p = 1.0 - p;
    }
    return p;
}

} // namespace traz
