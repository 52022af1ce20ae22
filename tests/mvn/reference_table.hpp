// Reads a reference table of normal probabilities (comma-separated, header line).
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

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

} // namespace traz::test
