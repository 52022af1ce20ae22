// Design sweeps: the grid of points, the worker threads that run them, the progress bar,
// the CSV/JSON rows and the plot.
#include "cli/sweep.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "cli/io.hpp"
#include "deck/sweep_range.hpp"
#include "traz/traz.hpp"
#include "evaluate/evaluate.hpp"
#include "cli/plot_loader.hpp"
#include "views/views.hpp"

namespace traz {

namespace {

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PlotPoint plot_point(const Result& r, const std::vector<double>& v) {
    PlotPoint p;
    p.v1 = v[0];
    p.v2 = v.size() > 1 ? v[1] : NAN;
    p.computed = r.ok();
    p.E = r.expected_criterion_score.value, p.E_err = r.expected_criterion_score.error_bound;
    p.R1 = r.selection_rate_group1.value, p.R1_err = r.selection_rate_group1.error_bound;
    p.R2 = r.selection_rate_group2.value, p.R2_err = r.selection_rate_group2.error_bound;
    p.AI = r.ai_ratio.value, p.AI_err = r.ai_ratio.error_bound;
    p.SD = r.sd_average_criterion_score.value, p.SD_err = r.sd_average_criterion_score.error_bound;
    return p;
}

// The text for the plot's title: "two-stage.deck: mix(2) from 0 to 1".
std::string what_varies(const SweepRange& r) {
    if (r.values.empty()) return r.name;
    return r.name + " from " + format_value(r, r.values.front()) + " to " + format_value(r, r.values.back());
}

class ProgressBar {
public:
    explicit ProgressBar(bool shown) : shown_(shown), start_(clock::now()) {}
    void show(int done, int total) {
        if (!shown_) return;
        const double elapsed = std::chrono::duration<double>(clock::now() - start_).count();
        constexpr int width = 30;
        const int filled = total > 0 ? done * width / total : width;
        std::string bar(static_cast<std::size_t>(filled), '=');
        if (filled < width) bar += '>' + std::string(static_cast<std::size_t>(width - filled - 1), ' ');
        std::string left = "--:--";
        if (done > 0) left = clock_text(elapsed / done * (total - done));
        std::fprintf(stderr, "\r  %d/%d points [%s] %s elapsed, ~%s left ", done, total, bar.c_str(),
                     clock_text(elapsed).c_str(), left.c_str());
        std::fflush(stderr);
    }
    void finish() {
        if (shown_) std::fprintf(stderr, "\n");
    }

private:
    using clock = std::chrono::steady_clock;
    static std::string clock_text(double seconds) {
        const long s = std::lround(seconds);
        char buf[32];
        if (s >= 3600) std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
        else std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
        return buf;
    }
    bool shown_;
    clock::time_point start_;
};

// The row of one point: CSV with the point number and the varied values first, or a JSON
// object with them.
std::string point_row(const SweepPoint& p, const std::vector<SweepRange>& ranges, const std::string& format) {
    const RunRecord& rec = *p.result.record;
    if (format == "json") {
        nlohmann::ordered_json obj = {{"point", p.point}};
        nlohmann::ordered_json varied = nlohmann::ordered_json::object();
        for (std::size_t j = 0; j < ranges.size(); ++j) varied[ranges[j].name] = p.values[j];
        obj["varied"] = varied;
        obj.update(to_json(rec));
        return obj.dump(2);
    }
    std::vector<std::string> values{std::to_string(p.point)};
    for (std::size_t j = 0; j < ranges.size(); ++j) values.push_back(format_value(ranges[j], p.values[j]));
    return csv_row(rec, values);
}

bool write_plot(const std::string& path, const std::string& base, const std::vector<SweepRange>& ranges,
                const std::vector<PlotPoint>& points) {
    PlotText text;
    text.vary1 = ranges[0].name;
    text.label1 = describe(ranges[0]);
    text.title = base_name(base) + ": " + what_varies(ranges[0]);
    if (ranges.size() > 1) {
        text.vary2 = ranges[1].name;
        text.label2 = describe(ranges[1]);
        text.title += ", " + what_varies(ranges[1]);
    }
    std::string error;
    if (!draw_plot(path, text, points, error)) {
        std::fprintf(stderr, "traz: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

} // namespace

bool parse_shard(const std::string& text, int& index, int& count, std::string& error) {
    int i = 0, n = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%d/%d%c", &i, &n, &extra) != 2 || n < 1 || i < 1 || i > n) {
        error = "--shard " + text + ": expected I/N with 1 <= I <= N";
        return false;
    }
    index = i;
    count = n;
    return true;
}

int run_sweep(const SweepOptions& o) {
    std::string text, why;
    if (!read_input(o.base, text, why)) {
        std::fprintf(stderr, "traz: %s: cannot read: %s\n", o.base.c_str(), why.c_str());
        return kRunBadDeck;
    }
    SweepSpec spec;
    Design base;
    try {
        base = Design::from_deck(text);
    } catch (const Error& e) {
        std::fprintf(stderr, "traz: %s: %s\n", o.base.c_str(), e.what());
        return kRunBadDeck;
    }
    if (o.fitted) base.integration = Integration::fitted;
    spec.vary = o.vary;
    if (!o.mix_to.empty() && !parse_weights(o.mix_to, spec.mix_to, why)) {
        std::fprintf(stderr, "traz: sweep: --mix-to %s\n", why.c_str());
        return kRunBadDeck;
    }
    spec.jobs = o.jobs;
    spec.shard_index = o.shard_index;
    spec.shard_count = o.shard_count;
    spec.source = o.base;
    spec.fitted_level = o.fitted_level;
    try {
        sweep_names(base, spec);  // refuses a bad range before any point
    } catch (const Error& e) {
        std::fprintf(stderr, "traz: %s\n", e.what());
        return kRunBadDeck;
    }
    std::vector<SweepRange> ranges(spec.vary.size());
    for (std::size_t j = 0; j < ranges.size(); ++j) parse_range(spec.vary[j], ranges[j], why);

    std::FILE* out = open_output(o.output);
    if (out == nullptr) return kRunWriteError;
    ProgressBar bar(o.progress && isatty(STDERR_FILENO));
    spec.progress = [&](int done, int total) { bar.show(done, total); };

    // Rows in point order, each written as soon as it and the points before it are done.
    if (o.format == "json") {
        std::fputs("[\n", out);
    } else {
        std::vector<std::string> names{"point"};
        for (const SweepRange& r : ranges) names.push_back(r.name);
        std::fputs(csv_header(names).c_str(), out);
    }
    int worst = kRunOk, refused = 0, warned = 0, written = 0;
    std::vector<PlotPoint> plot_points;
    const auto each = [&](const SweepPoint& p) {
        const std::string row = point_row(p, ranges, o.format);
        if (o.format == "json") std::fputs(written > 0 ? ",\n" : "", out);
        std::fputs(row.c_str(), out);
        ++written;
        if (!p.result.library_messages.empty()) {
            std::fprintf(stderr, "traz: sweep point %d: library messages:\n", p.point);
            std::fputs(p.result.library_messages.c_str(), stderr);
        }
        const int status = exit_status(*p.result.record);
        worst = std::max(worst, status);
        refused += status == kRunBadDeck ? 1 : 0;
        warned += p.result.warnings.empty() ? 0 : 1;
        plot_points.push_back(plot_point(p.result, p.values));
    };
    const std::vector<SweepPoint> points = sweep(base, spec, each);
    bar.finish();
    if (o.format == "json") std::fputs(written > 0 ? "\n]\n" : "]\n", out);
    if (refused > 0)
        std::fprintf(stderr, "traz: sweep: %d of %zu points refused by the deck checks (their rows give the reason)\n",
                     refused, points.size());
    if (warned > 0)
        std::fprintf(stderr, "traz: sweep: %d of %zu points have warnings (their rows give them)\n", warned,
                     points.size());
    // A fitted sweep says which level of the rule every point used (rerun a point's deck with
    // --fitted --fitted-level N for its numbers).
    for (const SweepPoint& p : points)
        if (p.result.rule_level_settled) {
            std::fprintf(stderr, "traz: sweep: every point used the fitted rule at level %d\n", p.result.rule_level);
            break;
        }

    if (close_output(out, o.output) != kRunOk) return kRunWriteError;
    if (!o.plot.empty() && !write_plot(o.plot, o.base, ranges, plot_points)) return kRunWriteError;
    return worst;
}

namespace {

// Splits one CSV record (RFC 4180 quoting) into fields.
std::vector<std::string> csv_fields(const std::string& line) {
    std::vector<std::string> f(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') f.back() += '"', ++i;
            else if (c == '"') quoted = false;
            else f.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            f.emplace_back();
        } else if (c != '\r') {
            f.back() += c;
        }
    }
    return f;
}

double number_or_nan(const std::string& s) {
    if (s.empty()) return NAN;
    char* end = nullptr;
    const double x = std::strtod(s.c_str(), &end);
    return end != nullptr && *end == '\0' ? x : NAN;
}

} // namespace

int plot_csv(const std::string& csv_path, const std::string& plot_path) {
    std::string text, why;
    if (!read_input(csv_path, text, why)) {
        std::fprintf(stderr, "traz: %s: cannot read: %s\n", csv_path.c_str(), why.c_str());
        return kRunBadDeck;
    }
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> header;
    std::map<int, std::vector<std::string>> rows;  // by point: shards sort back into the grid
    int line_no = 0;
    while (std::getline(in, line)) {
        ++line_no;
        if (line.empty() || line == "\r") continue;
        std::vector<std::string> f = csv_fields(line);
        if (f[0] == "point") {
            if (!header.empty() && f != header) {
                std::fprintf(stderr, "traz: %s: line %d: a header of another sweep\n", csv_path.c_str(), line_no);
                return kRunBadDeck;
            }
            header = f;
            continue;
        }
        if (header.empty() || f.size() != header.size()) {
            std::fprintf(stderr, "traz: %s: line %d: not a row of a sweep CSV\n", csv_path.c_str(), line_no);
            return kRunBadDeck;
        }
        rows[std::atoi(f[0].c_str())] = std::move(f);
    }
    const auto column = [&](const std::string& name) {
        const auto it = std::find(header.begin(), header.end(), name);
        return it == header.end() ? -1 : static_cast<int>(it - header.begin());
    };
    const int deck_col = column("deck");
    if (header.empty() || deck_col < 2 || deck_col > 3 || rows.empty()) {
        std::fprintf(stderr, "traz: %s: not a sweep CSV (traz sweep ... --format csv)\n", csv_path.c_str());
        return kRunBadDeck;
    }
    std::vector<SweepRange> ranges(static_cast<std::size_t>(deck_col - 1));
    for (int j = 0; j + 1 < deck_col; ++j) {
        // The column name is the range's name: parse it with its values to learn the quantity.
        std::string values;
        for (const auto& [index, f] : rows) values += (values.empty() ? "" : ",") + f[static_cast<std::size_t>(j + 1)];
        if (!parse_range(header[static_cast<std::size_t>(j + 1)] + "=" + values, ranges[static_cast<std::size_t>(j)], why))
            ranges[static_cast<std::size_t>(j)].name = header[static_cast<std::size_t>(j + 1)];
        // Keep the distinct values in grid order for the title.
        std::vector<double>& v = ranges[static_cast<std::size_t>(j)].values;
        std::vector<double> distinct;
        for (double x : v)
            if (std::find(distinct.begin(), distinct.end(), x) == distinct.end()) distinct.push_back(x);
        v = distinct;
    }
    std::vector<PlotPoint> points;
    for (const auto& [index, f] : rows) {
        PlotPoint p;
        p.v1 = number_or_nan(f[1]);
        p.v2 = deck_col == 3 ? number_or_nan(f[2]) : NAN;
        const auto at = [&](const char* name) {
            const int c = column(name);
            return c < 0 ? NAN : number_or_nan(f[static_cast<std::size_t>(c)]);
        };
        const int outcome = column("outcome");
        p.computed = outcome >= 0 && f[static_cast<std::size_t>(outcome)] == "computed";
        p.E = at("expected_criterion_score"), p.E_err = at("expected_criterion_score_error");
        p.R1 = at("selection_rate_group1"), p.R1_err = at("selection_rate_group1_error");
        p.R2 = at("selection_rate_group2"), p.R2_err = at("selection_rate_group2_error");
        p.AI = at("ai_ratio"), p.AI_err = at("ai_ratio_error");
        p.SD = at("sd_average_criterion_score"), p.SD_err = at("sd_average_criterion_score_error");
        points.push_back(p);
    }
    const std::string base = rows.begin()->second[static_cast<std::size_t>(deck_col)];
    return write_plot(plot_path, base, ranges, points) ? kRunOk : kRunWriteError;
}

} // namespace traz
