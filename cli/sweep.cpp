// Design sweeps: the grid of points, the worker threads that run them, the progress bar,
// the CSV/JSON rows and the plot.
#include "cli/sweep.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "cli/io.hpp"
#include "evaluate/evaluate.hpp"
#include "views/report.hpp"
#include "model/messages.hpp"
#include "views/plot.hpp"
#include "views/views.hpp"

namespace traz {

namespace {

// CPU time of the calling thread: a point's seconds, whatever the other threads do.
float thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<float>(ts.tv_sec) + static_cast<float>(ts.tv_nsec) * 1.0e-9f;
}

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One point of the grid: its 1-based index, its values, and what its run gave.
struct Point {
    int index = 0;
    double v[2] = {0.0, NAN};
    std::string row;          // CSV row or JSON text
    std::string messages;     // library messages of the run
    std::string diagnostic;   // refusal reason
    std::vector<std::string> warnings;
    PlotPoint plot;
    int status = 0;
};

PlotPoint plot_point(const RunRecord& rec, double v1, double v2) {
    PlotPoint p;
    p.v1 = v1;
    p.v2 = v2;
    p.computed = rec.outcome == Outcome::computed;
    const Results& r = rec.results;
    p.E = r.criterion.value, p.E_err = r.criterion.error;
    p.R1 = r.rate1.value, p.R1_err = r.rate1.error;
    p.R2 = r.rate2.value, p.R2_err = r.rate2.error;
    p.AI = r.ai.value, p.AI_err = r.ai.error;
    p.SD = r.sd.value, p.SD_err = r.sd.error;
    return p;
}

// The text for the plot's title: "two-stage.deck: mix(2) from 0 to 1".
std::string what_varies(const SweepRange& r) {
    if (r.values.empty()) return r.name;
    return r.name + " from " + format_value(r, r.values.front()) + " to " + format_value(r, r.values.back());
}

class ProgressBar {
public:
    explicit ProgressBar(bool shown, int total) : shown_(shown), total_(total), start_(clock::now()) {}
    void show(int done) {
        if (!shown_) return;
        const double elapsed = std::chrono::duration<double>(clock::now() - start_).count();
        constexpr int width = 30;
        const int filled = total_ > 0 ? done * width / total_ : width;
        std::string bar(static_cast<std::size_t>(filled), '=');
        if (filled < width) bar += '>' + std::string(static_cast<std::size_t>(width - filled - 1), ' ');
        std::string left = "--:--";
        if (done > 0) left = clock_text(elapsed / done * (total_ - done));
        std::fprintf(stderr, "\r  %d/%d points [%s] %s elapsed, ~%s left ", done, total_, bar.c_str(),
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
    int total_;
    clock::time_point start_;
};

// Runs one point on the calling thread and keeps what its output needs.
void run_point(Point& pt, const Deck& base, const std::vector<SweepRange>& ranges, const std::vector<double>& mix_to,
               const SweepOptions& o) {
    auto deck = std::make_unique<Deck>();
    auto scratch = std::make_unique<Deck>();
    std::string error;
    bool ok = apply_range_value(base, ranges[0], pt.v[0], mix_to, *deck, error);
    if (ok && ranges.size() > 1) {
        ok = apply_range_value(*deck, ranges[1], pt.v[1], mix_to, *scratch, error);
        std::swap(deck, scratch);
    }
    RunRecord rec;
    if (!ok) {
        // Checked before the sweep started; kept as a row should it ever happen.
        rec.outcome = Outcome::refused;
        rec.diagnostic = error;
        rec.source = o.base;
    } else {
        RunOptions opt;
        opt.source = o.base;
        opt.fitted = o.fitted;
        opt.cpu_clock = &thread_cpu_seconds;
        char* buf = nullptr;
        std::size_t len = 0;
        std::FILE* m = open_memstream(&buf, &len);
        set_message_stream(m);
        compute_deck(*deck, rec, opt);
        set_message_stream(nullptr);
        if (m != nullptr) {
            std::fclose(m);
            pt.messages.assign(buf, len);
            std::free(buf);
        }
    }
    std::vector<std::string> values;
    for (std::size_t j = 0; j < ranges.size(); ++j) values.push_back(format_value(ranges[j], pt.v[j]));
    if (o.format == "json") {
        nlohmann::ordered_json obj = {{"point", pt.index}};
        nlohmann::ordered_json varied = nlohmann::ordered_json::object();
        for (std::size_t j = 0; j < ranges.size(); ++j) varied[ranges[j].name] = pt.v[j];
        obj["varied"] = varied;
        obj.update(to_json(rec));
        pt.row = obj.dump(2);
    } else {
        values.insert(values.begin(), std::to_string(pt.index));
        pt.row = csv_row(rec, values);
    }
    pt.diagnostic = rec.diagnostic;
    pt.warnings = rec.warnings;
    pt.plot = plot_point(rec, pt.v[0], ranges.size() > 1 ? pt.v[1] : NAN);
    pt.status = exit_status(rec);
}

int worker_count(int jobs, std::size_t points) {
    int n = jobs > 0 ? jobs : static_cast<int>(std::thread::hardware_concurrency());
    if (n < 1) n = 1;
    return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(n), std::max<std::size_t>(points, 1)));
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
    if (!plot_sweep(path, text, points, error)) {
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
    auto base = std::make_unique<Deck>();
    if (!read_deck(text, *base, why)) {
        std::fprintf(stderr, "traz: %s: %s\n", o.base.c_str(), why.c_str());
        return kRunBadDeck;
    }
    if (o.vary.empty() || o.vary.size() > 2) {
        std::fprintf(stderr, "traz: sweep: give one or two --vary ranges\n");
        return kRunBadDeck;
    }
    std::vector<double> mix_to;
    if (!o.mix_to.empty() && !parse_weights(o.mix_to, mix_to, why)) {
        std::fprintf(stderr, "traz: sweep: --mix-to %s\n", why.c_str());
        return kRunBadDeck;
    }
    std::vector<SweepRange> ranges(o.vary.size());
    for (std::size_t j = 0; j < o.vary.size(); ++j) {
        if (!parse_range(o.vary[j], ranges[j], why) || !check_range(*base, ranges[j], mix_to, why)) {
            std::fprintf(stderr, "traz: sweep: %s\n", why.c_str());
            return kRunBadDeck;
        }
    }
    if (ranges.size() == 2 && ranges[0].name == ranges[1].name) {
        std::fprintf(stderr, "traz: sweep: %s is varied twice\n", ranges[0].name.c_str());
        return kRunBadDeck;
    }

    // The grid, the first range varying fastest; this shard's points only.
    const std::size_t n1 = ranges[0].values.size(), n2 = ranges.size() > 1 ? ranges[1].values.size() : 1;
    std::vector<Point> points;
    for (std::size_t i2 = 0; i2 < n2; ++i2)
        for (std::size_t i1 = 0; i1 < n1; ++i1) {
            const int index = static_cast<int>(i2 * n1 + i1) + 1;
            if ((index - 1) % o.shard_count != o.shard_index - 1) continue;
            Point p;
            p.index = index;
            p.v[0] = ranges[0].values[i1];
            if (ranges.size() > 1) p.v[1] = ranges[1].values[i2];
            points.push_back(std::move(p));
        }

    std::FILE* out = open_output(o.output);
    if (out == nullptr) return kRunWriteError;

    // Workers take the next point until none is left; each point's results depend on its
    // deck alone, never on the thread or the order.
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::condition_variable progressed;
    int done = 0;
    const int nworkers = worker_count(o.jobs, points.size());
    std::vector<std::thread> workers;
    for (int w = 0; w < nworkers; ++w)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next.fetch_add(1)) < points.size();) {
                run_point(points[i], *base, ranges, mix_to, o);
                const std::lock_guard<std::mutex> hold(lock);
                ++done;
                progressed.notify_one();
            }
        });
    ProgressBar bar(o.progress && isatty(STDERR_FILENO), static_cast<int>(points.size()));
    {
        std::unique_lock<std::mutex> hold(lock);
        while (done < static_cast<int>(points.size())) {
            bar.show(done);
            progressed.wait_for(hold, std::chrono::milliseconds(250));
        }
        bar.show(done);
    }
    for (std::thread& t : workers) t.join();
    bar.finish();

    // Rows in point order.
    int worst = kRunOk, refused = 0, warned = 0;
    if (o.format == "json") {
        std::fputs("[\n", out);
        for (std::size_t i = 0; i < points.size(); ++i) {
            std::fputs(points[i].row.c_str(), out);
            std::fputs(i + 1 < points.size() ? ",\n" : "\n", out);
        }
        std::fputs("]\n", out);
    } else {
        std::vector<std::string> names{"point"};
        for (const SweepRange& r : ranges) names.push_back(r.name);
        std::fputs(csv_header(names).c_str(), out);
        for (const Point& p : points) std::fputs(p.row.c_str(), out);
    }
    for (const Point& p : points) {
        if (!p.messages.empty()) {
            std::fprintf(stderr, "traz: sweep point %d: library messages:\n", p.index);
            std::fputs(p.messages.c_str(), stderr);
        }
        worst = std::max(worst, p.status);
        refused += p.status == kRunBadDeck ? 1 : 0;
        warned += p.warnings.empty() ? 0 : 1;
    }
    if (refused > 0)
        std::fprintf(stderr, "traz: sweep: %d of %zu points refused by the deck checks (their rows give the reason)\n",
                     refused, points.size());
    if (warned > 0)
        std::fprintf(stderr, "traz: sweep: %d of %zu points have warnings (their rows give them)\n", warned,
                     points.size());

    if (close_output(out, o.output) != kRunOk) return kRunWriteError;
    if (!o.plot.empty()) {
        std::vector<PlotPoint> pp;
        for (const Point& p : points) pp.push_back(p.plot);
        if (!write_plot(o.plot, o.base, ranges, pp)) return kRunWriteError;
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
