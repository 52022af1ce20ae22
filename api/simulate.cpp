// The finite-sample simulation through the public interface.
#include <memory>

#include "api/internal.hpp"
#include "simulate/record.hpp"
#include "simulate/simulate.hpp"

namespace traz {

namespace {

Estimate estimate(const sim::Estimate& e) { return {e.value, e.se}; }

} // namespace

Simulation simulate(const Design& design, const SimulationRequest& request) {
    auto d = std::make_unique<Deck>();
    deck_of_design(design, *d);
    auto model = std::make_unique<sim::Model>();
    DeckFault fault;
    if (!sim::build_model(*d, *model, fault)) throw Error(diagnostic_of(fault));
    if (request.replications < 1 || request.replications > sim::kMaxReplications) {
        Diagnostic why;
        why.message = "simulate: " + std::to_string(request.replications) + " replications: 1 to " +
                      std::to_string(sim::kMaxReplications);
        throw Error(why);
    }
    sim::Progress progress;
    if (request.progress) progress = [&](std::int64_t done) { request.progress(done); };
    const sim::Summary s = sim::summarise(
        *model, sim::simulate(*model, request.seed, 0, request.replications, request.jobs, progress));
    Simulation out;
    out.replications = s.replications;
    out.expected_criterion_score = estimate(s.criterion);
    out.selection_rate_group1 = estimate(s.rate[0]);
    out.selection_rate_group2 = estimate(s.rate[1]);
    out.ai_ratio = estimate(s.ai_ratio);
    out.impact_ratio = estimate(s.impact_ratio);
    out.sd_average_criterion_score = estimate(s.sd);
    out.p_four_fifths = estimate(s.p_four_fifths);
    out.p_fisher = estimate(s.p_fisher);
    out.p_z = estimate(s.p_z);
    out.p_both = estimate(s.p_both);
    out.p_no_hire_group1 = estimate(s.p_no_hire[0]);
    out.p_no_hire_group2 = estimate(s.p_no_hire[1]);
    out.share_undefined = estimate(s.share_undefined);
    out.undefined = s.undefined;
    out.z_undefined = s.z_undefined;
    for (int q = 0; q < 3; ++q) {
        out.criterion_quantiles[q] = s.criterion_q[q];
        out.impact_ratio_quantiles[q] = s.impact_q[q];
    }
    return out;
}

} // namespace traz
