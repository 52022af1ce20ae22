// Adaptive cubature over a hyper-rectangle (globally adaptive subdivision, DCUHRE).
#pragma once

namespace traz {

// Integrand: writes the numfun values at the point x (ndim coordinates) into funvls.
// It may use x as scratch but must restore it before returning. Either a plain function, or
// a function with a pointer to its parameters that is handed back on every call.
class CubatureIntegrand {
public:
    using Plain = void (*)(const int& ndim, double* x, const int& numfun, double* funvls);
    using WithParams = void (*)(const int& ndim, double* x, const int& numfun, double* funvls, void* params);

    CubatureIntegrand(Plain f) : plain_(f) {}  // NOLINT: a plain function is an integrand
    CubatureIntegrand(WithParams f, void* params) : with_params_(f), params_(params) {}

    void operator()(const int& ndim, double* x, const int& numfun, double* funvls) const {
        if (plain_ != nullptr)
            plain_(ndim, x, numfun, funvls);
        else
            with_params_(ndim, x, numfun, funvls, params_);
    }

private:
    Plain plain_ = nullptr;
    WithParams with_params_ = nullptr;
    void* params_ = nullptr;
};

void dcuhre(const int& ndim, const int& numfun, const double* a, const double* b,
            const int& minpts, const int& maxpts, CubatureIntegrand funsub,
            const double& epsabs, const double& epsrel, const int& key, const int& nw,
            const int& restar, double* result, double* abserr, int& neval, int& ifail,
            double* work);

} // namespace traz
