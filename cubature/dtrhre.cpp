// dtrhre: maintenance of the subregion heap of the cubature.
#include "cubature/routines.hpp"

#include <algorithm>
#include <cstddef>

namespace traz {

namespace {

// Moves the whole record at position from to position to (1-based).
void moverecord(const int ndim, const int numfun, double* values, double* errors,
                double* centrs, double* hwidts, double* greate, double* dir, const int from,
                const int to)
{
    const std::ptrdiff_t nd = ndim;
    const std::ptrdiff_t nf = numfun;
    greate[to - 1] = greate[from - 1];
    std::copy(errors + nf * (from - 1), errors + nf * from, errors + nf * (to - 1));
    std::copy(values + nf * (from - 1), values + nf * from, values + nf * (to - 1));
    dir[to - 1] = dir[from - 1];
    std::copy(centrs + nd * (from - 1), centrs + nd * from, centrs + nd * (to - 1));
    std::copy(hwidts + nd * (from - 1), hwidts + nd * from, hwidts + nd * (to - 1));
}

} // namespace

// Heap of sbrgns records keyed by greate, children of position k at 2k and 2k + 1.
// dvflag 1: remove the top; the last record sifts down from the top, never passing a child
// with an equal key (on equal child keys the left one is taken). dvflag 2: the record at
// position sbrgns sifts up, never passing a parent with an equal key. Other values of
// dvflag only rewrite the last record in place. sbrgns must be at least 1 (not checked).
void dtrhre(const int& dvflag, const int& ndim, const int& numfun, int& sbrgns,
            double* values, double* errors, double* centrs, double* hwidts, double* greate,
            double* error, double* value, double* center, double* hwidth, double* dir)
{
    const std::ptrdiff_t nd = ndim;
    const std::ptrdiff_t nf = numfun;

    // Save the last record.
    const std::ptrdiff_t last = sbrgns - 1;
    const double great = greate[last];
    std::copy(errors + nf * last, errors + nf * (last + 1), error);
    std::copy(values + nf * last, values + nf * (last + 1), value);
    const double direct = dir[last];
    std::copy(centrs + nd * last, centrs + nd * (last + 1), center);
    std::copy(hwidts + nd * last, hwidts + nd * (last + 1), hwidth);

    int subrgn = sbrgns;
    if (dvflag == 1) {
        sbrgns = sbrgns - 1;
        subrgn = 1;
        for (;;) {
            int subtmp = 2 * subrgn;
            if (subtmp > sbrgns)
                break;
            if (subtmp != sbrgns && greate[subtmp - 1] < greate[subtmp])
                subtmp = subtmp + 1;
            if (!(great < greate[subtmp - 1]))
                break;
            moverecord(ndim, numfun, values, errors, centrs, hwidts, greate, dir, subtmp,
                       subrgn);
            subrgn = subtmp;
        }
    } else if (dvflag == 2) {
        for (;;) {
            const int subtmp = subrgn / 2;
            if (subtmp < 1)
                break;
            if (!(great > greate[subtmp - 1]))
                break;
            moverecord(ndim, numfun, values, errors, centrs, hwidts, greate, dir, subtmp,
                       subrgn);
            subrgn = subtmp;
        }
    }

    if (sbrgns > 0) {
        const std::ptrdiff_t r = subrgn - 1;
        greate[r] = great;
        std::copy(error, error + nf, errors + nf * r);
        std::copy(value, value + nf, values + nf * r);
        dir[r] = direct;
        std::copy(center, center + nd, centrs + nd * r);
        std::copy(hwidth, hwidth + nd, hwidts + nd * r);
    }
}

} // namespace traz
