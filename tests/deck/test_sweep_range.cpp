// Sweep ranges: the RANGE grammar, the deck of one sweep point, and the deck written back
// as text that reads to the same values.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "deck/deck.hpp"
#include "deck/sweep_range.hpp"
#include "run_deck.hpp"

namespace {

using namespace traz;

TEST(ParseRange, GoodRanges) {
    struct Case {
        const char* text;
        const char* name;
        Quantity q;
        int index;
        std::vector<double> values;
    };
    const Case cases[] = {
        {"ns(2)=5:20:5", "ns(2)", Quantity::ns, 2, {5, 10, 15, 20}},
        {"napp=100:40:-20", "napp", Quantity::napp, 0, {100, 80, 60, 40}},
        // Decimal steps give the decimals meant, and TO is reached despite rounding.
        {"pg=0.1:0.5:0.1", "pg", Quantity::pg, 0, {0.1, 0.2, 0.3, 0.4, 0.5}},
        {"efc=0.7:0.1:-0.2", "efc", Quantity::efc, 0, {0.7, 0.5, 0.3, 0.1}},
        {"ef(1)=0:1:0.3", "ef(1)", Quantity::ef, 1, {0, 0.3, 0.6, 0.9}},
        {"cory(3)=0.2,0.5,0.3", "cory(3)", Quantity::cory, 3, {0.2, 0.5, 0.3}},
        {"mix(2)=0:1:0.25", "mix(2)", Quantity::mix, 2, {0, 0.25, 0.5, 0.75, 1}},
        {" ns( 02 ) = 7 ", "ns(2)", Quantity::ns, 2, {7}},
        {"pg=0.5:0.5:0.1", "pg", Quantity::pg, 0, {0.5}},
        {"efc=-1e-1,+2E-1", "efc", Quantity::efc, 0, {-0.1, 0.2}},
    };
    for (const Case& c : cases) {
        SweepRange r;
        std::string error;
        ASSERT_TRUE(parse_range(c.text, r, error)) << c.text << ": " << error;
        EXPECT_EQ(r.name, c.name) << c.text;
        EXPECT_EQ(r.q, c.q) << c.text;
        EXPECT_EQ(r.index, c.index) << c.text;
        EXPECT_EQ(r.values, c.values) << c.text;
    }
    SweepRange r;
    std::string error;
    ASSERT_TRUE(parse_range("pg=0:1:0.01", r, error)) << error;
    ASSERT_EQ(r.values.size(), 101u);
    EXPECT_EQ(r.values[7], 0.07);
    EXPECT_EQ(r.values.back(), 1.0);
}

TEST(ParseRange, BadRangesNameTheRangeAndTheFault) {
    const std::pair<const char*, const char*> cases[] = {
        {"pgg=0:1:0.1", "unknown quantity"},
        {"ns=1:5:1", "needs an index"},
        {"pg(1)=0.5", "takes no index"},
        {"ns(0)=5", "outside 1..10"},
        {"cory(101)=0.5", "outside 1..100"},
        {"ns(x)=5", "not a whole number"},
        {"ns(2=5", "expected ns(N)"},
        {"pg", "expected NAME="},
        {"pg=", "no values"},
        {"pg=0:1:0", "step is zero"},
        {"pg=0:1:-0.1", "goes away from TO"},
        {"pg=0.1:0.5", "expected FROM:TO:STEP"},
        {"pg=0:1:0.1:2", "expected FROM:TO:STEP"},
        {"pg=1,,2", "empty value"},
        {"pg=0.2,", "empty value"},
        {"pg=a:1:0.1", "\"a\" is not a finite number"},
        {"pg=nan", "not a finite number"},
        {"pg=inf", "not a finite number"},
        {"pg=1e999", "not a finite number"},
        {"pg=+-1", "not a finite number"},
        {"pg=0x10", "not a finite number"},
        {"ns(1)=5:20:2.5", "7.5 is not a whole number"},
        {"napp=1.5", "is a count"},
        {"napp=3000000000", "within 32 bits"},
        {"pg=0:1:1e-9", "more than 10000 values"},
        {"efc=-1e308:1e308:1", "more than 10000 values"},
    };
    for (const auto& [text, why] : cases) {
        SweepRange r;
        std::string error;
        EXPECT_FALSE(parse_range(text, r, error)) << text;
        EXPECT_EQ(error.rfind("range \"" + std::string(text) + "\": ", 0), 0u) << error;
        EXPECT_NE(error.find(why), std::string::npos) << text << " gave: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(ParseRange, MixWeightsAndValueFormat) {
    std::vector<double> w;
    std::string error;
    ASSERT_TRUE(parse_weights("1, 0.5,0,-2e-1", w, error)) << error;
    EXPECT_EQ(w, (std::vector<double>{1, 0.5, 0, -0.2}));
    EXPECT_FALSE(parse_weights("1,,2", w, error));
    EXPECT_FALSE(parse_weights("1,x", w, error));
    EXPECT_NE(error.find("\"x\""), std::string::npos) << error;

    SweepRange counts, shares;
    ASSERT_TRUE(parse_range("ns(1)=5", counts, error));
    ASSERT_TRUE(parse_range("pg=0.5", shares, error));
    EXPECT_EQ(format_value(counts, 20), "20");
    EXPECT_EQ(format_value(counts, 2147483647), "2147483647");
    EXPECT_EQ(format_value(shares, 0.25), "0.25");
    EXPECT_EQ(format_value(shares, 0.1 + 0.2), "0.3");
    EXPECT_EQ(format_value(shares, 1.0), "1");
    EXPECT_EQ(format_value(shares, 1e-5), "1e-05");
    EXPECT_EQ(format_value(shares, 2.0 / 3.0), "0.666667");
}

// Every value the reader sets, compared exactly.
void expect_same_numbers(const Deck& a, const Deck& b, const std::string& what) {
    EXPECT_EQ(a.npred, b.npred) << what;
    EXPECT_EQ(a.nstage, b.nstage) << what;
    EXPECT_EQ(a.napp, b.napp) << what;
    EXPECT_EQ(a.ngroup, b.ngroup) << what;
    EXPECT_EQ(a.npass, b.npass) << what;
    EXPECT_EQ(a.maxcls, b.maxcls) << what;
    EXPECT_EQ(a.relerr, b.relerr) << what;
    EXPECT_EQ(a.srtot, b.srtot) << what;
    EXPECT_EQ(std::memcmp(a.ns, b.ns, sizeof a.ns), 0) << what;
    EXPECT_EQ(std::memcmp(a.weip, b.weip, sizeof a.weip), 0) << what;
    EXPECT_EQ(std::memcmp(a.coryt, b.coryt, sizeof a.coryt), 0) << what;
    EXPECT_EQ(std::memcmp(a.cormt, b.cormt, sizeof a.cormt), 0) << what;
    EXPECT_EQ(std::memcmp(a.eft, b.eft, sizeof a.eft), 0) << what;
    EXPECT_EQ(std::memcmp(a.pg, b.pg, sizeof a.pg), 0) << what;
    EXPECT_EQ(std::memcmp(a.efc, b.efc, sizeof a.efc), 0) << what;
}

std::unique_ptr<Deck> read_example(const std::string& name) {
    auto d = std::make_unique<Deck>();
    std::string error;
    EXPECT_TRUE(read_deck(testrun::read_file(std::string(TRAZ_SOURCE_DIR) + "/examples/" + name), *d, error))
        << name << ": " << error;
    return d;
}

TEST(ApplyRange, PointDeckIsWhatTheReaderMakesOfItsText) {
    const auto base = read_example("two-stage.deck");  // 4 predictors, 2 stages, 100 applicants: 30, 10
    const std::vector<double> mix_to = {1, 1, 0, 0.1};
    struct Case {
        const char* range;
        double value;
        void (*check)(const Deck&);
    };
    const Case cases[] = {
        {"ns(2)=1", 20, [](const Deck& d) { EXPECT_EQ(d.ns[1], 20); EXPECT_EQ(d.srtot, 0.2); }},
        {"ns(1)=1", 40, [](const Deck& d) { EXPECT_EQ(d.ns[0], 40); EXPECT_EQ(d.srtot, 0.1); }},
        {"napp=1", 40, [](const Deck& d) { EXPECT_EQ(d.napp, 40); EXPECT_EQ(d.srtot, 0.25); }},
        {"pg=1", 0.3, [](const Deck& d) { EXPECT_EQ(d.pg[0], 0.3); EXPECT_EQ(d.pg[1], 1.0 - 0.3); }},
        {"efc=1", -0.45, [](const Deck& d) { EXPECT_EQ(d.efc[0], -0.45); EXPECT_EQ(d.efc[1], 0.0); }},
        {"ef(4)=1", 0.8, [](const Deck& d) { EXPECT_EQ(d.Eft(1, 4), 0.8); EXPECT_EQ(d.Eft(2, 4), 0.0); }},
        {"cory(1)=1", 0.55, [](const Deck& d) { EXPECT_EQ(d.coryt[0], 0.55); }},
        // Stage 2 of the base deck weighs 0.5 0.5 1 1.
        {"mix(2)=1", 0.25,
         [](const Deck& d) {
             EXPECT_EQ(d.Weip(2, 1), 0.625); EXPECT_EQ(d.Weip(2, 3), 0.75); EXPECT_EQ(d.Weip(2, 4), 0.775);
             EXPECT_EQ(d.Weip(1, 1), 1.0);  // the other stage keeps its weights
         }},
        {"mix(1)=1", 1, [](const Deck& d) { EXPECT_EQ(d.Weip(1, 4), 0.1); EXPECT_EQ(d.Weip(1, 3), 0.0); }},
    };
    for (const Case& c : cases) {
        SweepRange r;
        std::string error;
        ASSERT_TRUE(parse_range(c.range, r, error)) << error;
        auto point = std::make_unique<Deck>(), back = std::make_unique<Deck>();
        ASSERT_TRUE(apply_range_value(*base, r, c.value, mix_to, *point, error)) << c.range << ": " << error;
        SCOPED_TRACE(c.range);
        c.check(*point);
        const std::string text = write_deck_text(*point);
        ASSERT_TRUE(read_deck(text, *back, error)) << error << "\n" << text;
        expect_same_numbers(*point, *back, c.range);
    }
}

TEST(ApplyRange, ExamplesAndAwkwardNumbersRoundTrip) {
    for (const char* name : {"single-stage.deck", "two-stage.deck", "three-stage.deck"}) {
        const auto d = read_example(name);
        auto back = std::make_unique<Deck>();
        std::string error;
        ASSERT_TRUE(read_deck(write_deck_text(*d), *back, error)) << error;
        expect_same_numbers(*d, *back, name);
    }
    // Values that need all 17 digits, tiny and huge exponents, negative zero; one predictor
    // (no correlation statement).
    auto d = std::make_unique<Deck>(), back = std::make_unique<Deck>();
    std::string error;
    ASSERT_TRUE(read_deck("1 1 20 5\n1\n0.5\n0.2\n2 0.3 7\n0.5\n1e-4 1000\n", *d, error)) << error;
    d->Weip(1, 1) = 0.1 + 0.2;
    d->coryt[0] = -0.0;
    d->Eft(1, 1) = 4.9406564584124654e-324;
    d->pg[0] = 1.0 / 3.0, d->pg[1] = 1.0 - d->pg[0];
    d->efc[0] = -1.7976931348623157e308;
    d->relerr = 2.2250738585072014e-308;
    ASSERT_TRUE(read_deck(write_deck_text(*d), *back, error)) << error << "\n" << write_deck_text(*d);
    expect_same_numbers(*d, *back, "awkward numbers");
}

TEST(ApplyRange, RangesOutsideTheDeckAreRefused) {
    const auto base = read_example("two-stage.deck");
    const std::vector<double> four = {1, 1, 0, 0}, three = {1, 1, 0};
    const std::tuple<const char*, std::vector<double>, const char*> cases[] = {
        {"ns(3)=5", {}, "range ns(3): the deck has 2 stages"},
        {"mix(3)=0.5", four, "range mix(3): the deck has 2 stages"},
        {"ef(5)=0.5", {}, "range ef(5): the deck has 4 predictors"},
        {"cory(5)=0.5", {}, "range cory(5): the deck has 4 predictors"},
        {"mix(2)=0.5", {}, "range mix(2): needs the --mix-to weights"},
        {"mix(2)=0.5", three, "range mix(2): --mix-to has 3 weights, the deck 4 predictors"},
        {"mix(2)=1e308", {1e308, 1, 0, 0}, "range mix(2): the weight of predictor 1 is not finite"},
    };
    for (const auto& [text, mix_to, expected] : cases) {
        SweepRange r;
        std::string error;
        ASSERT_TRUE(parse_range(text, r, error)) << error;
        EXPECT_FALSE(check_range(*base, r, mix_to, error)) << text;
        EXPECT_EQ(error, expected);
    }
    // A count that bypassed the parser.
    SweepRange r;
    std::string error;
    ASSERT_TRUE(parse_range("napp=50", r, error));
    auto out = std::make_unique<Deck>();
    EXPECT_FALSE(apply_range_value(*base, r, 50.5, {}, *out, error));
    EXPECT_EQ(error, "range napp: 50.5 is not a whole number within 32 bits");
}

} // namespace
