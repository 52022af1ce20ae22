// Monte Carlo check of two- and three-stage reports (the simulation is in montecarlo.hpp).
#include "montecarlo.hpp"
#include "ms_common.hpp"

namespace {

void check_deck(const std::string& name, std::uint64_t seed) {
    SCOPED_TRACE(name);
    const std::string text = traz::testrun::read_file(traz::mstest::kExamples + name + ".deck");
    traz::Deck d;
    std::string error;
    ASSERT_TRUE(traz::read_deck(text, d, error)) << error;
    ASSERT_GE(d.nstage, 2);
    ASSERT_EQ(d.npass, 7);
    const auto run = traz::testrun::run_deck(text);
    ASSERT_EQ(run.status, traz::kRunOk);
    ASSERT_EQ(run.out.find("Ifail"), std::string::npos) << "the cubature did not converge";
    traz::montecarlo::check_report(d, run.out, seed);
}

// 4 predictors, 100 applicants keeping 30 then 10, pg(1) = 0.75.
TEST(MonteCarlo, TwoStageExample) { check_deck("two-stage", 20261208); }

// 5 predictors, 100 applicants keeping 40, 15, 5, pg(1) = 0.75.
TEST(MonteCarlo, ThreeStageExample) { check_deck("three-stage", 4417); }

} // namespace
