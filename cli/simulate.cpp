// `traz simulate`: reads the deck (or the shards to merge), runs the replications with a
// progress bar, and writes the partial results of a shard or the chosen view of the record.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <utility>

#include "cli/simulate.hpp"

#include "cli/io.hpp"
#include "cli/progress.hpp"
#include "simulate/simulate_views.hpp"

namespace traz::sim {

namespace {

bool fail(const std::string& why) {
    std::fprintf(stderr, "traz: simulate: %s\n", why.c_str());
    return false;
}

// A whole file, or standard input for "-".
bool read_text(const std::string& name, std::string& text) {
    if (name == "-" && isatty(STDIN_FILENO))
        std::fprintf(stderr, "traz: simulate: reading a deck from standard input (end with Ctrl-D)\n");
    std::string why;
    return read_input(name, text, why) || fail((name == "-" ? std::string("standard input") : name) + ": " + why);
}

// Writes the text to the output ("" or "-": standard output), whole or not at all; the exit
// status (after a diagnostic when it was not written).
int write_output(const std::string& name, const std::string& text) {
    Output out;
    if (!open_output(name, out)) return kSimWriteError;
    std::fwrite(text.data(), 1, text.size(), out.file);
    return close_output(out) == 0 ? kSimOk : kSimWriteError;
}

std::string view_text(const SimulationRecord& rec, const std::string& format) {
    if (format == "json") return simulation_json(rec).dump(2) + "\n";
    if (format == "csv") return simulation_csv(rec);
    char* buf = nullptr;
    std::size_t size = 0;
    std::FILE* mem = open_memstream(&buf, &size);
    write_simulation_report(mem, rec);
    std::fclose(mem);
    std::string text(buf, size);
    std::free(buf);
    return text;
}

bool check_options(const SimulateOptions& o) {
    if (o.replications < 2 || o.replications > kMaxReplications)
        return fail("--replications " + std::to_string(o.replications) + " is outside 2.." + std::to_string(kMaxReplications));
    if (o.shard_count > 0 && o.replications < o.shard_count)
        return fail("--shard: fewer replications than shards");
    if (o.shard_count > 0 && !o.merge.empty()) return fail("--shard and --merge do not go together");
    if (o.shard_count > 0 && o.check) return fail("--check goes with the whole run or the --merge of its shards");
    if (o.check && !o.analytic) return fail("--check: the integration is not available");
    return true;
}

} // namespace

int run_simulate(const SimulateOptions& o) {
    if (!check_options(o)) return kSimRefused;
    SimulationRecord rec;
    Partial whole;
    std::string why;
    if (!o.merge.empty()) {
        std::vector<Partial> parts(o.merge.size());
        for (std::size_t i = 0; i < o.merge.size(); ++i) {
            std::string text;
            if (!read_text(o.merge[i], text)) return kSimRefused;
            if (!parse_partial(text, parts[i], why)) return fail(o.merge[i] + ": " + why), kSimRefused;
        }
        if (!merge_partials(parts, whole, why)) return fail("--merge: " + why), kSimRefused;
    } else {
        whole.source = o.deck;
        whole.seed = o.seed;
        whole.replications = o.replications;
        if (!read_text(o.deck, whole.deck_text)) return kSimRefused;
    }
    rec.source = whole.source;
    rec.seed = whole.seed;
    const std::string who = rec.source == "-" ? "" : rec.source + ": ";
    Model model;
    DeckFault fault;
    if (!read_deck(whole.deck_text, *rec.deck, fault) || !build_model(*rec.deck, model, fault))
        return fail(who + fault.message), kSimRefused;

    // The integration runs first, so that a deck it cannot compute is refused at once.
    Analytic analytic;
    if (o.check && !o.analytic(whole.deck_text, analytic, why))
        return fail(who + "--check: the integration does not compute this deck: " + why), kSimRefused;

    if (o.merge.empty()) {
        const bool shard = o.shard_count > 0;
        const std::int64_t first = shard ? shard_first(o.replications, o.shard_index, o.shard_count) : 0;
        const std::int64_t count = shard ? shard_first(o.replications, o.shard_index + 1, o.shard_count) - first
                                         : o.replications;
        ProgressBar bar(o.progress && isatty(STDERR_FILENO), "replications");
        whole.sample = simulate(model, o.seed, first, count, o.jobs, [&](std::int64_t done) { bar.show(done, count); });
        if (shard) {
            whole.shard_index = o.shard_index;
            whole.shard_count = o.shard_count;
            return write_output(o.output, partial_text(whole));
        }
    }
    rec.summary = summarise(model, std::move(whole.sample));
    if (o.check) {
        rec.checked = true;
        rec.check = compare(rec.summary, analytic);
        for (const CheckRow& c : rec.check)
            if (std::fabs(c.z) > kCheckLimit) {
                char buf[200];
                std::snprintf(buf, sizeof buf, "%s: the simulation (%.6g) is %.1f standard errors from the integration (%.6g)",
                              c.quantity.c_str(), c.simulated, c.z, c.analytic);
                rec.warnings.push_back(buf);
            }
    }
    for (const std::string& w : rec.warnings) std::fprintf(stderr, "traz: simulate: %swarning: %s\n", who.c_str(), w.c_str());
    return write_output(o.output, view_text(rec, o.format));
}

} // namespace traz::sim
