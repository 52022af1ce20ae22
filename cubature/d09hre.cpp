// d09hre: the degree-9 cubature rule for any number of variables with its four null rules.
#include "cubature/routines.hpp"

#include <algorithm>
#include <cmath>

namespace traz {

// Fills the tables of the degree-9 fully symmetric rule for ndim >= 2 variables (wtleng 9,
// or 8 when ndim = 2). Generators: centre; (l1,0..), (l2,0..), (l3,0..), (lp,0..);
// (l1,l1,0..); (l1,l2,0..); (l1,l1,l1,0..) when ndim > 2; (l0,..,l0) last, where the l are
// square roots of the parameters below. The weights come from the closed forms of the
// imbedded rule family, evaluated in the published order; the four lower-degree rules are
// then turned into null rules and the basic rule scaled to the cube [-1,1]^ndim.
// ndim and wtleng are not checked (dcuhre admits 2..15 variables).
void d09hre(const int& ndim, const int& wtleng, double* w, double* g, double* errcof,
            double* rulpts)
{
    auto W = [w](int r, int k) -> double& { return w[(r - 1) + 5 * (k - 1)]; };
    auto G = [g, &ndim](int i, int k) -> double& { return g[(i - 1) + ndim * (k - 1)]; };
    const int n = ndim;
    const int last = wtleng;
    const double twondm = std::ldexp(1.0, n);

    std::fill(g, g + ndim * wtleng, 0.0);
    std::fill(w, w + 5 * wtleng, 0.0);
    std::fill(rulpts, rulpts + wtleng, double(2 * n));
    rulpts[last - 1] = twondm;
    if (n > 2)
        rulpts[7] = 4 * n * (n - 1) * (n - 2) / 3;
    rulpts[6] = 4 * n * (n - 1);
    rulpts[5] = 2 * n * (n - 1);
    rulpts[0] = 1;

    // Squared generator parameters; lam0 is 0.4707 rounded to single precision.
    const double lam0 = 0.4706999957561493;
    const double lamp = 0.0625;
    const double lam1 = 4 / (15 - 5 / lam0);
    double ratio = (1 - lam1 / lam0) / 27;
    const double lam2 = (5 - 7 * lam1 - 35 * ratio) / (7 - 35 * lam1 / 3 - 35 * ratio / lam0);
    ratio = ratio * (1 - lam2 / lam0) / 3;
    const double lam3 = (7 - 9 * (lam2 + lam1) + 63 * lam2 * lam1 / 5 - 63 * ratio)
                        / (9 - 63 * (lam2 + lam1) / 5 + 21 * lam2 * lam1 - 63 * ratio / lam0);
    const double lam02 = lam0 * lam0;
    const double lam03 = lam02 * lam0;
    const double lam04 = lam02 * lam02;
    const double l1cube = (6 * lam1) * (6 * lam1) * (6 * lam1);
    const double nm1 = 2 * (n - 1);

    // Basic rule, degree 9, unit volume.
    const double b0 = 3 * lam0;
    W(1, last) = 1 / ((b0 * b0) * (b0 * b0)) / twondm;
    if (n > 2)
        W(1, 8) = (1 - 1 / (3 * lam0)) / l1cube;
    W(1, 7) = (1 - 7 * (lam0 + lam1) / 5 + 7 * lam0 * lam1 / 3)
              / (84 * lam1 * lam2 * (lam2 - lam0) * (lam2 - lam1));
    W(1, 6) = (1 - 7 * (lam0 + lam2) / 5 + 7 * lam0 * lam2 / 3)
                  / (84 * lam1 * lam1 * (lam1 - lam0) * (lam1 - lam2))
              - W(1, 7) * lam2 / lam1 - 2 * (n - 2) * W(1, 8);
    W(1, 4) = (1 - 9 * ((lam0 + lam1 + lam2) / 7 - (lam0 * lam1 + lam0 * lam2 + lam1 * lam2) / 5)
               - 3 * lam0 * lam1 * lam2)
              / (18 * lam3 * (lam3 - lam0) * (lam3 - lam1) * (lam3 - lam2));
    W(1, 3) = (1 - 9 * ((lam0 + lam1 + lam3) / 7 - (lam0 * lam1 + lam0 * lam3 + lam1 * lam3) / 5)
               - 3 * lam0 * lam1 * lam3)
                  / (18 * lam2 * (lam2 - lam0) * (lam2 - lam1) * (lam2 - lam3))
              - nm1 * W(1, 7);
    W(1, 2) = (1 - 9 * ((lam0 + lam2 + lam3) / 7 - (lam0 * lam2 + lam0 * lam3 + lam2 * lam3) / 5)
               - 3 * lam0 * lam2 * lam3)
                  / (18 * lam1 * (lam1 - lam0) * (lam1 - lam2) * (lam1 - lam3))
              - nm1 * (W(1, 7) + W(1, 6) + (n - 2) * W(1, 8));

    // Lower-degree rule 1, degree 7.
    W(2, last) = 1 / (108 * lam04) / twondm;
    if (n > 2)
        W(2, 8) = (1 - 27 * twondm * W(2, last) * lam03) / l1cube;
    W(2, 7) = (1 - 5 * lam1 / 3 - 15 * twondm * W(2, last) * lam02 * (lam0 - lam1))
              / (60 * lam1 * lam2 * (lam2 - lam1));
    W(2, 6) = (1 - 9 * (8 * lam1 * lam2 * W(2, 7) + twondm * W(2, last) * lam02))
                  / (36 * lam1 * lam1)
              - 2 * W(2, 8) * (n - 2);
    W(2, 4) = (1 - 7 * ((lam1 + lam2) / 5 - lam1 * lam2 / 3
                        + twondm * W(2, last) * lam0 * (lam0 - lam1) * (lam0 - lam2)))
              / (14 * lam3 * (lam3 - lam1) * (lam3 - lam2));
    W(2, 3) = (1 - 7 * ((lam1 + lam3) / 5 - lam1 * lam3 / 3
                        + twondm * W(2, last) * lam0 * (lam0 - lam1) * (lam0 - lam3)))
                  / (14 * lam2 * (lam2 - lam1) * (lam2 - lam3))
              - nm1 * W(2, 7);
    W(2, 2) = (1 - 7 * ((lam2 + lam3) / 5 - lam2 * lam3 / 3
                        + twondm * W(2, last) * lam0 * (lam0 - lam2) * (lam0 - lam3)))
                  / (14 * lam1 * (lam1 - lam2) * (lam1 - lam3))
              - nm1 * (W(2, 7) + W(2, 6) + (n - 2) * W(2, 8));

    // Lower-degree rule 2, degree 7, with lamp in place of lam3.
    W(3, last) = 5 / (324 * lam04) / twondm;
    if (n > 2)
        W(3, 8) = (1 - 27 * twondm * W(3, last) * lam03) / l1cube;
    W(3, 7) = (1 - 5 * lam1 / 3 - 15 * twondm * W(3, last) * lam02 * (lam0 - lam1))
              / (60 * lam1 * lam2 * (lam2 - lam1));
    W(3, 6) = (1 - 9 * (8 * lam1 * lam2 * W(3, 7) + twondm * W(3, last) * lam02))
                  / (36 * lam1 * lam1)
              - 2 * W(3, 8) * (n - 2);
    W(3, 5) = (1 - 7 * ((lam1 + lam2) / 5 - lam1 * lam2 / 3
                        + twondm * W(3, last) * lam0 * (lam0 - lam1) * (lam0 - lam2)))
              / (14 * lamp * (lamp - lam1) * (lamp - lam2));
    W(3, 3) = (1 - 7 * ((lam1 + lamp) / 5 - lam1 * lamp / 3
                        + twondm * W(3, last) * lam0 * (lam0 - lam1) * (lam0 - lamp)))
                  / (14 * lam2 * (lam2 - lam1) * (lam2 - lamp))
              - nm1 * W(3, 7);
    W(3, 2) = (1 - 7 * ((lam2 + lamp) / 5 - lam2 * lamp / 3
                        + twondm * W(3, last) * lam0 * (lam0 - lam2) * (lam0 - lamp)))
                  / (14 * lam1 * (lam1 - lam2) * (lam1 - lamp))
              - nm1 * (W(3, 7) + W(3, 6) + (n - 2) * W(3, 8));

    // Lower-degree rule 3, degree 5.
    W(4, last) = 2 / (81 * lam04) / twondm;
    if (n > 2)
        W(4, 8) = (2 - 27 * twondm * W(4, last) * lam03) / l1cube;
    W(4, 7) = (2 - 15 * lam1 / 9 - 15 * twondm * W(4, last) * lam0 * (lam0 - lam1))
              / (60 * lam1 * lam2 * (lam2 - lam1));
    W(4, 6) = (1 - 9 * (8 * lam1 * lam2 * W(4, 7) + twondm * W(4, last) * lam02))
                  / (36 * lam1 * lam1)
              - 2 * W(4, 8) * (n - 2);
    W(4, 4) = (2 - 7 * ((lam1 + lam2) / 5 - lam1 * lam2 / 3
                        + twondm * W(4, last) * lam0 * (lam0 - lam1) * (lam0 - lam2)))
              / (14 * lam3 * (lam3 - lam1) * (lam3 - lam2));
    W(4, 3) = (2 - 7 * ((lam1 + lam3) / 5 - lam1 * lam3 / 3
                        + twondm * W(4, last) * lam0 * (lam0 - lam1) * (lam0 - lam3)))
                  / (14 * lam2 * (lam2 - lam1) * (lam2 - lam3))
              - nm1 * W(4, 7);
    W(4, 2) = (2 - 7 * ((lam2 + lam3) / 5 - lam2 * lam3 / 3
                        + twondm * W(4, last) * lam0 * (lam0 - lam2) * (lam0 - lam3)))
                  / (14 * lam1 * (lam1 - lam2) * (lam1 - lam3))
              - nm1 * (W(4, 7) + W(4, 6) + (n - 2) * W(4, 8));

    // Lower-degree rule 4, degree 3.
    W(5, 2) = 1 / (6 * lam1);

    // Generator coordinates.
    const double sq0 = std::sqrt(lam0);
    const double sq1 = std::sqrt(lam1);
    const double sq2 = std::sqrt(lam2);
    const double sq3 = std::sqrt(lam3);
    const double sqp = std::sqrt(lamp);
    for (int i = 1; i <= n; ++i)
        G(i, last) = sq0;
    if (n > 2) {
        G(1, 8) = sq1;
        G(2, 8) = sq1;
        G(3, 8) = sq1;
    }
    G(1, 2) = sq1;
    G(1, 3) = sq2;
    G(1, 4) = sq3;
    G(1, 5) = sqp;
    G(1, 6) = sq1;
    G(2, 6) = sq1;
    G(1, 7) = sq1;
    G(2, 7) = sq2;

    null_rules_and_scale(w, rulpts, wtleng, twondm);

    errcof[0] = 5;
    errcof[1] = 5;
    errcof[2] = 1;
    errcof[3] = 5;
    errcof[4] = 0.5;
    errcof[5] = 0.25;
}

} // namespace traz
