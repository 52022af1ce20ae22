// The selection state: the model's parameters, written by the driver and read by the
// integrands. Each thread has its own, so problems can run side by side.
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
    std::int32_t iz;     // integrand selector
    std::int32_t ngroup;

    double& Cormc(int j, int k) { return cormc[(j - 1) + 4 * (k - 1)]; }
    double Cormc(int j, int k) const { return cormc[(j - 1) + 4 * (k - 1)]; }
    double& Ef(int g, int j) { return ef[(g - 1) + 6 * (j - 1)]; }
    double Ef(int g, int j) const { return ef[(g - 1) + 6 * (j - 1)]; }
};

// The calling thread's instance; zero when the thread starts. Defined here, constant
// initialised, so every file reaches it directly rather than through a TLS wrapper call.
inline thread_local constinit SelectionState sel{};

} // namespace traz
