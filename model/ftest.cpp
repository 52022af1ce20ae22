// Multi-stage integrand: joint density of the stage cut scores of a finite mixed pool,
// times the conditional value of the quantity chosen by the selector iz.
#include "model/model.hpp"

#include "driver/state.hpp"
#include "mvn/mvn.hpp"

#include <cmath>

namespace traz {

namespace {

constexpr double one = 1.0;
constexpr double two = 2.0;
constexpr double twopi = 6.283185308;
constexpr double rtwopi = 2.506628275;
constexpr double qfloor = 1.0e-26; // floor on the probability of failing a stage

// Position of element (i, j), 1-based, of a column-major 4 x 4 matrix.
constexpr int ix(int i, int j) { return (i - 1) + 4 * (j - 1); }

double phi(double x) { return std::exp(-(x * x) / two) / rtwopi; }

// Upper orthant probability of dimension nd with limits lim and correlation list cor.
double orthant(int nd, const double* lim, const double* cor)
{
    double err = 0.0;
    int ifail = 0;
    double prob = 0.0;
    g01hbt(nd, lim, lim, cor, err, ifail, prob);
    return prob;
}

// dst = src (order n) with rows and columns skip1 and skip2 removed, order kept.
// Pass 0 for an index that is not removed. Returns the order of dst.
int without(const double* src, int n, int skip1, int skip2, double* dst)
{
    int q = 0;
    for (int j = 1; j <= n; ++j) {
        if (j == skip1 || j == skip2)
            continue;
        ++q;
        int p = 0;
        for (int i = 1; i <= n; ++i) {
            if (i == skip1 || i == skip2)
                continue;
            ++p;
            dst[ix(p, q)] = src[ix(i, j)];
        }
    }
    return q;
}

// Correlation list (strict lower triangle, row by row) of the covariance matrix ww of order n.
void corlist(const double* ww, int n, double* wz)
{
    int p = 0;
    for (int q = 2; q <= n; ++q)
        for (int r = 1; r < q; ++r)
            wz[p++] = ww[ix(q, r)] / std::sqrt(ww[ix(q, q)] * ww[ix(r, r)]);
}

// Correlation lists of the other composites of stages 1..k given X_j, j = 1..k, into
// wz1[j]: the inverse of the leading block of corm without row and column j, inverted
// again, is their conditional covariance. One remaining composite needs no list.
void conditional(const double* corm, int k, double (*wz1)[10])
{
    if (k - 1 < 2)
        return;
    double cormin[16];
    double ww[16];
    int ier = 0;
    without(corm, k, 0, 0, cormin);
    matinv(cormin, 4, k, ier);
    for (int j = 1; j <= k; ++j) {
        const int n1 = without(cormin, k, j, 0, ww);
        matinv(ww, 4, n1, ier);
        corlist(ww, n1, wz1[j]);
    }
}

// Stage cut of X_h given X_i = a_i and X_l = a_l, all standardized.
double paircut(const double* corm, const double* a, int h, int i, int l)
{
    const double rhi = corm[ix(h, i)];
    const double rhl = corm[ix(h, l)];
    const double ril = corm[ix(i, l)];
    const double rho = (rhl - rhi * ril) / std::sqrt((one - ril * ril) * (one - rhi * rhi));
    const double bi = (rhi - ril * rhl) / (one - ril * ril);
    const double bl = (rhl - ril * rhi) / (one - ril * ril);
    return (a[h - 1] - bi * a[i - 1] - bl * a[l - 1]) / std::sqrt((one - rhi * rhi) * (one - rho * rho));
}

} // namespace

// Joint density of the ndim (2 or 3) stage cut scores a(1..ndim) of the pool in sel,
// times the factor of sel.iz, into f[0]. a is scratch during the call and is restored
// bit for bit. Points where a stage's tail mass S, its entry mass R or its density T is
// zero, negative or not a number (far tails, where the normal probabilities lose their
// accuracy) have density 0. Calls outside 1..3 stages or 1..5 groups return 0.
void ftest(const int& ndim, double* a, const int& numfun, double* f)
{
    const SelectionState& s = sel;
    const int kk = ndim;
    const int g = s.ngroup;
    const int iz = s.iz;
    if (numfun < 1)
        return;
    f[0] = 0.0;
    if (kk < 1 || kk > 3 || g < 1 || g > 5)
        return;
    const bool second = iz == 3 * g + 3;

    double av[3];
    double cor[10];
    double corm[16];
    for (int j = 0; j < kk; ++j)
        av[j] = a[j];
    for (int p = 0; p < 10; ++p)
        cor[p] = s.corc[p];
    for (int p = 0; p < 16; ++p)
        corm[p] = s.cormc[p];

    double dnn[4];
    double probgr[6] = {};
    double ssg[6] = {};
    double sumygc[6] = {};
    double srg[6] = {};
    double phiu[4] = {};
    double phin1[4] = {};
    double phib[16] = {};
    double phin2[16] = {};
    double aq[3];
    double aqr[3];
    double xata2[16];
    double pr1[4];
    double wz1[4][10];
    const double nolist[1] = {0.0}; // a single composite has no correlations

    double lf = 0.0;
    double S = 0.0, R = 0.0, T = 0.0, V = 0.0, W = 0.0;
    bool dead = false;
    dnn[0] = s.napp;
    for (int k = 1; k <= kk; ++k) {
        dnn[k] = s.ns[k - 1];
        // The mass above the cuts of the earlier stages is the previous stage's S.
        R = k == 1 ? one : S;
        S = T = V = W = 0.0;
        const bool last = k == kk;
        if (k >= 2)
            conditional(corm, k, wz1);

        for (int m = 1; m <= g; ++m) {
            const double pgm = s.pg[m - 1];
            for (int j = 1; j <= kk; ++j)
                a[j - 1] = av[j - 1] - s.Ef(m, j);
            const double P = orthant(k, a, cor);
            if (last)
                probgr[m - 1] = P;
            S = S + pgm * P;
            ssg[m - 1] = pgm * P;
            if (last) {
                for (int i = 1; i <= kk; ++i)
                    phiu[i - 1] = phi(a[i - 1]);
                if (second)
                    for (int i = 1; i <= kk - 1; ++i)
                        for (int l = i + 1; l <= kk; ++l) {
                            const double ai = a[i - 1], al = a[l - 1];
                            const double r = corm[ix(i, l)];
                            const double b = std::exp(-(ai * ai + al * al - two * r * ai * al) / ((one - r * r) * two))
                                              / (std::sqrt(one - r * r) * twopi);
                            phib[ix(i, l)] = phib[ix(l, i)] = b;
                            phin2[ix(i, l)] = phin2[ix(l, i)] = one;
                        }
            }
            const double d = last ? phiu[k - 1] : phi(a[k - 1]);
            if (k == 1) {
                T = T + pgm * d;
                continue;
            }

            double c = 0.0;
            for (int j = 1; j <= k; ++j) {
                // The other composites given X_j = a_j.
                const double aj = a[j - 1];
                int q = 0;
                for (int i = 1; i <= k; ++i) {
                    if (i == j)
                        continue;
                    const double r = corm[ix(i, j)];
                    aq[q++] = (a[i - 1] - r * aj) / std::sqrt(one - r * r);
                }
                phin1[j - 1] = orthant(k - 1, aq, k - 1 < 2 ? nolist : wz1[j]);
                if (last && !second) {
                    phiu[j - 1] = phiu[j - 1] * phin1[j - 1];
                    c = c + phiu[j - 1] * s.cory[j - 1];
                } else if (last) {
                    c = c + phiu[j - 1] * phin1[j - 1] * s.cory[j - 1];
                }
            }
            sumygc[m - 1] = pgm * c;
            srg[m - 1] = pgm * (P * s.efc[m - 1] + c);
            V = V + srg[m - 1];

            if (last && second && kk > 2) {
                // The remaining composite given X_i = a_i and X_l = a_l (one with three stages).
                for (int i = 1; i <= kk - 1; ++i)
                    for (int l = i + 1; l <= kk; ++l) {
                        int q = 0;
                        for (int h = 1; h <= kk; ++h)
                            if (h != i && h != l)
                                aqr[q++] = paircut(corm, a, h, i, l);
                        const double p2 = orthant(k - 2, aqr, nolist);
                        phin2[ix(i, l)] = phin2[ix(l, i)] = p2;
                    }
            }
            if (last && second) {
                for (int i = 1; i <= kk; ++i) {
                    double sum = 0.0;
                    for (int l = 1; l <= kk; ++l) {
                        if (l == i)
                            continue;
                        xata2[ix(i, l)] = phib[ix(i, l)] * phin2[ix(i, l)];
                        sum = sum + corm[ix(i, l)] * xata2[ix(i, l)];
                    }
                    xata2[ix(i, i)] = a[i - 1] * phiu[i - 1] * phin1[i - 1] - sum;
                }
                double w = 0.0;
                for (int i = 1; i <= kk; ++i) {
                    pr1[i - 1] = 0.0;
                    for (int l = 1; l <= kk; ++l)
                        pr1[i - 1] = pr1[i - 1] + s.cory[l - 1] * xata2[ix(l, i)];
                    w = w + pr1[i - 1] * s.cory[i - 1];
                }
                W = W + pgm * w;
            }
            T = T + pgm * d * phin1[k - 1];
        }

        if (!(S > 0.0) || !(R > 0.0) || !(T > 0.0)) {
            dead = true;
            break;
        }
        double q = one - S / R;
        if (q <= 0.0)
            q = qfloor;
        lf = lf + s.dl4c[k - 1] + dnn[k] * (std::log(S) - std::log(R)) + (std::log(T) - std::log(R))
             + (dnn[k - 1] - dnn[k] - 1.0) * std::log(q);
    }

    for (int j = 0; j < kk; ++j)
        a[j] = av[j];
    if (dead)
        return;

    double F = std::exp(lf);
    if (iz == 1) {
        double h = ssg[0] * s.efc[0] + sumygc[0];
        for (int m = 2; m <= g; ++m)
            h = h + sumygc[m - 1];
        F = F * h / S;
    }
    if (iz >= 2 && iz <= g + 1)
        F = F * ssg[iz - 2] / S;
    if (iz >= g + 2 && iz <= 2 * g + 1)
        F = F * probgr[iz - g - 2] / S;
    if (iz >= 2 * g + 2 && iz <= 3 * g + 1) {
        // A group without applicants, or a group 1 that nobody passes, has no ratio.
        const int m = iz - 2 * g - 1;
        const double den = ssg[0] * s.pg[m - 1];
        F = den > 0.0 ? (F * s.pg[0] * ssg[m - 1]) / den : 0.0;
    }
    if (iz == 3 * g + 2)
        F = S * F;
    if (iz == 3 * g + 3) {
        double t = one + W / S;
        const double pg1 = s.pg[0];
        const double efc1 = s.efc[0];
        if (pg1 != 0.0)
            t = t + ((efc1 * efc1 * probgr[0] + two * efc1 * sumygc[0] / pg1) * pg1) / S;
        F = F * t;
    }
    if (iz == 3 * g + 4)
        F = (V / S) * (V / S) * F;
    if (iz == 11)
        F = F * probgr[1] / S;
    f[0] = F;
}

} // namespace traz
