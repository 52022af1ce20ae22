// Multi-stage integrand: joint density of the stage cut scores of a finite mixed pool,
// times the conditional value of the quantity chosen by the selector iz.
#include "model/model.hpp"

#include "model/state.hpp"
#include "mvn/mvn.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include <sys/mman.h>

namespace traz {

namespace {

constexpr double one = 1.0;
constexpr double two = 2.0;
constexpr double twopi = 6.283185308;
constexpr double rtwopi = 2.506628275;
constexpr double qfloor = 1.0e-26; // floor on the probability of failing a stage

// Position of element (i, j), 1-based, of a column-major 4 x 4 matrix.
constexpr int ix(int i, int j) { return (i - 1) + 4 * (j - 1); }

double phi(double x) { return std::exp(-(x * x) / two) / rtwopi; }

// Upper orthant probability of dimension nd with limits lim and correlation list cor.
double orthant(int nd, const double* lim, const double* cor)
{
    double err = 0.0;
    int ifail = 0;
    double prob = 0.0;
    g01hbt(nd, lim, lim, cor, err, ifail, prob);
    return prob;
}

// dst = src (order n) with rows and columns skip1 and skip2 removed, order kept.
// Pass 0 for an index that is not removed. Returns the order of dst.
int without(const double* src, int n, int skip1, int skip2, double* dst)
{
    int q = 0;
    for (int j = 1; j <= n; ++j) {
        if (j == skip1 || j == skip2)
            continue;
        ++q;
        int p = 0;
        for (int i = 1; i <= n; ++i) {
            if (i == skip1 || i == skip2)
                continue;
            ++p;
            dst[ix(p, q)] = src[ix(i, j)];
        }
    }
    return q;
}

// Correlation list (strict lower triangle, row by row) of the covariance matrix ww of order n.
void corlist(const double* ww, int n, double* wz)
{
    int p = 0;
    for (int q = 2; q <= n; ++q)
        for (int r = 1; r < q; ++r)
            wz[p++] = ww[ix(q, r)] / std::sqrt(ww[ix(q, q)] * ww[ix(r, r)]);
}

// Correlation lists of the other composites of stages 1..k given X_j, j = 1..k, into
// wz1[j]: the inverse of the leading block of corm without row and column j, inverted
// again, is their conditional covariance. One remaining composite needs no list.
void conditional(const double* corm, int k, double (*wz1)[10])
{
    if (k - 1 < 2)
        return;
    double cormin[16];
    double ww[16];
    int ier = 0;
    without(corm, k, 0, 0, cormin);
    matinv(cormin, 4, k, ier);
    for (int j = 1; j <= k; ++j) {
        const int n1 = without(cormin, k, j, 0, ww);
        matinv(ww, 4, n1, ier);
        corlist(ww, n1, wz1[j]);
    }
}

// Stage cut of X_h given X_i = a_i and X_l = a_l, all standardized.
double paircut(const double* corm, const double* a, int h, int i, int l)
{
    const double rhi = corm[ix(h, i)];
    const double rhl = corm[ix(h, l)];
    const double ril = corm[ix(i, l)];
    const double rho = (rhl - rhi * ril) / std::sqrt((one - ril * ril) * (one - rhi * rhi));
    const double bi = (rhi - ril * rhl) / (one - ril * ril);
    const double bl = (rhl - ril * rhi) / (one - ril * ril);
    return (a[h - 1] - bi * a[i - 1] - bl * a[l - 1]) / std::sqrt((one - rhi * rhi) * (one - rho * rho));
}

// The values at one point that do not depend on the selector: the log density (or dead when
// a stage's tail mass S, entry mass R or density T is zero, negative or not a number) and
// the last stage's sums and per-group terms.
struct PointValues {
    bool dead;
    double lf;
    double S, V, W;
    double probgr[5], ssg[5], sumygc[5];
};

// Computes the point values at a(1..kk) for g groups (kk in 1..3, g in 1..5). a is scratch
// and is restored bit for bit. The second-moment sum W is formed at every point, so one
// evaluation serves every selector.
void evaluate_point(const SelectionState& s, int kk, int g, double* a, PointValues& pv)
{
    double av[3];
    double cor[10];
    double corm[16];
    for (int j = 0; j < kk; ++j)
        av[j] = a[j];
    for (int p = 0; p < 10; ++p)
        cor[p] = s.corc[p];
    for (int p = 0; p < 16; ++p)
        corm[p] = s.cormc[p];

    double dnn[4];
    double phiu[4] = {};
    double phin1[4] = {};
    double phib[16] = {};
    double phin2[16] = {};
    double aq[3];
    double aqr[3];
    double xata2[16];
    double pr1[4];
    const double nolist[1] = {0.0}; // a single composite has no correlations

    pv = PointValues{};
    double lf = 0.0;
    double S = 0.0, R = 0.0, T = 0.0, V = 0.0, W = 0.0;
    dnn[0] = s.napp;
    for (int k = 1; k <= kk; ++k) {
        dnn[k] = s.ns[k - 1];
        // The mass above the cuts of the earlier stages is the previous stage's S.
        R = k == 1 ? one : S;
        S = T = V = W = 0.0;
        const bool last = k == kk;

        for (int m = 1; m <= g; ++m) {
            const double pgm = s.pg[m - 1];
            for (int j = 1; j <= kk; ++j)
                a[j - 1] = av[j - 1] - s.Ef(m, j);
            const double P = orthant(k, a, cor);
            if (last)
                pv.probgr[m - 1] = P;
            S = S + pgm * P;
            pv.ssg[m - 1] = pgm * P;
            if (last) {
                for (int i = 1; i <= kk; ++i)
                    phiu[i - 1] = phi(a[i - 1]);
                for (int i = 1; i <= kk - 1; ++i)
                    for (int l = i + 1; l <= kk; ++l) {
                        const double ai = a[i - 1], al = a[l - 1];
                        const double r = corm[ix(i, l)];
                        const double b = std::exp(-(ai * ai + al * al - two * r * ai * al) / ((one - r * r) * two))
                                          / (std::sqrt(one - r * r) * twopi);
                        phib[ix(i, l)] = phib[ix(l, i)] = b;
                        phin2[ix(i, l)] = phin2[ix(l, i)] = one;
                    }
            }
            const double d = last ? phiu[k - 1] : phi(a[k - 1]);
            if (k == 1) {
                T = T + pgm * d;
                continue;
            }

            // c sums phiu(j) phin1(j) cory(j); the product phiu(j) phin1(j) is rounded first,
            // as when phiu(j) is overwritten by it, while phiu(j) itself stays phi(a_j) for W.
            double c = 0.0;
            for (int j = 1; j <= k; ++j) {
                // The other composites given X_j = a_j.
                const double aj = a[j - 1];
                int q = 0;
                for (int i = 1; i <= k; ++i) {
                    if (i == j)
                        continue;
                    const double r = corm[ix(i, j)];
                    aq[q++] = (a[i - 1] - r * aj) / std::sqrt(one - r * r);
                }
                phin1[j - 1] = orthant(k - 1, aq, k - 1 < 2 ? nolist : s.given3[j]);
                if (last)
                    c = c + phiu[j - 1] * phin1[j - 1] * s.cory[j - 1];
            }
            pv.sumygc[m - 1] = pgm * c;
            V = V + pgm * (P * s.efc[m - 1] + c);

            if (last && kk > 2) {
                // The remaining composite given X_i = a_i and X_l = a_l (one with three stages).
                for (int i = 1; i <= kk - 1; ++i)
                    for (int l = i + 1; l <= kk; ++l) {
                        int q = 0;
                        for (int h = 1; h <= kk; ++h)
                            if (h != i && h != l)
                                aqr[q++] = paircut(corm, a, h, i, l);
                        const double p2 = orthant(k - 2, aqr, nolist);
                        phin2[ix(i, l)] = phin2[ix(l, i)] = p2;
                    }
            }
            if (last) {
                // Second moments of the criterion above the cuts.
                for (int i = 1; i <= kk; ++i) {
                    double sum = 0.0;
                    for (int l = 1; l <= kk; ++l) {
                        if (l == i)
                            continue;
                        xata2[ix(i, l)] = phib[ix(i, l)] * phin2[ix(i, l)];
                        sum = sum + corm[ix(i, l)] * xata2[ix(i, l)];
                    }
                    xata2[ix(i, i)] = a[i - 1] * phiu[i - 1] * phin1[i - 1] - sum;
                }
                double w = 0.0;
                for (int i = 1; i <= kk; ++i) {
                    pr1[i - 1] = 0.0;
                    for (int l = 1; l <= kk; ++l)
                        pr1[i - 1] = pr1[i - 1] + s.cory[l - 1] * xata2[ix(l, i)];
                    w = w + pr1[i - 1] * s.cory[i - 1];
                }
                W = W + pgm * w;
            }
            T = T + pgm * d * phin1[k - 1];
        }

        if (!(S > 0.0) || !(R > 0.0) || !(T > 0.0)) {
            pv.dead = true;
            break;
        }
        double q = one - S / R;
        if (q <= 0.0)
            q = qfloor;
        lf = lf + s.dl4c[k - 1] + dnn[k] * (std::log(S) - std::log(R)) + (std::log(T) - std::log(R))
             + (dnn[k - 1] - dnn[k] - 1.0) * std::log(q);
    }

    for (int j = 0; j < kk; ++j)
        a[j] = av[j];
    pv.lf = lf;
    pv.S = S;
    pv.V = V;
    pv.W = W;
}

// The density at a point times the factor of selector iz, from the point values.
double with_selector(const SelectionState& s, const PointValues& pv, int iz, int g)
{
    if (pv.dead)
        return 0.0;
    const double S = pv.S, V = pv.V, W = pv.W;
    double F = std::exp(pv.lf);
    if (iz == 1) {
        double h = pv.ssg[0] * s.efc[0] + pv.sumygc[0];
        for (int m = 2; m <= g; ++m)
            h = h + pv.sumygc[m - 1];
        F = F * h / S;
    }
    if (iz >= 2 && iz <= g + 1)
        F = F * pv.ssg[iz - 2] / S;
    if (iz >= g + 2 && iz <= 2 * g + 1)
        F = F * pv.probgr[iz - g - 2] / S;
    if (iz >= 2 * g + 2 && iz <= 3 * g + 1) {
        // A group without applicants, or a group 1 that nobody passes, has no ratio.
        const int m = iz - 2 * g - 1;
        const double den = pv.ssg[0] * s.pg[m - 1];
        F = den > 0.0 ? (F * s.pg[0] * pv.ssg[m - 1]) / den : 0.0;
    }
    if (iz == 3 * g + 2)
        F = S * F;
    if (iz == 3 * g + 3) {
        double t = one + W / S;
        const double pg1 = s.pg[0];
        const double efc1 = s.efc[0];
        if (pg1 != 0.0)
            t = t + ((efc1 * efc1 * pv.probgr[0] + two * efc1 * pv.sumygc[0] / pg1) * pg1) / S;
        F = F * t;
    }
    if (iz == 3 * g + 4)
        F = (V / S) * (V / S) * F;
    if (iz == 11)
        F = F * pv.probgr[1] / S;  // 0 with one group
    return F;
}

// Memo of point values. The passes of one problem integrate different selectors over
// largely the same points, and everything but the selector factor is the same there, so
// each point is evaluated once per problem. Entries belong to one selection state: any
// change of the state other than the selector starts a new generation.
constexpr int kMemoSize = 1 << 17;
constexpr int kMemoProbes = 16;
constexpr std::size_t kStateBytes = offsetof(SelectionState, ngroup);  // ngroup is compared on its own

struct MemoEntry {
    std::uint64_t key[3];
    std::uint32_t gen;
    std::int32_t ndim;
    PointValues values;
};

struct PointMemo {
    MemoEntry entry[kMemoSize];
    std::uint32_t gen = 0;
    int used = 0;
    unsigned char state[kStateBytes];
    std::int32_t ngroup = 0;
};

// The memo's memory: an anonymous mapping, whose pages are zero when first touched (so an
// entry of generation 0 is free without clearing 24 MB), backed by huge pages where the
// system offers them (a few page faults instead of thousands).
struct MemoMapping {
    void* base = nullptr;
    std::size_t size = 0;
    ~MemoMapping()
    {
        if (base != nullptr)
            munmap(base, size);
    }
};

PointMemo* map_memo(MemoMapping& m)
{
    constexpr std::size_t huge = std::size_t(2) << 20;
    m.size = sizeof(PointMemo) + huge;
    m.base = mmap(nullptr, m.size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m.base == MAP_FAILED) {
        m.base = nullptr;
        throw std::bad_alloc();
    }
    const std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(m.base) + huge - 1) & ~(huge - 1);
    void* aligned = reinterpret_cast<void*>(at);
    madvise(aligned, sizeof(PointMemo), MADV_HUGEPAGE);
    return new (aligned) PointMemo;  // default-initialised: the entries keep the zero pages
}

// One memo per thread, mapped on the thread's first use: threads that run problems side
// by side never see each other's points.
thread_local MemoMapping memo_mapping;
thread_local PointMemo* memo_store = nullptr;

PointMemo& memo_of_thread()
{
    if (memo_store == nullptr)
        memo_store = map_memo(memo_mapping);
    return *memo_store;
}

// Starts a new generation when the selection state differs from the memo's.
void check_state(PointMemo& memo, const SelectionState& s)
{
    if (memo.gen != 0 && s.ngroup == memo.ngroup && std::memcmp(&s, memo.state, kStateBytes) == 0)
        return;
    ++memo.gen;
    memo.used = 0;
    std::memcpy(memo.state, &s, kStateBytes);
    memo.ngroup = s.ngroup;
}

// The entry for the point a(1..ndim): found, or a free slot to fill (flagged by *fresh),
// or nullptr when its probe sequence is full.
MemoEntry* memo_slot(PointMemo& memo, int ndim, const double* a, bool* fresh)
{
    std::uint64_t key[3] = {0, 0, 0};
    std::memcpy(key, a, sizeof(double) * ndim);
    // The coordinates of rule points often end in many zero bits: mix every bit into the index.
    std::uint64_t h = key[0];
    for (int j = 1; j < 3; ++j)
        h = (h ^ (h >> 31) ^ key[j]) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    for (int p = 0; p < kMemoProbes; ++p) {
        MemoEntry& e = memo.entry[(h + p) & (kMemoSize - 1)];
        if (e.gen != memo.gen) {
            if (memo.used >= kMemoSize / 2)
                return nullptr;
            *fresh = true;
            return &e;
        }
        if (e.ndim == ndim && e.key[0] == key[0] && e.key[1] == key[1] && e.key[2] == key[2]) {
            *fresh = false;
            return &e;
        }
    }
    return nullptr;
}

} // namespace

void ftest_forget()
{
    PointMemo& memo = memo_of_thread();
    ++memo.gen;
    memo.used = 0;
}

void ftest_selectors(const SelectionState& s, const int* iz, int nsel, const int& ndim, double* a, double* f)
{
    const int g = s.ngroup;
    for (int i = 0; i < nsel; ++i)
        f[i] = 0.0;
    if (ndim < 1 || ndim > 3 || g < 1 || g > 5)
        return;
    PointValues pv;
    evaluate_point(s, ndim, g, a, pv);
    for (int i = 0; i < nsel; ++i)
        f[i] = with_selector(s, pv, iz[i], g);
}

void prepare_state(SelectionState& s)
{
    for (auto& list : s.given3)
        for (double& r : list)
            r = 0.0;
    if (s.nstage == 3)
        conditional(s.cormc, 3, s.given3);
}

// Joint density of the ndim (2 or 3) stage cut scores a(1..ndim) of the pool in s, times
// the factor of selector iz, into f[0]. a is scratch during the call and is restored bit
// for bit. Points where a stage's tail mass S, its entry mass R or its density T is zero,
// negative or not a number (far tails, where the normal probabilities lose their accuracy)
// have density 0. Calls outside 1..3 stages or 1..5 groups return 0.
void ftest(const SelectionState& s, int iz, const int& ndim, double* a, const int& numfun, double* f)
{
    const int kk = ndim;
    const int g = s.ngroup;
    if (numfun < 1)
        return;
    f[0] = 0.0;
    if (kk < 1 || kk > 3 || g < 1 || g > 5)
        return;

    PointMemo& memo = memo_of_thread();
    check_state(memo, s);
    bool fresh = false;
    MemoEntry* e = memo_slot(memo, kk, a, &fresh);
    if (e == nullptr) {
        PointValues pv;
        evaluate_point(s, kk, g, a, pv);
        f[0] = with_selector(s, pv, iz, g);
        return;
    }
    if (fresh) {
        evaluate_point(s, kk, g, a, e->values);
        e->key[0] = e->key[1] = e->key[2] = 0;
        std::memcpy(e->key, a, sizeof(double) * kk);
        e->ndim = kk;
        e->gen = memo.gen;
        ++memo.used;
    }
    f[0] = with_selector(s, e->values, iz, g);
}

} // namespace traz
