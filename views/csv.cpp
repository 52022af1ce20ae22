// The CSV view of a run: one row per run, the results with their error bounds.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "views/views.hpp"

namespace traz {

namespace {

const char* const kColumns[] = {
    "deck",
    "outcome",
    "expected_criterion_score",
    "expected_criterion_score_error",
    "selection_rate_group1",
    "selection_rate_group1_error",
    "selection_rate_group2",
    "selection_rate_group2_error",
    "ai_ratio",
    "ai_ratio_error",
    "impact_ratio",
    "impact_ratio_error",
    "sd_average_criterion_score",
    "sd_average_criterion_score_error",
    "proportion_selected",
    "proportion_selected_error",
    "mass",
    "domain",
    "worst_status",
    "cpu_seconds",
    "diagnostic",
};

void add(std::string& line, const std::string& field) {
    if (!line.empty()) line += ',';
    line += field;
}

void add_bounded(std::string& line, const BoundedResult& b) {
    add(line, csv_number(b.value));
    add(line, b.present() ? csv_number(b.error) : "");
}

} // namespace

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string q = "\"";
    for (char c : text) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + '"';
}

std::string csv_number(double x) {
    if (std::isnan(x)) return "";
    if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", x);
    return buf;
}

std::string csv_header(const std::vector<std::string>& extra) {
    std::string line;
    for (const std::string& e : extra) add(line, csv_field(e));
    for (const char* c : kColumns) add(line, c);
    return line + "\n";
}

std::string csv_row(const RunRecord& rec, const std::vector<std::string>& extra) {
    std::string line;
    for (const std::string& e : extra) add(line, csv_field(e));
    add(line, csv_field(rec.source));
    add(line, outcome_name(rec.outcome));
    const Results& r = rec.results;
    for (const BoundedResult* b : {&r.criterion, &r.rate1, &r.rate2, &r.ai, &r.impact, &r.sd, &r.proportion}) add_bounded(line, *b);
    add(line, rec.mass.done ? csv_number(rec.mass.mass) : "");
    add(line, rec.outcome == Outcome::computed ? rec.domain_kind() : "");
    int worst = 0;
    for (const PassRecord& p : rec.passes) worst = std::max(worst, p.status);
    add(line, rec.outcome == Outcome::computed ? std::to_string(worst) : "");
    add(line, csv_number(static_cast<double>(rec.cpu_seconds())));
    std::string why = rec.diagnostic;
    for (const std::string& w : rec.warnings) why += (why.empty() ? "" : "; ") + ("warning: " + w);
    add(line, csv_field(why));
    return line + "\n";
}

} // namespace traz
