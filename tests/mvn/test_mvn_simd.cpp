// The vector path of the normal probabilities against the scalar path, against itself (one
// call or a batch, one instruction set or another) and on several threads at once.
#include "mvn/mvn.hpp"
#include "mvn/simd.hpp"
#include "reference_table.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using traz::mvn_kernels;

struct bv_case {
    double h, k, r;
};

// Every rule of bvnd: both sides of each threshold, r = 0 and +-1, limits from 0 to far tails.
std::vector<bv_case> bivariate_grid()
{
    std::vector<bv_case> out;
    std::mt19937_64 gen(12);
    std::uniform_real_distribution<double> limit(-9.0, 9.0);
    const double edges[] = {0.0, 0.3, 0.75, 0.925, 1.0};
    for (double e : edges) {
        for (double r : {e, -e, std::nextafter(e, 0.0), -std::nextafter(e, 0.0)}) {
            for (int i = 0; i < 40; ++i) {
                out.push_back({limit(gen), limit(gen), r});
            }
            out.push_back({0.0, 0.0, r});
            out.push_back({-40.0, 38.0, r});
        }
    }
    std::uniform_real_distribution<double> corr(-1.0, 1.0);
    for (int i = 0; i < 2000; ++i) {
        out.push_back({limit(gen), limit(gen), corr(gen)});
    }
    for (const auto& row : traz::test::read_reference("mvn-bivariate.csv")) {
        out.push_back({row.num("h"), row.num("k"), row.num("r")});
    }
    return out;
}

// phid and bvnd: the two paths within 1e-15 of each other.
TEST(VectorPath, AgreesWithScalarPath)
{
    const mvn_kernels* v = traz::mvn_vector_available();
    if (v == nullptr) {
        GTEST_SKIP() << "no vector kernels on this CPU";
    }
    double worst_phid = 0.0;
    for (double z = -40.0; z <= 40.0; z += 0.0137) {
        const double d = std::fabs(traz::phid(z, v) - traz::phid(z, nullptr));
        EXPECT_LE(d, 1e-15) << z;
        worst_phid = std::max(worst_phid, d);
    }
    double worst_bvnd = 0.0;
    for (const auto& [h, k, r] : bivariate_grid()) {
        const double d = std::fabs(traz::bvnd(h, k, r, v) - traz::bvnd(h, k, r, nullptr));
        EXPECT_LE(d, 1e-15) << h << " " << k << " " << r;
        worst_bvnd = std::max(worst_bvnd, d);
    }
    std::printf("vector - scalar: phid %.2e, bvnd %.2e at most\n", worst_phid, worst_bvnd);

    // tvnd and qvnd within the accuracy asked for, on the reference points.
    for (const auto& row : traz::test::read_reference("mvn-trivariate.csv")) {
        const double l[3] = {row.num("L1"), row.num("L2"), row.num("L3")};
        const double c[3] = {row.num("r21"), row.num("r31"), row.num("r32")};
        for (double epsi : {1e-4, 1e-9}) {
            EXPECT_NEAR(traz::tvnd(l, c, epsi, v), traz::tvnd(l, c, epsi, nullptr), epsi) << row.what();
        }
    }
    for (const auto& row : traz::test::read_reference("mvn-quadrivariate.csv")) {
        const double l[4] = {row.num("L1"), row.num("L2"), row.num("L3"), row.num("L4")};
        const double c[6] = {row.num("r21"), row.num("r31"), row.num("r32"),
                             row.num("r41"), row.num("r42"), row.num("r43")};
        EXPECT_NEAR(traz::qvnd(l, c, 1e-4, v), traz::qvnd(l, c, 1e-4, nullptr), 1e-4) << row.what();
    }
}

// A bvnd alone and the same bvnd in a batch are the same bits, whatever the batch length
// and the place in it; likewise phid.
TEST(VectorPath, BatchIsSingleCall)
{
    const mvn_kernels* v = traz::mvn_vector_available();
    if (v == nullptr) {
        GTEST_SKIP() << "no vector kernels on this CPU";
    }
    std::mt19937_64 gen(5);
    std::uniform_real_distribution<double> limit(-9.0, 9.0);
    for (double r : {0.0, 0.2, -0.5, 0.8, -0.93, 0.999, 1.0, -1.0}) {
        traz::bvnd_rule rule;
        v->bvnd_prepare(r, rule);
        for (int n : {1, 5, 8, 23}) {
            std::vector<double> h(n), k(n), p(n);
            for (int i = 0; i < n; ++i) {
                h[i] = limit(gen);
                k[i] = limit(gen);
            }
            v->bvnd_n(n, h.data(), k.data(), rule, p.data());
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(p[i], v->bvnd(h[i], k[i], r)) << "r " << r << ", " << i << " of " << n;
            }
            v->phid_n(n, h.data(), p.data());
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(p[i], v->phid(h[i])) << h[i];
            }
        }
    }
}

// Every instruction set the CPU offers gives the same bits.
TEST(VectorPath, SameBitsOnEveryInstructionSet)
{
    std::vector<const mvn_kernels*> sets;
    for (std::int64_t target : {HWY_AVX2, HWY_AVX3, HWY_AVX3_DL}) {
        if (const mvn_kernels* k = traz::mvn_vector_for_target(target)) {
            sets.push_back(k);
        }
    }
    if (sets.size() < 2) {
        GTEST_SKIP() << "fewer than two instruction sets with vector kernels on this CPU";
    }
    const auto rows = traz::test::read_reference("mvn-trivariate.csv");
    for (const mvn_kernels* k : sets) {
        std::printf("comparing %s (%d lanes) with %s (%d lanes)\n", k->target, k->lanes, sets[0]->target,
                    sets[0]->lanes);
        for (const auto& [h, kk, r] : bivariate_grid()) {
            EXPECT_EQ(traz::bvnd(h, kk, r, k), traz::bvnd(h, kk, r, sets[0])) << k->target;
            EXPECT_EQ(traz::phid(h, k), traz::phid(h, sets[0])) << k->target;
        }
        for (const auto& row : rows) {
            const double l[3] = {row.num("L1"), row.num("L2"), row.num("L3")};
            const double c[3] = {row.num("r21"), row.num("r31"), row.num("r32")};
            EXPECT_EQ(traz::tvnd(l, c, 1e-9, k), traz::tvnd(l, c, 1e-9, sets[0])) << k->target << " " << row.what();
        }
    }
}

// Threads integrating side by side get, bit for bit, what one thread alone gets.
TEST(VectorPath, ThreadsSideBySide)
{
    const auto rows = traz::test::read_reference("mvn-quadrivariate.csv");
    for (const mvn_kernels* v : {static_cast<const mvn_kernels*>(nullptr), traz::mvn_vector_available()}) {
        auto work = [&rows, v](std::vector<double>& out) {
            for (const auto& row : rows) {
                const double l[4] = {row.num("L1"), row.num("L2"), row.num("L3"), row.num("L4")};
                const double c[6] = {row.num("r21"), row.num("r31"), row.num("r32"),
                                     row.num("r41"), row.num("r42"), row.num("r43")};
                out.push_back(traz::qvnd(l, c, 1e-4, v));
                out.push_back(traz::tvnd(l + 1, c + 3, 1e-9, v));
                out.push_back(traz::bvnd(l[0], l[1], c[0], v));
            }
        };
        std::vector<double> alone;
        work(alone);
        std::vector<std::vector<double>> each(3);
        std::vector<std::thread> threads;
        for (auto& out : each) {
            threads.emplace_back(work, std::ref(out));
        }
        for (auto& t : threads) {
            t.join();
        }
        for (const auto& out : each) {
            EXPECT_EQ(out, alone) << (v == nullptr ? "scalar" : v->target);
        }
    }
}

// The path is the best the CPU has unless TRAZ_SCALAR asks for the scalar one.
TEST(VectorPath, ChoiceOfPath)
{
    const char* e = std::getenv("TRAZ_SCALAR");
    const bool forced = e != nullptr && *e != '\0' && std::strcmp(e, "0") != 0;
    EXPECT_EQ(traz::mvn_vector(), forced ? nullptr : traz::mvn_vector_available());
    const double z = 0.3;
    EXPECT_EQ(traz::phid(z), traz::phid(z, traz::mvn_vector()));
}

} // namespace
