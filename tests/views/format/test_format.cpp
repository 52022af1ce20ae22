// Record-layout writer: layouts, value matching, layout reuse and number rendering.
#include "views/format/format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using traz::FieldValue;
using traz::render;

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

// One field rendered alone, without its line end.
std::string field(const char* layout, FieldValue v)
{
    std::string s = render(layout, {v});
    EXPECT_EQ(s.back(), '\n');
    s.pop_back();
    return s;
}

TEST(FormatLayout, EmptyLayoutAndNoValues)
{
    EXPECT_EQ(render("()"), "\n");
    EXPECT_EQ(render("(10X,6F8.3)"), "\n"); // the skip alone leaves no blanks
    EXPECT_EQ(render("('Expected AI ratio:',2F10.4)"), "Expected AI ratio:\n");
}

TEST(FormatLayout, TextsSkipsAndSlashes)
{
    EXPECT_EQ(render("(25X,'+   TRAZ   +')"), blanks(25) + "+   TRAZ   +\n");
    EXPECT_EQ(render("('it''s')"), "it's\n");
    EXPECT_EQ(render("('a',5X)"), "a\n");
    EXPECT_EQ(render("('a',5X,/,'b')"), "a\nb\n");
    EXPECT_EQ(render("('a',2X,3X,'b')"), "a     b\n");
    EXPECT_EQ(render("(/,'X')"), "\nX\n");
    EXPECT_EQ(render("(//,'X')"), "\n\nX\n");
    EXPECT_EQ(render("(/,/,'X')"), "\n\nX\n");
    EXPECT_EQ(render("('a'/'b')"), "a\nb\n");
    EXPECT_EQ(render(" ( 'a' , 2x , i3 ) ", {7}), "a    7\n");
    EXPECT_EQ(render("('   maxcls:',I8,'    relative error:',F15.12)", {100000, 0.001}),
              "   maxcls:  100000    relative error: 0.001000000000\n");
}

TEST(FormatLayout, StopsAtFieldWithoutValue)
{
    EXPECT_EQ(render("(/,'Proportion Selected and Target SR:',2F9.3,/)", {0.25, 0.3}),
              "\nProportion Selected and Target SR:    0.250    0.300\n\n");
    EXPECT_EQ(render("(/,'Expected Criterion Score Selected:',2F10.4,/)", {0.5}),
              "\nExpected Criterion Score Selected:    0.5000\n");
    // The text between the last used field and the next field is still written.
    const char* ifail = "('Ifail in DCUHRE for iz ',2I4,'   ABSERR is ',D12.3)";
    EXPECT_EQ(render(ifail, {3, 1}), "Ifail in DCUHRE for iz    3   1   ABSERR is \n");
    EXPECT_EQ(render(ifail, {3, 1, 0.5e-3}), "Ifail in DCUHRE for iz    3   1   ABSERR is    0.500E-03\n");
    EXPECT_EQ(render("(I3,'a',/,'b',I3,'c')", {1}), "  1a\nb\n");
}

TEST(FormatLayout, LayoutReuse)
{
    std::vector<FieldValue> row{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0};
    EXPECT_EQ(render("(10X,6F8.3)", row),
              blanks(10) + "   0.100   0.200   0.300   0.400   0.500   0.600\n" + blanks(10) +
                  "   0.700   0.800   0.900   1.000\n");
    row.resize(6);
    EXPECT_EQ(render("(10X,6F8.3)", row), blanks(10) + "   0.100   0.200   0.300   0.400   0.500   0.600\n");

    const std::string head = "Correlation of the Predictors with the Criterion:\n";
    std::vector<FieldValue> val{0.5, -0.5, 0.25, 0.0, 1.0, 0.125, 0.75, -0.0004};
    EXPECT_EQ(render("('Correlation of the Predictors with the',' Criterion:',/,10X,6F8.3)", val),
              head + blanks(10) + "   0.500  -0.500   0.250   0.000   1.000   0.125\n" + head + blanks(10) +
                  "   0.750   0.000\n");

    EXPECT_EQ(render("(F4.1,/)", {1.0, 2.0}), " 1.0\n\n 2.0\n\n");
    EXPECT_EQ(render("(2I4)", {1, 2, 3, 4, 5}), "   1   2\n   3   4\n   5\n");
}

TEST(FormatInteger, WidthsSignsAndOverflow)
{
    EXPECT_EQ(field("(I3)", 5), "  5");
    EXPECT_EQ(field("(I3)", 0), "  0");
    EXPECT_EQ(field("(I3)", 999), "999");
    EXPECT_EQ(field("(I3)", 1000), "***");
    EXPECT_EQ(field("(I3)", -12), "-12");
    EXPECT_EQ(field("(I3)", -123), "***");
    EXPECT_EQ(field("(I4)", -1), "  -1");
    EXPECT_EQ(field("(I7)", std::numeric_limits<std::int32_t>::min()), "*******");
    EXPECT_EQ(field("(I11)", std::numeric_limits<std::int32_t>::min()), "-2147483648");
    EXPECT_EQ(field("(I10)", std::numeric_limits<std::int32_t>::max()), "2147483647");
}

TEST(FormatFixed, SignAndLeadingZero)
{
    EXPECT_EQ(field("(F8.3)", 0.5), "   0.500");
    EXPECT_EQ(field("(F8.3)", -0.5), "  -0.500");
    EXPECT_EQ(field("(F8.3)", 0.0), "   0.000");
    EXPECT_EQ(field("(F8.3)", -0.0), "   0.000");
    EXPECT_EQ(field("(F8.3)", -0.0004), "   0.000");
    EXPECT_EQ(field("(F8.3)", -0.0005), "  -0.001"); // 0.0005 is stored slightly above
    EXPECT_EQ(field("(F8.3)", 12.25), "  12.250");
    EXPECT_EQ(field("(F15.12)", 0.001), " 0.001000000000");
    EXPECT_EQ(field("(F12.2)", static_cast<double>(1.25f)), "        1.25");
    EXPECT_EQ(field("(F15.12)", static_cast<double>(0.1f)), " 0.100000001490");
}

TEST(FormatFixed, TooWide)
{
    EXPECT_EQ(field("(F6.2)", 100.0), "100.00");
    EXPECT_EQ(field("(F6.2)", 1000.0), "******");
    EXPECT_EQ(field("(F6.2)", -100.0), "******");
    EXPECT_EQ(field("(F6.2)", 99.995), "100.00"); // stored slightly above 99.995
    EXPECT_EQ(field("(F10.4)", 123456.7), "**********");
    EXPECT_EQ(field("(F10.4)", 1e300), "**********");
    // One column too wide with a leading 0: the 0 goes.
    EXPECT_EQ(field("(F5.3)", 0.5), "0.500");
    EXPECT_EQ(field("(F5.3)", -0.5), "-.500");
    EXPECT_EQ(field("(F4.3)", 0.5), ".500");
    EXPECT_EQ(field("(F5.3)", -0.0004), "0.000");
    EXPECT_EQ(field("(F4.3)", -0.0004), ".000");
    EXPECT_EQ(field("(F4.3)", -0.5), "****");
    EXPECT_EQ(field("(F3.3)", 0.5), "***");
}

TEST(FormatFixed, CorrectRoundingOfTheBinaryValue)
{
    EXPECT_EQ(field("(F8.4)", 0.12345), "  0.1235"); // stored as 0.12345000000000000417...
    EXPECT_EQ(field("(F5.2)", 2.675), " 2.67");      // stored as 2.67499999999999982...
    EXPECT_EQ(field("(F5.2)", 1.005), " 1.00");      // stored as 1.00499999999999989...
    EXPECT_EQ(field("(F6.3)", 0.9995), " 1.000");    // stored as 0.99950000000000005...
    // Exact ties go to the even digit.
    EXPECT_EQ(field("(F5.2)", 0.125), " 0.12");
    EXPECT_EQ(field("(F5.2)", 0.375), " 0.38");
    EXPECT_EQ(field("(F3.0)", 2.5), " 2.");
    EXPECT_EQ(field("(F3.0)", 3.5), " 4.");
    EXPECT_EQ(field("(F3.0)", 0.4), " 0.");
    // Beyond 17 significant digits: digits of the exact binary value 0.333333333333333314829...
    EXPECT_EQ(field("(F30.20)", 1.0 / 3.0), blanks(8) + "0.33333333333333331483");
}

TEST(FormatExponent, Values)
{
    EXPECT_EQ(field("(D12.3)", 0.1234e-5), "   0.123E-05");
    EXPECT_EQ(field("(D12.3)", -3.2e-7), "  -0.320E-06");
    EXPECT_EQ(field("(D12.3)", 0.0), "   0.000E+00");
    EXPECT_EQ(field("(D12.3)", -0.0), "   0.000E+00");
    EXPECT_EQ(field("(D12.3)", 1.0), "   0.100E+01");
    EXPECT_EQ(field("(D12.3)", 12345.0), "   0.123E+05");
    EXPECT_EQ(field("(D12.3)", 9.9996), "   0.100E+02"); // rounds into the next decade
    EXPECT_EQ(field("(D12.3)", 0.9996), "   0.100E+01");
    EXPECT_EQ(field("(D12.3)", 0.1235), "   0.123E+00"); // stored slightly below 0.1235
    EXPECT_EQ(field("(D12.3)", 1e-100), "   0.100E-99");
    EXPECT_EQ(field("(D12.3)", 1e-101), "   0.100-100");
    EXPECT_EQ(field("(D12.3)", 1.5e300), "   0.150+301");
    EXPECT_EQ(field("(D12.3)", -1.5e300), "  -0.150+301");
    EXPECT_EQ(field("(D12.3)", std::numeric_limits<double>::denorm_min()), "   0.494-323");
    EXPECT_EQ(field("(D10.1)", 0.96), "   0.1E+01");
}

TEST(FormatExponent, NarrowFields)
{
    EXPECT_EQ(field("(D9.3)", 0.5), "0.500E+00");
    EXPECT_EQ(field("(D8.3)", 0.5), ".500E+00");
    EXPECT_EQ(field("(D7.3)", 0.5), "*******");
    EXPECT_EQ(field("(D10.3)", -0.5), "-0.500E+00");
    EXPECT_EQ(field("(D9.3)", -0.5), "-.500E+00");
    EXPECT_EQ(field("(D8.3)", -0.5), "********");
    EXPECT_EQ(field("(D8.3)", 1e-101), ".100-100");
}

TEST(FormatNonFinite, AsterisksInEveryRealField)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(field("(F8.3)", nan), "********");
    EXPECT_EQ(field("(F8.3)", inf), "********");
    EXPECT_EQ(field("(F8.3)", -inf), "********");
    EXPECT_EQ(field("(D12.3)", nan), "************");
    EXPECT_EQ(field("(D12.3)", -inf), "************");
}

TEST(FormatErrors, TypeMismatch)
{
    EXPECT_THROW(render("(I3)", {1.0}), std::logic_error);
    EXPECT_THROW(render("(F8.3)", {1}), std::logic_error);
    EXPECT_THROW(render("(D12.3)", {1}), std::logic_error);
    EXPECT_THROW(render("(I3,F8.3)", {1, 2}), std::logic_error);
}

TEST(FormatErrors, MalformedLayouts)
{
    for (const char* bad : {"", "10X", "(10X", "10X)", "('abc)", "(F8)", "(D12)", "(I3.2)", "(Q3)", "(X)",
                            "(,I3)", "(I3,)", "(I3 F8.3)", "(F8.3.2)", "(0I3)", "(I0)", "(D12.0)", "((I3))",
                            "(I3))", "('a''',  'b)", "(2/)", "(1000X)"}) {
        EXPECT_THROW(render(bad), std::logic_error) << bad;
    }
    // The part after the stopping field is checked too.
    EXPECT_THROW(render("(I3,'a',Q)"), std::logic_error);
    // Values for a layout without fields would never be written.
    EXPECT_THROW(render("('a')", {1}), std::logic_error);
}

TEST(FormatWrite, WritesTheRenderedLines)
{
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    traz::write(f, "(/,'CPU TIME IN SECONDS ',F12.2)", {2.5});
    std::vector<FieldValue> row{1, 2};
    traz::write(f, "(I3)", row);
    std::rewind(f);
    char buf[128] = {};
    std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buf, n), "\nCPU TIME IN SECONDS         2.50\n  1\n  2\n");
}

} // namespace
