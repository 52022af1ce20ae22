// The rule tables of dinhre for one rule and dimension, with the point set of each generator.
#pragma once

#include "counting.hpp"
#include "cubature/routines.hpp"

namespace traz {

struct RuleTables {
    int key, ndim, wtleng;
    double w[5 * maxwt], g[maxdim * maxwt], errcof[6], rulpts[maxwt];
    double scales[3 * maxwt], norms[3 * maxwt];
    std::vector<testing::Points> points;

    RuleTables(int key_, int ndim_) : key(key_), ndim(ndim_)
    {
        wtleng = key == 1 ? 14 : key == 2 ? 13 : key == 3 ? (ndim == 2 ? 8 : 9) : 6;
        dinhre(ndim, key, wtleng, w, g, errcof, rulpts, scales, norms);
        for (int k = 1; k <= wtleng; ++k)
            points.push_back(testing::expandGenerator(generator(k)));
    }
    double W(int r, int k) const { return w[(r - 1) + 5 * (k - 1)]; }
    std::vector<double> generator(int k) const
    {
        return std::vector<double>(g + ndim * (k - 1), g + ndim * k);
    }
};

} // namespace traz
