// The four cubature rules: point sets, exactness of the basic and null rules on monomials,
// the null-rule combination tables, and the generator walk of dfshre.
#include "counting.hpp"
#include "cubature/routines.hpp"
#include "rule_tables.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace traz {
namespace {

using testing::Points;

struct Case {
    int key, ndim, degree, points;
    int nullDegree[4]; // every monomial up to this degree integrates to zero
};

const Case cases[] = {
    {1, 2, 13, 65, {11, 11, 9, 7}}, {2, 3, 11, 127, {9, 9, 7, 5}},
    {3, 2, 9, 33, {7, 7, 5, 3}},    {3, 3, 9, 77, {7, 7, 5, 3}},
    {3, 4, 9, 153, {7, 7, 5, 3}},   {3, 5, 9, 273, {7, 7, 5, 3}},
    {4, 2, 7, 21, {5, 5, 3, 1}},    {4, 3, 7, 39, {5, 5, 3, 1}},
    {4, 4, 7, 65, {5, 5, 3, 1}},    {4, 5, 7, 103, {5, 5, 3, 1}},
};

// Calls fn(e) for every exponent vector e of n variables with total degree <= maxdeg.
template <class Fn> void forMonomials(int n, int maxdeg, std::vector<int>& e, Fn fn)
{
    if (int(e.size()) == n)
        return fn(e);
    int used = 0;
    for (int a : e)
        used += a;
    for (int a = 0; a <= maxdeg - used; ++a) {
        e.push_back(a);
        forMonomials(n, maxdeg, e, fn);
        e.pop_back();
    }
}

void PrintTo(const Case& c, std::ostream* os)
{
    *os << "rule " << c.key << " n " << c.ndim;
}

class RuleTest : public ::testing::TestWithParam<Case> {};

TEST_P(RuleTest, GeneratorsAndPointCounts)
{
    const Case c = GetParam();
    const RuleTables r(c.key, c.ndim);
    int num = 0, maxsub = 0, minsub = 0, keyf = 0, ifail = -1, wtleng = 0;
    const double a[5] = {0, 0, 0, 0, 0}, b[5] = {1, 1, 1, 1, 1};
    dchhre(maxdim, c.ndim, 1, mdiv, a, b, 0, 1000000, 0.0, 1e-3, c.key, 1 << 24, 0, num, maxsub,
           minsub, keyf, ifail, wtleng);
    ASSERT_EQ(ifail, 0);
    EXPECT_EQ(wtleng, r.wtleng);
    EXPECT_EQ(num, c.points);
    double total = 0;
    for (int k = 1; k <= r.wtleng; ++k) {
        const auto gen = r.generator(k);
        EXPECT_TRUE(std::is_sorted(gen.rbegin(), gen.rend()) && gen.back() >= 0) << "k " << k;
        EXPECT_EQ(double(r.points[k - 1].size()), r.rulpts[k - 1]) << "k " << k;
        total += r.rulpts[k - 1];
        // The centre first, then two single-axis generators (fourth differences).
        const int nonzero = int(std::count_if(gen.begin(), gen.end(), [](double v) { return v != 0; }));
        EXPECT_TRUE(k > 3 || nonzero == (k == 1 ? 0 : 1)) << "k " << k;
    }
    EXPECT_EQ(total, c.points);
}

TEST_P(RuleTest, MonomialExactness)
{
    const Case c = GetParam();
    const RuleTables r(c.key, c.ndim);
    // rel[row][d]: largest |rule - exact| / sum |weight * value| over monomials of degree d.
    double rel[5][15] = {};
    std::vector<int> e;
    forMonomials(c.ndim, c.degree + 1, e, [&](const std::vector<int>& ex) {
        double exact = 1;
        int deg = 0;
        for (int a : ex) {
            exact *= a % 2 == 0 ? 2.0 / (a + 1) : 0.0;
            deg += a;
        }
        for (int row = 1; row <= 5; ++row) {
            double sum = 0, size = 0;
            for (int k = 1; k <= r.wtleng; ++k) {
                for (const auto& p : r.points[k - 1]) {
                    double m = r.W(row, k);
                    for (int i = 0; i < c.ndim; ++i)
                        m *= std::pow(p[i], ex[i]);
                    sum += m;
                    size += std::fabs(m);
                }
            }
            const double err = std::fabs(sum - (row == 1 ? exact : 0)) / size;
            rel[row - 1][deg] = std::max(rel[row - 1][deg], err);
        }
    });
    for (int row = 1; row <= 5; ++row) {
        const int deg = row == 1 ? c.degree : c.nullDegree[row - 2];
        for (int d = 0; d <= deg; ++d)
            EXPECT_LT(rel[row - 1][d], 1e-12) << "rule row " << row << " degree " << d;
        EXPECT_GT(rel[row - 1][deg + 1], 1e-6) << "rule row " << row << " exact beyond " << deg;
    }
}

TEST_P(RuleTest, NullRuleCombinations)
{
    const Case c = GetParam();
    const RuleTables r(c.key, c.ndim);
    const double cube = std::ldexp(1.0, c.ndim);
    for (int p = 1; p <= 3; ++p) {
        for (int i = 1; i <= r.wtleng; ++i) {
            const double scale = r.scales[(p - 1) + 3 * (i - 1)];
            // Exactly 100 where null rule p has weight 0, else the combination vanishes at i.
            const double atI = r.W(p + 2, i) + scale * r.W(p + 1, i);
            EXPECT_TRUE(r.W(p + 1, i) == 0 ? scale == 100.0 : std::fabs(atI) <= 1e-15 * std::fabs(r.W(p + 2, i)))
                << "pair " << p << " generator " << i;
            double onenorm = 0;
            for (int j = 1; j <= r.wtleng; ++j)
                onenorm += r.rulpts[j - 1] * std::fabs(r.W(p + 2, j) + scale * r.W(p + 1, j));
            EXPECT_NEAR(onenorm * r.norms[(p - 1) + 3 * (i - 1)], cube, 1e-12 * cube);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllRules, RuleTest, ::testing::ValuesIn(cases));

TEST(NullRuleCombinations, ZeroNullWeightsGiveScale100)
{
    // Rule 1: (0.5, 0) has weight 0 in null rule 3; rules 3 and 4: the (sqrt(lp), 0, ..)
    // generator has weight 0 in null rules 1 and 3.
    EXPECT_EQ(RuleTables(1, 2).scales[2 + 3 * 5], 100.0);
    for (const auto& [key, k] : {std::pair{3, 5}, std::pair{4, 4}}) {
        const RuleTables r(key, 3);
        EXPECT_EQ(r.scales[0 + 3 * (k - 1)], 100.0);
        EXPECT_EQ(r.scales[2 + 3 * (k - 1)], 100.0);
    }
}

Points visited;

void record(const int& ndim, double* x, const int& numfun, double* funvls)
{
    visited.emplace_back(x, x + ndim);
    for (int j = 0; j < numfun; ++j)
        funvls[j] = j + 1;
}

TEST(Dfshre, AxialGeneratorOrderInTwoDimensions)
{
    const double center[2] = {0, 0}, hwidth[2] = {1, 1};
    double g[2] = {0.5, 0}, x[2], sums[1], funvls[1];
    visited.clear();
    dfshre(2, center, hwidth, x, g, 1, record, sums, funvls);
    EXPECT_EQ(visited, (Points{{0.5, 0}, {-0.5, 0}, {0, 0.5}, {0, -0.5}}));
    EXPECT_EQ(sums[0], 4.0);
    EXPECT_TRUE(g[0] == 0.5 && g[1] == 0);
}

TEST(Dfshre, EveryGeneratorOfEveryRuleVisitsItsPointSetOnce)
{
    for (const Case& c : cases) {
        const RuleTables r(c.key, c.ndim);
        double center[5], hwidth[5], x[5], sums[2], funvls[2];
        for (int i = 0; i < c.ndim; ++i) {
            center[i] = 0.25 * (i + 1);
            hwidth[i] = 0.5 + i;
        }
        for (int k = 1; k <= r.wtleng; ++k) {
            std::vector<double> gen = r.generator(k);
            visited.clear();
            dfshre(c.ndim, center, hwidth, x, gen.data(), 2, record, sums, funvls);
            EXPECT_EQ(gen, r.generator(k)) << "not restored: rule " << c.key << " k " << k;
            std::set<std::vector<double>> want;
            for (auto p : r.points[k - 1]) {
                for (int i = 0; i < c.ndim; ++i)
                    p[i] = center[i] + p[i] * hwidth[i];
                want.insert(p);
            }
            EXPECT_EQ(visited.size(), want.size()) << "rule " << c.key << " k " << k;
            EXPECT_EQ(std::set<std::vector<double>>(visited.begin(), visited.end()), want);
            EXPECT_TRUE(sums[0] == double(want.size()) && sums[1] == 2.0 * double(want.size()));
        }
    }
}

} // namespace
} // namespace traz
