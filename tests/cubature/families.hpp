// Smooth test integrands over a box [lo, hi]^ndim with closed-form integrals: a product of
// Gaussians, an oscillatory cosine of a linear form, and a corner peak. Shared by the
// accuracy tests and the cubature benchmark.
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
    double lo, hi;
    double c[3]; // scale of each variable
    double u[3]; // centre of the Gaussian; u[0] is the phase of the cosine

    std::string name() const
    {
        const char* k[] = {"gaussian", "oscillatory", "cornerpeak"};
        return std::string(k[kind]) + " " + std::to_string(ndim) + "-D";
    }

    double value(const double* x) const
    {
        double s = kind == oscillatory ? 2 * std::numbers::pi * u[0] : kind == cornerpeak;
        for (int i = 0; i < ndim; ++i) {
            if (kind == gaussian)
                s += c[i] * c[i] * (x[i] - u[i]) * (x[i] - u[i]);
            else
                s += c[i] * (x[i] - (kind == cornerpeak ? lo : 0));
        }
        return kind == gaussian ? std::exp(-s) : kind == oscillatory ? std::cos(s)
                                                                     : std::pow(s, -(ndim + 1));
    }

    double integral() const
    {
        const double len = hi - lo;
        double v = 1;
        if (kind == gaussian) {
            for (int i = 0; i < ndim; ++i)
                v *= std::sqrt(std::numbers::pi) / (2 * c[i])
                     * (std::erf(c[i] * (hi - u[i])) - std::erf(c[i] * (lo - u[i])));
            return v;
        }
        if (kind == oscillatory) {
            // Re of exp(i(2 pi u0 + c.lo)) times the product of (exp(i c len) - 1) / (i c).
            const std::complex<double> iu(0, 1);
            std::complex<double> z = std::exp(iu * (2 * std::numbers::pi * u[0]));
            for (int i = 0; i < ndim; ++i)
                z *= std::exp(iu * (c[i] * lo)) * (std::exp(iu * (c[i] * len)) - 1.0) / (iu * c[i]);
            return z.real();
        }
        // Corner peak: (1 / (n! prod c)) sum over the corners v of (-1)^|v| / (1 + len c.v).
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
        for (int i = 0; i < ndim; ++i)
            v *= (i + 1) * c[i];
        return sum / v;
    }
};

inline void PrintTo(const Family& f, std::ostream* os) { *os << f.name(); }

// The family the integrand below evaluates.
inline Family family;

inline void familyIntegrand(const int&, double* x, const int&, double* funvls)
{
    funvls[0] = family.value(x);
}

} // namespace traz::testing
