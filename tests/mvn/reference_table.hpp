// Reads the reference tables of normal probabilities (comma-separated, header line).
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace traz::test {

// One row: the text of every column by header name, and numbers on request.
struct reference_row {
    std::map<std::string, std::string> text;

    double num(const std::string& column) const
    {
        const auto it = text.find(column);
        if (it == text.end()) {
            throw std::runtime_error("no column " + column);
        }
        char* end = nullptr;
        const double v = std::strtod(it->second.c_str(), &end);
        if (end == it->second.c_str() || *end != '\0') {
            throw std::runtime_error("column " + column + ": not a number: " + it->second);
        }
        return v;
    }
    const std::string& id() const { return text.at("id"); }
};

inline std::vector<reference_row> read_reference(const std::string& name)
{
    const std::string path = std::string(TRAZ_REFERENCE_DIR) + "/" + name;
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    auto split = [](const std::string& line) {
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, ',')) {
            fields.push_back(field);
        }
        return fields;
    };
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = split(line);
    std::vector<reference_row> rows;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        const std::vector<std::string> fields = split(line);
        if (fields.size() != header.size()) {
            throw std::runtime_error(path + ": bad row: " + line);
        }
        reference_row row;
        for (std::size_t i = 0; i < header.size(); ++i) {
            row.text[header[i]] = fields[i];
        }
        rows.push_back(row);
    }
    return rows;
}

} // namespace traz::test
