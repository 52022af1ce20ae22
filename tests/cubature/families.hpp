// Smooth test integrands over a box with closed-form integrals: products of Gaussians,
// an oscillatory cosine of a linear form, and a corner peak. Shared by the accuracy tests
// and the cubature benchmark.
#pragma once

#include <cmath>
#include <complex>
#include <numbers>
#include <ostream>
#include <string>

namespace traz::testing {

struct Family {
    enum Kind { gaussian, oscillatory, cornerpeak } kind;
    int ndim;
    double lo, hi;   // the same limits on every axis
    double c[3];     // scale of each variable
    double u[3];     // centre of the Gaussian, phase of the cosine in u[0]

    std::string name() const
    {
        const char* k[] = {"gaussian", "oscillatory", "cornerpeak"};
        return std::string(k[kind]) + " " + std::to_string(ndim) + "-D";
    }

    double value(const double* x) const
    {
        double s = 0;
        switch (kind) {
        case gaussian:
            for (int i = 0; i < ndim; ++i)
                s += c[i] * c[i] * (x[i] - u[i]) * (x[i] - u[i]);
            return std::exp(-s);
        case oscillatory:
            s = 2 * std::numbers::pi * u[0];
            for (int i = 0; i < ndim; ++i)
                s += c[i] * x[i];
            return std::cos(s);
        case cornerpeak:
            s = 1;
            for (int i = 0; i < ndim; ++i)
                s += c[i] * (x[i] - lo);
            return std::pow(s, -(ndim + 1));
        }
        return 0;
    }

    double integral() const
    {
        const double len = hi - lo;
        switch (kind) {
        case gaussian: {
            double v = 1;
            for (int i = 0; i < ndim; ++i)
                v *= std::sqrt(std::numbers::pi) / (2 * c[i])
                     * (std::erf(c[i] * (hi - u[i])) - std::erf(c[i] * (lo - u[i])));
            return v;
        }
        case oscillatory: {
            // Re of exp(i(2 pi u0 + c.lo)) times the product of (exp(i c len) - 1)/(i c).
            const std::complex<double> iu(0, 1);
            double phase = 2 * std::numbers::pi * u[0];
            std::complex<double> v(1, 0);
            for (int i = 0; i < ndim; ++i) {
                phase += c[i] * lo;
                v *= (std::exp(iu * (c[i] * len)) - 1.0) / (iu * c[i]);
            }
            return (std::exp(iu * phase) * v).real();
        }
        case cornerpeak: {
            // (1/(n! prod c)) sum over the corners v of (-1)^|v| / (1 + len c.v).
            double sum = 0;
            for (int m = 0; m < (1 << ndim); ++m) {
                double d = 1;
                int bits = 0;
                for (int i = 0; i < ndim; ++i) {
                    if (m & (1 << i)) {
                        d += c[i] * len;
                        ++bits;
                    }
                }
                sum += (bits % 2 ? -1.0 : 1.0) / d;
            }
            double f = 1;
            for (int i = 0; i < ndim; ++i)
                f *= (i + 1) * c[i];
            return sum / f;
        }
        }
        return 0;
    }
};

inline void PrintTo(const Family& f, std::ostream* os)
{
    *os << f.name();
}

inline Family family;

inline void familyIntegrand(const int& ndim, double* x, const int& numfun, double* funvls)
{
    (void)ndim;
    (void)numfun;
    funvls[0] = family.value(x);
}

} // namespace traz::testing
