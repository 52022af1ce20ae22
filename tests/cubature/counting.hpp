// Test helpers: a counting integrand wrapper, and the point set of a rule generator built
// by brute force (all distinct permutations and sign changes).
#pragma once

#include "cubature/dcuhre.hpp"

#include <algorithm>
#include <functional>
#include <vector>

namespace traz::testing {

using Points = std::vector<std::vector<double>>;

struct Counter {
    std::function<void(int, const double*, int, double*)> f;
    long calls = 0;
};
inline Counter counter;

// The integrand handed to the code under test: counts, then calls counter.f.
inline void counted(const int& ndim, double* x, const int& numfun, double* funvls)
{
    ++counter.calls;
    counter.f(ndim, x, numfun, funvls);
}

inline void setIntegrand(std::function<void(int, const double*, int, double*)> f)
{
    counter.f = std::move(f);
    counter.calls = 0;
}

inline Points expandGenerator(std::vector<double> gen)
{
    Points points;
    const int n = int(gen.size());
    std::sort(gen.begin(), gen.end());
    do {
        for (int mask = 0; mask < (1 << n); ++mask) {
            std::vector<double> p(gen);
            bool zeroFlipped = false;
            for (int i = 0; i < n; ++i) {
                if (mask & (1 << i)) {
                    zeroFlipped = zeroFlipped || p[i] == 0;
                    p[i] = -p[i];
                }
            }
            if (!zeroFlipped)
                points.push_back(p);
        }
    } while (std::next_permutation(gen.begin(), gen.end()));
    return points;
}

} // namespace traz::testing
