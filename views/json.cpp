// The JSON view of a run.
#include <cmath>

#include "views/views.hpp"

namespace traz {

#ifndef TRAZ_VERSION
#define TRAZ_VERSION "unknown"
#endif
const char* const kProgramVersion = TRAZ_VERSION;

namespace {

using json = nlohmann::ordered_json;

// NaN (not produced) and infinities (no bound) are null.
json number(double x) { return std::isfinite(x) ? json(x) : json(nullptr); }

json bounded(const BoundedResult& b) {
    if (!b.present()) return nullptr;
    return {{"value", number(b.value)}, {"error_bound", number(b.error)}};
}

json deck_json(const Deck& d) {
    const int npred = d.npred, nstage = d.nstage;
    json ns = json::array(), weights = json::array(), validities = json::array(), corr = json::array(),
         effects = json::array();
    for (int k = 0; k < nstage; ++k) ns.push_back(d.ns[k]);
    for (int j = 1; j <= nstage; ++j) {
        json row = json::array();
        for (int i = 1; i <= npred; ++i) row.push_back(d.Weip(j, i));
        weights.push_back(row);
    }
    for (int i = 0; i < npred; ++i) validities.push_back(d.coryt[i]);
    for (int i = 1; i <= npred; ++i) {
        json row = json::array();
        for (int j = 1; j <= npred; ++j) row.push_back(d.Cormt(i, j));
        corr.push_back(row);
    }
    for (int i = 1; i <= npred; ++i) effects.push_back(d.Eft(1, i));
    return {{"predictors", npred},
            {"stages", nstage},
            {"applicants", d.napp},
            {"retained", ns},
            {"weights", weights},
            {"validities", validities},
            {"predictor_correlations", corr},
            {"effect_sizes_group1", effects},
            {"groups", d.ngroup},
            {"proportion_group1", d.pg[0]},
            {"passes", d.npass},
            {"criterion_effect_size_group1", d.efc[0]},
            {"relerr", d.relerr},
            {"maxcls", d.maxcls}};
}

json stages_json(const Deck& d, const StageValues& s) {
    const int nstage = d.nstage;
    json validities = json::array(), corr = json::array(), means = json::array();
    for (int j = 0; j < nstage; ++j) validities.push_back(number(s.cory[j]));
    for (int j = 1; j <= nstage; ++j) {
        json row = json::array();
        for (int k = 1; k <= nstage; ++k) row.push_back(number(s.Cormc(j, k)));
        corr.push_back(row);
    }
    for (int g = 1; g <= d.ngroup; ++g) {
        json row = json::array();
        for (int j = 0; j < nstage; ++j) row.push_back(number(g == 1 ? s.ef1[j] : 0.0));
        means.push_back(row);
    }
    return {{"validities", validities}, {"correlations", corr}, {"group_means", means}};
}

json domain_json(const RunRecord& rec) {
    const Domain& d = rec.domain;
    json out = {{"kind", rec.domain_kind()}, {"fitted_requested", rec.fitted_requested}};
    // The default mode's recomputation over the fitted domain, and --domain cube keeping the
    // cube's results although it lost density.
    if (!std::isnan(rec.cube_lost)) out["cube_lost"] = number(rec.cube_lost);
    if (rec.cube_kept) out["cube_kept"] = true;
    if (!rec.fitted_requested && !rec.domain.fitted) return out;
    json m = json::array(), L = json::array(), lo = json::array(), hi = json::array();
    for (int i = 0; i < d.ndim; ++i) {
        m.push_back(number(d.m[i]));
        lo.push_back(number(d.lo[i]));
        hi.push_back(number(d.hi[i]));
        json row = json::array();
        for (int j = 0; j < d.ndim; ++j) row.push_back(number(d.L[i + 3 * j]));
        L.push_back(row);
    }
    out["method"] = d.method;
    if (!d.note.empty()) out["note"] = d.note;
    out["centre"] = m;
    out["map"] = L;
    out["jacobian"] = number(d.det);
    out["box_low"] = lo;
    out["box_high"] = hi;
    out["fit_evaluations"] = d.evaluations;
    const FittedIntegration& fi = rec.integration;
    if (fi.used) {
        json rule = {{"family", fi.rule},
                     {"level", fi.level},
                     {"level_settled", fi.level_settled},
                     {"met", fi.met},
                     {"rule_points", fi.rule_points},
                     {"integrator", fi.integrator},
                     {"points", fi.points}};
        rule["fallback"] = fi.fallback.empty() ? json(nullptr) : json(fi.fallback);
        out["rule"] = rule;
    }
    return out;
}

json pass_json(const PassRecord& p, int g) {
    return {{"pass", p.pass},
            {"selector", p.iz},
            {"integrates", selector_words(p.iz, g)},
            {"result", number(p.result)},
            {"error_estimate", number(p.abserr)},
            {"evaluations", p.evaluations},
            {"integrator", p.multistage ? "cubature" : "quadrature"},
            {"status", p.status},
            {"status_meaning", status_words(p)},
            {"carried_over", p.carried}};
}

json mass_json(const RunRecord& rec) {
    const MassCheck& m = rec.mass;
    if (!m.done)
        return {{"done", false},
                {"note", "skipped: the pass count leaves out a group-share pass, or one was refused"}};
    return {{"done", true},
            {"mass", number(m.mass)},
            {"threshold", number(m.threshold)},
            {"warning", m.warned}};
}

} // namespace

json to_json(const RunRecord& rec) {
    json out = {{"program", "traz"}, {"version", kProgramVersion}, {"source", rec.source},
                {"outcome", outcome_name(rec.outcome)}};
    if (!rec.diagnostic.empty()) out["diagnostic"] = rec.diagnostic;
    if (rec.outcome == Outcome::bad_deck || rec.outcome == Outcome::unreadable) return out;

    const Deck& d = *rec.deck;
    out["deck"] = deck_json(d);
    if (rec.outcome == Outcome::refused) return out;
    out["stage_composites"] = stages_json(d, *rec.stages);
    if (rec.outcome == Outcome::limits_refused) {
        static const char* const why[3] = {"Too many predictors", "Too many selection stages",
                                           "Too many applicants"};
        json reasons = json::array();
        for (int i = 0; i < 3; ++i)
            if (rec.ifin[i] == 1) reasons.push_back(why[i]);
        out["refusal_reasons"] = reasons;
    }
    if (rec.outcome == Outcome::computed) {
        out["integration_domain"] = domain_json(rec);
        json passes = json::array();
        for (const PassRecord& p : rec.passes) passes.push_back(pass_json(p, d.ngroup));
        out["passes"] = passes;
        const Results& r = rec.results;
        out["results"] = {{"expected_criterion_score", bounded(r.criterion)},
                          {"selection_rate_group1", bounded(r.rate1)},
                          {"selection_rate_group2", bounded(r.rate2)},
                          {"ai_ratio", bounded(r.ai)},
                          {"impact_ratio", bounded(r.impact)},
                          {"sd_average_criterion_score", bounded(r.sd)},
                          {"proportion_selected", bounded(r.proportion)},
                          {"target_selection_ratio", number(r.target)}};
        out["mass_check"] = mass_json(rec);
    }
    out["warnings"] = rec.warnings;
    out["cpu_seconds"] = number(static_cast<double>(rec.cpu_seconds()));
    return out;
}

const char* outcome_name(Outcome o) {
    switch (o) {
    case Outcome::computed: return "computed";
    case Outcome::limits_refused: return "refused_after_echo";
    case Outcome::refused: return "refused";
    case Outcome::bad_deck: return "bad_deck";
    case Outcome::unreadable: return "unreadable";
    case Outcome::fatal: return "fatal_library_error";
    case Outcome::stopped: return "stopped";
    }
    return "unknown";
}

std::string selector_words(int iz, int g) {
    const auto group = [](int m) { return "group " + std::to_string(m); };
    if (iz == 1) return "expected criterion score of a selected applicant";
    if (iz >= 2 && iz <= g + 1) return "probability that a selected applicant belongs to " + group(iz - 1);
    if (iz >= g + 2 && iz <= 2 * g + 1)
        return group(iz - g - 1) + "'s probability of passing every stage relative to the whole population's";
    if (iz >= 2 * g + 2 && iz <= 3 * g + 1)
        return "ratio of " + group(iz - 2 * g - 1) + "'s to group 1's probability of passing every stage";
    if (iz == 3 * g + 2) return "proportion of the population passing every stage";
    if (iz == 3 * g + 3) return "second moment of the criterion score of a selected applicant";
    if (iz == 3 * g + 4)
        return "expected product of the criterion scores of two different selected applicants";
    if (iz == 11) return "a further group-2 quantity (not reported)";
    return "the bare cut-score density (the selector names no quantity)";
}

std::string status_words(const PassRecord& p) {
    if (p.multistage) {
        if (p.status == 0) return "the requested accuracy was reached";
        if (p.status == 1) return "the budget maxcls was spent before the requested accuracy was met; the estimate is used";
        return "the cubature refused its arguments (status " + std::to_string(p.status) +
               "); the previous pass's values are carried over";
    }
    switch (p.status) {
    case 0: return "the requested accuracy was reached";
    case 1: return "the subdivision limit was reached";
    case 2: return "roundoff error prevented the requested accuracy";
    case 3: return "the integrand behaves badly somewhere in the range";
    default: return "the quadrature reported an error (code " + std::to_string(p.status) + ")";
    }
}

} // namespace traz
