// Helpers of the multi-stage report tests: deck files, report lines and their numbers.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_deck.hpp"

namespace traz::mstest {

inline const std::string kDecks = std::string(TRAZ_SOURCE_DIR) + "/tests/evaluate/multistage/decks/";
inline const std::string kExamples = std::string(TRAZ_SOURCE_DIR) + "/examples/";

// The lines of a text, without their line ends.
inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> v;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            v.push_back(text.substr(at));
            break;
        }
        v.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return v;
}

// The deck with its last statement (relative accuracy and budget) replaced by `last`.
inline std::string with_last_statement(const std::string& deck, const std::string& last) {
    std::vector<std::string> v = lines_of(deck);
    while (!v.empty() && v.back().find_first_not_of(" \t\r") == std::string::npos) v.pop_back();
    std::string out;
    for (std::size_t i = 0; i + 1 < v.size(); ++i) out += v[i] + "\n";
    return out + last + "\n";
}

// The numbers after `prefix` on the occurrence-th line (0-based) that starts with it.
inline std::vector<double> numbers_after(const std::string& report, const std::string& prefix,
                                         int occurrence = 0) {
    int seen = 0;
    for (const std::string& line : lines_of(report)) {
        if (line.rfind(prefix, 0) != 0 || seen++ != occurrence) continue;
        std::vector<double> v;
        const char* p = line.c_str() + prefix.size();
        for (char* q;; p = q) {
            const double x = std::strtod(p, &q);
            if (q == p) break;
            v.push_back(x);
        }
        return v;
    }
    ADD_FAILURE() << "no line " << occurrence << " starting with \"" << prefix << "\"";
    return {};
}

// The one number after `prefix` (NaN when the line is missing or holds no number).
inline double number_after(const std::string& report, const std::string& prefix, int k = 0) {
    const std::vector<double> v = numbers_after(report, prefix);
    return static_cast<int>(v.size()) > k ? v[k] : NAN;
}

} // namespace traz::mstest
