// Upper orthant probabilities of standardized normal vectors, dimension 1 to 4.
#include "mvn/mvn.hpp"

namespace traz {

// Dimension 2 goes to bvnd unchanged; 3 and 4 to tvnd and qvnd (which answer the lower
// question) with negated limits; any other dimension from 1 up is 1 - Phi(a1). A
// dimension below 1 asks about no coordinate at all and gets probability 1.
void g01hbt(const int& nd, const double* a, const double* /*b*/, const double* cormul,
            double& err, int& ifail, double& prob)
{
    constexpr double epsi = 1.0e-4; // accuracy asked of tvnd and qvnd
    double aa[6];
    const int ncopy = nd < 6 ? nd : 6;
    for (int i = 0; i < ncopy; ++i) {
        aa[i] = a[i];
    }

    double p;
    if (nd < 1) {
        p = 1.0;
    } else if (nd == 2) {
        p = bvnd(aa[0], aa[1], cormul[0]);
    } else if (nd == 3) {
        const double l3[3] = {-aa[0], -aa[1], -aa[2]};
        const double s3[3] = {cormul[0], cormul[1], cormul[2]};
        p = tvnd(l3, s3, epsi);
    } else if (nd == 4) {
        double a4[4];
        double si4[6];
        for (int i = 0; i < 4; ++i) {
            a4[i] = -aa[i];
        }
        for (int j = 0; j < 6; ++j) {
            si4[j] = cormul[j];
        }
        p = qvnd(a4, si4, epsi);
    } else {
        const double na = -aa[0];
        p = phid(na);
    }
    prob = p;
    ifail = 0;
    err = 1.0e-8;
}

} // namespace traz
