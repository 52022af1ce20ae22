// Timing of the normal-probability routines on the scalar and the vector path side by side, in
// nanoseconds of thread CPU time per call (so that other processes on the machine count less),
// and the number of bvnd calls behind each tvnd and qvnd call.
#include "mvn/bvnd.hpp"
#include "mvn/mvn.hpp"
#include "mvn/simd.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

// The counting build of the same routines (see CMakeLists.txt), on the scalar path.
namespace traz_counted {
struct mvn_kernels;
extern long long bvnd_calls;
double tvnd(const double* limit, const double* sigma, const double& epsi, const mvn_kernels* v);
double qvnd(const double* limit, const double* sigma, const double& epsi, const mvn_kernels* v);
} // namespace traz_counted

namespace {

using traz::mvn_kernels;

struct tri_case {
    double l[3];
    double c[3];
};
struct quad_case {
    double l[4];
    double c[6];
};

volatile double sink;

double cpu_now()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Calls body(i) for i = 0..n-1 repeatedly for at least min_seconds; ns per call (of `per`
// calls per body call).
template <class Body>
double time_once(int n, int per, double min_seconds, Body& body)
{
    long long total = 0;
    double acc = 0.0;
    const double start = cpu_now();
    double elapsed = 0.0;
    do {
        for (int i = 0; i < n; ++i) {
            acc += body(i);
        }
        total += n;
        elapsed = cpu_now() - start;
    } while (elapsed < min_seconds);
    sink = acc;
    return elapsed * 1e9 / static_cast<double>(total * per);
}

// The scalar and the vector form of one routine, timed in turn three times; the least of each.
template <class Scalar, class Vector>
void row(const std::string& what, int n, int per, double min_seconds, Scalar scalar, Vector vector,
         const mvn_kernels* v)
{
    double s = 1e300;
    double x = 1e300;
    for (int round = 0; round < 3; ++round) {
        s = std::min(s, time_once(n, per, min_seconds, scalar));
        if (v != nullptr) {
            x = std::min(x, time_once(n, per, min_seconds, vector));
        }
    }
    if (v != nullptr) {
        std::printf("%-52s %10.1f %10.1f %8.2f\n", what.c_str(), s, x, s / x);
    } else {
        std::printf("%-52s %10.1f %10s %8s\n", what.c_str(), s, "-", "-");
    }
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
    const double t = 0.1; // seconds per timing; each row takes six
    const mvn_kernels* v = traz::mvn_vector_available();
    const mvn_kernels* none = nullptr;

    std::printf("ns per call, thread CPU time; vector path: %s", v != nullptr ? v->target : "none on this CPU");
    if (v != nullptr) {
        std::printf(", %d doubles per vector", v->lanes);
    }
    std::printf("; this run computes on the %s path\n", traz::mvn_vector() != nullptr ? "vector" : "scalar");
    std::printf("%-52s %10s %10s %8s\n", "routine", "scalar", "vector", "speed-up");

    std::vector<double> z(1000);
    for (double& x : z) {
        x = 2.0 * limit(gen);
    }
    row("phid, z in [-6, 6], one call", 1000, 1, t, [&](int i) { return traz::phid(z[i], none); },
        [&](int i) { return traz::phid(z[i], v); }, v);
    // Each call's argument waits for the previous result: the latency of one call.
    double last = 0.0;
    row("phid, z in [-6, 6], one call after another", 1000, 1, t,
        [&](int i) { return last = traz::phid(z[i] + last * 0.0, none); },
        [&](int i) { return last = traz::phid(z[i] + last * 0.0, v); }, v);
    std::vector<double> p(24);
    row("phid, z in [-6, 6], 23 at a time", 40, 23, t,
        [&](int i) {
            double s = 0.0;
            for (int j = 0; j < 23; ++j) {
                s += traz::phid(z[23 * i + j], none);
            }
            return s;
        },
        [&](int i) {
            v->phid_n(23, &z[23 * i], p.data());
            return p[0];
        },
        v);

    const double bands[5] = {0.0, 0.3, 0.75, 0.925, 1.0};
    const char* names[4] = {"|r| < 0.3", "0.3 <= |r| < 0.75", "0.75 <= |r| < 0.925", "0.925 <= |r| < 1"};
    for (int band = 0; band < 4; ++band) {
        std::uniform_real_distribution<double> absr(bands[band], bands[band + 1]);
        std::vector<double> h(1000), k(1000), r(1000);
        for (int i = 0; i < 1000; ++i) {
            h[i] = limit(gen);
            k[i] = limit(gen);
            r[i] = (i % 2 == 0 ? 1.0 : -1.0) * absr(gen);
        }
        const std::string name = std::string("bvnd, ") + names[band];
        row(name + ", new r each call", 1000, 1, t, [&](int i) { return traz::bvnd(h[i], k[i], r[i], none); },
            [&](int i) { return traz::bvnd(h[i], k[i], r[i], v); }, v);
        row(name + ", r of 3 values", 1000, 1, t, [&](int i) { return traz::bvnd(h[i], k[i], r[i % 3], none); },
            [&](int i) { return traz::bvnd(h[i], k[i], r[i % 3], v); }, v);
        row(name + ", r of 3, one after another", 1000, 1, t,
            [&](int i) { return last = traz::bvnd(h[i] + last * 0.0, k[i], r[i % 3], none); },
            [&](int i) { return last = traz::bvnd(h[i] + last * 0.0, k[i], r[i % 3], v); }, v);
        // As tvnd's integrand has them: one prepared rule, 23 (h, k) at a time.
        traz::bvnd_rule rs;
        traz::bvnd_rule rv;
        traz::bvnd_prepare(r[0], rs);
        if (v != nullptr) {
            v->bvnd_prepare(r[0], rv);
        }
        row(name + ", 23 at a time", 40, 23, t,
            [&](int i) {
                double s = 0.0;
                for (int j = 0; j < 23; ++j) {
                    s += traz::bvnd_prepared(h[23 * i + j], k[23 * i + j], rs);
                }
                return s;
            },
            [&](int i) {
                v->bvnd_n(23, &h[23 * i], &k[23 * i], rv, p.data());
                return p[0];
            },
            v);
    }

    std::vector<tri_case> tri(200);
    for (tri_case& c : tri) {
        for (double& l : c.l) {
            l = limit(gen);
        }
        random_correlations(gen, 3, c.c);
    }
    for (double epsi : {1.0e-4, 1.0e-9}) {
        char name[64];
        std::snprintf(name, sizeof name, "tvnd, epsi %.0e", epsi);
        row(name, 200, 1, 3 * t, [&](int i) { return traz::tvnd(tri[i].l, tri[i].c, epsi, none); },
            [&](int i) { return traz::tvnd(tri[i].l, tri[i].c, epsi, v); }, v);
    }

    std::vector<quad_case> quad(20);
    for (quad_case& q : quad) {
        for (double& l : q.l) {
            l = limit(gen);
        }
        random_correlations(gen, 4, q.c);
    }
    const double epsi = 1.0e-4;
    row("qvnd, epsi 1e-4", 20, 1, 3 * t, [&](int i) { return traz::qvnd(quad[i].l, quad[i].c, epsi, none); },
        [&](int i) { return traz::qvnd(quad[i].l, quad[i].c, epsi, v); }, v);

    double worst = 0.0;
    for (const tri_case& c : tri) {
        if (v != nullptr) {
            worst = std::max(worst, std::fabs(traz::tvnd(c.l, c.c, epsi, v) - traz::tvnd(c.l, c.c, epsi, none)));
        }
    }
    std::printf("tvnd at epsi 1e-4, vector - scalar: at most %.2e over %zu cases\n", worst, tri.size());

    long long least = -1;
    long long most = 0;
    long long total = 0;
    int differ = 0;
    for (const tri_case& c : tri) {
        traz_counted::bvnd_calls = 0;
        differ += traz_counted::tvnd(c.l, c.c, epsi, nullptr) != traz::tvnd(c.l, c.c, epsi, none);
        const long long n = traz_counted::bvnd_calls;
        least = least < 0 || n < least ? n : least;
        most = n > most ? n : most;
        total += n;
    }
    std::printf("bvnd calls per tvnd call (epsi 1e-4, %zu cases): mean %.1f, min %lld, max %lld\n", tri.size(),
                static_cast<double>(total) / static_cast<double>(tri.size()), least, most);
    total = 0;
    const double tight = 1.0e-9;
    for (const tri_case& c : tri) {
        traz_counted::bvnd_calls = 0;
        traz_counted::tvnd(c.l, c.c, tight, nullptr);
        total += traz_counted::bvnd_calls;
    }
    std::printf("bvnd calls per tvnd call (epsi 1e-9, %zu cases): mean %.1f\n", tri.size(),
                static_cast<double>(total) / static_cast<double>(tri.size()));
    total = 0;
    for (const quad_case& q : quad) {
        traz_counted::bvnd_calls = 0;
        traz_counted::qvnd(q.l, q.c, epsi, nullptr);
        total += traz_counted::bvnd_calls;
    }
    std::printf("bvnd calls per qvnd call (epsi 1e-4, %zu cases): mean %.1f\n", quad.size(),
                static_cast<double>(total) / static_cast<double>(quad.size()));
    std::printf("counting build results differing from the library (scalar path): %d of %zu\n", differ, tri.size());
    return 0;
}
