// Trivariate normal lower probability by adaptive integration over one coordinate.
#include "mvn/mvn.hpp"
#include "mvn/tvnd.hpp"
#include "mvn/simd.hpp"

#include <cmath>

namespace traz {

namespace krnrdd_rules {

const double xgk[12] = {
    0.0000000000000000e+00, 0.9963696138895427e+00, 0.9782286581460570e+00,
    0.9416771085780681e+00, 0.8870625997680953e+00, 0.8160574566562211e+00,
    0.7301520055740492e+00, 0.6305995201619651e+00, 0.5190961292068118e+00,
    0.3979441409523776e+00, 0.2695431559523450e+00, 0.1361130007993617e+00,
};

const double wgk[12] = {
    0.1365777947111183e+00, 0.9765441045961290e-02, 0.2715655468210443e-01,
    0.4582937856442671e-01, 0.6309742475037484e-01, 0.7866457193222764e-01,
    0.9295309859690074e-01, 0.1058720744813894e+00, 0.1167395024610472e+00,
    0.1251587991003195e+00, 0.1312806842298057e+00, 0.1351935727998845e+00,
};

const double wg[7] = {
    0.2729250867779007e+00, 0.5566856711617449e-01, 0.1255803694649048e+00,
    0.1862902109277352e+00, 0.2331937645919914e+00, 0.2628045445102478e+00,
    0.0,
};

} // namespace krnrdd_rules

namespace {

// 1 - r^2, formed as (1 - r)(1 + r) where r^2 would lose digits.
double one_minus_square(const double& r)
{
    if (2.0 * std::fabs(r) >= 1.0) {
        return (1.0 - r) * (1.0 + r);
    }
    return 1.0 - r * r;
}

// Globally adaptive bisection over [a, b], with apply(lo, hi, abserr) the rule on [lo, hi].
template <class Rule>
double bisect(Rule apply, const double& a, const double& b, const double& tol)
{
    constexpr int nmax = 100;
    double ai[nmax];
    double bi[nmax];
    double fi[nmax];
    double ei[nmax];

    ai[0] = a;
    bi[0] = b;
    fi[0] = apply(ai[0], bi[0], ei[0]);
    int im = 1;
    int ip = 0;
    for (;;) {
        const int in = im;
        ++im;
        bi[in] = bi[ip];
        ai[in] = (ai[ip] + bi[ip]) * 0.5;
        bi[ip] = ai[in];
        const double old = fi[ip];
        fi[ip] = apply(ai[ip], bi[ip], ei[ip]);
        fi[in] = apply(ai[in], bi[in], ei[in]);
        const double d = std::fabs(old - fi[ip] - fi[in]) * 0.5;
        ei[ip] = ei[ip] + d;
        ei[in] = ei[in] + d;

        ip = 0;
        double fin = 0.0;
        double err = 0.0;
        for (int i = 0; i < im; ++i) {
            if (ei[i] > ei[ip]) {
                ip = i;
            }
            fin = fin + fi[i];
            err = err + ei[i];
        }
        if (err <= tol || im == nmax) {
            return fin;
        }
    }
}

// krnrdd with trvfnd on the vector path: the 23 abscissae in one batch, the sums as krnrdd
// forms them.
double krnrdd_trvfnd(const double& a, const double& b, double& abserr, const mvn_kernels& v,
                     const trvbkd_block& blk)
{
    using krnrdd_rules::xgk;
    using krnrdd_rules::wgk;
    using krnrdd_rules::wg;

    const double wid = (b - a) * 0.5;
    const double cen = (b + a) * 0.5;
    double x[23];
    double f[23];
    x[0] = cen;
    for (int j = 1; j <= 11; ++j) {
        const double t = wid * xgk[j];
        x[2 * j - 1] = cen - t;
        x[2 * j] = cen + t;
    }
    trvfnd_n(v, 23, blk, x, f);
    double resg = f[0] * wg[0];
    double resk = f[0] * wgk[0];
    for (int j = 1; j <= 11; ++j) {
        const double fs = f[2 * j - 1] + f[2 * j];
        resk = resk + wgk[j] * fs;
        if (j % 2 == 0) {
            resg = resg + wg[j / 2] * fs;
        }
    }
    abserr = std::fabs((resk - resg) * wid) * 3.0;
    return resk * wid;
}

} // namespace

// P(X1 < L1, X2 < L2, X3 < L3): the coordinate with the largest absolute limit is
// integrated from -8.5, over the density times the conditional bivariate probability;
// a positive limit there is handled through its complement.
double tvnd(const double* limit, const double* sigma, const double& epsi)
{
    return tvnd(limit, sigma, epsi, mvn_vector());
}

double tvnd(const double* limit, const double* sigma, const double& epsi, const mvn_kernels* v)
{
    constexpr double rrtpi = 2.506628274631; // sqrt(2 pi)
    constexpr double lower = -8.5;
    const double l1 = limit[0];
    const double l2 = limit[1];
    const double l3 = limit[2];
    const double r21 = sigma[0];
    const double r31 = sigma[1];
    const double r32 = sigma[2];

    double h;
    double la;
    double lb;
    double rha;
    double rhb;
    double rab;
    if (std::fabs(l2) >= std::fabs(l1) && std::fabs(l2) >= std::fabs(l3)) {
        h = l2;
        la = l1;
        lb = l3;
        rha = r21;
        rhb = r32;
        rab = r31;
    } else if (std::fabs(l3) >= std::fabs(l1) && std::fabs(l3) >= std::fabs(l2)) {
        h = l3;
        la = l2;
        lb = l1;
        rha = r32;
        rhb = r31;
        rab = r21;
    } else {
        h = l1;
        la = l2;
        lb = l3;
        rha = r21;
        rhb = r31;
        rab = r32;
    }

    const bool complement = h > 0.0;
    if (complement) {
        h = -h;
        rha = -rha;
        rhb = -rhb;
    }

    double t = 0.0;
    if (h > lower) {
        const double ua = std::sqrt(one_minus_square(rha));
        const double ub = std::sqrt(one_minus_square(rhb));
        trvbkd_block& blk = trvbkd;
        blk.la = la / ua;
        blk.lb = lb / ub;
        blk.ra = rha / ua;
        blk.rb = rhb / ub;
        blk.rho = (rab - rha * rhb) / (ua * ub);
        if (v == nullptr) {
            bvnd_prepare(blk.rho, blk.rule);
            t = adoned(trvfnd, lower, h, epsi) / rrtpi;
        } else {
            v->bvnd_prepare(blk.rho, blk.rule);
            const auto apply = [v, &blk](const double& lo, const double& hi, double& abserr) {
                return krnrdd_trvfnd(lo, hi, abserr, *v, blk);
            };
            t = bisect(apply, lower, h, epsi) / rrtpi;
        }
    }

    if (!complement) {
        return t;
    }
    const double nla = -la;
    const double nlb = -lb;
    return bvnd(nla, nlb, rab, v) - t;
}

double trvfnd(const double& t)
{
    const double h = t * trvbkd.ra - trvbkd.la;
    const double k = t * trvbkd.rb - trvbkd.lb;
    return std::exp(-(t * t * 0.5)) * bvnd_prepared(h, k, trvbkd.rule);
}

double adoned(mvn_integrand f, const double& a, const double& b, const double& tol)
{
    const auto apply = [f](const double& lo, const double& hi, double& abserr) {
        return krnrdd(lo, hi, f, abserr);
    };
    return bisect(apply, a, b, tol);
}

double krnrdd(const double& a, const double& b, mvn_integrand f, double& abserr)
{
    using krnrdd_rules::xgk;
    using krnrdd_rules::wgk;
    using krnrdd_rules::wg;

    const double wid = (b - a) * 0.5;
    const double cen = (b + a) * 0.5;
    const double fc = f(cen);
    double resg = fc * wg[0];
    double resk = fc * wgk[0];
    for (int j = 1; j <= 11; ++j) {
        const double t = wid * xgk[j];
        const double fl = f(cen - t);
        const double fr = f(cen + t);
        const double fs = fl + fr;
        resk = resk + wgk[j] * fs;
        if (j % 2 == 0) {
            resg = resg + wg[j / 2] * fs;
        }
    }
    abserr = std::fabs((resk - resg) * wid) * 3.0;
    return resk * wid;
}

} // namespace traz
