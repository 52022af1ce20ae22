// Views of the results record besides the classic report: JSON and CSV. Both only render
// what the record holds.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "evaluate/record.hpp"

namespace traz {

// Program name and version, as --version and the JSON give them.
extern const char* const kProgramVersion;

// What the pass with selector iz integrates, in words, for g groups.
std::string selector_words(int iz, int g);
// The meaning of an integrator status.
std::string status_words(const PassRecord& p);
// The outcome as the JSON and CSV name it.
const char* outcome_name(Outcome o);

// The JSON object of one run.
nlohmann::ordered_json to_json(const RunRecord& rec);

// CSV: a header and one row per run. Extra leading columns (a sweep's point and varied
// values) come before the run's own.
std::string csv_header(const std::vector<std::string>& extra);
std::string csv_row(const RunRecord& rec, const std::vector<std::string>& extra);
// A field quoted when it holds a comma, a quote or a line end.
std::string csv_field(const std::string& text);
// A double with enough digits to read back the same value; empty for NaN.
std::string csv_number(double x);

} // namespace traz
