// Time per call of the multi-stage integrand ftest, two groups, two and three stages,
// over a grid of cut scores in [-4.5, 4.5]^K. Prints ns per call and a checksum (the
// sum of the values, in hexadecimal) so that a faster build can be checked bit for bit.
// Usage: bench_model_ftest [repetitions]
#include "model/state.hpp"
#include "model/model.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

traz::SelectionState st{};

// Pool of 40, stages keeping 20, 10, 5; group 1 (30 %) below the reference group.
void problem(int nstage)
{
    st = traz::SelectionState{};
    const int ns[3] = {20, 10, 5};
    const double r[3] = {0.5, 0.3, 0.4}; // r21, r31, r32
    st.napp = 40;
    st.nstage = nstage;
    int prev = st.napp;
    for (int k = 0; k < nstage; ++k) {
        st.ns[k] = ns[k];
        st.dl4c[k] = std::lgamma(prev + 1.0) - std::lgamma(ns[k] + 1.0) - std::lgamma(prev - ns[k] + 0.0);
        prev = ns[k];
    }
    for (int j = 1; j <= nstage; ++j)
        st.Cormc(j, j) = 1.0;
    st.Cormc(2, 1) = st.Cormc(1, 2) = r[0];
    if (nstage == 3) {
        st.Cormc(3, 1) = st.Cormc(1, 3) = r[1];
        st.Cormc(3, 2) = st.Cormc(2, 3) = r[2];
    }
    for (int p = 0; p < nstage * (nstage - 1) / 2; ++p)
        st.corc[p] = r[p];
    for (int j = 0; j < nstage; ++j) {
        st.cory[j] = 0.3 + 0.1 * j;
        st.Ef(1, j + 1) = -0.8 + 0.1 * j;
    }
    st.ngroup = 2;
    st.pg[0] = 0.3;
    st.pg[1] = 0.7;
    st.efc[0] = -0.8;
}

} // namespace

int main(int argc, char** argv)
{
    const int reps = argc > 1 ? std::atoi(argv[1]) : 5;
    for (int K : {2, 3})
        for (int iz : {1, 9}) {
            problem(K);
            traz::prepare_state(st);
            const int n = K == 2 ? 60 : 16;
            const int n3 = K == 3 ? n : 1;
            double sum = 0.0;
            long calls = 0;
            const auto t0 = std::chrono::steady_clock::now();
            for (int rep = 0; rep < reps; ++rep)
                for (int i = 0; i < n; ++i)
                    for (int j = 0; j < n; ++j)
                        for (int l = 0; l < n3; ++l) {
                            double z[3] = {-4.5 + 9.0 * (i + 0.5) / n, -4.5 + 9.0 * (j + 0.5) / n,
                                           -4.5 + 9.0 * (l + 0.5) / n};
                            double f = 0.0;
                            traz::ftest(st, iz, K, z, 1, &f);
                            sum += f;
                            ++calls;
                        }
            const double dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            std::printf("stages %d, groups 2, iz %d: %8.0f ns per call (%ld calls, checksum %a)\n", K, iz,
                        1e9 * dt / calls, calls, sum);
        }
    return 0;
}
