// Which design? traz pareto (the Pareto front of a base deck's stage weights) and traz compare
// (designs side by side).
#pragma once
#include <string>
#include <vector>

namespace traz {

struct ParetoOptions {
    std::string base;               // the base deck's file name
    int points = 21;
    bool negative_weights = false;
    std::string format = "csv";     // csv or json
    std::string output;             // empty or "-": standard output
    std::string plot;               // plot file (.png, .svg, .pdf), or empty
    std::string decks;              // a folder for each point's deck (point-01.deck, ...), or empty
    int jobs = 0;                   // 0: every core
    int shard_index = 1, shard_count = 1;
    bool progress = true;           // a progress bar when standard error is a terminal
};

// Runs the search; returns the exit status (1 for a base that cannot be searched, or when a
// point is refused or not settled; 3 when the output cannot be written).
int run_pareto(const ParetoOptions& o);

struct CompareOptions {
    std::vector<std::string> decks;
    bool fitted = false;
    std::string format = "table";   // table, csv or json
    std::string output;
};

// Evaluates and compares the decks; returns the exit status (the worst of the decks').
int run_compare(const CompareOptions& o);

} // namespace traz
