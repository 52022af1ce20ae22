// Design sweeps: the RANGE that names one deck quantity and its values, the deck of one
// point of the sweep, and the deck written back as text.
#pragma once
#include <string>
#include <vector>

#include "deck/deck.hpp"

namespace traz {

// The deck quantities a sweep can vary.
//   ns(k)   applicants retained after stage k (integer)   napp  applicants in the pool (integer)
//   pg      proportion of group 1                          efc   criterion effect size of group 1
//   ef(i)   effect size of group 1 on predictor i          cory(i)  validity of predictor i
//   mix(k)  stage-k weights (1 - t)·A + t·B, A the base deck's, B the --mix-to weights
enum class Quantity { ns, napp, pg, efc, ef, cory, mix };

struct SweepRange {
    Quantity q = Quantity::pg;
    int index = 0;                // k for ns(k)/mix(k), i for ef(i)/cory(i); 0 otherwise
    std::string name;             // normalised, e.g. "ns(2)"
    std::vector<double> values;   // in sweep order
};

// Most values one range may have.
constexpr int kMaxRangeValues = 10000;

// Parses NAME=FROM:TO:STEP or NAME=V1,V2,... ("ns(2)=5:20:5", "pg=0.1:0.5:0.1",
// "cory(3)=0.2,0.3,0.5", "mix(2)=0:1:0.25"). FROM:TO:STEP runs from FROM towards TO and
// includes TO when it is reached within rounding (0.1:0.5:0.1 gives 5 values); STEP is
// negative when TO < FROM. Each value of FROM:TO:STEP is FROM + n·STEP taken to 15
// significant digits, so 0.1:0.5:0.1 gives 0.3, not 0.30000000000000004.
// Errors (one line naming the RANGE in `error`, `out` unspecified): unknown name, a missing,
// unexpected or out-of-range index, a number that does not parse or is not finite, a zero
// step or one of the wrong sign, an empty list or value, a non-integer or 32-bit-overflowing
// count for ns/napp, more than kMaxRangeValues values.
bool parse_range(const std::string& text, SweepRange& out, std::string& error);

// Parses the --mix-to weights "W1,W2,...": finite numbers separated by commas.
bool parse_weights(const std::string& text, std::vector<double>& out, std::string& error);

// The base deck with the range's quantity set to `value`, completed exactly as the reader
// completes a deck that carries that value in its text: srtot = ns(nstage)/napp after ns or
// napp, pg(2) = 1 - pg(1), efc(2) = 0 (the other completions do not depend on a swept value).
// For mix(k) the stage-k weights are (1 - t)·A + t·B with t = value, A the base deck's
// stage-k weights and B = mix_to (one weight per predictor; ignored for the other quantities).
// Returns false with one line naming the range when the index lies outside the deck (ns(3)
// in a two-stage deck, ef(7) with 6 predictors), mix_to is missing or of the wrong length, a
// count is not an integer within 32 bits, or a mixed weight is not finite.
// The deck checks (too many applicants, ...) are not made here: the run makes them.
bool apply_range_value(const Deck& base, const SweepRange& r, double value, const std::vector<double>& mix_to,
                       Deck& out, std::string& error);

// apply_range_value for every value of the range, to refuse a bad range before any run.
bool check_range(const Deck& base, const SweepRange& r, const std::vector<double>& mix_to, std::string& error);

// A value for CSV columns and plot labels: counts as integers, others with up to 6
// significant digits ("0.25", "1e-05").
std::string format_value(const SweepRange& r, double value);

// The range's name and what it is in words, for axis labels: "pg, proportion of group 1".
std::string describe(const SweepRange& r);


} // namespace traz
