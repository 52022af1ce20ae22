// traz pareto: the rows of the front (CSV or JSON) and its plot; traz compare: designs side by
// side as a table, CSV or JSON.
#include "cli/pareto.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/io.hpp"
#include "evaluate/evaluate.hpp"
#include "traz/traz.hpp"
#include "cli/plot_loader.hpp"
#include "views/views.hpp"

namespace traz {

namespace {

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string weight_name(const FreeWeight& f) {
    return "w(" + std::to_string(f.stage) + "," + std::to_string(f.predictor) + ")";
}

bool read_design(const std::string& path, Design& design) {
    std::string text, why;
    if (!read_input(path, text, why)) {
        std::fprintf(stderr, "traz: %s: cannot read: %s\n", path.c_str(), why.c_str());
        return false;
    }
    try {
        design = Design::from_deck(text);
    } catch (const Error& e) {
        std::fprintf(stderr, "traz: %s: %s\n", path.c_str(), e.what());
        return false;
    }
    return true;
}

// Points done of the total, on standard error when it is a terminal.
class Progress {
public:
    explicit Progress(bool shown) : shown_(shown), start_(std::chrono::steady_clock::now()) {}
    void show(int done, int total) {
        if (!shown_) return;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::fprintf(stderr, "\r  pareto: %d/%d searches done, %.0f s elapsed ", done, total, s);
        std::fflush(stderr);
    }
    void finish() {
        if (shown_) std::fprintf(stderr, "\n");
    }

private:
    bool shown_;
    std::chrono::steady_clock::time_point start_;
};

const char* optimiser_name(ParetoMethod::Optimiser o) {
    return o == ParetoMethod::Optimiser::slsqp ? "SLSQP, finite-difference gradients" : "COBYLA";
}

nlohmann::ordered_json weights_json(const std::vector<FreeWeight>& free, const std::vector<double>& w) {
    nlohmann::ordered_json obj = nlohmann::ordered_json::object();
    for (std::size_t k = 0; k < free.size() && k < w.size(); ++k) obj[weight_name(free[k])] = w[k];
    return obj;
}

nlohmann::ordered_json search_json(const ParetoPoint& p) {
    nlohmann::ordered_json s = {{"settled", p.settled},
                                {"status", p.status},
                                {"optimiser_result", p.optimiser},
                                {"evaluations", p.evaluations},
                                {"starts", p.starts},
                                {"starts_agreeing", p.starts_agreeing}};
    if (!std::isnan(p.target_impact_ratio)) s["target_impact_ratio"] = p.target_impact_ratio;
    return s;
}

nlohmann::ordered_json point_json(const ParetoPoint& p, const std::vector<FreeWeight>& free) {
    nlohmann::ordered_json obj = {{"point", p.point}};
    obj["weights"] = weights_json(free, p.weights);
    obj["search"] = search_json(p);
    obj.update(to_json(*p.result.record));
    return obj;
}

// An end of the front: its weights, the deck that runs it, and its two objectives.
nlohmann::ordered_json end_json(const ParetoPoint& p, const std::vector<FreeWeight>& free) {
    const Result& r = p.result;
    nlohmann::ordered_json obj = {{"point", p.point}};
    obj["weights"] = weights_json(free, p.weights);
    obj["search"] = search_json(p);
    const auto bounded = [](const Bounded& b) {
        return nlohmann::ordered_json{{"value", b.value}, {"error_bound", b.error_bound}};
    };
    obj["expected_criterion_score"] = bounded(r.expected_criterion_score);
    obj["impact_ratio"] = bounded(r.impact_ratio);
    obj["deck_text"] = p.weights.empty() ? std::string() : p.design.to_deck();
    return obj;
}

// point, the run's columns, the free weights (empty when the point has no design), the search's status.
std::string csv_point_row(const ParetoPoint& p, std::size_t free_weights) {
    std::string row = csv_row(*p.result.record, {std::to_string(p.point)});
    row.pop_back();  // the line end
    for (std::size_t k = 0; k < free_weights; ++k) {
        row += ',';
        if (k < p.weights.size()) row += csv_number(p.weights[k]);
    }
    return row + "," + csv_field(p.status) + "\n";
}

FrontPlotPoint plot_point(const ParetoPoint& p) {
    FrontPlotPoint q;
    q.point = p.point;
    q.computed = p.result.ok();
    q.settled = p.settled;
    q.E = p.result.expected_criterion_score.value;
    q.E_err = p.result.expected_criterion_score.error_bound;
    q.IR = p.result.impact_ratio.value;
    q.IR_err = p.result.impact_ratio.error_bound;
    q.weights = p.weights;
    return q;
}

} // namespace

int run_pareto(const ParetoOptions& o) {
    Design base;
    if (!read_design(o.base, base)) return kRunBadDeck;
    ParetoRequest request;
    request.points = o.points;
    request.negative_weights = o.negative_weights;
    request.jobs = o.jobs;
    request.shard_index = o.shard_index;
    request.shard_count = o.shard_count;
    request.source = o.base;
    std::vector<FreeWeight> free;
    try {
        free = pareto_free_weights(base, request);
    } catch (const Error& e) {
        std::fprintf(stderr, "traz: %s: %s\n", o.base.c_str(), e.what());
        return kRunBadDeck;
    }

    if (!o.decks.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o.decks, ec);
        if (ec) {
            std::fprintf(stderr, "traz: %s: %s\n", o.decks.c_str(), ec.message().c_str());
            return kRunWriteError;
        }
    }
    Output out;
    if (!open_output(o.output, out)) return kRunWriteError;
    Progress bar(o.progress && isatty(STDERR_FILENO));
    request.progress = [&](int done, int total) { bar.show(done, total); };

    // CSV rows are written as the points are done; the JSON object at the end (it holds the ends).
    if (o.format == "csv") {
        std::string header = csv_header({"point"});
        header.pop_back();
        for (const FreeWeight& f : free) header.append(",").append(csv_field(weight_name(f)));
        std::fputs((header + ",search\n").c_str(), out.file);
        std::fflush(out.file);
    }
    int worst = kRunOk, unsettled = 0;
    std::vector<FrontPlotPoint> plotted;
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    const auto each = [&](const ParetoPoint& p) {
        if (o.format == "csv") {
            std::fputs(csv_point_row(p, free.size()).c_str(), out.file);
            std::fflush(out.file);
        } else {
            rows.push_back(point_json(p, free));
        }
        worst = std::max(worst, exit_status(*p.result.record));
        if (!p.settled) {
            ++unsettled;
            worst = std::max(worst, kRunBadDeck);
        }
        if (!o.decks.empty() && !p.weights.empty()) {
            char name[32];
            std::snprintf(name, sizeof name, "point-%02d.deck", p.point);
            const std::string path = (std::filesystem::path(o.decks) / name).string();
            std::ofstream f(path);
            f << p.design.to_deck();
            if (!f.flush()) {
                std::fprintf(stderr, "traz: %s: cannot write\n", path.c_str());
                worst = std::max(worst, kRunWriteError);
            }
        }
        plotted.push_back(plot_point(p));
    };
    ParetoFront front;
    try {
        front = pareto(base, request, each);
    } catch (const Error& e) {
        bar.finish();
        std::fprintf(stderr, "traz: %s: %s\n", o.base.c_str(), e.what());
        close_output(out);
        return kRunBadDeck;
    }
    bar.finish();
    if (o.format == "json") {
        nlohmann::ordered_json all = {{"base", o.base},
                                      {"points", front.total_points},
                                      {"shard", std::to_string(o.shard_index) + "/" + std::to_string(o.shard_count)}};
        const ParetoMethod m;
        all["method"] = {{"optimiser", optimiser_name(m.optimiser)},
                         {"spacing", m.spacing == ParetoMethod::Spacing::normal_boundary
                                         ? "normal-boundary intersection"
                                         : "equal steps of the impact ratio"},
                         {"starts_per_point", m.starts},
                         {"fitted_rule_level", front.search_level},
                         {"negative_weights", o.negative_weights}};
        nlohmann::ordered_json names = nlohmann::ordered_json::array();
        for (const FreeWeight& f : free) names.push_back(weight_name(f));
        all["free_weights"] = names;
        all["ends"] = {{"highest_expected_criterion_score", end_json(front.highest_criterion, free)},
                       {"highest_impact_ratio", end_json(front.highest_impact, free)}};
        all["rows"] = rows;
        std::fputs((all.dump(2) + "\n").c_str(), out.file);
    }
    if (unsettled > 0)
        std::fprintf(stderr, "traz: pareto: %d of %zu points not settled (their rows give the reason)\n", unsettled,
                     front.points.size());
    if (close_output(out) != kRunOk) return kRunWriteError;

    if (!o.plot.empty()) {
        FrontPlotText text;
        text.title = "Pareto front of " + base_name(o.base) + ": stage weights trading expected score for impact ratio";
        for (const FreeWeight& f : free) {
            text.weight_stage.push_back(f.stage);
            text.weight_names.push_back("predictor " + std::to_string(f.predictor));
        }
        std::string error;
        const auto draw = [&](const std::string& temp, std::string& why) { return draw_front(temp, text, plotted, why); };
        if (!draw_in_place(o.plot, draw, error)) {
            if (!error.empty()) std::fprintf(stderr, "traz: %s\n", error.c_str());
            return kRunWriteError;
        }
    }
    return worst;
}

namespace {

std::string bounded_text(const Bounded& b, bool sign) {
    if (!b.present()) return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, sign ? "%+.5f ±%.1e" : "%.5f ±%.1e", b.value, b.error_bound);
    return buf;
}

struct Row {
    const char* name;
    Bounded Result::*value;
    Bounded Comparison::Quantities::*difference;
};
const Row kRows[] = {
    {"Expected criterion score", &Result::expected_criterion_score, &Comparison::Quantities::expected_criterion_score},
    {"Selection rate, group 1", &Result::selection_rate_group1, &Comparison::Quantities::selection_rate_group1},
    {"Selection rate, group 2", &Result::selection_rate_group2, &Comparison::Quantities::selection_rate_group2},
    {"AI ratio (group 2 / group 1)", &Result::ai_ratio, &Comparison::Quantities::ai_ratio},
    {"Impact ratio (lower / higher)", &Result::impact_ratio, &Comparison::Quantities::impact_ratio},
    {"SD of the average criterion score", &Result::sd_average_criterion_score,
     &Comparison::Quantities::sd_average_criterion_score},
};
const char* const kRowKeys[] = {"expected_criterion_score", "selection_rate_group1", "selection_rate_group2",
                                "ai_ratio", "impact_ratio", "sd_average_criterion_score"};

std::string label_of(std::size_t i) { return std::string(1, static_cast<char>('A' + i % 26)); }

std::string padded(const std::string& s, std::size_t width) {
    // "±" is two bytes and one column.
    std::size_t columns = 0;
    for (unsigned char c : s) columns += (c & 0xC0) != 0x80 ? 1 : 0;
    return s + std::string(width > columns ? width - columns : 1, ' ');
}

// A line of the table: the name, then the cells, without trailing blanks.
std::string table_line(const std::string& name, const std::vector<std::string>& cells) {
    std::string line = padded(name, 36);
    for (const std::string& c : cells) line += padded(c, 22);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

// The designs' results, then their differences to the first, then the verdict.
std::string compare_table(const Comparison& c, const std::vector<std::string>& decks) {
    std::string t = "Designs (each value ± its error bound):\n";
    for (std::size_t i = 0; i < decks.size(); ++i) t.append("  ").append(label_of(i)).append("  ").append(decks[i]).append("\n");
    std::vector<std::string> heads, diff_heads;
    for (std::size_t i = 0; i < decks.size(); ++i) heads.push_back(label_of(i));
    for (std::size_t i = 1; i < decks.size(); ++i) diff_heads.push_back(label_of(i) + " - A");
    t += '\n';
    t += table_line("", heads);
    for (const Row& row : kRows) {
        std::vector<std::string> cells;
        for (const Result& r : c.results) cells.push_back(r.ok() ? bounded_text(r.*row.value, false) : "not computed");
        t += table_line(row.name, cells);
    }
    t += '\n';
    t += table_line("Differences to A", diff_heads);
    for (const Row& row : kRows) {
        std::vector<std::string> cells;
        for (std::size_t i = 1; i < decks.size(); ++i) cells.push_back(bounded_text(c.differences[i].*row.difference, true));
        t += table_line(row.name, cells);
    }
    return t + "\n" + c.verdict + "\n";
}

} // namespace

int run_compare(const CompareOptions& o) {
    if (o.decks.size() < 2) {
        std::fprintf(stderr, "traz: compare: give two or more decks\n");
        return kRunBadDeck;
    }
    std::vector<Design> designs;
    for (std::size_t i = 0; i < o.decks.size(); ++i) {
        Design d;
        if (!read_design(o.decks[i], d)) return kRunBadDeck;
        if (o.fitted) d.integration = Integration::fitted;
        designs.push_back(std::move(d));
    }
    Comparison c;
    try {
        c = compare(designs, o.decks);
    } catch (const Error& e) {
        std::fprintf(stderr, "traz: compare: %s\n", e.what());
        return kRunBadDeck;
    }
    int worst = kRunOk;
    for (std::size_t i = 0; i < c.results.size(); ++i) {
        const Result& r = c.results[i];
        if (!r.ok()) std::fprintf(stderr, "traz: %s: %s\n", o.decks[i].c_str(), r.diagnostic.message.c_str());
        for (const std::string& w : r.warnings) std::fprintf(stderr, "traz: %s: warning: %s\n", o.decks[i].c_str(), w.c_str());
        worst = std::max(worst, exit_status(*r.record));
    }

    std::string text;
    if (o.format == "json") {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < c.results.size(); ++i) {
            nlohmann::ordered_json d = {{"design", label_of(i)}, {"deck_file", o.decks[i]}};
            nlohmann::ordered_json diff = nlohmann::ordered_json::object();
            for (std::size_t k = 0; k < std::size(kRows); ++k) {
                const Bounded& b = c.differences[i].*kRows[k].difference;
                diff[kRowKeys[k]] = b.present() ? nlohmann::ordered_json{{"value", b.value}, {"error_bound", b.error_bound}}
                                                : nlohmann::ordered_json(nullptr);
            }
            d["difference_to_A"] = diff;
            nlohmann::ordered_json by = nlohmann::ordered_json::array();
            for (int j : c.dominated_by[i]) by.push_back(label_of(static_cast<std::size_t>(j)));
            d["dominated_by"] = by;
            d["result"] = to_json(*c.results[i].record);
            all.push_back(d);
        }
        text = nlohmann::ordered_json{{"designs", all}, {"verdict", c.verdict}}.dump(2) + "\n";
    } else if (o.format == "csv") {
        std::string header = csv_header({"design"});
        header.pop_back();
        for (const char* k : kRowKeys) header += std::string(",difference_") + k + ",difference_" + k + "_error";
        text = header + ",dominated_by\n";
        for (std::size_t i = 0; i < c.results.size(); ++i) {
            std::string row = csv_row(*c.results[i].record, {label_of(i)});
            row.pop_back();
            for (const Row& r : kRows) {
                const Bounded& b = c.differences[i].*r.difference;
                row += ',';
                row += csv_number(b.value);
                row += ',';
                row += csv_number(b.error_bound);
            }
            std::string by;
            for (int j : c.dominated_by[i]) by.append(by.empty() ? "" : " ").append(label_of(static_cast<std::size_t>(j)));
            text += row + "," + by + "\n";
        }
    } else {
        text = compare_table(c, o.decks);
    }
    Output out;
    if (!open_output(o.output, out)) return kRunWriteError;
    std::fputs(text.c_str(), out.file);
    if (close_output(out) != kRunOk) return kRunWriteError;
    return worst;
}

} // namespace traz
