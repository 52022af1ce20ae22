// The views of a simulation record.
#include "simulate/simulate_views.hpp"

#include <cmath>
#include <vector>

#ifndef TRAZ_VERSION
#define TRAZ_VERSION "unknown"
#endif

namespace traz::sim {

namespace {

using json = nlohmann::ordered_json;

// The estimates in the order and with the names of the JSON and CSV.
struct Named {
    const char* name;
    const Estimate* estimate;
};
std::vector<Named> estimates(const Summary& s) {
    return {{"expected_criterion_score", &s.criterion},
            {"selection_rate_group1", &s.rate[0]},
            {"selection_rate_group2", &s.rate[1]},
            {"ai_ratio", &s.ai_ratio},
            {"impact_ratio", &s.impact_ratio},
            {"sd_average_criterion_score", &s.sd},
            {"p_four_fifths", &s.p_four_fifths},
            {"p_fisher", &s.p_fisher},
            {"p_z", &s.p_z},
            {"p_both", &s.p_both},
            {"p_no_hire_group1", &s.p_no_hire[0]},
            {"p_no_hire_group2", &s.p_no_hire[1]},
            {"share_undefined", &s.share_undefined}};
}
const char* const kQuantileNames[3] = {"q05", "q50", "q95"};

json number(double x) { return std::isfinite(x) ? json(x) : json(nullptr); }

std::string csv_number(double x) {
    if (!std::isfinite(x)) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", x);
    return buf;
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string q = "\"";
    for (char c : text) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + '"';
}

// "    1.1954" as F10.4, or "  undefined" for a value that does not exist.
std::string f10(double x) {
    if (!std::isfinite(x)) return " undefined";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%10.4f", x);
    return buf;
}
// "    1.1954 (0.00089)": the standard error to two significant digits.
std::string with_se(const Estimate& e) {
    if (!std::isfinite(e.value)) return f10(e.value);
    char buf[40];
    std::snprintf(buf, sizeof buf, " (%.2g)", e.se);
    return f10(e.value) + buf;
}

} // namespace

void write_simulation_report(std::FILE* out, const SimulationRecord& rec) {
    const Deck& d = *rec.deck;
    const Summary& s = rec.summary;
    std::string retained;
    for (int k = 0; k < d.nstage; ++k) {
        retained += ' ';
        retained += std::to_string(d.ns[k]);
    }
    std::fprintf(out, "\n TRAZ SIMULATION  (traz %s)\n\n", TRAZ_VERSION);
    std::fprintf(out, "   deck: %s\n", rec.source == "-" ? "standard input" : rec.source.c_str());
    std::fprintf(out, "   applicants: %d   stages: %d   retained:%s\n", d.napp, d.nstage, retained.c_str());
    std::fprintf(out, "   groups: %d   proportion of group 1: %.4f\n", d.ngroup, d.ngroup == 1 ? 1.0 : d.pg[0]);
    std::fprintf(out, "   replications: %lld   seed: %llu\n", static_cast<long long>(s.replications),
                 static_cast<unsigned long long>(rec.seed));

    std::fprintf(out, "\nEXPECTATIONS (Monte Carlo standard errors in parentheses)\n\n");
    std::fprintf(out, "Expected Criterion Score Selected:  %s\n\n", with_se(s.criterion).c_str());
    std::fprintf(out, "Expected selection rate of groups:  %s  %s\n", with_se(s.rate[0]).c_str(),
                 with_se(s.rate[1]).c_str());
    std::fprintf(out, "Expected AI ratio:  %s\n\n", with_se(s.ai_ratio).c_str());
    std::fprintf(out, "Standard Deviation Average Criterion Score Selected:  %s\n", with_se(s.sd).c_str());

    std::fprintf(out, "\nWHAT ONE SELECTION SHOWS (probabilities over the replications in which both groups have "
                      "applicants)\n\n");
    const struct {
        const char* label;
        const Estimate& e;
    } lines[] = {{"Four-fifths rule flags the impact ratio:    ", s.p_four_fifths},
                 {"Fisher's exact test, p < .05:               ", s.p_fisher},
                 {"Two-proportion Z test, p < .05:             ", s.p_z},
                 {"Four-fifths rule and Fisher's test both:    ", s.p_both},
                 {"No hire from group 1:                       ", s.p_no_hire[0]},
                 {"No hire from group 2:                       ", s.p_no_hire[1]},
                 {"Mean realised impact ratio:                 ", s.impact_ratio},
                 {"Share of replications with no impact ratio: ", s.share_undefined}};
    for (const auto& l : lines) std::fprintf(out, "%s%s\n", l.label, with_se(l.e).c_str());
    if (s.z_undefined > 0)
        std::fprintf(out, "   (the Z test has no variance in %lld of them)\n", static_cast<long long>(s.z_undefined));

    std::fprintf(out, "\n                                                   5%%       50%%       95%%\n");
    std::fprintf(out, "Mean criterion score of those selected:  %s%s%s\n", f10(s.criterion_q[0]).c_str(),
                 f10(s.criterion_q[1]).c_str(), f10(s.criterion_q[2]).c_str());
    std::fprintf(out, "Realised impact ratio:                   %s%s%s\n", f10(s.impact_q[0]).c_str(),
                 f10(s.impact_q[1]).c_str(), f10(s.impact_q[2]).c_str());

    if (rec.checked) {
        std::fprintf(out, "\nCHECK AGAINST THE INTEGRATION\n\n");
        std::fprintf(out, "Quantity                       analytic simulated        SE         z\n");
        for (const CheckRow& c : rec.check) {
            char z[32] = "         -";
            if (std::isfinite(c.z)) std::snprintf(z, sizeof z, "%10.2f", c.z);
            char se[32] = "         -";
            if (std::isfinite(c.se)) std::snprintf(se, sizeof se, "%10.2g", c.se);
            std::fprintf(out, "%-29s%s%s%s%s%s\n", c.quantity.c_str(), f10(c.analytic).c_str(), f10(c.simulated).c_str(),
                         se, z, std::fabs(c.z) > kCheckLimit ? "  <- |z| > 4" : "");
        }
    }
    if (!rec.warnings.empty()) std::fprintf(out, "\n");
    for (const std::string& w : rec.warnings) std::fprintf(out, "warning: %s\n", w.c_str());
}

json simulation_json(const SimulationRecord& rec) {
    const Deck& d = *rec.deck;
    const Summary& s = rec.summary;
    json retained = json::array();
    for (int k = 0; k < d.nstage; ++k) retained.push_back(d.ns[k]);
    json results = json::object();
    for (const Named& n : estimates(s)) {
        results[n.name] = number(n.estimate->value);
        results[std::string(n.name) + "_se"] = number(n.estimate->se);
    }
    results["replications"] = s.replications;
    json quantiles = {{"probabilities", {kQuantiles[0], kQuantiles[1], kQuantiles[2]}},
                      {"mean_criterion_score", {number(s.criterion_q[0]), number(s.criterion_q[1]), number(s.criterion_q[2])}},
                      {"impact_ratio", {number(s.impact_q[0]), number(s.impact_q[1]), number(s.impact_q[2])}}};
    json j = {{"program", "traz simulate"},
              {"version", TRAZ_VERSION},
              {"source", rec.source},
              {"seed", rec.seed},
              {"deck",
               {{"predictors", d.npred},
                {"stages", d.nstage},
                {"applicants", d.napp},
                {"retained", retained},
                {"groups", d.ngroup},
                {"proportion_group1", d.ngroup == 1 ? 1.0 : d.pg[0]}}},
              {"results", results},
              {"quantiles", quantiles},
              {"undefined_ratio_replications", s.undefined},
              {"z_undefined_replications", s.z_undefined}};
    if (rec.checked) {
        json check = json::array();
        for (const CheckRow& c : rec.check)
            check.push_back({{"quantity", c.quantity},
                             {"analytic", number(c.analytic)},
                             {"simulated", number(c.simulated)},
                             {"se", number(c.se)},
                             {"z", number(c.z)}});
        j["check"] = check;
    }
    j["warnings"] = rec.warnings;
    return j;
}

std::string simulation_csv(const SimulationRecord& rec) {
    const Summary& s = rec.summary;
    std::vector<std::string> head{"deck", "seed", "replications"}, row;
    row = {csv_field(rec.source), std::to_string(rec.seed), std::to_string(s.replications)};
    for (const Named& n : estimates(s)) {
        head.push_back(n.name);
        head.push_back(std::string(n.name) + "_se");
        row.push_back(csv_number(n.estimate->value));
        row.push_back(csv_number(n.estimate->se));
    }
    for (int q = 0; q < 3; ++q) {
        head.push_back(std::string("mean_criterion_score_") + kQuantileNames[q]);
        row.push_back(csv_number(s.criterion_q[q]));
    }
    for (int q = 0; q < 3; ++q) {
        head.push_back(std::string("impact_ratio_") + kQuantileNames[q]);
        row.push_back(csv_number(s.impact_q[q]));
    }
    head.insert(head.end(), {"undefined_ratio_replications", "z_undefined_replications"});
    row.insert(row.end(), {std::to_string(s.undefined), std::to_string(s.z_undefined)});
    if (rec.checked)
        for (const CheckRow& c : rec.check) {
            head.push_back(c.quantity + "_analytic");
            head.push_back(c.quantity + "_z");
            row.push_back(csv_number(c.analytic));
            row.push_back(csv_number(c.z));
        }
    std::string text;
    for (const auto* line : {&head, &row}) {
        for (std::size_t i = 0; i < line->size(); ++i) {
            if (i > 0) text += ',';
            text += (*line)[i];
        }
        text += '\n';
    }
    return text;
}

} // namespace traz::sim
