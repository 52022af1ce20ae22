// Design sweeps: the grid of points, the worker threads that run them, the progress bar,
// the CSV/JSON rows and the plot.
#include "cli/sweep.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string_view>

#include "cli/io.hpp"
#include "cli/progress.hpp"
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
    p.IR = r.impact_ratio.value, p.IR_err = r.impact_ratio.error_bound;
    p.SD = r.sd_average_criterion_score.value, p.SD_err = r.sd_average_criterion_score.error_bound;
    return p;
}

// FNV-1a, 64 bits: tells one sweep's grid from another's (not a cryptographic hash).
std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string shortest(double v) {
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, ec == std::errc{} ? end : buf);
}

// The grid a sweep's rows belong to, written in each CSV row: a hash of the base deck (as
// deck text), the varied quantities with every value, the --mix-to weights and the
// integration, then the number of points and the ranges as given, e.g.
// "5f1c0a93d2b7e864 33 points: mix(2)=0:1:0.5 ns(2)=5,10,30".
std::string grid_text(const Design& base, const std::vector<SweepRange>& ranges, const SweepRequest& request) {
    std::string id = base.to_deck();
    long points = 1;
    for (const SweepRange& r : ranges) {
        id += "\n" + r.name + "=";
        for (double v : r.values) id += shortest(v) + ",";
        points *= static_cast<long>(r.values.size());
    }
    id += "\nmix-to=";
    for (double w : request.mix_to) id += shortest(w) + ",";
    id += base.integration == Integration::fitted ? "\nfitted" : base.integration == Integration::cube ? "\ncube" : "";
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(id)));
    std::string text = std::string(hash) + " " + std::to_string(points) + " points:";
    for (const std::string& v : request.vary) text += " " + v;
    return text;
}

// The text for the plot's title: "two-stage.deck: mix(2) from 0 to 1".
std::string what_varies(const SweepRange& r) {
    if (r.values.empty()) return r.name;
    return r.name + " from " + format_value(r, r.values.front()) + " to " + format_value(r, r.values.back());
}

// The row of one point: CSV with the point number and the varied values first, or a JSON
// object with them.
std::string point_row(const SweepPoint& p, const std::vector<SweepRange>& ranges, const std::string& format,
                      const std::string& grid) {
    const RunRecord& rec = *p.result.record;
    if (format == "json") {
        nlohmann::ordered_json obj = {{"point", p.point}};
        nlohmann::ordered_json varied = nlohmann::ordered_json::object();
        for (std::size_t j = 0; j < ranges.size(); ++j) varied[ranges[j].name] = p.values[j];
        obj["varied"] = varied;
        obj["grid"] = grid;
        obj.update(to_json(rec));
        return obj.dump(2);
    }
    std::vector<std::string> values{std::to_string(p.point)};
    for (std::size_t j = 0; j < ranges.size(); ++j) values.push_back(format_value(ranges[j], p.values[j]));
    std::string row = csv_row(rec, values);
    row.pop_back();  // the line end
    return row + "," + csv_field(grid) + "\n";
}

// Draws the plot into a temporary file beside `path` and puts it in place when complete.
// Returns the exit status: 1 for points a plot cannot show, 3 when it was not written.
int write_plot(const std::string& path, const std::string& base, const std::vector<SweepRange>& ranges,
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
    bool input_fault = false;
    const auto draw = [&](const std::string& temp, std::string& why) {
        return draw_plot(temp, text, points, why, &input_fault);
    };
    if (draw_in_place(path, draw, error)) return kRunOk;
    if (!error.empty()) std::fprintf(stderr, "traz: %s\n", error.c_str());
    return input_fault ? kRunBadDeck : kRunWriteError;
}

// "points 3, 7 and 12", or the first ten of them and how many more.
std::string list_points(const std::vector<long>& missing) {
    std::string text = missing.size() == 1 ? "point " : "points ";
    const std::size_t shown = std::min<std::size_t>(missing.size(), 10);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) text += i + 1 == missing.size() ? " and " : ", ";
        text += std::to_string(missing[i]);
    }
    if (missing.size() > shown) text += " and " + std::to_string(missing.size() - shown) + " more";
    return text;
}

// Whole number of a CSV field within [1, max], or 0.
long field_count(const std::string& s, long max) {
    long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc{} && end == s.data() + s.size() && v >= 1 && v <= max ? v : 0;
}

} // namespace

bool parse_shard(const std::string& text, int& index, int& count, std::string& error) {
    error = "--shard " + text + ": expected I/N with 1 <= I <= N <= " + std::to_string(kMaxSweepPoints);
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    const long i = field_count(text.substr(0, slash), kMaxSweepPoints);
    const long n = field_count(text.substr(slash + 1), kMaxSweepPoints);
    if (i == 0 || n == 0 || i > n) return false;
    index = static_cast<int>(i);
    count = static_cast<int>(n);
    error.clear();
    return true;
}

int run_sweep(const SweepOptions& o) {
    // An output that is an input, or two outputs in one file, would lose one of them.
    const std::pair<const std::string*, const std::string*> pairs[] = {
        {&o.output, &o.base}, {&o.plot, &o.base}, {&o.output, &o.plot}};
    for (const auto& [a, b] : pairs)
        if (same_file(*a, *b)) {
            std::fprintf(stderr, "traz: sweep: %s is both %s and %s: give them different files\n", a->c_str(),
                         a == &o.output ? "the output (-o)" : "the plot (--plot)",
                         b == &o.base ? "the base deck" : "the plot (--plot)");
            return kRunBadDeck;
        }
    std::string text, why;
    if (!o.plot.empty() && !plot_format_known(o.plot, why)) {
        std::fprintf(stderr, "traz: sweep: %s\n", why.c_str());
        return kRunBadDeck;
    }
    if (!read_input(o.base, text, why)) {
        std::fprintf(stderr, "traz: %s: cannot read: %s\n", o.base.c_str(), why.c_str());
        return kRunBadDeck;
    }
    SweepRequest request;
    Design base;
    try {
        base = Design::from_deck(text);
    } catch (const Error& e) {
        std::fprintf(stderr, "traz: %s: %s\n", o.base.c_str(), e.what());
        return kRunBadDeck;
    }
    base.integration = integration_named(o.fitted ? "fitted" : o.domain);
    request.vary = o.vary;
    if (!o.mix_to.empty() && !parse_weights(o.mix_to, request.mix_to, why)) {
        std::fprintf(stderr, "traz: sweep: --mix-to %s\n", why.c_str());
        return kRunBadDeck;
    }
    request.jobs = o.jobs;
    request.shard_index = o.shard_index;
    request.shard_count = o.shard_count;
    request.source = o.base;
    request.keep_results = false;
    request.cancel = [] { return interrupted() != 0; };
    request.fitted_level = o.fitted_level;
    try {
        sweep_names(base, request);  // refuses a bad range before any point
    } catch (const Error& e) {
        std::fprintf(stderr, "traz: %s\n", e.what());
        return kRunBadDeck;
    }
    std::vector<SweepRange> ranges(request.vary.size());
    for (std::size_t j = 0; j < ranges.size(); ++j) parse_range(request.vary[j], ranges[j], why);
    const std::string grid = grid_text(base, ranges, request);
    long total = 1;
    for (const SweepRange& r : ranges) total *= static_cast<long>(r.values.size());
    const long in_shard = (total - o.shard_index) / o.shard_count + (total >= o.shard_index ? 1 : 0);

    Output out;
    if (!open_output(o.output, out)) return kRunWriteError;
    ProgressBar bar(o.progress && isatty(STDERR_FILENO), "points");
    request.progress = [&](int done, int all) { bar.show(done, all); };

    // Rows in point order, each written as soon as it and the points before it are done.
    if (o.format == "json") {
        std::fputs("[\n", out.file);
    } else {
        std::vector<std::string> names{"point"};
        for (const SweepRange& r : ranges) names.push_back(r.name);
        std::string header = csv_header(names);
        header.pop_back();
        std::fputs((header + ",grid\n").c_str(), out.file);
    }
    int worst = kRunOk, refused = 0, failed = 0, warned = 0, written = 0;
    std::vector<PlotPoint> plot_points;
    const auto each = [&](const SweepPoint& p) {
        const std::string row = point_row(p, ranges, o.format, grid);
        if (o.format == "json") std::fputs(written > 0 ? ",\n" : "", out.file);
        std::fputs(row.c_str(), out.file);
        std::fflush(out.file);
        ++written;
        if (!p.result.library_messages.empty()) {
            std::fprintf(stderr, "traz: sweep point %d: library messages:\n", p.point);
            std::fputs(p.result.library_messages.c_str(), stderr);
        }
        const int status = exit_status(*p.result.record);
        worst = std::max(worst, status);
        refused += status == kRunBadDeck ? 1 : 0;
        failed += status == kRunFatal ? 1 : 0;
        warned += p.result.warnings.empty() ? 0 : 1;
        if (!o.plot.empty()) plot_points.push_back(plot_point(p.result, p.values));
    };
    const std::vector<SweepPoint> points = sweep(base, request, each);
    bar.finish();
    if (o.format == "json") std::fputs(written > 0 ? "\n]\n" : "]\n", out.file);

    if (const int sig = interrupted(); sig != 0 && static_cast<long>(points.size()) < in_shard) {
        // What was done is kept under a name that says it is not the whole sweep.
        const std::string partial = o.output + ".partial";
        const bool to_file = !out.temp.empty();
        const bool kept = close_output_as(out, partial);
        std::fprintf(stderr, "traz: sweep: interrupted (%s) after %zu of %ld points", sig == SIGINT ? "SIGINT" : "SIGTERM",
                     points.size(), in_shard);
        if (to_file && kept) std::fprintf(stderr, "; their rows are in %s, %s is left as it was", partial.c_str(), o.output.c_str());
        std::fprintf(stderr, "\n");
        return 128 + sig;
    }
    if (refused > 0)
        std::fprintf(stderr, "traz: sweep: %d of %zu points refused (their rows give the reason)\n", refused,
                     points.size());
    if (failed > 0)
        std::fprintf(stderr, "traz: sweep: %d of %zu points failed: a library error or too little memory (their "
                     "rows give the reason)\n", failed, points.size());
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

    if (close_output(out) != kRunOk) return kRunWriteError;
    if (const int sig = interrupted(); sig != 0) return 128 + sig;
    if (!o.plot.empty()) {
        const int plotted = write_plot(o.plot, o.base, ranges, plot_points);
        if (plotted != kRunOk) return std::max(plotted, worst);
    }
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
    if (same_file(csv_path, plot_path)) {
        std::fprintf(stderr, "traz: plot: %s is both the sweep's CSV and the plot: give the plot another file\n",
                     csv_path.c_str());
        return kRunBadDeck;
    }
    if (!plot_format_known(plot_path, why)) {
        std::fprintf(stderr, "traz: plot: %s\n", why.c_str());
        return kRunBadDeck;
    }
    if (!read_input(csv_path, text, why)) {
        std::fprintf(stderr, "traz: %s: cannot read: %s\n", csv_path.c_str(), why.c_str());
        return kRunBadDeck;
    }
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> header;
    std::map<long, std::vector<std::string>> rows;  // by point: shards sort back into the grid
    int line_no = 0, grid_col = -1, grid_line = 0;
    std::string grid;
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
            const auto g = std::find(header.begin(), header.end(), "grid");
            grid_col = g == header.end() ? -1 : static_cast<int>(g - header.begin());
            continue;
        }
        const long point = field_count(f[0], kMaxSweepPoints);
        if (header.empty() || f.size() != header.size() || point == 0) {
            std::fprintf(stderr, "traz: %s: line %d: not a row of a sweep CSV\n", csv_path.c_str(), line_no);
            return kRunBadDeck;
        }
        if (grid_col >= 0) {
            const std::string& g = f[static_cast<std::size_t>(grid_col)];
            if (grid_line == 0) grid = g, grid_line = line_no;
            if (g != grid) {
                std::fprintf(stderr, "traz: %s: line %d belongs to another sweep than line %d (grid \"%s\", not \"%s\"): "
                             "merge the shards of one sweep only\n", csv_path.c_str(), line_no, grid_line, g.c_str(),
                             grid.c_str());
                return kRunBadDeck;
            }
        }
        rows[point] = std::move(f);
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
    // The grid says how many points the sweep has: name those missing (a shard not merged).
    if (!grid.empty()) {
        const std::size_t blank = grid.find(' ');
        const long total = blank == std::string::npos ? 0 : std::atol(grid.c_str() + blank + 1);
        std::vector<long> missing;
        for (long p = 1; p <= total && p <= kMaxSweepPoints; ++p)
            if (rows.count(p) == 0) missing.push_back(p);
        if (!missing.empty())
            std::fprintf(stderr, "traz: %s: warning: %s of the sweep's %ld %s missing (a shard not merged?)\n",
                         csv_path.c_str(), list_points(missing).c_str(), total, missing.size() == 1 ? "is" : "are");
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
        p.IR = at("impact_ratio"), p.IR_err = at("impact_ratio_error");
        if (column("impact_ratio") < 0 && p.R1 >= 0.0 && p.R2 >= 0.0 && std::fmax(p.R1, p.R2) > 0.0) {
            // A CSV of an earlier version: the impact ratio from the rates, without a bound.
            p.IR = std::fmin(p.R1, p.R2) / std::fmax(p.R1, p.R2);
            p.IR_err = NAN;
        }
        p.SD = at("sd_average_criterion_score"), p.SD_err = at("sd_average_criterion_score_error");
        points.push_back(p);
    }
    const std::string base = rows.begin()->second[static_cast<std::size_t>(deck_col)];
    return write_plot(plot_path, base, ranges, points);
}

} // namespace traz
