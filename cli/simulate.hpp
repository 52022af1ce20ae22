// `traz simulate`: a run of the simulation from a deck file, or the merge of shards, into its
// record and one of its views.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "simulate/record.hpp"

namespace traz::sim {

struct SimulateOptions {
    std::string deck;                     // file name, or "-" for standard input
    std::int64_t replications = 100000;
    std::uint64_t seed = 1;
    int jobs = 0;                         // 0: every core
    int shard_index = 0, shard_count = 0; // 0: the whole run; else write shard I of N's partial results
    std::vector<std::string> merge;       // partial-result files to combine instead of a deck
    bool check = false;                   // compare with the integration (needs `analytic`)
    std::string format = "report";        // report, json or csv
    std::string output;                   // "" or "-": standard output
    bool progress = true;                 // a progress bar when standard error is a terminal
    AnalyticFn analytic;
};

// Runs `traz simulate` as the options say; diagnostics go to standard error as
// "traz: simulate: ...". Returns the exit status.
int run_simulate(const SimulateOptions& o);

} // namespace traz::sim
