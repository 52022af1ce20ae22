// The decks of the accuracy sweep, shared by the benchmarks that compare integrations with
// the tensor-rule reference: two- and three-stage problems from pools of 6 to 10,000, stage
// correlations from 0.3 to 0.999, small final stages, effect sizes of both signs.
#pragma once
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace traz::benchdecks {

struct Case {
    std::string name;
    std::string deck;
};

// A deck whose stages rank on one predictor each, so that the predictor correlations are the
// stage correlations: r = (r21, r31, r32), validities v, group-1 effect sizes e per stage.
inline std::string stage_deck(int napp, const std::vector<int>& ns, const std::vector<double>& r,
                              const std::vector<double>& v, const std::vector<double>& e, double pg1, double efc1,
                              const char* budget = "1.0E-4 100000") {
    const int K = static_cast<int>(ns.size());
    std::ostringstream s;
    s.precision(10);
    s << K << ' ' << K << ' ' << napp;
    for (int n : ns) s << ' ' << n;
    s << '\n';
    for (int j = 0; j < K; ++j) {
        for (int i = 0; i < K; ++i) s << (i == j ? "1 " : "0 ");
        s << '\n';
    }
    for (int j = 0; j < K; ++j) s << v[j] << ' ';
    s << '\n';
    // Upper triangle row by row: r12 r13 / r23.
    if (K == 2) s << r[0] << "\n";
    if (K == 3) s << r[0] << ' ' << r[1] << "\n" << r[2] << "\n";
    for (int j = 0; j < K; ++j) s << e[j] << ' ';
    s << "\n2 " << pg1 << " 7\n" << efc1 << "\n" << budget << "\n";
    return s.str();
}

// A deck of ten predictors: stage 1 weighs predictors 1-3, stage 2 predictors 1-6 and the
// last stage all ten (or the first stage alone, for one stage). The predictors correlate
// 0.3 + 0.4 * 0.7^|i - j| (positive definite: a constant, a first-order autoregressive and an
// identity part); validities rise from 0.20 to 0.45 and group 1's effect sizes are shift + a
// pattern of -0.2 .. -0.9.
inline std::string ten_predictor_deck(int napp, const std::vector<int>& ns, double shift, double pg1, double efc1,
                                      const char* budget = "1.0E-4 100000") {
    const int P = 10, K = static_cast<int>(ns.size());
    std::ostringstream s;
    s.precision(10);
    s << P << ' ' << K << ' ' << napp;
    for (int n : ns) s << ' ' << n;
    s << '\n';
    const int last[3] = {3, K == 2 ? 10 : 6, 10};
    for (int j = 0; j < K; ++j) {
        const int upto = j == K - 1 ? 10 : last[j];
        for (int i = 0; i < P; ++i) s << (i < upto ? (j == K - 1 ? 1.0 - 0.05 * i : 1.0) : 0.0) << ' ';
        s << '\n';
    }
    for (int i = 0; i < P; ++i) s << 0.20 + 0.025 * i << ' ';
    s << '\n';
    for (int i = 0; i < P - 1; ++i) {
        for (int j = i + 1; j < P; ++j) s << 0.3 + 0.4 * std::pow(0.7, j - i) << ' ';
        s << '\n';
    }
    for (int i = 0; i < P; ++i) s << shift - 0.2 - 0.07 * (i % 10) << ' ';
    s << "\n2 " << pg1 << " 7\n" << efc1 << "\n" << budget << "\n";
    return s.str();
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The two- and three-stage decks of the sweep.
inline std::vector<Case> sweep() {
    std::vector<Case> c;
    c.push_back({"issue-example",
                 "6 3 60 35 15 5\n1 1 0 0 0 0\n1 1 1 1 0 0\n1 1 1 1 1 1\n"
                 "0.45 0.40 0.35 0.30 0.30 0.25\n0.55 0.45 0.40 0.35 0.30\n0.45 0.40 0.35 0.30\n"
                 "0.45 0.40 0.35\n0.40 0.35\n0.35\n-0.9 -0.8 -0.4 -0.3 -0.2 -0.1\n2 0.25 7\n-0.5\n"
                 "1.0E-4 100000\n"});
    const std::string ex = std::string(TRAZ_SOURCE_DIR) + "/examples/";
    c.push_back({"example-2stage", slurp(ex + "two-stage.deck")});
    c.push_back({"example-3stage", slurp(ex + "three-stage.deck")});
    // Two stages.
    c.push_back({"2s-n10-r0.30", stage_deck(10, {5, 2}, {0.30}, {0.35, 0.45}, {-0.5, -0.4}, 0.30, -0.4)});
    c.push_back({"2s-n6-r0.70", stage_deck(6, {4, 2}, {0.70}, {0.40, 0.45}, {-0.8, -0.6}, 0.50, -0.5)});
    c.push_back({"2s-n20-r0.60", stage_deck(20, {10, 4}, {0.60}, {0.40, 0.50}, {-1.0, -0.5}, 0.50, -0.6)});
    c.push_back({"2s-n100-r0.50", stage_deck(100, {10, 5}, {0.50}, {0.30, 0.40}, {-0.7, -0.3}, 0.15, -0.3)});
    c.push_back({"2s-n50-r0.90", stage_deck(50, {20, 8}, {0.90}, {0.45, 0.50}, {-0.9, -0.7}, 0.20, -0.5)});
    c.push_back({"2s-n100-r0.95", stage_deck(100, {40, 10}, {0.95}, {0.45, 0.48}, {-0.8, -0.7}, 0.10, -0.5)});
    c.push_back({"2s-n30-r0.99", stage_deck(30, {12, 5}, {0.99}, {0.45, 0.46}, {-0.6, -0.55}, 0.40, -0.4)});
    c.push_back({"2s-n40-r0.999", stage_deck(40, {20, 10}, {0.999}, {0.45, 0.45}, {-0.5, -0.5}, 0.25, -0.4)});
    c.push_back({"2s-n80-keep79", stage_deck(80, {79, 40}, {0.80}, {0.40, 0.45}, {-0.6, -0.4}, 0.40, -0.3)});
    // Three stages.
    c.push_back({"3s-n12-r0.30", stage_deck(12, {8, 5, 2}, {0.30, 0.30, 0.30}, {0.3, 0.35, 0.4}, {-0.5, -0.4, -0.3},
                                            0.50, -0.3)});
    c.push_back({"3s-n6-r0.60", stage_deck(6, {5, 3, 1}, {0.60, 0.50, 0.70}, {0.35, 0.4, 0.45}, {-0.7, -0.5, -0.4},
                                           0.50, -0.5)});
    c.push_back({"3s-n20-r0.60", stage_deck(20, {12, 6, 3}, {0.50, 0.40, 0.60}, {0.35, 0.4, 0.45}, {-0.8, -0.6, -0.5},
                                            0.30, -0.5)});
    c.push_back({"3s-n40-r0.95", stage_deck(40, {25, 12, 5}, {0.90, 0.85, 0.95}, {0.40, 0.45, 0.48},
                                            {-0.9, -0.7, -0.6}, 0.20, -0.6)});
    c.push_back({"3s-n25-r0.98", stage_deck(25, {15, 8, 4}, {0.95, 0.95, 0.98}, {0.45, 0.46, 0.47},
                                            {-0.8, -0.75, -0.7}, 0.35, -0.5)});
    c.push_back({"3s-n60-r0.99", stage_deck(60, {30, 15, 6}, {0.98, 0.97, 0.99}, {0.45, 0.46, 0.47},
                                            {-0.7, -0.65, -0.6}, 0.25, -0.5)});
    c.push_back({"3s-n30-r0.999", stage_deck(30, {20, 10, 5}, {0.999, 0.998, 0.999}, {0.45, 0.45, 0.45},
                                             {-0.5, -0.5, -0.5}, 0.50, -0.4)});
    c.push_back({"3s-n100-97", stage_deck(100, {99, 98, 97}, {0.90, 0.80, 0.90}, {0.4, 0.45, 0.5},
                                          {-0.6, -0.5, -0.4}, 0.30, -0.4)});
    c.push_back({"3s-n100-r0.97", stage_deck(100, {50, 20, 5}, {0.95, 0.90, 0.97}, {0.40, 0.44, 0.48},
                                             {-1.0, -0.8, -0.6}, 0.10, -0.7)});
    c.push_back({"3s-n80-r0.97", stage_deck(80, {60, 40, 20}, {0.97, 0.95, 0.97}, {0.42, 0.44, 0.46},
                                            {-0.6, -0.5, -0.45}, 0.30, -0.4)});
    // Ten predictors, 100 applicants, three stages keeping 60, 25 and 10 (and variants).
    c.push_back({"10p-n100-60-25-10", ten_predictor_deck(100, {60, 25, 10}, 0.0, 0.25, -0.5)});
    c.push_back({"10p-n100-60-25-10+", ten_predictor_deck(100, {60, 25, 10}, 1.1, 0.25, 0.5)});
    c.push_back({"10p-n100-50-10", ten_predictor_deck(100, {50, 10}, 0.0, 0.30, -0.4)});
    c.push_back({"10p-n100-30-3-1", ten_predictor_deck(100, {30, 3, 1}, 0.0, 0.40, -0.4)});
    // Small final stages: keep 1 of 2, 2 of 3, 1 of 3.
    c.push_back({"2s-n10-2-1", stage_deck(10, {2, 1}, {0.60}, {0.40, 0.45}, {-0.5, -0.4}, 0.40, -0.4)});
    c.push_back({"2s-n30-3-2", stage_deck(30, {3, 2}, {0.80}, {0.40, 0.45}, {-0.6, -0.5}, 0.30, -0.4)});
    c.push_back({"3s-n12-5-2-1", stage_deck(12, {5, 2, 1}, {0.70, 0.60, 0.80}, {0.35, 0.4, 0.45}, {-0.6, -0.5, -0.4},
                                            0.40, -0.4)});
    c.push_back({"3s-n40-8-3-2", stage_deck(40, {8, 3, 2}, {0.90, 0.85, 0.95}, {0.40, 0.45, 0.48},
                                            {-0.8, -0.6, -0.5}, 0.30, -0.5)});
    c.push_back({"3s-n100-10-3-1", stage_deck(100, {10, 3, 1}, {0.60, 0.50, 0.70}, {0.35, 0.4, 0.45},
                                              {-0.7, -0.5, -0.4}, 0.25, -0.5)});
    // Pools that shed one applicant per stage.
    c.push_back({"2s-n100-99-98", stage_deck(100, {99, 98}, {0.85}, {0.40, 0.45}, {-0.5, -0.4}, 0.35, -0.4)});
    c.push_back({"3s-n50-49-48-47", stage_deck(50, {49, 48, 47}, {0.7, 0.6, 0.8}, {0.4, 0.45, 0.5},
                                               {-0.5, -0.4, -0.3}, 0.40, -0.3)});
    // Stage correlations up to 0.999 on larger pools.
    c.push_back({"2s-n100-r0.999", stage_deck(100, {50, 20}, {0.999}, {0.45, 0.45}, {-0.6, -0.6}, 0.30, -0.5)});
    c.push_back({"3s-n100-r0.995", stage_deck(100, {60, 30, 10}, {0.995, 0.99, 0.995}, {0.44, 0.45, 0.46},
                                              {-0.7, -0.65, -0.6}, 0.25, -0.5)});
    c.push_back({"3s-n100-r0.999", stage_deck(100, {40, 15, 5}, {0.999, 0.998, 0.999}, {0.45, 0.45, 0.45},
                                              {-0.5, -0.5, -0.5}, 0.30, -0.4)});
    // Effect sizes of both signs: group 1 above, mixed, far below.
    c.push_back({"2s-n50-pos", stage_deck(50, {20, 5}, {0.70}, {0.40, 0.45}, {0.6, 0.4}, 0.30, 0.5)});
    c.push_back({"3s-n60-pos", stage_deck(60, {30, 12, 4}, {0.80, 0.70, 0.85}, {0.40, 0.45, 0.50}, {0.8, 0.5, 0.3},
                                          0.70, 0.6)});
    c.push_back({"3s-n60-mixed", stage_deck(60, {30, 12, 4}, {0.80, 0.70, 0.85}, {0.40, 0.45, 0.50},
                                            {0.5, -0.3, -0.8}, 0.40, -0.2)});
    c.push_back({"2s-n40-far", stage_deck(40, {15, 5}, {0.60}, {0.40, 0.45}, {-1.8, -1.5}, 0.30, -1.2)});
    c.push_back({"3s-n50-far", stage_deck(50, {25, 10, 4}, {0.85, 0.80, 0.90}, {0.40, 0.45, 0.50},
                                          {-1.6, -1.4, -1.2}, 0.20, -1.0)});
    // Group-1 shares near the ends.
    c.push_back({"2s-n60-pg0.05", stage_deck(60, {25, 8}, {0.75}, {0.40, 0.45}, {-0.8, -0.6}, 0.05, -0.5)});
    c.push_back({"3s-n60-pg0.9", stage_deck(60, {30, 12, 4}, {0.80, 0.70, 0.85}, {0.40, 0.45, 0.50},
                                            {-0.6, -0.5, -0.4}, 0.90, -0.4)});
    // Pools beyond the classic limit of 100 (--fitted only).
    c.push_back({"2s-n1000", stage_deck(1000, {300, 100}, {0.70}, {0.40, 0.45}, {-0.8, -0.6}, 0.30, -0.5)});
    c.push_back({"3s-n1000", ten_predictor_deck(1000, {600, 250, 100}, 0.0, 0.25, -0.5)});
    c.push_back({"2s-n10000", stage_deck(10000, {3000, 1000}, {0.70}, {0.40, 0.45}, {-0.8, -0.6}, 0.30, -0.5)});
    c.push_back({"3s-n10000", ten_predictor_deck(10000, {6000, 2500, 1000}, 0.0, 0.25, -0.5)});
    c.push_back({"3s-n10000-r0.99", stage_deck(10000, {4000, 1500, 500}, {0.98, 0.97, 0.99}, {0.45, 0.46, 0.47},
                                               {-0.7, -0.65, -0.6}, 0.25, -0.5)});
    return c;
}

// Decks the fixed cube gets wrong or that its range checks used to refuse, for the default
// mode (the cube, recomputed over the fitted domain when it loses density): small final
// stages, 99 of 100 kept at the first stage, group means near or beyond 3, stage correlations
// to 0.999, and passes that all spend their budget.
inline std::vector<Case> default_mode() {
    std::vector<Case> c;
    // Small final stages: k of k + 1 at the last stage.
    c.push_back({"2s-n40-2-1", stage_deck(40, {2, 1}, {0.70}, {0.40, 0.45}, {-0.6, -0.5}, 0.30, -0.4)});
    c.push_back({"3s-n10-5-2-1", stage_deck(10, {5, 2, 1}, {0.60, 0.50, 0.70}, {0.35, 0.40, 0.45}, {-0.6, -0.5, -0.4},
                                            0.40, -0.4)});
    c.push_back({"3s-n60-20-3-2+", stage_deck(60, {20, 3, 2}, {0.85, 0.80, 0.90}, {0.40, 0.45, 0.50}, {0.8, 0.6, 0.5},
                                              0.30, 0.5)});
    c.push_back({"10p-n100-40-2-1", ten_predictor_deck(100, {40, 2, 1}, 0.0, 0.30, -0.4)});
    c.push_back({"2s-n100-5-4+", stage_deck(100, {5, 4}, {0.90}, {0.40, 0.45}, {1.0, 0.8}, 0.30, 0.6)});
    // 99 of 100 at the first stage.
    c.push_back({"2s-n100-99-30", stage_deck(100, {99, 30}, {0.90}, {0.40, 0.45}, {-0.6, -0.5}, 0.30, -0.4)});
    c.push_back({"3s-n100-99-40-10", stage_deck(100, {99, 40, 10}, {0.90, 0.85, 0.92}, {0.40, 0.45, 0.50},
                                                {-0.6, -0.5, -0.4}, 0.30, -0.4)});
    c.push_back({"2s-n100-99-10+", stage_deck(100, {99, 10}, {0.80}, {0.40, 0.45}, {0.8, 0.6}, 0.40, 0.5)});
    c.push_back({"3s-n99-67-15-3", stage_deck(99, {67, 15, 3}, {0.85, 0.80, 0.91}, {0.40, 0.45, 0.50},
                                              {0.9, 0.8, 0.7}, 0.30, 0.5)});
    // Group means near and beyond 3 (the range check refused those beyond).
    c.push_back({"2s-n50-mean3.2", stage_deck(50, {15, 5}, {0.80}, {0.40, 0.45}, {3.2, 2.5}, 0.20, 1.5)});
    c.push_back({"3s-n60-mean-3.4", stage_deck(60, {30, 10, 3}, {0.85, 0.80, 0.90}, {0.40, 0.45, 0.50},
                                               {-3.4, -3.0, -2.8}, 0.50, -1.5)});
    // Stage correlations to 0.999.
    c.push_back({"2s-n60-r0.999+", stage_deck(60, {25, 5}, {0.999}, {0.45, 0.45}, {0.5, 0.5}, 0.30, 0.4)});
    c.push_back({"3s-n80-r0.999-0.99", stage_deck(80, {40, 12, 3}, {0.99, 0.995, 0.999}, {0.44, 0.45, 0.46},
                                                  {-0.7, -0.65, -0.6}, 0.25, -0.5)});
    // Every pass spends its budget.
    c.push_back({"3s-example-relerr0", slurp(std::string(TRAZ_SOURCE_DIR) + "/examples/three-stage.deck")});
    c.back().deck.replace(c.back().deck.rfind("1.0e-4 100000"), 13, "0.0 15000");
    c.push_back({"2s-n50-spent600", stage_deck(50, {20, 8}, {0.90}, {0.45, 0.50}, {-0.9, -0.7}, 0.20, -0.5,
                                               "1.0E-6 600")});
    c.push_back({"3s-n60-spent3000", stage_deck(60, {30, 15, 6}, {0.98, 0.97, 0.99}, {0.45, 0.46, 0.47},
                                                {-0.7, -0.65, -0.6}, 0.25, -0.5, "1.0E-5 3000")});
    c.push_back({"10p-n100-spent5000", ten_predictor_deck(100, {60, 25, 10}, 0.0, 0.25, -0.5, "1.0E-6 5000")});
    return c;
}

// One-stage decks (for the one-dimensional rule).
inline std::vector<Case> one_stage() {
    std::vector<Case> c;
    const std::string ex = std::string(TRAZ_SOURCE_DIR) + "/examples/";
    c.push_back({"example-1stage", slurp(ex + "single-stage.deck")});
    c.push_back({"1s-n100-10", ten_predictor_deck(100, {10}, 0.0, 0.25, -0.5)});
    c.push_back({"1s-n2-1", stage_deck(2, {1}, {}, {0.45}, {-0.5}, 0.40, -0.4)});
    c.push_back({"1s-n3-2", stage_deck(3, {2}, {}, {0.45}, {-0.5}, 0.40, -0.4)});
    c.push_back({"1s-n100-99", stage_deck(100, {99}, {}, {0.45}, {-0.5}, 0.40, -0.4)});
    c.push_back({"1s-n60-far", stage_deck(60, {6}, {}, {0.45}, {-1.8}, 0.20, -1.2)});
    return c;
}

} // namespace traz::benchdecks
