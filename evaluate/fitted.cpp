// The passes over a domain fitted to the cut-score density (--fitted): every pass's quantity
// at the same points, by a rule for the normal weight in the fitted coordinates t
// (x = m + L t) raised level by level, falling back to the adaptive integration over the
// fitted box when the rule cannot meet the accuracy.
#include <algorithm>
#include <cmath>
#include <string>

#include "cubature/gaussian_rules.hpp"
#include "evaluate/evaluate.hpp"
#include "model/domain.hpp"
#include "model/model.hpp"
#include "model/state.hpp"

namespace traz {

namespace {

// The rule and its accuracy, set by measurement (docs/integration-domain.md): a quantity
// meets when its change from the level before is within kTolerance * relerr of its value, or
// within kFloor * relerr absolutely; the group shares must add up to within
// kMassTolerance * relerr of 1; the bound reported is kSafety times the change (the largest
// error seen over the sweep of decks was 2.4 times it).
constexpr RuleFamily kFamily = RuleFamily::sparse_genz_keister;
constexpr double kTolerance = 0.2, kFloor = 0.02, kMassTolerance = 0.05, kSafety = 3.0;
// Highest levels by stage count (one, two, three stages): 35 points; 1225 (the full tensor
// rule); 3387.
constexpr int kLevelCap[4] = {0, 5, 9, 7};
// One stage works to the quadrature's accuracy.
constexpr double kOneStageAccuracy = 1.0e-6;

// The selectors the fitted integration computes: those of the passes, and every group share
// (their sum is the mass, known to be 1).
struct SelectorList {
    int iz[kMaxQuantities] = {};
    int n = 0;
    int index_of(int selector) const {
        for (int i = 0; i < n; ++i)
            if (iz[i] == selector) return i;
        return -1;
    }
    void add(int selector) {
        if (index_of(selector) < 0 && n < kMaxQuantities) iz[n++] = selector;
    }
};

struct RuleContext {
    const SelectionState* s;
    const SelectorList* list;
    const Domain* domain;
};

void rule_integrand(const double* t, double* f, void* params) {
    const RuleContext& c = *static_cast<const RuleContext*>(params);
    mapped_selectors(*c.s, c.list->iz, c.list->n, *c.domain, t, f);
}

// The passes' records from the integrals of the selector list.
void fill_passes(RunRecord& rec, const SelectorList& list, const double* value, const double* error, long points,
                 int status, bool multistage, int npass) {
    for (int pass = 1; pass <= npass; ++pass) {
        PassRecord r;
        r.pass = pass;
        r.iz = selector_of_pass(pass);
        r.multistage = multistage;
        const int i = list.index_of(r.iz);
        // A cubature that refused its arguments wrote nothing: the passes keep 0, as a first
        // refused pass does.
        r.carried = multistage && status >= 2;
        r.result = r.carried ? 0.0 : value[i];
        r.abserr = r.carried ? 0.0 : error[i];
        r.evaluations = points;
        r.status = status;
        rec.passes.push_back(r);
    }
}

} // namespace

bool integrate_fitted(const SelectionState& model, const Deck& d, int npass, int maxcls, int level, RunRecord& rec) {
    const int K = model.nstage;
    rec.domain = fit_shape(model);
    if (!rec.domain.fitted) {
        rec.domain = cube_domain(K);
        rec.domain.note = fit_shape(model).note;
        rec.warnings.push_back("the integration domain could not be fitted (" + rec.domain.note +
                               "); the classic domain is used.");
        return false;
    }
    FittedIntegration& fi = rec.integration;
    fi.used = true;
    fi.rule = K == 1 ? "Genz-Keister" : family_name(kFamily);
    if (npass <= 0) return true;

    SelectorList list;
    for (int pass = 1; pass <= npass; ++pass) list.add(selector_of_pass(pass));
    for (int g = 1; g <= model.ngroup; ++g) list.add(g + 1);
    const int first_share = list.index_of(2);

    const double relerr = K == 1 ? kOneStageAccuracy : d.relerr;
    LevelPlan plan;
    plan.family = kFamily;
    const int cap = std::min(kLevelCap[K], max_level(kFamily, K));
    plan.first = level > 0 ? std::clamp(level - 1, 1, cap) : 1;
    plan.cap = level > 0 ? std::clamp(level, 1, cap) : cap;
    plan.relerr = kTolerance * relerr;
    for (double& f : plan.floor) f = kFloor * relerr;
    // The shares are the list's entries from first_share on when every group's share is there
    // in order; the list adds them in order after the passes' selectors 1, 2, 3, ...
    bool shares_in_order = first_share >= 0;
    for (int g = 1; g <= model.ngroup && shares_in_order; ++g) shares_in_order = list.index_of(g + 1) == first_share + g - 1;
    if (shares_in_order) {
        plan.known_first = first_share;
        plan.known_count = model.ngroup;
        plan.known_sum = 1.0;
        plan.known_tol = kMassTolerance * relerr;
    }

    RuleContext context{&model, &list, &rec.domain};
    const LevelResult r = integrate_levels(plan, K, list.n, &rule_integrand, &context);
    fi.level = r.level;
    fi.level_settled = level > 0;
    fi.rule_points = r.points;
    fi.met = r.stop == LevelStop::met;
    fi.points = r.points;
    // A settled level keeps its values whatever the estimate says (a sweep stays on one rule);
    // only values that are not numbers send it to the fallback.
    const bool keep = fi.met || (level > 0 && r.stop != LevelStop::not_finite);
    if (keep) {
        fi.integrator = "rule";
        double error[kMaxQuantities];
        for (int q = 0; q < list.n; ++q) error[q] = kSafety * r.error[q];
        fill_passes(rec, list, r.value, error, r.points, 0, K > 1, npass);
        if (!fi.met)
            rec.warnings.push_back("the fitted rule at the settled level " + std::to_string(level) +
                                   " did not meet the accuracy; the error bounds say by how much.");
        return true;
    }

    // The fallback: the adaptive integration over the fitted box.
    fi.fallback = r.stop == LevelStop::cap              ? "the rule reached its last level before the accuracy"
                  : r.stop == LevelStop::not_decreasing ? "the rule's estimates stopped falling"
                                                        : "the integrand was not a number at a rule point";
    fit_extent(model, rec.domain);
    if (K == 1) {
        fi.integrator = "quadrature";
        double value[kMaxQuantities] = {}, error[kMaxQuantities] = {};
        int worst = 0;
        for (int q = 0; q < list.n; ++q) {
            const Integral in = quadrature_pass(model, list.iz[q], &rec.domain);
            value[q] = in.result;
            error[q] = in.abserr;
            worst = std::max(worst, in.status);
            fi.points += in.evaluations;
        }
        fill_passes(rec, list, value, error, fi.points, worst, false, npass);
        return true;
    }
    fi.integrator = "cubature";
    const Integrals all = cubature_all(model, list.iz, list.n, d.relerr, maxcls, rec.domain);
    fi.points += all.evaluations;
    fill_passes(rec, list, all.result, all.abserr, all.evaluations, all.status, true, npass);
    return true;
}

} // namespace traz
