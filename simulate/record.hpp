// What a run of the simulation found (the record its views render), its comparison with the
// integration, and the partial results that a shard writes.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "simulate/simulate.hpp"

namespace traz::sim {

// The expectations the integration computes for a deck (NaN where it gives none).
struct Analytic {
    double criterion = NAN, rate1 = NAN, rate2 = NAN, ai_ratio = NAN, sd = NAN;
};
// Computes them from the deck text; false with the reason when the integration cannot.
using AnalyticFn = std::function<bool(std::string_view deck_text, Analytic& values, std::string& why)>;

// Replications a run may have: each keeps 8 bytes for the quantiles.
constexpr std::int64_t kMaxReplications = 1000000000;


// One comparison of --check.
struct CheckRow {
    std::string quantity;
    double analytic = NAN, simulated = NAN, se = NAN, z = NAN;
};
constexpr double kCheckLimit = 4.0;  // |z| above this is warned about

// What a run found: the views render it and compute nothing.
struct SimulationRecord {
    std::string source;  // the deck's file name ("-": standard input)
    std::unique_ptr<Deck> deck = std::make_unique<Deck>();
    std::uint64_t seed = 0;
    Summary summary;
    bool checked = false;
    std::vector<CheckRow> check;
    std::vector<std::string> warnings;
};

// The comparison of a summary with the integration's values.
std::vector<CheckRow> compare(const Summary& s, const Analytic& a);

// Exit statuses, as traz's.
constexpr int kSimOk = 0, kSimRefused = 1, kSimWriteError = 3;


// Partial results of shard I of N: the replications floor((I-1)R/N) .. floor(IR/N)-1.
struct Partial {
    std::string source, deck_text;
    std::uint64_t seed = 0;
    std::int64_t replications = 0;  // of the whole run
    int shard_index = 0, shard_count = 0;
    Sample sample;
};
std::int64_t shard_first(std::int64_t replications, int index, int count);
std::string partial_text(const Partial& p);
bool parse_partial(const std::string& text, Partial& p, std::string& why);
// Combines the partial results of every shard of one run (in any order) into the sample of
// the whole run; false with the reason when they are not exactly the shards of one run.
bool merge_partials(std::vector<Partial>& parts, Partial& whole, std::string& why);

} // namespace traz::sim
