// Reads a reference table of normal probabilities (comma-separated, header line).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "mvn/mvn.hpp"

namespace traz::test {

// One row, by column name.
struct reference_row {
    std::map<std::string, std::string> text;
    double num(const std::string& column) const { return std::strtod(text.at(column).c_str(), nullptr); }
    std::string what() const { return text.at("id") + " " + text.at("regime"); }
};

inline std::vector<reference_row> read_reference(const std::string& name)
{
    std::ifstream in(std::string(TRAZ_REFERENCE_DIR) + "/" + name);
    auto fields = [](const std::string& line) {
        std::vector<std::string> out;
        std::stringstream ss(line);
        for (std::string f; std::getline(ss, f, ',');) {
            out.push_back(f);
        }
        return out;
    };
    std::string line;
    if (!std::getline(in, line)) {
        throw std::runtime_error("cannot read " + name);
    }
    const std::vector<std::string> header = fields(line);
    std::vector<reference_row> rows;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = fields(line);
        if (f.size() != header.size()) {
            throw std::runtime_error(name + ": bad row " + line);
        }
        reference_row row;
        for (std::size_t i = 0; i < f.size(); ++i) {
            row.text[header[i]] = f[i];
        }
        rows.push_back(row);
    }
    return rows;
}

// Checks every row of a lower-orthant table of dimension nd (columns L1.., r21, r31, r32, ..)
// against the dispatcher, which answers the upper question at negated limits with accuracy
// 1e-4, and against direct(l, c, 1e-9). Returns the largest errors at 1e-4 and 1e-9.
template <class Direct>
std::pair<double, double> check_lower_orthant(const std::string& name, int nd, std::size_t count, Direct direct)
{
    const auto rows = read_reference(name);
    EXPECT_EQ(rows.size(), count);
    double worst4 = 0.0;
    double worst9 = 0.0;
    for (const auto& row : rows) {
        static const char* const limit[4] = {"L1", "L2", "L3", "L4"};
        static const char* const corr[6] = {"r21", "r31", "r32", "r41", "r42", "r43"};
        double l[4], a[4], c[6];
        for (int i = 0; i < nd; ++i) {
            l[i] = row.num(limit[i]);
            a[i] = -l[i];
        }
        for (int q = 0; q < nd * (nd - 1) / 2; ++q)
            c[q] = row.num(corr[q]);
        double err = 0.0;
        int ifail = 1;
        double p4 = -1.0;
        traz::g01hbt(nd, a, a, c, err, ifail, p4);
        const double p9 = direct(l, c, 1.0e-9);
        EXPECT_NEAR(p4, row.num("p"), 1.0e-4) << row.what();
        EXPECT_NEAR(p9, row.num("p"), 1.0e-9) << row.what();
        worst4 = std::max(worst4, std::fabs(p4 - row.num("p")));
        worst9 = std::max(worst9, std::fabs(p9 - row.num("p")));
    }
    return {worst4, worst9};
}

} // namespace traz::test
