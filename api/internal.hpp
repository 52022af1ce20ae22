// What the library's own files share behind the public header.
#pragma once
#include "deck/deck.hpp"
#include "evaluate/evaluate.hpp"
#include "traz/traz.hpp"

namespace traz {

// The deck of a design (completed as the reader completes one); throws Error when the
// design's fields do not fit together.
void deck_of_design(const Design& g, Deck& d);
// The design of a deck, with the deck's lines for diagnostics.
Design design_of_deck(const Deck& d);
Diagnostic diagnostic_of(const DeckFault& f);

// The run options of a design's integration choice and the caller's options.
RunOptions run_options(Integration integration, const Options& options);
// Evaluates a deck (or turns a record already filled, such as a bad deck's, into a result)
// with the library messages collected into the result.
Result evaluate_deck_struct(const Deck& d, const RunOptions& opt);
Result result_of(std::shared_ptr<RunRecord> rec, std::string messages);

} // namespace traz
