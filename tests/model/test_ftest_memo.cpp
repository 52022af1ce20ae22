// The multi-stage integrand keeps the selector-independent values of the points it has
// evaluated. These tests check that this never shows: a changed selection state is never
// answered from an earlier state, the selector order does not matter, and points beyond the
// memo's capacity are still computed.
#include "model/model.hpp"

#include "model/state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The problem under test and the selector of the next call.
traz::SelectionState st{};
int st_iz = 0;

// The integrand at z for the current problem and selector.
void ftest(int ndim, double* z, int numfun, double* f)
{
    traz::prepare_state(st);
    traz::ftest(st, st_iz, ndim, z, numfun, f);
}

// A two-group problem of ndim stages; `shift` moves group 1's stage means.
void problem(int ndim, double shift)
{
    st = traz::SelectionState{};
    st.napp = 20;
    st.nstage = ndim;
    const int ns[3] = {12, 6, 3};
    int prev = st.napp;
    for (int k = 0; k < ndim; ++k) {
        st.ns[k] = ns[k];
        st.dl4c[k] = std::lgamma(prev + 1.0) - std::lgamma(ns[k] + 1.0) - std::lgamma(prev - ns[k] + 0.0);
        prev = ns[k];
    }
    const double r[3] = {0.5, 0.3, 0.4};  // r21, r31, r32
    for (int j = 1; j <= 4; ++j) st.Cormc(j, j) = 1.0;
    for (int p = 0; p < ndim * (ndim - 1) / 2; ++p) st.corc[p] = r[p];
    st.Cormc(2, 1) = st.Cormc(1, 2) = r[0];
    if (ndim == 3) {
        st.Cormc(3, 1) = st.Cormc(1, 3) = r[1];
        st.Cormc(3, 2) = st.Cormc(2, 3) = r[2];
    }
    for (int j = 0; j < ndim; ++j) st.cory[j] = 0.3 + 0.1 * j;
    st.ngroup = 2;
    st.pg[0] = 0.4;
    st.pg[1] = 0.6;
    st.efc[0] = 0.25;
    for (int j = 1; j <= ndim; ++j) st.Ef(1, j) = 0.5 + shift;
}

double value(int iz, std::vector<double> z)
{
    st_iz = iz;
    double f = -1.0;
    ftest(static_cast<int>(z.size()), z.data(), 1, &f);
    return f;
}

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

TEST(FtestMemo, ChangedStateIsNeverAnsweredFromTheOldOne)
{
    for (int ndim : {2, 3}) {
        const std::vector<double> z(ndim, 0.3);
        for (int iz : {1, 5, 9, 10}) {
            problem(ndim, 0.0);
            const double a1 = value(iz, z);
            problem(ndim, 0.2);
            const double b1 = value(iz, z);
            st.efc[0] = 0.5;  // one field alone
            const double c1 = value(iz, z);
            problem(ndim, 0.0);
            const double a2 = value(iz, z);
            problem(ndim, 0.2);
            const double b2 = value(iz, z);
            EXPECT_NE(a1, b1) << ndim << " stages, iz " << iz;
            EXPECT_TRUE(same_bits(a1, a2)) << ndim << " stages, iz " << iz;
            EXPECT_TRUE(same_bits(b1, b2)) << ndim << " stages, iz " << iz;
            if (iz != 5) {  // 5 has no criterion term
                EXPECT_NE(b1, c1) << ndim << " stages, iz " << iz;
            }
        }
    }
}

// Leaves the current state for another one and comes back, so that nothing evaluated
// before is known: the next call at any point is a fresh evaluation.
void forget(int ndim, double shift)
{
    problem(ndim, shift + 1e-3);
    value(0, std::vector<double>(ndim, 0.0));
    problem(ndim, shift);
}

TEST(FtestMemo, SelectorOrderDoesNotMatter)
{
    // Every selector evaluated first at a point, against every selector evaluated after
    // another one has filled the memo there.
    for (int ndim : {2, 3}) {
        const std::vector<double> z = ndim == 2 ? std::vector<double>{0.1, 0.7}
                                                : std::vector<double>{-0.2, 0.4, 0.9};
        problem(ndim, 0.0);
        for (int first : {1, 2, 5, 7, 9, 10, 11}) {
            for (int then : {1, 2, 3, 5, 8, 9, 10, 11, 0}) {
                forget(ndim, 0.0);
                const double direct = value(then, z);
                forget(ndim, 0.0);
                value(first, z);
                const double after = value(then, z);
                EXPECT_TRUE(same_bits(direct, after)) << ndim << " stages, " << first << " then " << then;
            }
        }
    }
}

TEST(FtestMemo, EveryPointIsItsOwn)
{
    // Many distinct points, more than the memo holds, each then evaluated alone: the values
    // agree bit for bit, so no point is answered with another's values, and points beyond
    // the memo's capacity are still computed.
    for (int ndim : {2, 3}) {
        problem(ndim, 0.0);
        const int n = ndim == 2 ? 150000 : 3000;
        // Neighbouring points share all coordinates but the last.
        auto point = [ndim](int i) {
            if (ndim == 3)
                return std::vector<double>{-2.0 + 4.0 * ((i / 5) % 97) / 97.0, -2.0 + 4.0 * (i / 485) / 89.0,
                                           -1.0 + 0.5 * (i % 5)};
            return std::vector<double>{-2.0 + 4.0 * (i / 97 % 97) / 97.0 + 1e-3 * (i / 9409),
                                       -2.0 + 4.0 * (i % 97) / 97.0};
        };
        std::vector<double> first(n);
        for (int i = 0; i < n; ++i) first[i] = value(1, point(i));
        const int step = ndim == 2 ? 997 : 97;
        for (int i = 0; i < n; i += step) {
            EXPECT_TRUE(same_bits(first[i], value(1, point(i)))) << ndim << " stages, point " << i;
            forget(ndim, 0.0);
            EXPECT_TRUE(same_bits(first[i], value(1, point(i)))) << ndim << " stages, point " << i << " alone";
        }
    }
}

} // namespace
