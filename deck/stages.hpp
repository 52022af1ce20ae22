// The stage composites of a deck: each stage ranks on the weighted sum of its predictors.
#pragma once

#include "deck/deck.hpp"

namespace traz {

// Stage-level values derived from the deck, for every stage the deck has.
struct StageValues {
    double cormc[kReadStage * kReadStage] = {};  // leading dimension kReadStage
    double cory[kReadStage] = {};
    double ef1[kReadStage] = {};  // group 1's standardized mean on each stage composite

    double& Cormc(int j, int k) { return cormc[(j - 1) + kReadStage * (k - 1)]; }
    double Cormc(int j, int k) const { return cormc[(j - 1) + kReadStage * (k - 1)]; }
};

// Stage composites of the deck's predictors: correlations, validities and group 1's means.
void derive_stages(const Deck& d, StageValues& s);

} // namespace traz
