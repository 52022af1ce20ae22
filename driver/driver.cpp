#include "driver/driver.hpp"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <string>

#include "driver/messages.hpp"
#include "model/state.hpp"
#include "model/model.hpp"

extern "C" void dgemm_(const char* transa, const char* transb, const int* m, const int* n,
                       const int* k, const double* alpha, const double* a, const int* lda,
                       const double* b, const int* ldb, const double* beta, double* c,
                       const int* ldc, std::size_t, std::size_t);

namespace traz {

float cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<float>(ts.tv_sec) + static_cast<float>(ts.tv_nsec) * 1.0e-9f;
}

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

void fill_state(const Deck& d, const StageValues& s) {
    sel = SelectionState{};
    sel.nstage = d.nstage;
    sel.napp = d.napp;
    for (int k = 0; k < d.nstage; ++k) sel.ns[k] = d.ns[k];
    sel.srtot = d.srtot;
    sel.ngroup = d.ngroup;
    sel.pg[0] = d.pg[0];
    sel.pg[1] = d.pg[1];
    sel.efc[0] = d.efc[0];
    sel.efc[1] = 0.0;
    for (int j = 1; j <= d.nstage; ++j) {
        sel.cory[j - 1] = s.cory[j - 1];
        sel.Ef(1, j) = s.ef1[j - 1];
        sel.Ef(2, j) = 0.0;
        for (int k = 1; k <= d.nstage; ++k) sel.Cormc(j, k) = s.Cormc(j, k);
    }
    int index = 0;
    for (int i = 1; i <= d.nstage; ++i)
        for (int j = 1; j < i; ++j) sel.corc[index++] = s.Cormc(i, j);
    ftest_forget();
}

void order_statistic_constants() {
    double dni[4];
    dni[0] = static_cast<double>(sel.napp) + 1.0;
    for (int k = 1; k <= sel.nstage; ++k) {
        dni[k] = static_cast<double>(sel.ns[k - 1]) + 1.0;
        const double d = dni[k - 1] - dni[k];
        const double t = d == 0.0 ? 1.0 : dlngam(d);
        sel.dl4c[k - 1] = dlngam(dni[k - 1]) - dlngam(dni[k]) - t;
    }
}

namespace {

constexpr int kQuadLimit = 12500;
thread_local long evaluations = 0;

double ffte_at(double x, void*) {
    double a[1] = {x};
    return ffte(a);
}

// Workspace of the one-dimensional quadrature, allocated once per thread and reused by
// every pass of every problem that thread runs.
gsl_integration_workspace* quadrature_workspace() {
    struct Free {
        void operator()(gsl_integration_workspace* w) const { gsl_integration_workspace_free(w); }
    };
    thread_local std::unique_ptr<gsl_integration_workspace, Free> w(gsl_integration_workspace_alloc(kQuadLimit));
    return w.get();
}

// Error code of the quadrature in the usual numbering: 1 subdivision limit,
// 2 roundoff, 3 bad integrand behaviour, 6 invalid input.
int quadrature_ier(int status) {
    switch (status) {
    case GSL_SUCCESS: return 0;
    case GSL_EMAXITER: return 1;
    case GSL_EROUND: return 2;
    case GSL_ESING: return 3;
    default: return 6;
    }
}

} // namespace

long last_pass_evaluations() { return evaluations; }
void set_pass_evaluations(long n) { evaluations = n; }

double integrate_single_stage() {
    gsl_function f{&ffte_at, nullptr};
    double result = 0.0, abserr = 0.0;
    const int status = gsl_integration_qag(&f, -6.5, 6.5, 0.0, 1.0e-6, kQuadLimit, GSL_INTEG_GAUSS61,
                                           quadrature_workspace(), &result, &abserr);
    // The first rule application, then two more per bisection.
    evaluations = 61L * (2L * static_cast<long>(quadrature_workspace()->size) - 1L);
    const int ier = quadrature_ier(status);
    if (ier != 0) library_message("DQAG", "ABNORMAL RETURN", ier, MessageLevel::warning);
    return result;
}

namespace {

// Pass values that carry over from pass to pass.
struct PassValues {
    double result = 0.0, abserr = 0.0;
    double E = 0.0, V = 0.0;
};

// Turns the result of the pass with the current selector into report lines.
void use_result(std::FILE* out, const Deck& d, PassValues& p) {
    const int g = sel.ngroup, iz = sel.iz;
    const double result = p.result;
    if (iz == 1) {
        write_criterion(out, result);
        p.E = result;
    } else if (iz >= 2 && iz <= g + 1) {
        if (iz - 1 == g) write_empty(out);
    } else if (iz >= g + 2 && iz <= 2 * g + 1) {
        const int m = iz - g - 1;
        const double r2 = result * sel.srtot;
        const double r1 = (static_cast<double>(sel.ns[sel.nstage - 1]) / static_cast<double>(sel.napp) -
                           sel.pg[1] * r2) / sel.pg[0];
        write_rates(out, r1, r2);
        if (sel.pg[0] != 1.0) write_ai_ratio(out, r2 / r1);
        if (m == g) write_empty(out);
    } else if (iz >= 2 * g + 2 && iz <= 3 * g + 1) {
        if (iz - 2 * g - 1 == g) write_empty(out);
    } else if (iz == 3 * g + 2) {
        write_proportion(out, result, d.srtot);
    } else if (iz == 3 * g + 3) {
        p.V = result - p.E * p.E;
    } else if (iz == 3 * g + 4) {
        const double C = result - p.E * p.E;
        const double K = static_cast<double>(sel.ns[sel.nstage - 1]);
        write_sd(out, std::sqrt(((K - 1.0) * C + p.V) / K));
    } else if (iz == 11) {
        // kept for later use; nothing is reported
    } else {
        write_criterion(out, result);
        p.E = result;
    }
}

int selector_of_pass(int p) {
    static const int plan[7] = {1, 2, 3, 5, 9, 10, 11};
    return p <= 7 ? plan[p - 1] : 11;
}

} // namespace

int run(std::string_view deck_text, std::FILE* out, std::FILE* err, const RunOptions& opt) {
    float (*clock)() = opt.cpu_clock != nullptr ? opt.cpu_clock : &cpu_seconds;
    const float t0 = opt.has_start ? opt.start : clock();
    gsl_set_error_handler_off();
    set_message_stream(err);

    // The deck is large (its arrays hold what may be read, not only what may be computed).
    const auto deck = std::make_unique<Deck>();
    const auto stages = std::make_unique<StageValues>();
    Deck& d = *deck;
    StageValues& s = *stages;
    std::string error;
    if (!read_deck(deck_text, d, error)) {
        std::fprintf(err, "traz: %s\n", error.c_str());
        return kRunBadDeck;
    }
    derive_stages(d, s);

    write_banner(out);
    write_echo(out, d, s);

    int ifin[10] = {};
    int failures = 0;
    if (d.npred > kMaxPred) ++failures, ifin[0] = 1;
    if (d.nstage > kMaxStage) ++failures, ifin[1] = 1;
    if (d.napp > 100) ++failures, ifin[2] = 1;

    if (failures != 0) {
        write_invalid(out, ifin);
    } else {
        fill_state(d, s);
        try {
            order_statistic_constants();
        } catch (const FatalLibraryError&) {
            std::fflush(out);
            return kRunFatal;
        }
        if (opt.stop_before_integration) return kRunOk;
        PassValues p;
        const int npass = opt.pass_cap > 0 && d.npass > opt.pass_cap ? opt.pass_cap : d.npass;
        const int maxcls = opt.budget_cap > 0 && d.maxcls > opt.budget_cap ? opt.budget_cap : d.maxcls;
        for (int pass = 1; pass <= npass; ++pass) {
            sel.iz = selector_of_pass(pass);
            if (d.nstage == 1) p.result = integrate_single_stage();
            else integrate_multistage(out, p.result, p.abserr, d.relerr, maxcls);
            use_result(out, d, p);
        }
    }
    const float t1 = clock();
    write_cpu_time(out, t1 - t0);
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(err, "traz: the report could not be written completely\n");
        return kRunWriteError;
    }
    return kRunOk;
}

} // namespace traz
