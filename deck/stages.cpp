#include "deck/stages.hpp"

#include <cmath>
#include <cstddef>

extern "C" void dgemm_(const char* transa, const char* transb, const int* m, const int* n,
                       const int* k, const double* alpha, const double* a, const int* lda,
                       const double* b, const int* ldb, const double* beta, double* c,
                       const int* ldc, std::size_t, std::size_t);

namespace traz {

void derive_stages(const Deck& d, StageValues& s) {
    constexpr int ld = kReadStage;
    double tweip[kReadPred * kReadStage];  // (predictor, stage), leading dimension kReadPred
    double prod[kReadStage * kReadPred];   // weip * cormt, leading dimension kReadStage
    double cvar[kReadStage * kReadStage];  // covariance of the stage composites
    const int nstage = d.nstage, npred = d.npred;

    for (int i = 1; i <= npred; ++i)
        for (int j = 1; j <= nstage; ++j) tweip[(i - 1) + kReadPred * (j - 1)] = d.Weip(j, i);

    const double one = 1.0, zero = 0.0;
    const int ldp = kReadPred;
    dgemm_("N", "N", &nstage, &npred, &npred, &one, d.weip, &ld, d.cormt, &ldp, &zero, prod, &ld, 1, 1);
    dgemm_("N", "N", &nstage, &nstage, &npred, &one, prod, &ld, tweip, &ldp, &zero, cvar, &ld, 1, 1);
    auto Cvar = [&](int j, int k) { return cvar[(j - 1) + ld * (k - 1)]; };

    for (int j = 1; j <= nstage; ++j) {
        double teft = 0.0, cory = 0.0;
        for (int k = 1; k <= nstage; ++k) s.Cormc(j, k) = Cvar(j, k) / std::sqrt(Cvar(j, j) * Cvar(k, k));
        for (int i = 1; i <= npred; ++i) {
            teft += d.Weip(j, i) * d.Eft(1, i);
            cory += d.Weip(j, i) * d.coryt[i - 1];
        }
        s.ef1[j - 1] = teft / std::sqrt(Cvar(j, j));
        s.cory[j - 1] = cory / std::sqrt(Cvar(j, j));
    }
}

} // namespace traz
