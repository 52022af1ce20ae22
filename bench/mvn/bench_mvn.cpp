// Timing of the normal-probability routines, in nanoseconds per call, and the number of
// bvnd calls behind each tvnd and qvnd call.
#include "mvn/mvn.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

// The counting build of the same routines (see CMakeLists.txt).
namespace traz_counted {
extern long long bvnd_calls;
double tvnd(const double* limit, const double* sigma, const double& epsi);
double qvnd(const double* limit, const double* sigma, const double& epsi);
} // namespace traz_counted

namespace {

struct tri_case {
    double l[3];
    double c[3];
};
struct quad_case {
    double l[4];
    double c[6];
};

volatile double sink;

// Calls body(i) for i = 0..n-1 repeatedly for at least min_seconds; returns ns per call.
template <class Body>
double time_per_call(int n, double min_seconds, Body body)
{
    using clock = std::chrono::steady_clock;
    long long total = 0;
    double acc = 0.0;
    const auto start = clock::now();
    double elapsed = 0.0;
    do {
        for (int i = 0; i < n; ++i) {
            acc += body(i);
        }
        total += n;
        elapsed = std::chrono::duration<double>(clock::now() - start).count();
    } while (elapsed < min_seconds);
    sink = acc;
    return elapsed * 1e9 / static_cast<double>(total);
}

// Correlation matrix of random unit vectors in 4 dimensions (positive definite).
void random_correlations(std::mt19937_64& gen, int d, double* lower)
{
    std::normal_distribution<double> normal(0.0, 1.0);
    double v[4][4];
    for (int i = 0; i < d; ++i) {
        double norm = 0.0;
        for (int j = 0; j < 4; ++j) {
            v[i][j] = normal(gen);
            norm += v[i][j] * v[i][j];
        }
        norm = std::sqrt(norm);
        for (int j = 0; j < 4; ++j) {
            v[i][j] /= norm;
        }
    }
    int m = 0;
    for (int i = 1; i < d; ++i) {
        for (int k = 0; k < i; ++k) {
            double dot = 0.0;
            for (int j = 0; j < 4; ++j) {
                dot += v[i][j] * v[k][j];
            }
            lower[m++] = dot;
        }
    }
}

} // namespace

int main()
{
    std::mt19937_64 gen(20261208);
    std::uniform_real_distribution<double> limit(-3.0, 3.0);
    const double min_seconds = 0.3;

    std::printf("%-34s %12s\n", "routine", "ns/call");

    std::vector<double> z(1000);
    for (double& x : z) {
        x = 2.0 * limit(gen);
    }
    std::printf("%-34s %12.1f\n", "phid, z in [-6, 6]",
                time_per_call(1000, min_seconds, [&](int i) { return traz::phid(z[i]); }));

    const double bands[5] = {0.0, 0.3, 0.75, 0.925, 1.0};
    const char* names[4] = {"bvnd, |r| < 0.3", "bvnd, 0.3 <= |r| < 0.75",
                            "bvnd, 0.75 <= |r| < 0.925", "bvnd, 0.925 <= |r| < 1"};
    for (int band = 0; band < 4; ++band) {
        std::uniform_real_distribution<double> absr(bands[band], bands[band + 1]);
        std::vector<double> h(1000), k(1000), r(1000);
        for (int i = 0; i < 1000; ++i) {
            h[i] = limit(gen);
            k[i] = limit(gen);
            r[i] = (i % 2 == 0 ? 1.0 : -1.0) * absr(gen);
        }
        std::printf("%-34s %12.1f\n", names[band], time_per_call(1000, min_seconds, [&](int i) {
                        return traz::bvnd(h[i], k[i], r[i]);
                    }));
    }

    const double epsi = 1.0e-4;
    std::vector<tri_case> tri(200);
    for (tri_case& t : tri) {
        for (double& l : t.l) {
            l = limit(gen);
        }
        random_correlations(gen, 3, t.c);
    }
    std::printf("%-34s %12.1f\n", "tvnd, epsi 1e-4",
                time_per_call(200, min_seconds, [&](int i) { return traz::tvnd(tri[i].l, tri[i].c, epsi); }));

    std::vector<quad_case> quad(20);
    for (quad_case& q : quad) {
        for (double& l : q.l) {
            l = limit(gen);
        }
        random_correlations(gen, 4, q.c);
    }
    std::printf("%-34s %12.1f\n", "qvnd, epsi 1e-4",
                time_per_call(20, min_seconds, [&](int i) { return traz::qvnd(quad[i].l, quad[i].c, epsi); }));

    long long least = -1;
    long long most = 0;
    long long total = 0;
    int differ = 0;
    for (const tri_case& t : tri) {
        traz_counted::bvnd_calls = 0;
        differ += traz_counted::tvnd(t.l, t.c, epsi) != traz::tvnd(t.l, t.c, epsi);
        const long long n = traz_counted::bvnd_calls;
        least = least < 0 || n < least ? n : least;
        most = n > most ? n : most;
        total += n;
    }
    std::printf("bvnd calls per tvnd call (epsi 1e-4, %zu cases): mean %.1f, min %lld, max %lld\n",
                tri.size(), static_cast<double>(total) / static_cast<double>(tri.size()), least, most);
    total = 0;
    const double tight = 1.0e-9;
    for (const tri_case& t : tri) {
        traz_counted::bvnd_calls = 0;
        traz_counted::tvnd(t.l, t.c, tight);
        total += traz_counted::bvnd_calls;
    }
    std::printf("bvnd calls per tvnd call (epsi 1e-9, %zu cases): mean %.1f\n", tri.size(),
                static_cast<double>(total) / static_cast<double>(tri.size()));
    total = 0;
    for (const quad_case& q : quad) {
        traz_counted::bvnd_calls = 0;
        traz_counted::qvnd(q.l, q.c, epsi);
        total += traz_counted::bvnd_calls;
    }
    std::printf("bvnd calls per qvnd call (epsi 1e-4, %zu cases): mean %.1f\n", quad.size(),
                static_cast<double>(total) / static_cast<double>(quad.size()));
    std::printf("counting build results differing from the library: %d of %zu\n", differ, tri.size());
    return 0;
}
