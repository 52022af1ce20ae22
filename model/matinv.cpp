// Packed Cholesky inverse of a symmetric positive definite matrix.
#include "model/model.hpp"

#include <cstddef>
#include <limits>

extern "C" {
// LAPACK: Cholesky factorisation and inverse of a symmetric positive definite
// matrix in packed storage. The trailing argument is the hidden length of uplo.
void dpptrf_(const char* uplo, const int* n, double* ap, int* info, std::size_t uplo_len);
void dpptri_(const char* uplo, const int* n, double* ap, int* info, std::size_t uplo_len);
}

namespace traz {

namespace {

constexpr int nmax = 13; // 13*14/2 = 91 packed entries fit in rhp

double& at(double* cov, int ldcov, int i, int j)
{
    return cov[(i - 1) + static_cast<std::ptrdiff_t>(ldcov) * (j - 1)];
}

} // namespace

// Replaces the leading n x n block of cov (column-major, leading dimension ldcov) by its
// inverse. Only the lower triangle is read on entry; the whole block is written; nothing
// outside it is touched. The lower triangle taken row by row is the upper triangle
// taken column by column, the packed order LAPACK uses with uplo = 'U'.
// ier: 0 on success; k > 0 when the leading minor of order k is not positive definite
// (the block is then filled with not-a-number, since it holds no inverse); -1 when n is
// outside 1..13 or exceeds ldcov (cov is not touched).
void matinv(double* cov, const int& ldcov, const int& n, int& ier)
{
    if (n < 1 || n > nmax || ldcov < n) {
        ier = -1;
        return;
    }
    double rhp[100];
    const char uplo = 'U';

    int p = 0;
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= i; ++j)
            rhp[p++] = at(cov, ldcov, i, j);

    int info = 0;
    dpptrf_(&uplo, &n, rhp, &info, 1);
    if (info == 0)
        dpptri_(&uplo, &n, rhp, &info, 1);
    if (info != 0) {
        for (int j = 1; j <= n; ++j)
            for (int i = 1; i <= n; ++i)
                at(cov, ldcov, i, j) = std::numeric_limits<double>::quiet_NaN();
        ier = info;
        return;
    }

    p = 0;
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= i; ++j)
            at(cov, ldcov, i, j) = rhp[p++];
    for (int i = 1; i <= n - 1; ++i)
        for (int j = i + 1; j <= n; ++j)
            at(cov, ldcov, i, j) = at(cov, ldcov, j, i);
    ier = 0;
}

} // namespace traz
