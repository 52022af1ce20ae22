// d07hre: the degree-7 cubature rule for any number of variables with its four null rules.
#include "cubature/routines.hpp"

#include <algorithm>
#include <cmath>

namespace traz {

// Fills the tables of the degree-7 fully symmetric rule for ndim >= 2 variables (wtleng 6).
// Generators: centre; (l2,0..), (l1,0..), (lp,0..); (l1,l1,0..); (l0,..,l0), where the l are
// square roots of the parameters below. The weights come from the closed forms of the
// imbedded rule family, evaluated in the published order; the four lower-degree rules are
// then turned into null rules and the basic rule scaled to the cube [-1,1]^ndim.
// ndim and wtleng are not checked (dcuhre admits 2..15 variables).
void d07hre(const int& ndim, const int& wtleng, double* w, double* g, double* errcof,
            double* rulpts)
{
    auto W = [w](int r, int k) -> double& { return w[(r - 1) + 5 * (k - 1)]; };
    auto G = [g, &ndim](int i, int k) -> double& { return g[(i - 1) + ndim * (k - 1)]; };
    const int n = ndim;
    const double twondm = std::ldexp(1.0, n);

    std::fill(g, g + ndim * wtleng, 0.0);
    std::fill(w, w + 5 * wtleng, 0.0);
    std::fill(rulpts, rulpts + wtleng, double(2 * n));
    rulpts[wtleng - 1] = twondm;
    rulpts[wtleng - 2] = 2 * n * (n - 1);
    rulpts[0] = 1;

    // Squared generator parameters; lam0 is 0.4707 rounded to single precision.
    const double lam0 = 0.4706999957561493;
    const double lamp = 0.5625;
    const double lam1 = 4 / (15 - 5 / lam0);
    const double ratio = (1 - lam1 / lam0) / 27;
    const double lam2 = (5 - 7 * lam1 - 35 * ratio) / (7 - 35 * lam1 / 3 - 35 * ratio / lam0);
    const double lam02 = lam0 * lam0;
    const double lam03 = lam02 * lam0;
    const double lam12 = lam1 * lam1;
    const double nm1 = 2 * (n - 1);

    // Basic rule, degree 7, unit volume.
    const double b0 = 3 * lam0;
    W(1, 6) = 1 / ((b0 * b0) * b0) / twondm;
    W(1, 5) = (1 - 5 * lam0 / 3) / (60 * (lam1 - lam0) * lam12);
    W(1, 3) = (1 - 5 * lam2 / 3 - 5 * twondm * W(1, 6) * lam0 * (lam0 - lam2))
                  / (10 * lam1 * (lam1 - lam2))
              - nm1 * W(1, 5);
    W(1, 2) = (1 - 5 * lam1 / 3 - 5 * twondm * W(1, 6) * lam0 * (lam0 - lam1))
              / (10 * lam2 * (lam2 - lam1));

    // Lower-degree rule 1, degree 5.
    W(2, 6) = 1 / (36 * lam03) / twondm;
    W(2, 5) = (1 - 9 * twondm * W(2, 6) * lam02) / (36 * lam12);
    W(2, 3) = (1 - 5 * lam2 / 3 - 5 * twondm * W(2, 6) * lam0 * (lam0 - lam2))
                  / (10 * lam1 * (lam1 - lam2))
              - nm1 * W(2, 5);
    W(2, 2) = (1 - 5 * lam1 / 3 - 5 * twondm * W(2, 6) * lam0 * (lam0 - lam1))
              / (10 * lam2 * (lam2 - lam1));

    // Lower-degree rule 2, degree 5, with lamp in place of lam2.
    W(3, 6) = 5 / (108 * lam03) / twondm;
    W(3, 5) = (1 - 9 * twondm * W(3, 6) * lam02) / (36 * lam12);
    W(3, 3) = (1 - 5 * lamp / 3 - 5 * twondm * W(3, 6) * lam0 * (lam0 - lamp))
                  / (10 * lam1 * (lam1 - lamp))
              - nm1 * W(3, 5);
    W(3, 4) = (1 - 5 * lam1 / 3 - 5 * twondm * W(3, 6) * lam0 * (lam0 - lam1))
              / (10 * lamp * (lamp - lam1));

    // Lower-degree rule 3, degree 3.
    W(4, 6) = 1 / (54 * lam03) / twondm;
    W(4, 5) = (1 - 18 * twondm * W(4, 6) * lam02) / (72 * lam12);
    W(4, 3) = (1 - 10 * lam2 / 3 - 10 * twondm * W(4, 6) * lam0 * (lam0 - lam2))
                  / (20 * lam1 * (lam1 - lam2))
              - nm1 * W(4, 5);
    W(4, 2) = (1 - 10 * lam1 / 3 - 10 * twondm * W(4, 6) * lam0 * (lam0 - lam1))
              / (20 * lam2 * (lam2 - lam1));

    // Lower-degree rule 4, degree 1: no weight off the centre.

    // Generator coordinates.
    const double sq0 = std::sqrt(lam0);
    const double sq1 = std::sqrt(lam1);
    for (int i = 1; i <= n; ++i)
        G(i, 6) = sq0;
    G(1, 5) = sq1;
    G(2, 5) = sq1;
    G(1, 4) = std::sqrt(lamp);
    G(1, 3) = sq1;
    G(1, 2) = std::sqrt(lam2);

    null_rules_and_scale(w, rulpts, wtleng, twondm);

    errcof[0] = 5;
    errcof[1] = 5;
    errcof[2] = 1;
    errcof[3] = 5;
    errcof[4] = 0.5;
    errcof[5] = 0.25;
}

} // namespace traz
