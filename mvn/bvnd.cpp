// Bivariate normal upper probability.
#include "mvn/bvnd.hpp"
#include "mvn/mvn.hpp"
#include "mvn/count.hpp"
#include "mvn/simd.hpp"

#include <algorithm>
#include <cmath>

namespace traz {

namespace bvnd_rules {

const double x[3][10] = {
    {-0.9324695142031522e+00, -0.6612093864662647e+00, -0.2386191860831970e+00,
     0, 0, 0, 0, 0, 0, 0},
    {-0.9815606342467191e+00, -0.9041172563704750e+00, -0.7699026741943050e+00,
     -0.5873179542866171e+00, -0.3678314989981802e+00, -0.1252334085114692e+00,
     0, 0, 0, 0},
    {-0.9931285991850949e+00, -0.9639719272779138e+00, -0.9122344282513259e+00,
     -0.8391169718222188e+00, -0.7463319064601508e+00, -0.6360536807265150e+00,
     -0.5108670019508271e+00, -0.3737060887154196e+00, -0.2277858511416451e+00,
     -0.7652652113349733e-01},
};

const double w[3][10] = {
    {0.1713244923791705e+00, 0.3607615730481384e+00, 0.4679139345726904e+00,
     0, 0, 0, 0, 0, 0, 0},
    {0.4717533638651177e-01, 0.1069393259953183e+00, 0.1600783285433464e+00,
     0.2031674267230659e+00, 0.2334925365383547e+00, 0.2491470458134029e+00,
     0, 0, 0, 0},
    {0.1761400713915212e-01, 0.4060142980038694e-01, 0.6267204833410906e-01,
     0.8327674157670475e-01, 0.1019301198172404e+00, 0.1181945319615184e+00,
     0.1316886384491766e+00, 0.1420961093183821e+00, 0.1491729864726037e+00,
     0.1527533871307259e+00},
};

} // namespace bvnd_rules

int bvnd_rule_start(const double& r, bvnd_rule& rule)
{
    const double absr = std::fabs(r);
    const int ng = absr < 0.3 ? 0 : absr < 0.75 ? 1 : 2;
    static constexpr int pairs[3] = {3, 6, 10};
    rule.r = r;
    rule.n = 2 * pairs[ng];
    return ng;
}

// The 6-, 12- or 20-point rule by |r|, and every node quantity that does not involve
// the limits.
void bvnd_prepare(const double& r, bvnd_rule& rule)
{
    using bvnd_rules::x;
    using bvnd_rules::w;

    const double absr = std::fabs(r);
    const int ng = bvnd_rule_start(r, rule);
    const int lg = rule.n / 2;

    if (absr < 0.925) {
        rule.asr = std::asin(r);
        for (int i = 0; i < lg; ++i) {
            for (int s = -1; s <= 1; s += 2) {
                const int j = 2 * i + (s + 1) / 2;
                const double sn = std::sin(rule.asr * (s * x[ng][i] + 1.0) * 0.5);
                rule.wn[j] = w[ng][i];
                rule.sn[j] = sn;
                rule.den[j] = 1.0 - sn * sn;
            }
        }
    } else if (absr < 1.0) {
        rule.as = (1.0 - r) * (1.0 + r);
        rule.a = std::sqrt(rule.as);
        const double a = rule.a * 0.5;
        for (int i = 0; i < lg; ++i) {
            for (int s = -1; s <= 1; s += 2) {
                const int j = 2 * i + (s + 1) / 2;
                const double ax = a * (s * x[ng][i] + 1.0);
                const double xs = ax * ax;
                const double rs = std::sqrt(1.0 - xs);
                rule.xs[j] = xs;
                rule.rs[j] = rs;
                rule.omr[j] = 1.0 - rs;
                rule.tpr[j] = 2.0 * (1.0 + rs);
                rule.aw[j] = a * w[ng][i];
            }
        }
    }
}

// P(X > h, Y > k) for a standardized pair with correlation r. For |r| < 0.925 the
// derivative in the correlation is integrated from 0 to asin(r) by Gauss-Legendre
// (6, 12 or 20 points as |r| grows); above, an expansion about |r| = 1 plus a
// corrected 20-point sum.
double bvnd(const double& h, const double& k, const double& r)
{
    return bvnd(h, k, r, mvn_vector());
}

double bvnd(const double& h, const double& k, const double& r, const mvn_kernels* v)
{
    if (v != nullptr) {
        return v->bvnd(h, k, r);
    }
    bvnd_rule rule;
    bvnd_prepare(r, rule);
    return bvnd_prepared(h, k, rule);
}

double bvnd_prepared(const double& h, const double& k, const bvnd_rule& rule)
{
    using bvnd_rules::fourpi;
    using bvnd_rules::twopi;
    TRAZ_MVN_COUNT_BVND();

    const double r = rule.r;
    const double absr = std::fabs(r);
    const int n = rule.n;
    const double hh = h;
    double kk = k;
    double hk = h * k;
    double bvn = 0.0;

    if (absr < 0.925) {
        const double hs = (h * h + k * k) * 0.5;
        for (int j = 0; j < n; ++j) {
            bvn = bvn + rule.wn[j] * std::exp((rule.sn[j] * hk - hs) / rule.den[j]);
        }
        return bvn * rule.asr / fourpi + phid(-h, nullptr) * phid(-k, nullptr);
    }

    if (r < 0.0) {
        kk = -kk;
        hk = -hk;
    }
    if (absr < 1.0) {
        const double as = rule.as;
        const double a = rule.a;
        const double bs = (hh - kk) * (hh - kk);
        const double u = (4.0 - hk) * 0.125;
        const double v = (12.0 - hk) * 0.0625;
        const double e1 = -(bs / as + hk) * 0.5;
        if (e1 > -100.0) {
            bvn = a * std::exp(e1)
                * (1.0 - u * (bs - as) * (1.0 - v * bs / 5.0) / 3.0 + u * v * as * as / 5.0);
        }
        if (-hk < 100.0) {
            const double b = std::sqrt(bs);
            const double nb = -b / a;
            bvn = bvn - std::exp(-hk * 0.5) * std::sqrt(twopi) * phid(nb, nullptr) * b
                            * (1.0 - u * bs * (1.0 - v * bs / 5.0) / 3.0);
        }
        for (int j = 0; j < n; ++j) {
            const double xs = rule.xs[j];
            const double e2 = -(bs / xs + hk) * 0.5;
            if (e2 > -100.0) {
                bvn = bvn + rule.aw[j] * std::exp(e2)
                                * (std::exp(-hk * rule.omr[j] / rule.tpr[j]) / rule.rs[j]
                                   - (1.0 + u * xs * (1.0 + v * xs)));
            }
        }
        bvn = -bvn / twopi;
    }
    if (r > 0.0) {
        const double m = -std::max(hh, kk);
        return bvn + phid(m, nullptr);
    }
    const double nh = -hh;
    const double nk = -kk;
    return -bvn + std::max(0.0, phid(nh, nullptr) - phid(nk, nullptr));
}

} // namespace traz
