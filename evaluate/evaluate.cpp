#include "evaluate/evaluate.hpp"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "model/messages.hpp"
#include "deck/validate.hpp"
#include "model/model.hpp"


namespace traz {

float cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<float>(ts.tv_sec) + static_cast<float>(ts.tv_nsec) * 1.0e-9f;
}

SelectionState selection_state(const Deck& d, const StageValues& s) {
    SelectionState model{};
    model.nstage = d.nstage;
    model.napp = d.napp;
    for (int k = 0; k < d.nstage; ++k) model.ns[k] = d.ns[k];
    model.srtot = d.srtot;
    model.ngroup = d.ngroup;
    model.pg[0] = d.pg[0];
    model.pg[1] = d.pg[1];
    model.efc[0] = d.efc[0];
    model.efc[1] = 0.0;
    for (int j = 1; j <= d.nstage; ++j) {
        model.cory[j - 1] = s.cory[j - 1];
        model.Ef(1, j) = s.ef1[j - 1];
        model.Ef(2, j) = 0.0;
        for (int k = 1; k <= d.nstage; ++k) model.Cormc(j, k) = s.Cormc(j, k);
    }
    int index = 0;
    for (int i = 1; i <= d.nstage; ++i)
        for (int j = 1; j < i; ++j) model.corc[index++] = s.Cormc(i, j);
    prepare_state(model);
    return model;
}

void order_statistic_constants(SelectionState& model) {
    double dni[4];
    dni[0] = static_cast<double>(model.napp) + 1.0;
    for (int k = 1; k <= model.nstage; ++k) {
        dni[k] = static_cast<double>(model.ns[k - 1]) + 1.0;
        const double d = dni[k - 1] - dni[k];
        const double t = d == 0.0 ? 1.0 : dlngam(d);
        model.dl4c[k - 1] = dlngam(dni[k - 1]) - dlngam(dni[k]) - t;
    }
}

int selector_of_pass(int p) {
    static const int plan[7] = {1, 2, 3, 5, 9, 10, 11};
    return p <= 7 ? plan[p - 1] : 11;
}

namespace {

// Pass values that carry over from pass to pass.
struct PassValues {
    double result = 0.0, abserr = 0.0;
    double E = 0.0, V = 0.0;
    double E_err = 0.0, V_err = 0.0;  // bounds on E and on the second moment behind V
};

// a / b with the bound of the quotient over the box [a - ea, a + ea] x [b - eb, b + eb]
// (infinite when that box reaches b = 0).
double quotient_bound(double a, double ea, double b, double eb) {
    if (std::fabs(b) <= eb) return INFINITY;
    const double q = a / b;
    double worst = 0.0;
    for (double da : {-ea, ea})
        for (double db : {-eb, eb}) worst = std::fmax(worst, std::fabs((a + da) / (b + db) - q));
    return worst;
}

// Bound of sqrt(v) when v is known within +-ev.
double sqrt_bound(double v, double ev) {
    const double s = std::sqrt(v);
    return std::fmax(std::sqrt(v + ev) - s, s - std::sqrt(std::fmax(0.0, v - ev)));
}

// Applies the rule of the pass plan that the selector meets to the pass's result: what
// the pass reports and what it keeps for later passes. The bounds take the pass's error
// estimate plus, for a density that lost the mass `lost` outside the integration domain,
// lost times the larger of 1 and the result.
void use_result(const SelectionState& model, PassValues& p, PassRecord& r, double lost) {
    const int g = model.ngroup, iz = r.iz;
    const double result = p.result, err = p.abserr + lost * std::fmax(1.0, std::fabs(result));
    r.bound = err;
    if (iz == 1) {
        r.use = PassUse::criterion;
        p.E = result;
        p.E_err = err;
    } else if (iz >= 2 && iz <= g + 1) {
        r.use = PassUse::share;
        r.group = iz - 1;
        r.empty_after = iz - 1 == g;
    } else if (iz >= g + 2 && iz <= 2 * g + 1) {
        r.use = PassUse::rates;
        r.group = iz - g - 1;
        r.r2 = result * model.srtot;
        r.r1 = (static_cast<double>(model.ns[model.nstage - 1]) / static_cast<double>(model.napp) -
                model.pg[1] * r.r2) / model.pg[0];
        r.r2_err = model.srtot * err;
        r.r1_err = std::fabs(model.pg[1] / model.pg[0]) * r.r2_err;
        if (model.pg[0] != 1.0) {
            r.has_ai = true;
            r.ai = r.r2 / r.r1;
            r.ai_err = quotient_bound(r.r2, r.r2_err, r.r1, r.r1_err);
        }
        r.empty_after = r.group == g;
    } else if (iz >= 2 * g + 2 && iz <= 3 * g + 1) {
        r.use = PassUse::ratio;
        r.group = iz - 2 * g - 1;
        r.empty_after = r.group == g;
    } else if (iz == 3 * g + 2) {
        r.use = PassUse::proportion;
    } else if (iz == 3 * g + 3) {
        r.use = PassUse::moment2;
        p.V = result - p.E * p.E;
        p.V_err = err;
    } else if (iz == 3 * g + 4) {
        r.use = PassUse::sd;
        const double C = result - p.E * p.E;
        const double K = static_cast<double>(model.ns[model.nstage - 1]);
        const double var = ((K - 1.0) * C + p.V) / K;
        r.sd = std::sqrt(var);
        // var = ((K - 1) r10 + r9 - K E^2) / K with each pass result within its bound.
        const double var_err = ((K - 1.0) * err + p.V_err) / K +
                               2.0 * std::fabs(p.E) * p.E_err + p.E_err * p.E_err;
        r.sd_err = sqrt_bound(var, var_err);
    } else if (iz == 11) {
        r.use = PassUse::unused;
    } else {
        r.use = PassUse::other;
        p.E = result;
        p.E_err = err;
    }
}


// The lower of two rates over the higher (0 when nobody of one group is selected, none when
// nobody is selected at all), with its bound over the box [r1 -+ b1] x [r2 -+ b2]: the worst
// corner, or the box's diagonal, where the ratio is 1.
BoundedResult impact_ratio(const BoundedResult& r1, const BoundedResult& r2) {
    const auto ratio = [](double a, double b) { return std::fmax(std::fmin(a, b), 0.0) / std::fmax(a, b); };
    BoundedResult out;
    if (!(std::fmax(r1.value, r2.value) > 0.0)) return out;
    out.value = ratio(r1.value, r2.value);
    double worst = 0.0;
    for (double d1 : {-r1.error, r1.error})
        for (double d2 : {-r2.error, r2.error}) {
            if (!(std::fmax(r1.value + d1, r2.value + d2) > 0.0)) worst = INFINITY;
            worst = std::fmax(worst, std::fabs(ratio(r1.value + d1, r2.value + d2) - out.value));
        }
    if (std::fabs(r1.value - r2.value) <= r1.error + r2.error) worst = std::fmax(worst, 1.0 - out.value);
    out.error = worst;
    return out;
}

// The results of the run: for each quantity the value of the last pass that gives it.
void collect_results(RunRecord& rec) {
    Results& res = rec.results;
    const Deck& d = *rec.deck;
    res.target = d.srtot;
    for (const PassRecord& p : rec.passes) {
        switch (p.use) {
        case PassUse::criterion: res.criterion = {p.result, p.bound}; break;
        case PassUse::rates:
            res.rate1 = {p.r1, p.r1_err};
            if (d.ngroup >= 2) res.rate2 = {p.r2, p.r2_err};
            if (p.has_ai) res.ai = {p.ai, p.ai_err};
            break;
        case PassUse::proportion: res.proportion = {p.result, p.bound}; break;
        case PassUse::sd: res.sd = {p.sd, p.sd_err}; break;
        default: break;
        }
    }
    if (res.ai.present()) res.impact = impact_ratio(res.rate1, res.rate2);
}

// "3e-3": one significant digit, for the size of a deviation.
std::string rough(double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0e", x);
    std::string t(buf);
    const std::size_t e = t.find('e');
    if (e == std::string::npos) return t;
    std::string mant = t.substr(0, e), ex = t.substr(e + 1);
    const bool neg = !ex.empty() && ex[0] == '-';
    if (!ex.empty() && (ex[0] == '-' || ex[0] == '+')) ex.erase(0, 1);
    while (ex.size() > 1 && ex[0] == '0') ex.erase(0, 1);
    return mant + "e" + (neg ? "-" : "") + ex;
}

constexpr double kVisibleDeficit = 2.5e-5;

// The group-share passes (selectors 2 .. g+1) add up to the integral of the bare cut-score
// density over the integration domain, which is 1 when the domain holds all of its mass.
// A sum further from 1 than the integrator's accuracy can explain means that part of the
// density lies where the integrator never looked, and every result may be off by as much.
// A share pass that spent its budget (its status line says so) met no accuracy: its own
// error estimate is added to the allowance.
void check_mass(RunRecord& rec, double accuracy) {
    const int g = rec.deck->ngroup;
    MassCheck& m = rec.mass;
    double sum = 0.0, spent = 0.0;
    int found = 0;
    for (const PassRecord& p : rec.passes)
        if (p.iz >= 2 && p.iz <= g + 1 && !p.carried) {
            sum += p.result;
            if (p.status != 0) spent += p.abserr;
            ++found;
        }
    if (found != g) return;
    m.done = true;
    m.mass = sum;
    // The allowance for spent budgets stops where a deficit would show in the printed digits
    // (half a unit of the fourth decimal, halved again for results that weigh the lost density
    // by more than 1).
    const double base = std::fmax(2e-5, 0.2 * accuracy);
    m.threshold = std::fmax(base, std::fmin(base + spent, kVisibleDeficit));
    const double off = std::fabs(sum - 1.0);
    if (!(off <= m.threshold)) {
        m.warned = true;
        char buf[64];
        // Enough decimals to show the deficit.
        int decimals = 5;
        while (decimals < 12 && std::fabs(std::round(sum * std::pow(10.0, decimals)) / std::pow(10.0, decimals) - 1.0) <
                                    0.5 * off)
            ++decimals;
        std::snprintf(buf, sizeof buf, "%.*f", decimals, sum);
        std::string w = "the cut-score density integrates to " + std::string(buf) +
                        " instead of 1 over the integration domain; the results may be off by about " +
                        rough(off) + ".";
        const FittedIntegration& fi = rec.integration;
        if (spent > 0.0)
            w += " The passes spent their budget before they met the accuracy: raise maxcls.";
        else if (!rec.domain.fitted)
            w += " Rerun with --fitted.";
        else if (fi.used && fi.integrator == "rule" && !fi.met)
            w += " The fitted rule's settled level is too low for this deck.";
        else
            w += " The fitted domain did not hold it either.";
        rec.warnings.push_back(w);
    }
}

// "1.1e-2": two significant digits, for the density a domain lost.
std::string two_digits(double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1e", x);
    std::string t(buf);
    const std::size_t e = t.find('e');
    if (e == std::string::npos) return t;
    std::string ex = t.substr(e + 1);
    const bool neg = !ex.empty() && ex[0] == '-';
    if (!ex.empty() && (ex[0] == '-' || ex[0] == '+')) ex.erase(0, 1);
    while (ex.size() > 1 && ex[0] == '0') ex.erase(0, 1);
    return t.substr(0, e) + "e" + (neg ? "-" : "") + ex;
}

std::string short_number(double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", x);
    return buf;
}

// Group differences in selection research lie within a few SDs; beyond this an effect size is
// more likely a typo.
constexpr double kPlausibleEffect = 5.0;

// The passes one by one over rec.domain (the classic cube, or a domain fitted for them).
void integrate_passes(const SelectionState& model, const Deck& d, int npass, int maxcls, RunRecord& rec) {
    const Domain& domain = rec.domain;
    double result = 0.0, abserr = 0.0;  // carried over a refused cubature call
    for (int pass = 1; pass <= npass; ++pass) {
        PassRecord r;
        r.pass = pass;
        r.iz = selector_of_pass(pass);
        r.multistage = d.nstage > 1;
        const Integral in = d.nstage == 1 ? quadrature_pass(model, r.iz, &domain)
                                          : cubature_pass(model, r.iz, d.relerr, maxcls, &domain);
        r.evaluations = in.evaluations;
        r.status = in.status;
        r.carried = take_integral(in, r.multistage, result, abserr);
        r.result = result;
        r.abserr = abserr;
        rec.passes.push_back(r);
    }
}

// From the passes to the results: the mass check, each pass's rule of the plan, the results
// with their bounds, and the warnings they call for.
void finish_results(const SelectionState& model, const Deck& d, RunRecord& rec) {
    // The quadrature of one stage works to 1e-6; the cubature (and the fitted rule) to the
    // deck's accuracy. The results' bounds then take in the mass the domain missed.
    check_mass(rec, d.nstage == 1 ? 1.0e-6 : d.relerr);
    const double lost = rec.mass.done ? std::fabs(1.0 - rec.mass.mass) : 0.0;
    PassValues q;
    bool negative_variance = false, unnamed = false;
    for (PassRecord& r : rec.passes) {
        q.result = r.result;
        q.abserr = r.abserr;
        use_result(model, q, r, lost);
        // A variance of the average below 0 (passes that spent their budget) has no square
        // root: the report shows asterisks.
        negative_variance = negative_variance || (r.use == PassUse::sd && !(r.sd >= 0.0));
        unnamed = unnamed || r.use == PassUse::other;
    }
    collect_results(rec);
    if (negative_variance)
        rec.warnings.push_back("the variance of the average criterion score came out negative, so its SD "
                               "is not a number: the passes are not accurate enough (see the Ifail lines; "
                               "raise maxcls)");
    // The pass plan is built for two groups: with one, selectors 9 and 10 name no quantity,
    // yet the report shows their integrals on criterion-score lines.
    if (unnamed)
        rec.warnings.push_back("with one group, passes 5 and 6 integrate the bare cut-score density: their "
                               "\"Expected Criterion Score Selected\" lines show its integral, not a criterion "
                               "score (the first such line is the criterion score; 4 passes give every result "
                               "one group has)");
}

// The largest error estimate of the passes relative to their results.
double largest_relative_error(const RunRecord& rec) {
    double worst = 0.0;
    for (const PassRecord& p : rec.passes)
        worst = std::fmax(worst, p.abserr / std::fmax(std::fabs(p.result), 1e-300));
    return worst;
}

// integrate_fitted, and when the rule could not meet the deck's accuracy and the cubature
// after it spent the deck's budget (a relerr of 0, a small maxcls), the rule's last level
// instead where its error estimates are smaller. A level the caller settled is kept as it is.
bool integrate_fitted_best(const SelectionState& model, const Deck& d, int npass, int maxcls, int level,
                           RunRecord& rec) {
    const std::size_t before = rec.warnings.size();
    if (!integrate_fitted(model, d, npass, maxcls, level, rec)) return false;
    const bool spent = std::any_of(rec.passes.begin(), rec.passes.end(), [](const PassRecord& p) { return p.status == 1; });
    if (level != 0 || rec.integration.fallback.empty() || !spent) return true;
    RunRecord rule;
    *rule.deck = d;
    if (integrate_fitted(model, d, npass, maxcls, rec.integration.level, rule) &&
        largest_relative_error(rule) < largest_relative_error(rec)) {
        rec.passes = std::move(rule.passes);
        rec.domain = rule.domain;
        rec.integration = rule.integration;
        rec.integration.level_settled = false;  // the level was not the caller's
        rec.warnings.resize(before);            // nor are the cubature's warnings this run's
        rec.warnings.push_back("the fitted rule did not meet the accuracy, and the adaptive integration after it "
                               "spent the budget (maxcls) with larger error estimates: the rule's level " +
                               std::to_string(rec.integration.level) + " is reported; the error bounds say how far "
                               "it may be off.");
    }
    return true;
}

// The cube lost density: every pass again over the fitted domain. The default mode reports
// those results (the warnings of the cube's run, from `before` on, give way to the line that
// says so); with cube_only the cube's results stay, their bounds widened by their distance
// from the fitted domain's results and those results' own bounds.
void recompute_fitted(const SelectionState& model, const Deck& d, int npass, int maxcls, bool cube_only,
                      std::size_t before, RunRecord& rec) {
    RunRecord fit;
    *fit.deck = d;
    if (!integrate_fitted_best(model, d, npass, maxcls, 0, fit)) {
        rec.warnings.push_back("the passes could not be recomputed over a fitted domain (" + fit.domain.note +
                               "): the cube's results stand.");
        return;
    }
    finish_results(model, d, fit);
    if (cube_only) {
        Results& r = rec.results;
        const Results& f = fit.results;
        for (auto [mine, theirs] : {std::pair{&r.criterion, &f.criterion}, {&r.rate1, &f.rate1}, {&r.rate2, &f.rate2},
                                    {&r.ai, &f.ai}, {&r.impact, &f.impact}, {&r.sd, &f.sd},
                                    {&r.proportion, &f.proportion}})
            if (mine->present() && theirs->present())
                mine->error += std::fabs(mine->value - theirs->value) + theirs->error;
        rec.cube_kept = true;
        for (std::size_t i = before; i < rec.warnings.size(); ++i)
            if (rec.warnings[i].starts_with("the cut-score density integrates to "))
                rec.warnings[i] += " --domain cube keeps these results; their error bounds take in how far they lie "
                                   "from the fitted domain's (which the default mode reports).";
        return;
    }
    rec.cube_lost = 1.0 - rec.mass.mass;
    rec.passes = std::move(fit.passes);
    rec.results = fit.results;
    rec.mass = fit.mass;
    rec.domain = fit.domain;
    rec.integration = fit.integration;
    rec.warnings.resize(before);
    rec.warnings.push_back("integration domain: " + domain_fallback_words(rec.cube_lost));
    rec.warnings.insert(rec.warnings.end(), fit.warnings.begin(), fit.warnings.end());
}

} // namespace

// Fills the record of one problem from the deck text; writes nothing but library
// messages (to the thread's message stream).
void compute(std::string_view deck_text, RunRecord& rec, const RunOptions& opt) {
    float (*clock)() = opt.cpu_clock != nullptr ? opt.cpu_clock : &cpu_seconds;
    RunOptions o = opt;
    o.start = opt.has_start ? opt.start : clock();
    o.has_start = true;
    if (!read_deck(deck_text, *rec.deck, rec.fault)) {
        rec.diagnostic = rec.fault.message;
        rec.source = opt.source;
        rec.cpu_start = rec.cpu_end = o.start;
        rec.outcome = Outcome::bad_deck;
        return;
    }
    compute_deck(*rec.deck, rec, o);
}

namespace {

// The classic limits of the computation: the flags of the report's refusal lines, and the
// reason in words with the statement item at fault. Returns false for a deck beyond them.
bool within_limits(const Deck& d, RunRecord& rec, bool fitted) {
    const int limit[3] = {kMaxPred, kMaxStage, applicant_limit(fitted)};
    const int value[3] = {d.npred, d.nstage, d.napp};
    static const char* const what[3] = {"predictors", "stages", "applicants"};
    std::string reasons;
    for (int i = 0; i < 3; ++i) {
        if (value[i] <= limit[i]) continue;
        rec.ifin[i] = 1;
        if (reasons.empty()) {
            rec.fault.statement = 1;
            rec.fault.item = i + 1;
            rec.fault.line = rec.fault.last_line = d.lines.counts[i];
        }
        reasons += (reasons.empty() ? "" : ", ") + std::to_string(value[i]) + " " + what[i] + " (at most " +
                   std::to_string(limit[i]) + ")";
    }
    if (reasons.empty()) return true;
    const std::string line = rec.fault.line > 0 ? " on line " + std::to_string(rec.fault.line) : "";
    rec.diagnostic = "deck statement 1 (" + statement_name(1) + "), item " + std::to_string(rec.fault.item) + line +
                     ": beyond the limits of the computation: " + reasons + "; the report ends with its refusal lines";
    rec.fault.message = rec.diagnostic;
    return false;
}

void compute_checked(const Deck& deck, RunRecord& rec, const RunOptions& opt);

} // namespace

void compute_deck(const Deck& deck, RunRecord& rec, const RunOptions& opt) {
    float (*clock)() = opt.cpu_clock != nullptr ? opt.cpu_clock : &cpu_seconds;
    rec.cpu_start = opt.has_start ? opt.start : clock();
    rec.cpu_end = rec.cpu_start;
    rec.source = opt.source;
    // Memory that cannot be had (a thread's point memo, the passes' work arrays) ends the run
    // with a message, as a fatal error of a library routine does.
    try {
        compute_checked(deck, rec, opt);
    } catch (const std::bad_alloc&) {
        rec.outcome = Outcome::fatal;
        rec.diagnostic = "out of memory: the computation could not get the memory it needs";
        rec.cpu_end = clock();
    }
}

namespace {

void compute_checked(const Deck& deck, RunRecord& rec, const RunOptions& opt) {
    float (*clock)() = opt.cpu_clock != nullptr ? opt.cpu_clock : &cpu_seconds;
    gsl_set_error_handler_off();
    reset_messages();

    if (&deck != rec.deck.get()) *rec.deck = deck;
    const Deck& d = *rec.deck;
    StageValues& s = *rec.stages;
    derive_stages(d, s);
    rec.warnings = d.lines.notes;

    // Decks beyond the classic limits are echoed and refused by the report's own lines,
    // whatever else is wrong with them; what else the program cannot compute is refused
    // before any report line.
    if (!within_limits(d, rec, opt.fitted)) {
        rec.outcome = Outcome::limits_refused;
        rec.cpu_end = clock();
        return;
    }
    if (!validate_deck(d, s, rec.fault, opt.fitted)) {
        rec.diagnostic = rec.fault.message;
        rec.outcome = Outcome::refused;
        rec.cpu_end = clock();
        return;
    }

    SelectionState model = selection_state(d, s);
    ftest_forget();
    try {
        order_statistic_constants(model);
    } catch (const FatalLibraryError&) {
        rec.outcome = Outcome::fatal;
        return;
    }
    if (opt.stop_before_integration) {
        rec.outcome = Outcome::stopped;
        return;
    }

    // Effect sizes far beyond any group difference seen in selection are more likely typos
    // (10 for 1.0) than designs: computed, but said.
    for (int i = 1; i <= d.npred; ++i)
        if (std::fabs(d.Eft(1, i)) > kPlausibleEffect)
            rec.warnings.push_back("predictor " + std::to_string(i) + "'s effect size " + short_number(d.Eft(1, i)) +
                                   " lies beyond the plausible range of a group difference, -5 to 5 within-group "
                                   "SDs; is it a typo?");
    if (std::fabs(d.efc[0]) > kPlausibleEffect)
        rec.warnings.push_back("the criterion effect size " + short_number(d.efc[0]) + " lies beyond the plausible "
                               "range of a group difference, -5 to 5 within-group SDs; is it a typo?");

    rec.fitted_requested = opt.fitted;
    const int npass = opt.pass_cap > 0 && d.npass > opt.pass_cap ? opt.pass_cap : d.npass;
    const int maxcls = opt.budget_cap > 0 && d.maxcls > opt.budget_cap ? opt.budget_cap : d.maxcls;
    if (opt.fitted) {
        // Fitted, all passes come at once from the rule in the fitted coordinates (or its
        // fallback); the passes run one by one over the cube when the shape cannot be fitted.
        bool integrated = false;
        if (!opt.fitted_adaptive) {
            integrated = integrate_fitted_best(model, d, npass, maxcls, opt.fitted_level, rec);
        } else {
            rec.domain = fit_domain(model);
            if (!rec.domain.fitted)
                rec.warnings.push_back("the integration domain could not be fitted (" + rec.domain.note +
                                       "); the classic domain is used.");
        }
        if (!integrated) integrate_passes(model, d, npass, maxcls, rec);
        finish_results(model, d, rec);
    } else {
        // The classic cube; when it lost density, every pass again over the fitted domain.
        const std::size_t before = rec.warnings.size();
        rec.domain = cube_domain(d.nstage);
        integrate_passes(model, d, npass, maxcls, rec);
        finish_results(model, d, rec);
        if (rec.mass.warned) recompute_fitted(model, d, npass, maxcls, opt.cube_only, before, rec);
    }
    rec.cpu_end = clock();
}

} // namespace

std::string domain_fallback_words(double cube_lost) {
    return cube_lost >= 0.0 ? "fitted (the fixed range lost " + two_digits(cube_lost) + " of the density)"
                            : "fitted (the density over the fixed range came to " + two_digits(-cube_lost) +
                                  " more than 1)";
}

int exit_status(const RunRecord& rec) {
    switch (rec.outcome) {
    case Outcome::bad_deck:
    case Outcome::unreadable:
    case Outcome::refused:
    case Outcome::limits_refused: return kRunBadDeck;
    case Outcome::fatal: return kRunFatal;
    default: return kRunOk;
    }
}

} // namespace traz
