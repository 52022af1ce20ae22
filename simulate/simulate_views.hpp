// Views of a simulation record: the classic-style text report, JSON and CSV. They render what
// the record holds and compute nothing.
#pragma once
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "simulate/record.hpp"

namespace traz::sim {

void write_simulation_report(std::FILE* out, const SimulationRecord& rec);
nlohmann::ordered_json simulation_json(const SimulationRecord& rec);
// One header line and one row; with --check, the analytic value and z of each quantity too.
std::string simulation_csv(const SimulationRecord& rec);

} // namespace traz::sim
