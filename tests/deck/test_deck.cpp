// The input deck: list-directed reading of the eight statements, the values completed
// while reading, and the refusal of malformed, short or oversized decks.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "deck/deck.hpp"
#include "run_deck.hpp"

namespace {

using traz::Deck;
using traz::read_deck;
using traz::testrun::run_deck;

// Two predictors, one stage: every statement on its own line.
const char* const kBase =
    "2 1 20 5\n"
    "0.6 0.4\n"
    "0.5 0.3\n"
    "0.2\n"
    "0.4 0.1\n"
    "2 0.3 7\n"
    "0.5\n"
    "1.0e-4 100000\n";

Deck read_ok(const std::string& text) {
    Deck d;
    std::string error;
    EXPECT_TRUE(read_deck(text, d, error)) << error;
    EXPECT_EQ(error, "");
    return d;
}

std::string read_error(const std::string& text) {
    Deck d;
    std::string error;
    EXPECT_FALSE(read_deck(text, d, error)) << "deck was accepted:\n" << text;
    return error;
}

void expect_base_values(const Deck& d) {
    EXPECT_EQ(d.npred, 2);
    EXPECT_EQ(d.nstage, 1);
    EXPECT_EQ(d.napp, 20);
    EXPECT_EQ(d.ns[0], 5);
    EXPECT_EQ(d.Weip(1, 1), 0.6);
    EXPECT_EQ(d.Weip(1, 2), 0.4);
    EXPECT_EQ(d.coryt[0], 0.5);
    EXPECT_EQ(d.coryt[1], 0.3);
    EXPECT_EQ(d.Cormt(1, 2), 0.2);
    EXPECT_EQ(d.Eft(1, 1), 0.4);
    EXPECT_EQ(d.Eft(1, 2), 0.1);
    EXPECT_EQ(d.ngroup, 2);
    EXPECT_EQ(d.pg[0], 0.3);
    EXPECT_EQ(d.npass, 7);
    EXPECT_EQ(d.efc[0], 0.5);
    EXPECT_EQ(d.relerr, 1.0e-4);
    EXPECT_EQ(d.maxcls, 100000);
}

TEST(DeckReading, OneStatementPerLine) { expect_base_values(read_ok(kBase)); }

TEST(DeckReading, ValuesSplitOverLines) {
    expect_base_values(read_ok("2\n1\n20\n5\n0.6\n0.4\n0.5\n\n0.3\n0.2\n0.4\n0.1\n2\n0.3\n7\n0.5\n1.0e-4\n100000\n"));
}

TEST(DeckReading, LeftoversAfterAStatementAreIgnored) {
    expect_base_values(read_ok("2 1 20 5 99 text\n0.6 0.4 0.9 weights\n0.5 0.3 x\n0.2 ,,\n0.4 0.1 -\n"
                               "2 0.3 7 8\n0.5 1.5\n1.0e-4 100000 3.0 trailing\n"));
}

// Numbers left over on a statement's line warn (a comment that starts with one number does
// not); a comma between two digits is named in the warning, however long its number.
TEST(DeckReading, LeftoverValuesWarnAndDecimalCommasAreNamed) {
    Deck d = read_ok("2 1 20 5 3 applicants\n0.6 0.4\n0,5 0,3\n0.2\n0.4 0.1 0.3 0.2\n2 0.3 7\n0.5\n"
                     "1.0e-4 100000 " + std::string(50, '-') + "1,5\n");
    ASSERT_EQ(d.lines.notes.size(), 2u);
    EXPECT_EQ(d.lines.notes[0], "line 3 has 4 values, statement 3 needs 2: the rest is ignored (\"0,5\" on line 3 "
                                "reads as two values, 0 and 5: write 0.5 for a decimal fraction)");
    EXPECT_EQ(d.lines.notes[1], "line 5 has 4 values, statement 5 needs 2: the rest is ignored");
    ASSERT_EQ(d.lines.decimal_commas.size(), 2u);
    EXPECT_EQ(d.lines.decimal_commas[1], std::make_pair(8, std::string(19, '-') + "1,5"));
}

TEST(DeckReading, StatementNeverTakesValuesFromPreviousLine) {
    // The surplus 0.9 after the counts would be a weight if the next statement read on.
    const Deck d = read_ok("2 1 20 5 0.9\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n2 0.3 7\n0.5\n1.0e-4 100000\n");
    EXPECT_EQ(d.Weip(1, 1), 0.6);
    // A statement split over lines ends on its last line; the next one starts below it.
    const Deck e = read_ok("2 1\n20 5 0.9\n0.6\n0.4 0.7\n0.5 0.3\n0.2\n0.4 0.1\n2 0.3 7\n0.5\n1.0e-4 100000\n");
    EXPECT_EQ(e.Weip(1, 2), 0.4);
    EXPECT_EQ(e.coryt[0], 0.5);
}

TEST(DeckReading, BlanksTabsAndCommasSeparateValues) {
    expect_base_values(read_ok("2,1 ,20\t5\n 0.6,0.4\n\t0.5 , 0.3\n0.2\n0.4\t,\t0.1\n2,0.3,7\n  0.5\n1.0e-4,100000\r\n"));
}

TEST(DeckReading, RealNumberForms) {
    struct Case { const char* text; double value; };
    for (const Case c : {Case{"1.0E-3", 1.0e-3}, Case{"1.0e-3", 1.0e-3}, Case{"1.0D-3", 1.0e-3},
                         Case{"1.0d-3", 1.0e-3}, Case{"2", 2.0}, Case{".5", 0.5}, Case{"5.", 5.0},
                         Case{"-.25", -0.25}, Case{"+1.5", 1.5}, Case{"1D2", 100.0}, Case{"2.5e+1", 25.0}}) {
        std::string deck = kBase;
        deck.replace(deck.find("1.0e-4"), 6, c.text);
        EXPECT_EQ(read_ok(deck).relerr, c.value) << c.text;
    }
}

TEST(DeckReading, LineEndsAndByteOrderMark) {
    // Line feeds, carriage return and line feed, carriage returns alone, and a mix of them;
    // a UTF-8 byte-order mark before the first statement.
    std::string cr = kBase, crlf, mixed;
    for (char& c : cr) c = c == '\n' ? '\r' : c;
    for (const char c : std::string(kBase)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    mixed = "2 1 20 5\r\n0.6 0.4\r0.5 0.3\n0.2\r\r\n";  // an empty line, then statement 5 is short
    for (const std::string& deck : {cr, crlf, "\xEF\xBB\xBF" + std::string(kBase)}) expect_base_values(read_ok(deck));
    EXPECT_EQ(read_error(mixed), "deck statement 5 (predictor effect sizes of group 1), item 1: "
                                 "the deck ends before this item (after line 5)");
    // The lines of the items that validation names count each kind of line end once.
    const Deck d = read_ok("2 1\r20\r\n5\n0.6\r0.4\n0.5\r\n0.3\n0.2\n0.4 0.1\n2 0.3 7\n0.5\n1.0e-4 100000\n");
    EXPECT_EQ(d.lines.counts[2], 2);
    EXPECT_EQ(d.lines.counts[3], 3);
    EXPECT_EQ(d.lines.weights[0], 4);
    EXPECT_EQ(d.lines.weights_last[0], 5);
    EXPECT_EQ(d.lines.validities[1], 7);
    EXPECT_EQ(d.lines.Correlation(1, 2), 8);
    EXPECT_EQ(d.lines.groups[2], 10);
    EXPECT_EQ(d.lines.budget[1], 12);
}

TEST(DeckReading, NumbersBeyondTheDoubleRange) {
    // Above the range a value is refused; below it, it reads as a zero of its sign, and
    // subnormal values read as themselves.
    struct Case { const char* text; double value; };
    for (const Case c : {Case{"1e-400", 0.0}, Case{"-1D-400", -0.0}, Case{"1e-310", 1e-310}, Case{"4.9e-324", 4.9e-324}}) {
        std::string deck = kBase;
        deck.replace(deck.find("1.0e-4"), 6, c.text);
        const double v = read_ok(deck).relerr;
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(std::signbit(v), std::signbit(c.value)) << c.text;
    }
    for (const char* big : {"1e400", "-1.0D309"}) {
        std::string deck = kBase;
        deck.replace(deck.find("1.0e-4"), 6, big);
        EXPECT_EQ(read_error(deck), "deck statement 8 (relative error and evaluation budget), item 1: "
                                    "number out of range, found \"" + std::string(big) + "\" on line 8");
    }
}

TEST(DeckReading, MalformedNumbersAreRefused) {
    for (const char* bad : {"1.0E", "1.0e-", "e3", ".", "1.0.0", "1.0Q3", "0x10", "--1", "1.5x", "nan", "inf"}) {
        std::string deck = kBase;
        deck.replace(deck.find("0.5\n1.0e-4"), 3, bad);
        const std::string error = read_error(deck);
        EXPECT_NE(error.find("deck statement 7 (criterion effect size of group 1), item 1"), std::string::npos)
            << bad << ": " << error;
    }
}

TEST(DeckReading, IntegerItemsRefuseDecimalPointAndExponent) {
    EXPECT_EQ(read_error("2 1 20.0 5\n"),
              "deck statement 1 (predictors, stages, applicants and retained counts), item 3: "
              "expected an integer, found \"20.0\" on line 1");
    EXPECT_NE(read_error("2 1 2e1 5\n").find("expected an integer, found \"2e1\""), std::string::npos);
    std::string deck = kBase;
    deck.replace(deck.find("100000"), 6, "1.0E5");
    EXPECT_NE(read_error(deck).find("deck statement 8 (relative error and evaluation budget), item 2"),
              std::string::npos);
    EXPECT_NE(read_error("2 1 20 99999999999\n").find("integer out of range"), std::string::npos);
}

TEST(DeckReading, EmptyValueBetweenCommas) {
    EXPECT_EQ(read_error("2 1 20 5\n0.6,,0.4\n"),
              "deck statement 2 (predictor weights of stage 1), item 2: empty value between commas on line 2");
    EXPECT_NE(read_error("2 1 20 5\n,0.6 0.4\n").find("item 1: empty value between commas"), std::string::npos);
}

TEST(DeckReading, SinglePredictorHasNoCorrelationLine) {
    const Deck d = read_ok("1 1 20 5\n1.0\n0.5\n0.4\n2 0.3 7\n0.5\n1.0e-4 100000\n");
    EXPECT_EQ(d.Cormt(1, 1), 1.0);
    EXPECT_EQ(d.Eft(1, 1), 0.4);
    EXPECT_EQ(d.ngroup, 2);
    EXPECT_EQ(d.maxcls, 100000);
}

TEST(DeckReading, NoPredictorsStillConsumesALinePerStatement) {
    // Statements 2 (one per stage), 3 and 5 read nothing but each takes its line.
    const Deck d = read_ok("0 2 20 10 5\nweights 1\nweights 2\nvalidities\neffects\n3 0.3 7\n0.5\n1.0e-4 100000\n");
    EXPECT_EQ(d.npred, 0);
    EXPECT_EQ(d.ngroup, 3);
    EXPECT_EQ(d.efc[0], 0.5);
    EXPECT_EQ(d.maxcls, 100000);
}

TEST(DeckReading, ShortDeck) {
    EXPECT_EQ(read_error("2 1 20 5\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n2 0.3 7\n0.5\n"),
              "deck statement 8 (relative error and evaluation budget), item 1: "
              "the deck ends before this item (after line 7)");
    EXPECT_NE(read_error("2 1 20 5\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n2 0.3 7\n0.5\n1.0e-4").find(
                  "deck statement 8 (relative error and evaluation budget), item 2: the deck ends"),
              std::string::npos);
    EXPECT_NE(read_error("").find("deck statement 1"), std::string::npos);
    // A missing line shifts the statements: the effect sizes are taken as the correlation
    // and the counts line as the effect sizes, and the criterion effect size is then no
    // group count.
    EXPECT_EQ(read_error("2 1 20 5\n0.6 0.4\n0.5 0.3\n0.4 0.1\n2 0.3 7\n0.5\n1.0e-4 100000\n"),
              "deck statement 6 (groups, proportion of group 1 and passes), item 1: "
              "expected an integer, found \"0.5\" on line 6");
}

TEST(DeckReading, CountsOutsideTheStorageAreRefusedWhileReading) {
    struct Case { const char* deck; const char* why; };
    for (const Case c : {Case{"-1 1 20 5\n", "statement 1 (predictors, stages, applicants and retained counts), item 1: predictor count -1"},
                         Case{"101 1 20 5\n", "item 1: predictor count 101 is outside 0..100"},
                         Case{"2 0 20 5\n", "item 2: stage count 0 is outside 1..10"},
                         Case{"2 11 20 5\n", "item 2: stage count 11 is outside 1..10"},
                         Case{"2 1 20 5\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n0 0.3 7\n", "item 1: group count 0"},
                         Case{"2 1 20 5\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n6 0.3 7\n", "item 1: group count 6"},
                         Case{"2 1 20 5\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n2 0.3 1001\n", "item 3: pass count 1001"}}) {
        const std::string error = read_error(c.deck);
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
    // The largest counts that can be read at all.
    std::string deck = kBase;
    deck.replace(deck.find("2 0.3 7"), 7, "5 0.3 1000");
    EXPECT_EQ(read_ok(deck).npass, 1000);
}

TEST(DeckReading, CompletedValues) {
    const Deck d = read_ok(
        "3 2 50 20 5\n1 0 0\n0 1 1\n0.5 0.4 0.3\n0.3 0.2\n0.25\n0.8 0.5 0.3\n4 0.3 7\n0.5\n1.0e-4 100000\n");
    // srtot = ns(nstage)/napp as a double division.
    EXPECT_DOUBLE_EQ(d.srtot, 0.1);
    // Lower triangle mirrored from the upper one, unit diagonal.
    EXPECT_EQ(d.Cormt(2, 1), 0.3);
    EXPECT_EQ(d.Cormt(3, 1), 0.2);
    EXPECT_EQ(d.Cormt(3, 2), 0.25);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(d.Cormt(i, i), 1.0);
    // Group 2 is the rest of the population and the reference group.
    EXPECT_EQ(d.pg[1], 1.0 - 0.3);
    EXPECT_EQ(d.efc[1], 0.0);
    for (int g = 2; g <= 6; ++g)
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(d.Eft(g, i), 0.0);
    for (int g = 3; g <= 6; ++g) EXPECT_EQ(d.pg[g - 1], 0.0);
    EXPECT_EQ(d.Weip(2, 3), 1.0);
}

// Through the whole run: the diagnostic line, the status and no report line.
TEST(DeckDiagnostics, MalformedDeckEndsRunBeforeReport) {
    const auto r = run_deck("2 3 20 10 8 5\n0.6 0.4\n0.6 0.4\n0.6 0.4\n0.5 x\n");
    EXPECT_EQ(r.status, traz::kRunBadDeck);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "traz: deck statement 3 (predictor validities), item 2: expected a number, found \"x\" on line 5\n");
}

TEST(DeckDiagnostics, ShortAndOversizedDecksEndRunBeforeReport) {
    for (const char* deck : {"2 1 20 5\n0.6 0.4\n", "2 1 20 5\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n9 0.3 7\n0.5\n1e-4 10\n",
                             "2 1 20 5\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n2 0.3 5000\n0.5\n1e-4 10\n", "0 0 20\n"}) {
        const auto r = run_deck(deck);
        EXPECT_EQ(r.status, traz::kRunBadDeck) << deck;
        EXPECT_EQ(r.out, "") << deck;
        EXPECT_EQ(r.err.rfind("traz: deck statement ", 0), 0u) << r.err;
        EXPECT_EQ(traz::testrun::count_of(r.err, "\n"), 1) << r.err;
    }
}

TEST(DeckDiagnostics, LargestDecksAreEchoedThenRefused) {
    // 100 predictors and 10 stages can be read; the validation refuses them after the echo.
    std::string deck = "100 10 100 90 80 70 60 50 40 30 20 10 5\n";
    for (int j = 1; j <= 10; ++j) {
        for (int i = 1; i <= 100; ++i) deck += i == j ? "1 " : "0 ";
        deck += "\n";
    }
    for (int i = 0; i < 100; ++i) deck += "0.1 ";
    deck += "\n";
    for (int i = 1; i <= 99; ++i) {
        for (int j = i + 1; j <= 100; ++j) deck += "0 ";
        deck += "\n";
    }
    for (int i = 0; i < 100; ++i) deck += "0.2 ";
    deck += "\n2 0.5 7\n0.5\n1e-4 1000\n";
    const auto r = run_deck(deck);
    EXPECT_EQ(r.status, traz::kRunBadDeck);
    EXPECT_EQ(r.err, "traz: deck statement 1 (predictors, stages, applicants and retained counts), item 1 on line 1: "
                     "beyond the limits of the computation: 100 predictors (at most 10), 10 stages (at most 3); the "
                     "report ends with its refusal lines\n");
    EXPECT_NE(r.out.find("PROGRAM OUTPUT\n\n\nCOMPUTATION STOPPED: INVALID INPUT PARAMETERS\n"
                         "  Too many predictors\n  Too many selection stages\n\nCPU TIME IN SECONDS         0.00\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("Too many applicants"), std::string::npos);
    // The retained counts of more than five stages continue under the first five; the
    // heading lines are not repeated with other values in them.
    EXPECT_NE(r.out.find("\nNumber of stages in the selection: 10\nTotal number of applicants:    100\n"
                         "Number of retained applicants at each stage:     90     80     70     60     50\n" +
                         std::string(44, ' ') + "     40     30     20     10      5\nNumber of Subpopulations:"),
              std::string::npos);
    EXPECT_EQ(traz::testrun::count_of(r.out, "PROBLEM SPECIFICATION"), 1);
    // Ten stages of 100 predictors each: the weights need ten lines per stage.
    EXPECT_EQ(traz::testrun::count_of(r.out, "   0.0000   0.0000   0.0000   0.0000   0.0000   0.0000   0.0000   0.0000   0.0000   0.0000\n"),
              10 * 10 - 10);
}

} // namespace
