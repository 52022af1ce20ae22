// The report: banner, echo of the problem, result lines and the CPU-time line.
#pragma once
#include <cstdio>

#include "driver/deck.hpp"

namespace traz {

// Stage-level values derived from the deck, for every stage the deck has.
struct StageValues {
    double cormc[kReadStage * kReadStage] = {};  // leading dimension kReadStage
    double cory[kReadStage] = {};
    double ef1[kReadStage] = {};  // group 1's standardized mean on each stage composite

    double& Cormc(int j, int k) { return cormc[(j - 1) + kReadStage * (k - 1)]; }
    double Cormc(int j, int k) const { return cormc[(j - 1) + kReadStage * (k - 1)]; }
};

void write_banner(std::FILE* out);
void write_echo(std::FILE* out, const Deck& d, const StageValues& s);
void write_invalid(std::FILE* out, const int* ifin);
void write_ifail(std::FILE* out, int iz, int ifail, double abserr);
void write_criterion(std::FILE* out, double e);
void write_empty(std::FILE* out);
void write_rates(std::FILE* out, double r1, double r2);
void write_ai_ratio(std::FILE* out, double ratio);
void write_proportion(std::FILE* out, double proportion, double target);
void write_sd(std::FILE* out, double sd);
void write_cpu_time(std::FILE* out, float seconds);

struct RunRecord;
// The classic report of a run: banner, echo, results or refusal lines, time line. A deck
// that was not read or was refused by the deck checks has no report.
void write_report(std::FILE* out, const RunRecord& rec);

} // namespace traz
