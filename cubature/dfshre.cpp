// dfshre: sum of the integrand over the points of one fully symmetric generator.
#include "cubature/routines.hpp"

#include <utility>

namespace traz {

// Visits every distinct permutation of g (in reverse lexicographic order, starting from
// the non-increasing entry order) and for each every sign combination of its non-zero
// entries, moving x one coordinate at a time, and adds the integrand's values at
// center + hwidth * (signed, permuted g) to fulsms. g is back in its entry order on return.
// Nothing is checked: g must be non-negative and non-increasing.
void dfshre(const int& ndim, const double* center, const double* hwidth, double* x,
            double* g, const int& numfun, CubatureIntegrand funsub, double* fulsms,
            double* funvls)
{
    for (int j = 0; j < numfun; ++j)
        fulsms[j] = 0;

    for (;;) {
        for (int i = 0; i < ndim; ++i)
            x[i] = center[i] + g[i] * hwidth[i];

        // All sign combinations: a binary counter on the signs, first axis fastest.
        bool more = true;
        while (more) {
            funsub(ndim, x, numfun, funvls);
            for (int j = 0; j < numfun; ++j)
                fulsms[j] += funvls[j];
            more = false;
            for (int i = 0; i < ndim; ++i) {
                g[i] = -g[i];
                x[i] = center[i] + g[i] * hwidth[i];
                if (g[i] < 0) {
                    more = true;
                    break;
                }
            }
        }

        // Next distinct permutation (1-based positions l, t, u as in the usual description).
        int ipos = 2;
        while (ipos <= ndim && !(g[ipos - 2] > g[ipos - 1]))
            ++ipos;
        if (ipos > ndim) {
            for (int l = 1; l <= ndim / 2; ++l)
                std::swap(g[l - 1], g[ndim - l]);
            return;
        }
        const double gi = g[ipos - 1];
        int ixchng = ipos - 1;
        int lxchng = 1;
        for (int l = 1; l <= (ipos - 1) / 2; ++l) {
            const double gl = g[l - 1];
            g[l - 1] = g[ipos - l - 1];
            g[ipos - l - 1] = gl;
            if (gl <= gi)
                --ixchng;
            if (g[l - 1] > gi)
                lxchng = l;
        }
        if (g[ixchng - 1] <= gi)
            ixchng = lxchng;
        g[ipos - 1] = g[ixchng - 1];
        g[ixchng - 1] = gi;
    }
}

} // namespace traz
