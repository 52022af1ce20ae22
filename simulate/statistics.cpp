// What one replication's table of hires by group shows, and the summary of the replications.
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_sf_gamma.h>

#include <algorithm>
#include <cmath>

#include "simulate/record.hpp"
#include "simulate/simulate.hpp"

namespace traz::sim {

namespace {

constexpr double kFisherTolerance = 1e-7;
constexpr double kAlpha = 0.05;

// Estimate of a probability from k successes in n trials.
Estimate proportion(std::int64_t k, std::int64_t n) {
    if (n <= 0) return {};
    const double p = static_cast<double>(k) / static_cast<double>(n);
    return {p, std::sqrt(p * (1.0 - p) / static_cast<double>(n))};
}

// Mean and SE of the mean from sums of weighted values.
struct Moments {
    double n = 0.0, sum = 0.0, sum2 = 0.0;
    void add(double x, double w) { n += w, sum += w * x, sum2 += w * x * x; }
    Estimate mean() const {
        if (n < 1.0) return {};
        const double m = sum / n, var = n > 1.0 ? std::max(0.0, (sum2 - n * m * m) / (n - 1.0)) : NAN;
        return {m, std::sqrt(var / n)};
    }
};

// Quantile p of values carrying counts, sorted by value: as quantile_sorted on the values
// repeated by their counts.
double quantile_counted(const std::vector<std::pair<double, std::int64_t>>& v, std::int64_t total, double p) {
    if (total == 0) return NAN;
    const double h = static_cast<double>(total - 1) * p;
    const auto j = static_cast<std::int64_t>(std::floor(h));
    auto at = [&](std::int64_t pos) {
        std::int64_t seen = 0;
        for (const auto& [x, n] : v)
            if ((seen += n) > pos) return x;
        return v.back().first;
    };
    const double lo = at(j), hi = j + 1 < total ? at(j + 1) : lo;
    return lo + (h - static_cast<double>(j)) * (hi - lo);
}

} // namespace

double quantile_sorted(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return NAN;
    const double h = static_cast<double>(sorted.size() - 1) * p;
    const auto j = static_cast<std::size_t>(std::floor(h));
    const double hi = j + 1 < sorted.size() ? sorted[j + 1] : sorted[j];
    return sorted[j] + (h - static_cast<double>(j)) * (hi - sorted[j]);
}

double fisher_p(int total, int hires, int t, int x) {
    // X is hypergeometric: k of the `hires` fall among the t group-1 applicants. Its
    // probabilities relative to the mode's fall away on both sides; they are walked from the
    // mode with the ratio of neighbours, P(k+1)/P(k) = (hires-k)(t-k) / ((k+1)(total-hires-t+k+1)),
    // until they vanish next to the mode's.
    auto log_p = [&](int k) {
        return gsl_sf_lnchoose(static_cast<unsigned>(hires), static_cast<unsigned>(k)) +
               gsl_sf_lnchoose(static_cast<unsigned>(total - hires), static_cast<unsigned>(t - k));
    };
    const double rest = total - hires - t;
    const int lo = std::max(0, t - (total - hires)), hi = std::min(t, hires);
    const int mode = std::clamp(static_cast<int>(std::floor((t + 1.0) * (hires + 1.0) / (total + 2.0))), lo, hi);
    const double limit = std::exp(log_p(x) - log_p(mode)) * (1.0 + kFisherTolerance);
    constexpr double kVanishing = 1e-300;
    double all = 1.0, below = 1.0 <= limit ? 1.0 : 0.0;
    double rel = 1.0;
    for (int k = mode; k > lo && rel > kVanishing; --k) {
        rel *= k * (rest + k) / ((hires - k + 1.0) * (t - k + 1.0));
        all += rel;
        if (rel <= limit) below += rel;
    }
    rel = 1.0;
    for (int k = mode; k < hi && rel > kVanishing; ++k) {
        rel *= (hires - k) * static_cast<double>(t - k) / ((k + 1.0) * (rest + k + 1.0));
        all += rel;
        if (rel <= limit) below += rel;
    }
    return std::min(below / all, 1.0);
}

TableOutcome table_outcome(const int n[2], const int h[2]) {
    TableOutcome t;
    for (int g = 0; g < 2; ++g) {
        t.no_hire[g] = n[g] > 0 && h[g] == 0;
        if (n[g] > 0) t.rate[g] = static_cast<double>(h[g]) / n[g];
    }
    t.defined = n[0] > 0 && n[1] > 0;
    if (!t.defined) return t;
    // Rates compared and the four-fifths rule decided in integers: h0/n0 against h1/n1.
    const std::int64_t a = static_cast<std::int64_t>(h[0]) * n[1], b = static_cast<std::int64_t>(h[1]) * n[0];
    const int low = a <= b ? 0 : 1, high = 1 - low;
    // A table without hires (never drawn: every stage keeps someone) has no ratio.
    t.impact_ratio = t.rate[high] > 0.0 ? t.rate[low] / t.rate[high] : NAN;
    t.four_fifths = 5 * std::min(a, b) < 4 * std::max(a, b);
    if (h[0] > 0) t.ai_ratio = t.rate[1] / t.rate[0];
    const int total = n[0] + n[1], hires = h[0] + h[1];
    t.p_fisher = fisher_p(total, hires, n[0], h[0]);
    const double pooled = static_cast<double>(hires) / total;
    const double var = pooled * (1.0 - pooled) * (1.0 / n[0] + 1.0 / n[1]);
    t.z_defined = var > 0.0;
    if (t.z_defined) t.p_z = 2.0 * gsl_cdf_ugaussian_Q(std::fabs(t.rate[0] - t.rate[1]) / std::sqrt(var));
    return t;
}

Summary summarise(const Model& m, Sample s) {
    Summary out;
    const std::int64_t R = static_cast<std::int64_t>(s.mean_criterion.size());
    out.replications = R;
    if (R == 0) return out;

    // The mean criterion score: mean, SD across replications and their SEs, summed in
    // replication order.
    double sum = 0.0;
    for (double x : s.mean_criterion) sum += x;
    const double mean = sum / static_cast<double>(R);
    double m2 = 0.0, m4 = 0.0;
    for (double x : s.mean_criterion) {
        const double d2 = (x - mean) * (x - mean);
        m2 += d2, m4 += d2 * d2;
    }
    m2 /= static_cast<double>(R), m4 /= static_cast<double>(R);
    const double var = R > 1 ? m2 * static_cast<double>(R) / static_cast<double>(R - 1) : NAN;
    out.criterion = {mean, std::sqrt(var / static_cast<double>(R))};
    // SE of the SD from Var(s^2) ~ (m4 - m2^2)/R.
    out.sd.value = std::sqrt(var);
    out.sd.se = std::sqrt(std::max(0.0, m4 - m2 * m2) / static_cast<double>(R)) / (2.0 * out.sd.value);
    std::vector<double>& sorted = s.mean_criterion;
    std::sort(sorted.begin(), sorted.end());
    for (int q = 0; q < 3; ++q) out.criterion_q[q] = quantile_sorted(sorted, kQuantiles[q]);

    // The tables: each distinct one is judged once and counted as often as it occurred.
    const int K = m.hires();
    Moments hires1, impact;
    std::int64_t four_fifths = 0, fisher = 0, z = 0, both = 0, no_hire[2] = {};
    std::vector<std::pair<double, std::int64_t>> ratios;
    for (const auto& [key, count] : s.tables) {
        const int n[2] = {key.first, m.napp - key.first}, h[2] = {key.second, K - key.second};
        const double c = static_cast<double>(count);
        hires1.add(h[0], c);
        const TableOutcome t = table_outcome(n, h);
        if (!t.defined) {
            out.undefined += count;
            continue;
        }
        impact.add(t.impact_ratio, c);
        ratios.emplace_back(t.impact_ratio, count);
        const bool fisher_flag = t.p_fisher < kAlpha;
        four_fifths += t.four_fifths ? count : 0;
        fisher += fisher_flag ? count : 0;
        both += t.four_fifths && fisher_flag ? count : 0;
        if (t.z_defined) z += t.p_z < kAlpha ? count : 0;
        else out.z_undefined += count;
        for (int g = 0; g < 2; ++g) no_hire[g] += t.no_hire[g] ? count : 0;
    }
    const std::int64_t defined = R - out.undefined;
    out.p_four_fifths = proportion(four_fifths, defined);
    out.p_fisher = proportion(fisher, defined);
    out.p_both = proportion(both, defined);
    out.p_z = proportion(z, defined - out.z_undefined);
    for (int g = 0; g < 2; ++g) out.p_no_hire[g] = proportion(no_hire[g], defined);
    out.share_undefined = proportion(out.undefined, R);
    out.impact_ratio = impact.mean();
    std::sort(ratios.begin(), ratios.end());
    for (int q = 0; q < 3; ++q) out.impact_q[q] = quantile_counted(ratios, defined, kQuantiles[q]);

    // Selection rates: expected hires over expected applicants, the chance that an applicant
    // of the group is hired. Group 2's hires are K minus group 1's.
    const Estimate h1 = hires1.mean();
    const double expected[2] = {m.napp * m.pg1, m.napp * (1.0 - m.pg1)};
    const double mean_hires[2] = {h1.value, K - h1.value};
    for (int g = 0; g < 2; ++g)
        if (expected[g] > 0.0) out.rate[g] = {mean_hires[g] / expected[g], h1.se / expected[g]};
    // AI ratio of the expected rates; with H2 = K - H1, d(ratio)/dH1 = -(pg1/pg2) K / H1^2.
    if (expected[1] > 0.0 && mean_hires[0] > 0.0) {
        const double ratio = out.rate[1].value / out.rate[0].value;
        const double slope = (m.pg1 / (1.0 - m.pg1)) * K / (mean_hires[0] * mean_hires[0]);
        out.ai_ratio = {ratio, slope * h1.se};
    }
    return out;
}

std::vector<CheckRow> compare(const Summary& s, const Analytic& a) {
    const std::pair<const char*, std::pair<double, const Estimate*>> rows[] = {
        {"expected_criterion_score", {a.criterion, &s.criterion}},
        {"selection_rate_group1", {a.rate1, &s.rate[0]}},
        {"selection_rate_group2", {a.rate2, &s.rate[1]}},
        {"ai_ratio", {a.ai_ratio, &s.ai_ratio}},
        {"sd_average_criterion_score", {a.sd, &s.sd}}};
    std::vector<CheckRow> out;
    for (const auto& [name, values] : rows) {
        CheckRow c{name, values.first, values.second->value, values.second->se, NAN};
        if (std::isfinite(c.analytic) && std::isfinite(c.simulated) && c.se > 0.0) c.z = (c.simulated - c.analytic) / c.se;
        out.push_back(c);
    }
    return out;
}

} // namespace traz::sim
