// The default mode on a deck whose density the fixed cube cuts off: every pass recomputed over
// the fitted domain, reported as such, within the reference's tolerance and bounds that hold
// it; --domain cube keeps the cube's numbers, warns, and widens its bounds until they hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "evaluate/evaluate.hpp"
#include "evaluate/record.hpp"
#include "ms_common.hpp"
#include "tensor_reference.hpp"
#include "traz/traz.hpp"

namespace {

using traz::testrun::read_stream;

// Three stages correlated 0.82-0.95, 60 applicants: the cube loses 3.2e-3 of the density.
const char* const kRidge =
    "6 3 60 35 15 5\n1 1 0 0 0 0\n1 1 1 1 0 0\n1 1 1 1 1 1\n0.45 0.40 0.35 0.30 0.30 0.25\n"
    "0.55 0.45 0.40 0.35 0.30\n0.45 0.40 0.35 0.30\n0.45 0.40 0.35\n0.40 0.35\n0.35\n"
    "-0.9 -0.8 -0.4 -0.3 -0.2 -0.1\n2 0.25 7\n-0.5\n1.0E-4 100000\n";

struct Outcome {
    traz::RunRecord rec;
    std::string out, err;
};

Outcome run(bool fitted, bool cube_only) {
    Outcome r;
    traz::RunOptions opt;
    opt.fitted = fitted;
    opt.cube_only = cube_only;
    opt.cpu_clock = &traz::testrun::zero_clock;
    traz::compute(kRidge, r.rec, opt);
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    traz::write_report(out, r.rec);
    traz::write_diagnostics(err, r.rec);
    r.out = read_stream(out);
    r.err = read_stream(err);
    return r;
}

// |value - reference| within the result's bound, for E, the rates, the ratios and the SD.
void expect_bounds_hold(const traz::Results& r, const traz::tensorref::Reference& ref, const char* mode) {
    const double impact = std::fmin(ref.R1, ref.R2) / std::fmax(ref.R1, ref.R2);
    for (auto [b, v, what] : {std::tuple{r.criterion, ref.E, "E"}, {r.rate1, ref.R1, "R1"}, {r.rate2, ref.R2, "R2"},
                              {r.ai, ref.AI, "AI"}, {r.impact, impact, "impact"}, {r.sd, ref.SD, "SD"}})
        EXPECT_LE(std::fabs(b.value - v), b.error) << mode << " " << what << " " << b.value << " against " << v;
}

TEST(DefaultDomain, RecomputesOverTheFittedDomainWhenTheCubeLosesDensity) {
    bool ok = false;
    const traz::tensorref::Reference ref = traz::tensorref::tensor_reference(kRidge, 32, ok);
    ASSERT_TRUE(ok);

    // The default: the fitted run's report and results, the line naming what the cube lost.
    const Outcome automatic = run(false, false), fitted = run(true, false);
    EXPECT_NEAR(automatic.rec.cube_lost, 3.2e-3, 0.05e-3);
    std::string expected = fitted.out;
    const std::string plain = "   integration domain: fitted\n", said = "integration domain: fitted (the fixed range lost 3.2e-3 of the density)";
    ASSERT_NE(expected.find(plain), std::string::npos);
    expected.replace(expected.find(plain), plain.size(), "   " + said + "\n");
    EXPECT_EQ(automatic.out, expected);
    EXPECT_EQ(automatic.err, "traz: warning: " + said + "\n");
    const traz::Results& r = automatic.rec.results;
    EXPECT_NEAR(r.criterion.value, ref.E, 5e-5);
    EXPECT_NEAR(r.sd.value, ref.SD, 5e-5);
    EXPECT_NEAR(r.ai.value / ref.AI, 1.0, 3e-4);
    expect_bounds_hold(r, ref, "default");

    // --domain cube: the cube's numbers (off by 2.9e-3), the warning, bounds that hold.
    const Outcome cube = run(false, true);
    EXPECT_TRUE(cube.rec.cube_kept);
    EXPECT_EQ(cube.rec.domain_kind(), std::string("cube"));
    EXPECT_GT(std::fabs(cube.rec.results.criterion.value - ref.E), 1e-3);
    EXPECT_EQ(cube.out.find("integration domain"), std::string::npos);
    EXPECT_NE(cube.err.find("the cut-score density integrates to 0.9967"), std::string::npos) << cube.err;
    EXPECT_NE(cube.err.find("--domain cube keeps these results"), std::string::npos) << cube.err;
    expect_bounds_hold(cube.rec.results, ref, "cube");

    // The library's Integration names the same three.
    const traz::Result api = traz::evaluate_deck(kRidge, {}, traz::Integration::automatic);
    EXPECT_EQ(api.domain, "fitted");
    EXPECT_EQ(api.cube_lost, automatic.rec.cube_lost);
    EXPECT_EQ(traz::evaluate_deck(kRidge, {}, traz::Integration::cube).domain, "cube");
}

} // namespace
