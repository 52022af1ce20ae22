// The error bounds of the results record: on the example decks each bound covers the change
// of its result when the integration is repeated at a hundredth of the deck's accuracy.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "run_deck.hpp"

namespace {

traz::RunRecord computed(const std::string& deck) {
    traz::RunRecord rec;
    traz::compute(deck, rec);
    EXPECT_EQ(rec.outcome, traz::Outcome::computed);
    return rec;
}

class Bounds : public ::testing::TestWithParam<const char*> {};

TEST_P(Bounds, CoverTheChangeAtAHundredthOfTheAccuracy) {
    const std::string deck = traz::testrun::read_file(std::string(TRAZ_SOURCE_DIR) + "/examples/" + GetParam() + ".deck");
    const std::size_t last = deck.rfind("1.0e-4 100000");
    ASSERT_NE(last, std::string::npos);
    std::string fine = deck;
    fine.replace(last, 13, "1.0e-6 5000000");
    const traz::RunRecord a = computed(deck), b = computed(fine);
    const traz::Results& ra = a.results;
    const traz::Results& rb = b.results;
    int compared = 0;
    for (auto [x, y, what] : {std::tuple{ra.criterion, rb.criterion, "E"}, {ra.rate1, rb.rate1, "rate 1"},
                              {ra.rate2, rb.rate2, "rate 2"}, {ra.ai, rb.ai, "AI ratio"}, {ra.sd, rb.sd, "SD"}}) {
        ASSERT_TRUE(x.present() && y.present()) << what;
        EXPECT_LE(std::fabs(x.value - y.value), x.error) << what;
        EXPECT_GT(x.error, 0.0) << what;
        ++compared;
    }
    EXPECT_EQ(compared, 5);
}

INSTANTIATE_TEST_SUITE_P(Examples, Bounds, ::testing::Values("single-stage", "two-stage", "three-stage"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

} // namespace
