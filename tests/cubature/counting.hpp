// Test helpers: a counting integrand wrapper, and the point sets of rule generators built
// by brute force (all distinct permutations and sign changes).
#pragma once

#include "cubature/dcuhre.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace traz::testing {

// Integrand under test, called through the counting wrapper `counted`.
struct Counter {
    std::function<void(int, const double*, int, double*)> f;
    long calls = 0;
};
inline Counter counter;

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

// All distinct points obtained from generator gen by permutation and sign changes.
inline std::vector<std::vector<double>> expandGenerator(std::vector<double> gen)
{
    std::vector<std::vector<double>> points;
    std::sort(gen.begin(), gen.end());
    do {
        const int n = int(gen.size());
        for (long mask = 0; mask < (1L << n); ++mask) {
            std::vector<double> p(gen);
            bool skip = false;
            for (int i = 0; i < n; ++i) {
                if (mask & (1L << i)) {
                    if (p[i] == 0)
                        skip = true; // a zero coordinate has one sign only
                    p[i] = -p[i];
                }
            }
            if (!skip)
                points.push_back(p);
        }
    } while (std::next_permutation(gen.begin(), gen.end()));
    return points;
}

} // namespace traz::testing
