// The selection state: the model's parameters for one problem, filled by the evaluation and
// read by the integrands, which receive it as an argument.
#pragma once
#include <cstdint>

namespace traz {

// Arrays hold the problem's 1-based items from element 0 on (cory[j-1] is cory(j)).
// Two-dimensional arrays are column-major; use the 1-based accessors below.
struct SelectionState {
    double corc[10];     // strict lower triangle of cormc, row by row
    double cormc[4 * 4]; // correlation matrix of the stage composites
    double cory[3];      // validity of each stage composite
    double dl4c[3];      // log normalising constant of each stage's order-statistic density
    double ef[6 * 4];    // (group, stage): standardized mean of a group on a stage composite
    double pg[6];        // group proportions
    double efc[6];       // criterion mean of each group
    double srtot;        // overall selection ratio ns(nstage)/napp
    std::int32_t napp;
    std::int32_t ns[4];
    std::int32_t nstage;
    std::int32_t ngroup;
    // Derived from the above by prepare_state, once per problem: with three stages, the
    // correlation list of the two other composites given composite j (j = 1..3, at [j]).
    double given3[4][10];

    double& Cormc(int j, int k) { return cormc[(j - 1) + 4 * (k - 1)]; }
    double Cormc(int j, int k) const { return cormc[(j - 1) + 4 * (k - 1)]; }
    double& Ef(int g, int j) { return ef[(g - 1) + 6 * (j - 1)]; }
    double Ef(int g, int j) const { return ef[(g - 1) + 6 * (j - 1)]; }
};

// Computes the state's derived values (given3) from its parameters; call after filling them.
void prepare_state(SelectionState& s);

} // namespace traz
