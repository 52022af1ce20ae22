// The classic report: banner, echo of the problem, result lines and the CPU-time line.
#pragma once
#include <cstdio>
#include <string_view>

#include "deck/deck.hpp"
#include "deck/stages.hpp"
#include "evaluate/evaluate.hpp"
#include "evaluate/record.hpp"

namespace traz {

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

// The classic report of a run: banner, echo, results or refusal lines, time line. A deck
// that was not read or was refused by the deck checks has no report.
void write_report(std::FILE* out, const RunRecord& rec);

// The run's one-line diagnostic and its warnings, as "traz: [file: ]...".
void write_diagnostics(std::FILE* err, const RunRecord& rec);

// Runs one problem: reads the deck text, writes the report to out and diagnostics to err.
int run(std::string_view deck_text, std::FILE* out, std::FILE* err, const RunOptions& opt = {});

// One multi-stage pass of the problem s for the selector iz as the classic report has it:
// the values taken as take_integral takes them, and the status line of an abnormal end
// written to out.
void integrate_multistage(std::FILE* out, const SelectionState& s, int iz, double& result, double& abserr,
                          double relerr, int maxcls);

} // namespace traz
