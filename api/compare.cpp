// Designs side by side: each one's results, its differences to the first with their bounds,
// and which designs another one beats in both the expected criterion score and the impact ratio.
#include <cmath>
#include <string>

#include "api/internal.hpp"

namespace traz {

namespace {

// a - b, bounded by the sum of the two bounds (NaN when either is missing).
Bounded difference(const Bounded& a, const Bounded& b) {
    if (!a.present() || !b.present()) return {};
    return {a.value - b.value, a.error_bound + b.error_bound};
}

// Whether a is above b by more than the bound of the difference.
bool above(const Bounded& a, const Bounded& b) {
    const Bounded d = difference(a, b);
    return d.present() && d.value > d.error_bound;
}

std::string join(const std::vector<std::string>& items) {
    std::string s;
    for (std::size_t i = 0; i < items.size(); ++i)
        s += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return s;
}

} // namespace

Comparison compare(const std::vector<Design>& designs, const std::vector<std::string>& sources) {
    Comparison c;
    std::vector<std::string> label;
    for (std::size_t i = 0; i < designs.size(); ++i) {
        label.push_back(std::string(1, static_cast<char>('A' + i % 26)));
        Options o;
        if (i < sources.size()) o.source = sources[i];
        c.results.push_back(evaluate(designs[i], o));
    }
    for (const Result& r : c.results) {
        const Result& f = c.results.front();
        Comparison::Quantities q;
        q.expected_criterion_score = difference(r.expected_criterion_score, f.expected_criterion_score);
        q.selection_rate_group1 = difference(r.selection_rate_group1, f.selection_rate_group1);
        q.selection_rate_group2 = difference(r.selection_rate_group2, f.selection_rate_group2);
        q.ai_ratio = difference(r.ai_ratio, f.ai_ratio);
        q.impact_ratio = difference(r.impact_ratio, f.impact_ratio);
        q.sd_average_criterion_score = difference(r.sd_average_criterion_score, f.sd_average_criterion_score);
        c.differences.push_back(q);
    }

    // Dominance among the computed designs, and whether any two differ beyond the bounds in E
    // or in the impact ratio at all.
    const std::size_t n = designs.size();
    c.dominated_by.assign(n, {});
    bool any_difference = false;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < n; ++i) {
        const Result& ri = c.results[i];
        if (!ri.ok()) continue;
        for (std::size_t j = 0; j < n; ++j) {
            const Result& rj = c.results[j];
            if (i == j || !rj.ok()) continue;
            const bool better_E = above(rj.expected_criterion_score, ri.expected_criterion_score);
            const bool better_I = above(rj.impact_ratio, ri.impact_ratio);
            any_difference = any_difference || better_E || better_I;
            if (better_E && better_I) c.dominated_by[i].push_back(static_cast<int>(j));
        }
        if (!c.dominated_by[i].empty()) {
            std::vector<std::string> by;
            for (int j : c.dominated_by[i]) by.push_back(label[static_cast<std::size_t>(j)]);
            lines.push_back(label[i] + " is dominated by " + join(by));
        }
    }
    int computed = 0;
    for (const Result& r : c.results) computed += r.ok() ? 1 : 0;
    if (computed < 2) c.verdict = "fewer than two designs were computed: nothing to compare";
    else if (!lines.empty())
        c.verdict = join(lines) + " (lower expected criterion score and lower impact ratio, beyond the error bounds)";
    else if (any_difference)
        c.verdict = "no design is dominated: each one that is lower in expected criterion score or impact ratio "
                    "beyond the error bounds is higher in the other";
    else
        c.verdict = "the designs' expected criterion scores and impact ratios differ by less than the integration error";
    return c;
}

} // namespace traz
