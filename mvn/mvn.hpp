// Normal probabilities: the dispatcher g01hbt and the routines behind it.
#pragma once

namespace traz {

// Every routine here computes on the path chosen once per process (vector or scalar, see
// mvn/simd.hpp), and keeps its working data per thread: threads may call them side by side.

// Standard normal distribution function Phi(z).
double phid(const double& z);

// Upper orthant probability P(X_i > a_i, i = 1..nd) of a standardized normal vector
// of dimension nd (1 to 4). cormul is the strict lower triangle of the correlation
// matrix, row by row: R(2,1), R(3,1), R(3,2), R(4,1), R(4,2), R(4,3).
// b is not read. err is always 1.0e-8 and ifail always 0 on return.
void g01hbt(const int& nd, const double* a, const double* b, const double* cormul,
            double& err, int& ifail, double& prob);

// Upper bivariate probability P(X > h, Y > k) of a standardized pair with correlation r.
// |r| <= 1; r = 1 and r = -1 give the limiting probabilities.
double bvnd(const double& h, const double& k, const double& r);

// Lower trivariate probability P(X_i < limit[i], i = 1..3) of a standardized vector with
// correlations sigma = (r21, r31, r32), to absolute accuracy epsi.
double tvnd(const double* limit, const double* sigma, const double& epsi);

// Lower quadrivariate probability P(X_i < limit[i], i = 1..4) with correlations
// sigma = (r21, r31, r32, r41, r42, r43), to absolute accuracy epsi.
double qvnd(const double* limit, const double* sigma, const double& epsi);

} // namespace traz
