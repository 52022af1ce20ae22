// dchhre: argument check of the cubature and the rule parameters derived from key and ndim.
#include "cubature/routines.hpp"

#include <algorithm>
#include <cstdint>

namespace traz {

// Checks in this order, stopping at the first failure: key (2), ndim (3), key 1 without two
// variables (4), key 2 without three (5), numfun (6), zero width on an axis (7), maxpts
// below three regions (8), maxpts below minpts (9), both tolerances negative (10), nw too
// small for maxsub subregions (11), restar (12). ifail is 0 when all pass.
void dchhre(const int& maxdim, const int& ndim, const int& numfun, const int& mdiv,
            const double* a, const double* b, const int& minpts, const int& maxpts,
            const double& epsabs, const double& epsrel, const int& key, const int& nw,
            const int& restar, int& num, int& maxsub, int& minsub, int& keyf, int& ifail,
            int& wtleng)
{
    ifail = 0;
    if (key < 0 || key > 4) {
        ifail = 2;
        return;
    }
    if (ndim < 2 || ndim > maxdim) {
        ifail = 3;
        return;
    }
    if (key == 1 && ndim != 2) {
        ifail = 4;
        return;
    }
    if (key == 2 && ndim != 3) {
        ifail = 5;
        return;
    }

    // Rule choice: the default is the rule made for the dimension.
    keyf = key;
    if (key == 0)
        keyf = ndim == 2 ? 1 : (ndim == 3 ? 2 : 3);
    const int n = ndim;
    const int twon = 1 << n;
    switch (keyf) {
    case 1:
        num = 65;
        wtleng = 14;
        break;
    case 2:
        num = 127;
        wtleng = 13;
        break;
    case 3:
        num = 1 + 8 * n + 2 * n * (n - 1) + 4 * n * (n - 1) + 4 * n * (n - 1) * (n - 2) / 3 + twon;
        wtleng = n == 2 ? 8 : 9;
        break;
    default:
        num = 1 + 6 * n + 2 * n * (n - 1) + twon;
        wtleng = 6;
        break;
    }

    // Region limits of the point budget; maxpts - num and minpts - num may leave 32 bits.
    const std::int64_t twonum = 2 * std::int64_t(num);
    maxsub = int((std::int64_t(maxpts) - num) / twonum + 1);
    const std::int64_t over = std::int64_t(minpts) - num;
    minsub = int(over / twonum + 1 + (over % twonum != 0 ? 1 : 0));
    minsub = std::max(2, minsub);

    if (numfun < 1) {
        ifail = 6;
        return;
    }
    for (int j = 0; j < ndim; ++j) {
        if (a[j] - b[j] == 0) {
            ifail = 7;
            return;
        }
    }
    if (maxpts < 3 * num) {
        ifail = 8;
        return;
    }
    if (maxpts < minpts) {
        ifail = 9;
        return;
    }
    if (epsabs < 0 && epsrel < 0) {
        ifail = 10;
        return;
    }
    // The store needs maxsub records plus the step scratch and the count; this exceeds
    // 32 bits for large maxpts with several components.
    const std::int64_t record = 2 * std::int64_t(ndim) + 2 * std::int64_t(numfun) + 2;
    const std::int64_t needed = std::int64_t(maxsub) * record
                                + 17 * std::int64_t(mdiv) * std::int64_t(numfun) + 1;
    if (nw < needed) {
        ifail = 11;
        return;
    }
    if (restar != 0 && restar != 1) {
        ifail = 12;
        return;
    }
}

} // namespace traz
