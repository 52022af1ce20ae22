// dinhre: rule tables of the cubature and the null-rule combination tables.
#include "cubature/routines.hpp"

#include <cmath>

namespace traz {

// Fills g, w, errcof and rulpts through the routine of rule key (1..4; any other value is
// taken as 4), then for each pair p = 1, 2, 3 of consecutive null rules and each generator
// i the combination null rule p+1 + scales(p,i) * null rule p, which vanishes at generator
// i (scales is exactly 100 where null rule p has weight 0 there), and norms(p,i), which
// scales that combination to the 1-norm 2^ndim of the basic rule.
void dinhre(const int& ndim, const int& key, const int& wtleng, double* w, double* g,
            double* errcof, double* rulpts, double* scales, double* norms)
{
    if (key == 1)
        d132re(wtleng, w, g, errcof, rulpts);
    else if (key == 2)
        d113re(wtleng, w, g, errcof, rulpts);
    else if (key == 3)
        d09hre(ndim, wtleng, w, g, errcof, rulpts);
    else
        d07hre(ndim, wtleng, w, g, errcof, rulpts);

    const double twondm = std::ldexp(1.0, ndim);
    for (int k = 0; k < wtleng; ++k) {
        for (int p = 0; p < 3; ++p) {
            double& scale = scales[p + 3 * k];
            if (w[p + 1 + 5 * k] != 0)
                scale = -w[p + 2 + 5 * k] / w[p + 1 + 5 * k];
            else
                scale = 100;
            double sum = 0;
            for (int j = 0; j < wtleng; ++j)
                sum += rulpts[j] * std::fabs(w[p + 2 + 5 * j] + scale * w[p + 1 + 5 * j]);
            norms[p + 3 * k] = twondm / sum;
        }
    }
}

void null_rules_and_scale(double* w, const double* rulpts, int wtleng, double twondm)
{
    auto W = [w](int r, int k) -> double& { return w[(r - 1) + 5 * (k - 1)]; };
    // Null rules: each lower-degree rule minus the basic rule, centre weight balancing.
    for (int r = 2; r <= 5; ++r) {
        for (int k = 2; k <= wtleng; ++k) {
            W(r, k) = W(r, k) - W(1, k);
            W(r, 1) = W(r, 1) - rulpts[k - 1] * W(r, k);
        }
    }
    // Basic rule scaled to the cube [-1,1]^ndim.
    W(1, 1) = twondm;
    for (int k = 2; k <= wtleng; ++k) {
        W(1, k) = twondm * W(1, k);
        W(1, 1) = W(1, 1) - rulpts[k - 1] * W(1, k);
    }
}

} // namespace traz
