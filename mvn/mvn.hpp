// Normal probabilities: the dispatcher g01hbt and the routines behind it.
#pragma once

namespace traz {

// Standard normal distribution function Phi(z).
double phid(const double& z);

// Upper orthant probability P(X_i > a_i, i = 1..nd) of a standardized normal vector
// of dimension nd (1 to 4). cormul is the strict lower triangle of the correlation
// matrix, row by row: R(2,1), R(3,1), R(3,2), R(4,1), R(4,2), R(4,3).
// b is not read. err is always 1.0e-8 and ifail always 0 on return.
void g01hbt(const int& nd, const double* a, const double* b, const double* cormul,
            double& err, int& ifail, double& prob);

} // namespace traz
