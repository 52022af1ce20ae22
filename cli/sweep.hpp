// Design sweeps: one or two deck quantities varied over a grid, every point a full run,
// points computed on several threads, optionally one shard of the grid only.
#pragma once
#include <string>
#include <vector>

#include "deck/sweep_range.hpp"

namespace traz {

struct SweepOptions {
    std::string base;                  // the base deck's file name
    std::vector<std::string> vary;     // one or two RANGE texts
    std::string mix_to;                // --mix-to weights, for mix(k)
    std::string format = "csv";        // csv or json
    std::string output;                // empty or "-": standard output
    std::string plot;                  // plot file (.png, .svg, .pdf), or empty
    int jobs = 0;                      // 0: every core
    int shard_index = 1, shard_count = 1;  // run points I, I+N, I+2N, ... (1-based)
    bool fitted = false;
    std::string domain = "automatic";  // automatic, cube or fitted (--fitted: fitted)
    int fitted_level = 0;              // 0: the sweep settles the fitted rule's level
    bool progress = true;              // a progress bar when standard error is a terminal
};

// Parses "I/N" (1 <= I <= N <= kMaxSweepPoints, whole numbers only).
bool parse_shard(const std::string& text, int& index, int& count, std::string& error);

// Runs the sweep; returns the exit status (as for decks: the worst of the points, 1 for a
// bad range or base deck, an output that is the base deck, a plot of unknown format; 3 when
// the rows or the plot could not be written; 128 + the signal when SIGINT or SIGTERM
// interrupted it: the rows so far are then in OUTPUT.partial). Expects handle_signals(true).
int run_sweep(const SweepOptions& o);

// Plots a sweep CSV (one shard or several concatenated, in any order); refuses rows of
// different sweeps and names the points missing from the grid.
int plot_csv(const std::string& csv_path, const std::string& plot_path);

} // namespace traz
