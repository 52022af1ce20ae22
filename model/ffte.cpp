// Single-stage integrand: density of the cut score (the (ns+1)-th highest of n composite
// scores drawn from the group mixture) times the value of the selected quantity given the cut.
#include <cmath>

#include "model/state.hpp"
#include "model/model.hpp"
#include "mvn/mvn.hpp"

namespace traz {

double ffte(const SelectionState& s, int iz, double* a) {
    constexpr double one = 1.0;
    constexpr double two = 2.0;
    constexpr double rtwopi = 2.506628275;
    constexpr int nd = 1;

    const int g = s.ngroup;
    const double av = a[0];
    const double dnn1 = s.napp;
    const double dnn2 = s.ns[0];
    const double cory = s.cory[0];

    // probgr(2) is read by selector 11 even with one group: keep it defined.
    double probgr[6] = {}, ssg[5] = {}, sumygc[6] = {}, srg[5] = {};
    double S = 0.0, T = 0.0, V = 0.0, W = 0.0;
    double err;
    int ifail;

    for (int k = 0; k < g; ++k) {
        const double pg = s.pg[k];
        a[0] = av - s.ef[k];  // ef(k,1)
        const double z = a[0];
        g01hbt(nd, a, a, s.corc, err, ifail, probgr[k]);
        ssg[k] = pg * probgr[k];
        S = S + ssg[k];
        const double phiu = std::exp(-(z * z) / two) / rtwopi;
        T = T + pg * phiu;
        if (iz == 3 * g + 3) {
            const double phin1 = one;
            const double xata2 = z * phiu * phin1;
            const double pr1 = cory * xata2;
            W = W + pg * (pr1 * cory);
        }
        sumygc[k] = pg * cory * phiu;
        srg[k] = pg * (probgr[k] * s.efc[k] + cory * phiu);
        V = V + srg[k];
    }
    a[0] = av;

    // Order-statistic density: ns scores above x, one at x, the rest below.
    double L = s.dl4c[0] + dnn2 * std::log(S) + std::log(T);
    const double below = dnn1 - dnn2 - one;
    if (below != 0.0) L = L + below * std::log(std::fmax(0.0, one - S));
    double F = std::exp(L);
    // Any factor times a zero density is zero (and S may then be 0 too).
    if (!(F > 0.0)) return 0.0;

    if (iz == 1) {
        double h03 = ssg[0] * s.efc[0] + sumygc[0];
        for (int k = 1; k < g; ++k) h03 = h03 + sumygc[k];
        F = F * h03 / S;
    }
    if (iz >= 2 && iz <= g + 1) F = F * ssg[iz - 2] / S;
    if (iz >= g + 2 && iz <= 2 * g + 1) F = F * probgr[iz - g - 2] / S;
    if (iz >= 2 * g + 2 && iz <= 3 * g + 1) {
        // A group without applicants, or a group 1 that nobody passes, has no ratio.
        const int m = iz - 2 * g - 1;
        const double den = ssg[0] * s.pg[m - 1];
        F = den > 0.0 ? (F * s.pg[0] * ssg[m - 1]) / den : 0.0;
    }
    if (iz == 3 * g + 2) F = S * F;
    if (iz == 3 * g + 3) {
        double q = W / S + one;
        const double pg1 = s.pg[0], efc1 = s.efc[0];
        if (pg1 != 0.0) q = q + ((efc1 * efc1 * probgr[0] + two * efc1 * sumygc[0] / pg1) * pg1) / S;
        F = q * F;
    }
    if (iz == 3 * g + 4) F = (V / S) * (V / S) * F;
    if (iz == 11) F = (probgr[1] / S) * (probgr[1] / S) * F;
    return F;
}

} // namespace traz
