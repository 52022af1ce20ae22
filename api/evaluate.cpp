// Evaluations and their views through the public interface.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "api/internal.hpp"
#include "model/messages.hpp"
#include "views/report.hpp"
#include "views/views.hpp"

namespace traz {

namespace {

// Collects what the library writes to the thread's message stream while it lives.
class MessageCapture {
public:
    MessageCapture() {
        stream_ = open_memstream(&buffer_, &length_);
        set_message_stream(stream_);
        reset_messages();
    }
    ~MessageCapture() {
        set_message_stream(nullptr);
        if (stream_ != nullptr) std::fclose(stream_);
        std::free(buffer_);
    }
    std::string text() {
        if (stream_ == nullptr) return {};
        std::fflush(stream_);
        return std::string(buffer_, length_);
    }

private:
    std::FILE* stream_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t length_ = 0;
};

std::string text_of(std::FILE* f) {
    std::string s;
    std::rewind(f);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    return s;
}

} // namespace

Integration integration_named(std::string_view name) {
    if (name == "automatic") return Integration::automatic;
    if (name == "cube") return Integration::cube;
    if (name == "fitted") return Integration::fitted;
    Diagnostic d;
    d.message = "integration \"" + std::string(name) + "\": expected automatic, cube or fitted";
    throw Error(d);
}

RunOptions run_options(Integration integration, const Options& options) {
    RunOptions opt;
    opt.source = options.source;
    opt.fitted = integration == Integration::fitted;
    opt.cube_only = integration == Integration::cube;
    opt.fitted_level = options.fitted_level;
    return opt;
}

Result result_of(std::shared_ptr<RunRecord> rec, std::string messages) {
    Result r;
    r.outcome = outcome_name(rec->outcome);
    if (!rec->diagnostic.empty()) {
        r.diagnostic = diagnostic_of(rec->fault);
        r.diagnostic.message = rec->diagnostic;
    }
    const Results& res = rec->results;
    r.expected_criterion_score = {res.criterion.value, res.criterion.error};
    r.selection_rate_group1 = {res.rate1.value, res.rate1.error};
    r.selection_rate_group2 = {res.rate2.value, res.rate2.error};
    r.ai_ratio = {res.ai.value, res.ai.error};
    r.impact_ratio = {res.impact.value, res.impact.error};
    r.sd_average_criterion_score = {res.sd.value, res.sd.error};
    r.proportion_selected = {res.proportion.value, res.proportion.error};
    r.target_selection_ratio = res.target;
    const int g = rec->deck->ngroup;
    for (const PassRecord& p : rec->passes) {
        PassResult q;
        q.pass = p.pass;
        q.selector = p.iz;
        q.integrates = selector_words(p.iz, g);
        q.result = p.result;
        q.error_estimate = p.abserr;
        q.evaluations = p.evaluations;
        q.status = p.status;
        q.status_meaning = status_words(p);
        q.carried_over = p.carried;
        r.passes.push_back(q);
    }
    r.mass_checked = rec->mass.done;
    r.mass = rec->mass.mass;
    r.domain = rec->outcome == Outcome::computed ? rec->domain_kind() : "";
    r.cube_lost = rec->cube_lost;
    r.rule_level = rec->integration.level;
    r.rule_level_settled = rec->integration.level_settled;
    r.points = rec->integration.points;
    r.fallback = rec->integration.fallback;
    r.warnings = rec->warnings;
    r.library_messages = std::move(messages);
    r.cpu_seconds = rec->cpu_seconds();
    r.record = std::move(rec);
    return r;
}

Result evaluate_deck_struct(const Deck& d, const RunOptions& opt) {
    auto rec = std::make_shared<RunRecord>();
    MessageCapture capture;
    compute_deck(d, *rec, opt);
    return result_of(std::move(rec), capture.text());
}

Result evaluate(const Design& design, const Options& options) {
    auto d = std::make_unique<Deck>();
    deck_of_design(design, *d);
    return evaluate_deck_struct(*d, run_options(design.integration, options));
}

Result evaluate_deck(std::string_view deck_text, const Options& options, Integration integration) {
    auto rec = std::make_shared<RunRecord>();
    MessageCapture capture;
    compute(deck_text, *rec, run_options(integration, options));
    return result_of(std::move(rec), capture.text());
}

std::string report(const Result& result) {
    if (result.record == nullptr) return {};
    std::FILE* f = std::tmpfile();
    if (f == nullptr) throw std::runtime_error("traz: no temporary file for the report");
    write_report(f, *result.record);
    std::string text = text_of(f);
    std::fclose(f);
    return text;
}

std::string to_json(const Result& result) {
    return result.record == nullptr ? std::string("null") : to_json(*result.record).dump(2);
}

std::string csv_header() { return csv_header(std::vector<std::string>{}); }

std::string csv_row(const Result& result) { return result.record == nullptr ? std::string() : csv_row(*result.record, {}); }

} // namespace traz
