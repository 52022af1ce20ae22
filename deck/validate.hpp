// What a deck must satisfy, beyond being readable, for TRAZ to compute it.
#pragma once
#include <string>

#include "deck/deck.hpp"
#include "deck/stages.hpp"

namespace traz {

// Checks a deck the reader accepted for what the program can compute. Returns true when it
// can; otherwise false with a one-line diagnostic in `message` naming the statement, the
// item or the statement's lines, and what is wrong, for example
//   deck statement 1 (predictors, stages, applicants and retained counts), item 4 on line 1:
//   stage 1 keeps all 20 applicants: drop that stage
// (one line; the caller prints it after "traz: "). The rules are checked in the order of
// the README's list, and the first that fails is reported.
//
// Decks beyond the computed limits (more than 10 predictors, more than 3 stages, more than
// 100 applicants; with `fitted`, 10,000) are not judged here and return true: they keep the
// echo of the problem followed by the refusal lines of the report, whatever else is wrong
// with them.
//
// `s` holds the stage values that derive_stages computed from `d`. `fitted` says the passes
// integrate over a domain fitted to the density, which takes larger pools. Nothing here
// guards the fixed cube: the run's mass check finds where it loses density, and the default
// mode then recomputes over the fitted domain.
bool validate_deck(const Deck& d, const StageValues& s, std::string& message, bool fitted = false);
// The same with the statement, item and lines of the fault.
bool validate_deck(const Deck& d, const StageValues& s, DeckFault& fault, bool fitted = false);

// The largest pool the computation takes, in the classic mode or over a fitted domain.
// Larger decks (and decks of more than kMaxPred predictors or kMaxStage stages) are echoed
// and then refused by the report's own lines.
int applicant_limit(bool fitted);

// Largest cubature budget (maxcls) the work array holds, and the smallest the cubature
// accepts, for a problem of 2 or 3 stages.
int largest_budget(int nstage);
int smallest_budget(int nstage);

// The checks the simulation shares, which take any number of predictors.
//
// A fault of one item, "deck statement 1 (...), item 4 on line 1: why", or of several,
// "deck statement 4 (...), lines 4 to 5: why" (a line that is not known, 0, is left out).
// Both fill `fault` and return false.
bool item_fault(DeckFault& fault, int no, const std::string& what, int item, int line, const std::string& why);
bool statement_fault(DeckFault& fault, int no, const std::string& what, int first, int last, const std::string& why);
// The lower Cholesky factor of the predictor correlations into l (leading dimension ld ≥
// npred); false with the fault when they are not positive definite.
bool factor_correlations(const Deck& d, double* l, int ld, DeckFault& fault);
// Whether the validities fit the predictor correlations (c' R^-1 c at most 1, within
// rounding), from that factor; false with the fault when they do not.
bool validities_fit(const Deck& d, const double* l, int ld, DeckFault& fault);

} // namespace traz
