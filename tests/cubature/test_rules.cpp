// The four cubature rules: point sets, exactness of the basic and null rules on monomials,
// the null-rule combination tables, and the generator walk of dfshre.
#include "counting.hpp"
#include "cubature/routines.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

namespace traz {
namespace {

using testing::expandGenerator;

struct Rule {
    int key, ndim, wtleng;
    double w[5 * maxwt], g[maxdim * maxwt], errcof[6], rulpts[maxwt];
    double scales[3 * maxwt], norms[3 * maxwt];

    Rule(int key_, int ndim_) : key(key_), ndim(ndim_)
    {
        wtleng = key == 1 ? 14 : key == 2 ? 13 : key == 3 ? (ndim == 2 ? 8 : 9) : 6;
        dinhre(ndim, key, wtleng, w, g, errcof, rulpts, scales, norms);
        for (int k = 1; k <= wtleng; ++k)
            points.push_back(expandGenerator(generator(k)));
    }
    std::vector<std::vector<std::vector<double>>> points; // point set of each generator
    double W(int r, int k) const { return w[(r - 1) + 5 * (k - 1)]; }
    std::vector<double> generator(int k) const
    {
        return std::vector<double>(g + ndim * (k - 1), g + ndim * k);
    }
};

struct Case {
    int key, ndim, degree, points;
    int nullDegree[4];
};

// Degrees of the basic rule and of the four null rules (all monomials up to that degree
// integrate to zero), and the points of the whole rule.
const Case cases[] = {
    {1, 2, 13, 65, {11, 11, 9, 7}},  {2, 3, 11, 127, {9, 9, 7, 5}},
    {3, 2, 9, 33, {7, 7, 5, 3}},     {3, 3, 9, 77, {7, 7, 5, 3}},
    {3, 4, 9, 153, {7, 7, 5, 3}},    {3, 5, 9, 273, {7, 7, 5, 3}},
    {4, 2, 7, 21, {5, 5, 3, 1}},     {4, 3, 7, 39, {5, 5, 3, 1}},
    {4, 4, 7, 65, {5, 5, 3, 1}},     {4, 5, 7, 103, {5, 5, 3, 1}},
};

// Every exponent vector of n variables with total degree at most maxdeg.
void exponents(int n, int maxdeg, std::vector<int>& cur, std::vector<std::vector<int>>& out)
{
    if (int(cur.size()) == n) {
        out.push_back(cur);
        return;
    }
    int used = 0;
    for (int e : cur)
        used += e;
    for (int e = 0; e <= maxdeg - used; ++e) {
        cur.push_back(e);
        exponents(n, maxdeg, cur, out);
        cur.pop_back();
    }
}

struct Applied {
    double value; // rule applied to the monomial
    double size;  // sum of |weight * monomial| over the points, the scale of rounding
};

Applied apply(const Rule& r, int row, const std::vector<int>& e)
{
    Applied a{0, 0};
    for (int k = 1; k <= r.wtleng; ++k) {
        for (const auto& p : r.points[k - 1]) {
            double m = 1;
            for (int i = 0; i < r.ndim; ++i)
                m *= std::pow(p[i], e[i]);
            a.value += r.W(row, k) * m;
            a.size += std::fabs(r.W(row, k) * m);
        }
    }
    return a;
}

double exactMonomial(const std::vector<int>& e)
{
    double v = 1;
    for (int a : e)
        v *= (a % 2 == 0) ? 2.0 / (a + 1) : 0.0;
    return v;
}

int degreeOf(const std::vector<int>& e)
{
    int d = 0;
    for (int a : e)
        d += a;
    return d;
}

class RuleTest : public ::testing::TestWithParam<Case> {};

TEST_P(RuleTest, GeneratorsAndPointCounts)
{
    const Case c = GetParam();
    const Rule r(c.key, c.ndim);
    int num = 0, maxsub = 0, minsub = 0, keyf = 0, ifail = -1, wtleng = 0;
    std::vector<double> a(c.ndim, 0.0), b(c.ndim, 1.0);
    dchhre(maxdim, c.ndim, 1, mdiv, a.data(), b.data(), 0, 1000000, 0.0, 1e-3, c.key, 1 << 24,
           0, num, maxsub, minsub, keyf, ifail, wtleng);
    ASSERT_EQ(ifail, 0);
    EXPECT_EQ(keyf, c.key);
    EXPECT_EQ(wtleng, r.wtleng);
    EXPECT_EQ(num, c.points);

    double total = 0;
    for (int k = 1; k <= r.wtleng; ++k) {
        const auto gen = r.generator(k);
        for (int i = 1; i < c.ndim; ++i)
            EXPECT_GE(gen[i - 1], gen[i]) << "generator " << k << " not non-increasing";
        EXPECT_GE(gen[c.ndim - 1], 0.0);
        EXPECT_EQ(double(r.points[k - 1].size()), r.rulpts[k - 1]) << "generator " << k;
        total += r.rulpts[k - 1];
    }
    EXPECT_EQ(total, c.points);
    // The centre, then two single-axis generators used for the fourth differences.
    for (int i = 0; i < c.ndim; ++i)
        EXPECT_EQ(r.g[i], 0.0);
    for (int k = 2; k <= 3; ++k) {
        EXPECT_GT(r.generator(k)[0], 0.0);
        for (int i = 1; i < c.ndim; ++i)
            EXPECT_EQ(r.generator(k)[i], 0.0);
    }
}

TEST_P(RuleTest, BasicRuleExactUpToItsDegree)
{
    const Case c = GetParam();
    const Rule r(c.key, c.ndim);
    std::vector<std::vector<int>> es;
    std::vector<int> cur;
    exponents(c.ndim, c.degree + 1, cur, es);
    double worst = 0;
    double worstAbove = 0;
    for (const auto& e : es) {
        const Applied a = apply(r, 1, e);
        const double err = std::fabs(a.value - exactMonomial(e)) / std::max(a.size, 1e-300);
        if (degreeOf(e) <= c.degree)
            worst = std::max(worst, err);
        else
            worstAbove = std::max(worstAbove, err);
    }
    EXPECT_LT(worst, 1e-13) << "rule " << c.key << " n " << c.ndim;
    EXPECT_GT(worstAbove, 1e-6) << "rule " << c.key << " exact beyond its degree";
}

TEST_P(RuleTest, NullRulesVanishUpToTheirDegrees)
{
    const Case c = GetParam();
    const Rule r(c.key, c.ndim);
    std::vector<std::vector<int>> es;
    std::vector<int> cur;
    exponents(c.ndim, c.degree, cur, es);
    for (int nr = 1; nr <= 4; ++nr) {
        double constant = 0;
        for (int k = 1; k <= r.wtleng; ++k)
            constant += r.rulpts[k - 1] * r.W(nr + 1, k);
        EXPECT_NEAR(constant, 0.0, 1e-13) << "null rule " << nr;
        double worst = 0;
        double worstAbove = 0;
        for (const auto& e : es) {
            const Applied a = apply(r, nr + 1, e);
            const double rel = std::fabs(a.value) / std::max(a.size, 1e-300);
            if (degreeOf(e) <= c.nullDegree[nr - 1])
                worst = std::max(worst, rel);
            else if (degreeOf(e) == c.nullDegree[nr - 1] + 1)
                worstAbove = std::max(worstAbove, rel);
        }
        EXPECT_LT(worst, 1e-12) << "null rule " << nr;
        EXPECT_GT(worstAbove, 1e-3) << "null rule " << nr << " vanishes beyond its degree";
    }
}

TEST_P(RuleTest, NullRuleCombinations)
{
    const Case c = GetParam();
    const Rule r(c.key, c.ndim);
    const double cube = std::ldexp(1.0, c.ndim);
    for (int p = 1; p <= 3; ++p) {
        for (int i = 1; i <= r.wtleng; ++i) {
            const double scale = r.scales[(p - 1) + 3 * (i - 1)];
            const double norm = r.norms[(p - 1) + 3 * (i - 1)];
            if (r.W(p + 1, i) == 0) {
                EXPECT_EQ(scale, 100.0) << "pair " << p << " generator " << i;
            } else {
                // The combination vanishes at generator i.
                EXPECT_NEAR(r.W(p + 2, i) + scale * r.W(p + 1, i), 0.0,
                            1e-15 * std::fabs(r.W(p + 2, i)));
            }
            // Normalised to the 1-norm of the basic rule on the cube.
            double onenorm = 0;
            for (int j = 1; j <= r.wtleng; ++j)
                onenorm += r.rulpts[j - 1] * std::fabs(r.W(p + 2, j) + scale * r.W(p + 1, j));
            EXPECT_NEAR(onenorm * norm, cube, 1e-12 * cube);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllRules, RuleTest, ::testing::ValuesIn(cases));

TEST(NullRuleCombinations, ZeroNullWeightsGiveScale100)
{
    // Rule 1: generator 6 (0.5, 0) has weight 0 in null rule 3.
    const Rule r1(1, 2);
    EXPECT_EQ(r1.W(4, 6), 0.0);
    EXPECT_EQ(r1.scales[2 + 3 * 5], 100.0);
    // Rules 3 and 4: the (lp, 0, ..) generator has weight 0 in null rules 1 and 3.
    const Rule r3(3, 4);
    EXPECT_EQ(r3.scales[0 + 3 * 4], 100.0);
    EXPECT_EQ(r3.scales[2 + 3 * 4], 100.0);
    const Rule r4(4, 2);
    EXPECT_EQ(r4.scales[0 + 3 * 3], 100.0);
    EXPECT_EQ(r4.scales[2 + 3 * 3], 100.0);
}

// ---- dfshre ----

std::vector<std::vector<double>> visited;

void record(const int& ndim, double* x, const int& numfun, double* funvls)
{
    visited.emplace_back(x, x + ndim);
    for (int j = 0; j < numfun; ++j)
        funvls[j] = j + 1;
}

TEST(Dfshre, AxialGeneratorOrderInTwoDimensions)
{
    const double center[2] = {0, 0};
    const double hwidth[2] = {1, 1};
    double g[2] = {0.5, 0};
    double x[2];
    double sums[1];
    double funvls[1];
    visited.clear();
    dfshre(2, center, hwidth, x, g, 1, record, sums, funvls);
    const std::vector<std::vector<double>> expected = {
        {0.5, 0}, {-0.5, 0}, {0, 0.5}, {0, -0.5}};
    EXPECT_EQ(visited, expected);
    EXPECT_EQ(sums[0], 4.0);
    EXPECT_EQ(g[0], 0.5);
    EXPECT_EQ(g[1], 0.0);
}

TEST(Dfshre, EveryGeneratorOfEveryRuleVisitsItsPointSetOnce)
{
    for (const Case& c : cases) {
        const Rule r(c.key, c.ndim);
        std::vector<double> center(c.ndim), hwidth(c.ndim), x(c.ndim);
        for (int i = 0; i < c.ndim; ++i) {
            center[i] = 0.25 * (i + 1);
            hwidth[i] = 0.5 + i;
        }
        for (int k = 1; k <= r.wtleng; ++k) {
            std::vector<double> gen = r.generator(k);
            const std::vector<double> entry = gen;
            double sums[2];
            double funvls[2];
            visited.clear();
            dfshre(c.ndim, center.data(), hwidth.data(), x.data(), gen.data(), 2, record, sums,
                   funvls);
            EXPECT_EQ(gen, entry) << "generator not restored, rule " << c.key << " k " << k;
            std::set<std::vector<double>> want;
            for (const auto& p : expandGenerator(entry)) {
                std::vector<double> pt(c.ndim);
                for (int i = 0; i < c.ndim; ++i)
                    pt[i] = center[i] + p[i] * hwidth[i];
                want.insert(pt);
            }
            const std::set<std::vector<double>> got(visited.begin(), visited.end());
            EXPECT_EQ(visited.size(), want.size()) << "rule " << c.key << " k " << k;
            EXPECT_EQ(got, want) << "rule " << c.key << " k " << k;
            EXPECT_EQ(sums[0], double(want.size()));
            EXPECT_EQ(sums[1], 2.0 * double(want.size()));
        }
    }
}

} // namespace
} // namespace traz
