// Monte Carlo check of single-stage reports (the simulation is in montecarlo.hpp).
#include "montecarlo.hpp"
#include "run_deck.hpp"

namespace {

void check_deck(const std::string& name, std::uint64_t seed) {
    SCOPED_TRACE(name);
    const std::string text = traz::testrun::read_file(traz::testrun::kDeckDir + name + ".deck");
    traz::Deck d;
    std::string error;
    ASSERT_TRUE(traz::read_deck(text, d, error)) << error;
    ASSERT_EQ(d.nstage, 1);
    const auto run = traz::testrun::run_deck(text);
    ASSERT_EQ(run.status, traz::kRunOk);
    traz::montecarlo::check_report(d, run.out, seed);
}

TEST(MonteCarlo, ThreePredictorsTwoGroups) { check_deck("two_group", 20261208); }

TEST(MonteCarlo, TenPredictorsTwoGroups) { check_deck("npass8", 977); }

} // namespace
