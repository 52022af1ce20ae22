// Partial results of a shard: a JSON object with the deck text, the run's settings, the mean
// criterion score of each of the shard's replications and the counts of its tables. Numbers
// are written with enough digits to read back the same doubles, so merged shards summarise
// to exactly what one run gives.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "simulate/record.hpp"

namespace traz::sim {

namespace {

using json = nlohmann::ordered_json;
constexpr const char* kFormat = "traz simulate partial results";
constexpr int kFormatVersion = 1;

} // namespace

std::int64_t shard_first(std::int64_t replications, int index, int count) {
    // (index - 1) * replications fits in 64 bits: replications is at most kMaxReplications and
    // index at most replications.
    return (static_cast<std::int64_t>(index) - 1) * replications / count;
}

std::string partial_text(const Partial& p) {
    json tables = json::array();
    for (const auto& [key, n] : p.sample.tables) tables.push_back({key.first, key.second, n});
    const json j = {{"format", kFormat},
                    {"format_version", kFormatVersion},
                    {"source", p.source},
                    {"deck_text", p.deck_text},
                    {"seed", p.seed},
                    {"replications", p.replications},
                    {"shard", {p.shard_index, p.shard_count}},
                    {"first_replication", p.sample.first},
                    {"mean_criterion_score", p.sample.mean_criterion},
                    {"tables", tables}};
    return j.dump() + "\n";
}

bool parse_partial(const std::string& text, Partial& p, std::string& why) {
    try {
        const json j = json::parse(text);
        if (!j.is_object() || j.value("format", "") != kFormat) {
            why = "not a file of partial results of traz simulate --shard";
            return false;
        }
        if (j.at("format_version").get<int>() != kFormatVersion) {
            why = "partial results of another version of traz simulate";
            return false;
        }
        p.source = j.at("source").get<std::string>();
        p.deck_text = j.at("deck_text").get<std::string>();
        p.seed = j.at("seed").get<std::uint64_t>();
        p.replications = j.at("replications").get<std::int64_t>();
        p.shard_index = j.at("shard").at(0).get<int>();
        p.shard_count = j.at("shard").at(1).get<int>();
        p.sample.first = j.at("first_replication").get<std::int64_t>();
        p.sample.mean_criterion = j.at("mean_criterion_score").get<std::vector<double>>();
        p.sample.tables.clear();
        for (const json& t : j.at("tables")) p.sample.tables[{t.at(0).get<int>(), t.at(1).get<int>()}] += t.at(2).get<std::int64_t>();
    } catch (const json::exception& e) {
        why = std::string("unreadable partial results (") + e.what() + ")";
        return false;
    }
    const bool settings = p.shard_count >= 1 && p.shard_index >= 1 && p.shard_index <= p.shard_count &&
                          p.replications >= p.shard_count && p.replications <= kMaxReplications;
    const std::int64_t first = settings ? shard_first(p.replications, p.shard_index, p.shard_count) : -1;
    const std::int64_t count = settings ? shard_first(p.replications, p.shard_index + 1, p.shard_count) - first : -1;
    std::int64_t tabled = 0;
    for (const auto& t : p.sample.tables) tabled += t.second;
    if (!settings || p.sample.first != first || static_cast<std::int64_t>(p.sample.mean_criterion.size()) != count ||
        tabled != count) {
        why = "the partial results are incomplete or inconsistent";
        return false;
    }
    return true;
}

bool merge_partials(std::vector<Partial>& parts, Partial& whole, std::string& why) {
    if (parts.empty()) {
        why = "no partial results to merge";
        return false;
    }
    std::sort(parts.begin(), parts.end(), [](const Partial& a, const Partial& b) { return a.shard_index < b.shard_index; });
    const Partial& one = parts.front();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Partial& p = parts[i];
        if (p.deck_text != one.deck_text || p.seed != one.seed || p.replications != one.replications ||
            p.shard_count != one.shard_count) {
            why = "shard " + std::to_string(p.shard_index) + " belongs to another run (deck, seed, replications or "
                  "shard count differ)";
            return false;
        }
        if (p.shard_index != static_cast<int>(i) + 1) {
            why = p.shard_index == static_cast<int>(i) ? "shard " + std::to_string(p.shard_index) + " is given twice"
                                                       : "shard " + std::to_string(i + 1) + " of " +
                                                             std::to_string(one.shard_count) + " is missing";
            return false;
        }
    }
    if (static_cast<int>(parts.size()) != one.shard_count) {
        why = "shard " + std::to_string(parts.size() + 1) + " of " + std::to_string(one.shard_count) + " is missing";
        return false;
    }
    whole.source = one.source;
    whole.deck_text = one.deck_text;
    whole.seed = one.seed;
    whole.replications = one.replications;
    whole.shard_index = whole.shard_count = 1;
    whole.sample = Sample{};
    for (const Partial& p : parts) {
        whole.sample.mean_criterion.insert(whole.sample.mean_criterion.end(), p.sample.mean_criterion.begin(),
                                           p.sample.mean_criterion.end());
        for (const auto& [key, n] : p.sample.tables) whole.sample.tables[key] += n;
    }
    return true;
}

} // namespace traz::sim
