// Vector kernels of phid and bvnd (and of tvnd's integrand), compiled once per instruction set
// with Highway and chosen at run time; the contract is in mvn/simd.hpp.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "mvn/simd.cpp"
// SSSE3 and SSE4 have neither FMA (which Highway's exp and sin assume for their accuracy)
// nor four double lanes: such CPUs take the scalar path, and the targets are not compiled.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_SSE4)
#endif
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>
#include <hwy/contrib/math/math-inl.h>

#include "mvn/bvnd.hpp"
#include "mvn/phid.hpp"
#include "mvn/simd.hpp"
#include "mvn/tvnd.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifndef TRAZ_MVN_SIMD_ONCE
#define TRAZ_MVN_SIMD_ONCE
namespace traz::simd_detail {

// bvnd's Gauss-Legendre nodes in the order of the node index j = 2i + (s + 1)/2 (pair i,
// sign s = -1 then +1): sx = s x(i, ng) and w = w(i, ng), zero from 2 lg to 24.
struct node_tables {
    double sx[3][bvnd_rule::capacity];
    double w[3][bvnd_rule::capacity];
};

inline const node_tables& nodes()
{
    static const node_tables t = [] {
        node_tables n{};
        const int npairs[3] = {3, 6, 10};
        for (int ng = 0; ng < 3; ++ng) {
            for (int i = 0; i < npairs[ng]; ++i) {
                for (int s = -1; s <= 1; s += 2) {
                    const int j = 2 * i + (s + 1) / 2;
                    n.sx[ng][j] = s * bvnd_rules::x[ng][i];
                    n.w[ng][j] = bvnd_rules::w[ng][i];
                }
            }
        }
        return n;
    }();
    return t;
}

} // namespace traz::simd_detail
#endif

HWY_BEFORE_NAMESPACE();
namespace traz {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL

using bvnd_rules::fourpi;
using bvnd_rules::twopi;

// Phi(z), lane by lane: phid's operations in its order, with Highway's exp.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V phid_v(D d, V z)
{
    using phid_rules::p;
    using phid_rules::q;
    const V za = hn::Abs(z);
    const V e = hn::Exp(d, hn::Neg(hn::Mul(hn::Mul(za, za), hn::Set(d, 0.5))));
    V num = hn::Set(d, p[6]);
    for (int i = 5; i >= 0; --i) {
        num = hn::Add(hn::Mul(num, za), hn::Set(d, p[i]));
    }
    V den = hn::Set(d, q[7]);
    for (int i = 6; i >= 0; --i) {
        den = hn::Add(hn::Mul(den, za), hn::Set(d, q[i]));
    }
    V pr = hn::Div(hn::Mul(e, num), den);
    const auto inner = hn::Lt(za, hn::Set(d, phid_rules::cutoff));
    if (!hn::AllTrue(d, inner)) {
        V cf = hn::Add(za, hn::Set(d, 0.65));
        cf = hn::Add(za, hn::Div(hn::Set(d, 4.0), cf));
        cf = hn::Add(za, hn::Div(hn::Set(d, 3.0), cf));
        cf = hn::Add(za, hn::Div(hn::Set(d, 2.0), cf));
        cf = hn::Add(za, hn::Div(hn::Set(d, 1.0), cf));
        const V tail = hn::Div(hn::Div(e, cf), hn::Set(d, phid_rules::rrtpi));
        pr = hn::IfThenElse(inner, pr, tail);
    }
    pr = hn::IfThenZeroElse(hn::Gt(za, hn::Set(d, phid_rules::zero_beyond)), pr);
    return hn::IfThenElse(hn::Gt(z, hn::Zero(d)), hn::Sub(hn::Set(d, 1.0), pr), pr);
}

// std::max(0, x) and std::max(x, y) as the scalar code has them.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V max0(D d, V x)
{
    return hn::IfThenElse(hn::Lt(hn::Zero(d), x), x, hn::Zero(d));
}
template <class V>
HWY_INLINE V max2(V x, V y)
{
    return hn::IfThenElse(hn::Lt(x, y), y, x);
}

// The fixed order of a node sum from its eight partial sums.
template <class V>
HWY_INLINE V tree(const V* s)
{
    return hn::Add(hn::Add(hn::Add(s[0], s[1]), hn::Add(s[2], s[3])),
                   hn::Add(hn::Add(s[4], s[5]), hn::Add(s[6], s[7])));
}

// The parts of bvnd outside its node sums, for lanes of (h, k) at one correlation r:
//   |r| < 0.925:  result = low_finish(sum of w exp((sn hk - hs) / den))
//   otherwise:    result = high_finish(high_start + sum of the masked node terms).
template <class D, class V = hn::Vec<D>>
struct bvnd_parts {
    V h, k, hk, hs;   // hs for |r| < 0.925
    V kk, bs, u, v;   // kk = -k for r < 0; for 0.925 <= |r| < 1

    bvnd_parts(D d, V h0, V k0, double r) : h(h0), k(k0), hk(hn::Mul(h0, k0)), kk(k0)
    {
        if (std::fabs(r) < 0.925) {
            hs = hn::Mul(hn::Add(hn::Mul(h, h), hn::Mul(k, k)), hn::Set(d, 0.5));
            return;
        }
        if (r < 0.0) {
            kk = hn::Neg(kk);
            hk = hn::Neg(hk);
        }
        const V dif = hn::Sub(h, kk);
        bs = hn::Mul(dif, dif);
        u = hn::Mul(hn::Sub(hn::Set(d, 4.0), hk), hn::Set(d, 0.125));
        v = hn::Mul(hn::Sub(hn::Set(d, 12.0), hk), hn::Set(d, 0.0625));
    }

    V low_finish(D d, V sum, double asr) const
    {
        const V prod = hn::Mul(phid_v(d, hn::Neg(h)), phid_v(d, hn::Neg(k)));
        return hn::Add(hn::Div(hn::Mul(sum, hn::Set(d, asr)), hn::Set(d, fourpi)), prod);
    }

    // The expansion terms before the node sum, for 0.925 <= |r| < 1.
    V high_start(D d, double as_, double a_) const
    {
        const V one = hn::Set(d, 1.0);
        const V as = hn::Set(d, as_);
        const V a = hn::Set(d, a_);
        const V vb5 = hn::Div(hn::Mul(v, bs), hn::Set(d, 5.0));
        const V e1 = hn::Mul(hn::Neg(hn::Add(hn::Div(bs, as), hk)), hn::Set(d, 0.5));
        const V c1 = hn::Add(hn::Sub(one, hn::Div(hn::Mul(hn::Mul(u, hn::Sub(bs, as)), hn::Sub(one, vb5)),
                                                  hn::Set(d, 3.0))),
                             hn::Div(hn::Mul(hn::Mul(hn::Mul(u, v), as), as), hn::Set(d, 5.0)));
        V bvn = hn::IfThenElseZero(hn::Gt(e1, hn::Set(d, -100.0)), hn::Mul(hn::Mul(a, hn::Exp(d, e1)), c1));
        const V nhk = hn::Neg(hk);
        const V b = hn::Sqrt(bs);
        const V nb = hn::Div(hn::Neg(b), a);
        const V c2 = hn::Sub(one, hn::Div(hn::Mul(hn::Mul(u, bs), hn::Sub(one, vb5)), hn::Set(d, 3.0)));
        const V t2 = hn::Mul(hn::Mul(hn::Mul(hn::Mul(hn::Exp(d, hn::Mul(nhk, hn::Set(d, 0.5))),
                                                     hn::Set(d, std::sqrt(twopi))),
                                             phid_v(d, nb)),
                                     b),
                             c2);
        return hn::IfThenElse(hn::Lt(nhk, hn::Set(d, 100.0)), hn::Sub(bvn, t2), bvn);
    }

    // One node term of the expansion and whether it counts (e2 > -100).
    V high_term(D d, V xs, V rs, V omr, V tpr, V aw, hn::Mask<D>& counts) const
    {
        const V one = hn::Set(d, 1.0);
        const V e2 = hn::Mul(hn::Neg(hn::Add(hn::Div(bs, xs), hk)), hn::Set(d, 0.5));
        counts = hn::Gt(e2, hn::Set(d, -100.0));
        const V ex = hn::Div(hn::Exp(d, hn::Div(hn::Mul(hn::Neg(hk), omr), tpr)), rs);
        const V poly = hn::Add(one, hn::Mul(hn::Mul(u, xs), hn::Add(one, hn::Mul(v, xs))));
        return hn::Mul(hn::Mul(aw, hn::Exp(d, e2)), hn::Sub(ex, poly));
    }

    V high_finish(D d, V bvn, double r) const
    {
        if (std::fabs(r) < 1.0) {
            bvn = hn::Div(hn::Neg(bvn), hn::Set(d, twopi));
        }
        if (r > 0.0) {
            return hn::Add(bvn, phid_v(d, hn::Neg(max2(h, kk))));
        }
        return hn::Add(hn::Neg(bvn), max0(d, hn::Sub(phid_v(d, hn::Neg(h)), phid_v(d, hn::Neg(kk)))));
    }
};

// The node quantities of a rule for one vector of nodes (sx, w: the node tables there).
template <class D, class V = hn::Vec<D>>
HWY_INLINE void low_nodes(D d, double asr, V sx, V& sn, V& den)
{
    const V one = hn::Set(d, 1.0);
    sn = hn::Sin(d, hn::Mul(hn::Mul(hn::Set(d, asr), hn::Add(sx, one)), hn::Set(d, 0.5)));
    den = hn::Sub(one, hn::Mul(sn, sn));
}
template <class D, class V = hn::Vec<D>>
HWY_INLINE void high_nodes(D d, double a, V sx, V w, V& xs, V& rs, V& omr, V& tpr, V& aw)
{
    const V one = hn::Set(d, 1.0);
    const V ha = hn::Set(d, a * 0.5);
    const V ax = hn::Mul(ha, hn::Add(sx, one));
    xs = hn::Mul(ax, ax);
    rs = hn::Sqrt(hn::Sub(one, xs));
    omr = hn::Sub(one, rs);
    tpr = hn::Mul(hn::Set(d, 2.0), hn::Add(one, rs));
    aw = hn::Mul(ha, w);
}

void bvnd_prepare_v(double r, bvnd_rule& rule)
{
    const hn::ScalableTag<double> d;
    constexpr int N = HWY_LANES(double);
    const simd_detail::node_tables& nt = simd_detail::nodes();
    const double absr = std::fabs(r);
    const int ng = bvnd_rule_start(r, rule);
    if (absr < 0.925) {
        rule.asr = std::asin(r);
        for (int j = 0; j < rule.n; j += N) {
            hn::Vec<decltype(d)> sn, den;
            low_nodes(d, rule.asr, hn::LoadU(d, nt.sx[ng] + j), sn, den);
            hn::StoreU(sn, d, rule.sn + j);
            hn::StoreU(den, d, rule.den + j);
            hn::StoreU(hn::LoadU(d, nt.w[ng] + j), d, rule.wn + j);
        }
    } else if (absr < 1.0) {
        rule.as = (1.0 - r) * (1.0 + r);
        rule.a = std::sqrt(rule.as);
        for (int j = 0; j < rule.n; j += N) {
            hn::Vec<decltype(d)> xs, rs, omr, tpr, aw;
            high_nodes(d, rule.a, hn::LoadU(d, nt.sx[ng] + j), hn::LoadU(d, nt.w[ng] + j), xs, rs, omr, tpr, aw);
            hn::StoreU(xs, d, rule.xs + j);
            hn::StoreU(rs, d, rule.rs + j);
            hn::StoreU(omr, d, rule.omr + j);
            hn::StoreU(tpr, d, rule.tpr + j);
            hn::StoreU(aw, d, rule.aw + j);
        }
    }
}

// bvnd for a vector of (h, k) at the rule's correlation, nodes broadcast one at a time.
template <int n, class D, class V = hn::Vec<D>>
HWY_INLINE V bvnd_lanes(D d, V h, V k, const bvnd_rule& rule)
{
    const double r = rule.r;
    const bvnd_parts<D> q(d, h, k, r);
    V acc[8];
    for (V& s : acc) {
        s = hn::Zero(d);
    }
    if (std::fabs(r) < 0.925) {
        for (int j = 0; j < n; ++j) {
            const V arg = hn::Div(hn::Sub(hn::Mul(hn::Set(d, rule.sn[j]), q.hk), q.hs), hn::Set(d, rule.den[j]));
            acc[j % 8] = hn::Add(acc[j % 8], hn::Mul(hn::Set(d, rule.wn[j]), hn::Exp(d, arg)));
        }
        return q.low_finish(d, tree(acc), rule.asr);
    }
    V bvn = hn::Zero(d);
    if (std::fabs(r) < 1.0) {
        bvn = q.high_start(d, rule.as, rule.a);
        for (int j = 0; j < n; ++j) {
            hn::Mask<D> counts;
            const V term = q.high_term(d, hn::Set(d, rule.xs[j]), hn::Set(d, rule.rs[j]), hn::Set(d, rule.omr[j]),
                                       hn::Set(d, rule.tpr[j]), hn::Set(d, rule.aw[j]), counts);
            acc[j % 8] = hn::IfThenElse(counts, hn::Add(acc[j % 8], term), acc[j % 8]);
        }
        bvn = hn::Add(bvn, tree(acc));
    }
    return q.high_finish(d, bvn, r);
}

// out[i] = (density ? exp(-t_i^2 / 2) : 1) * bvnd(h_i, k_i, rule.r), with h_i, k_i from
// the inputs: (h, k) themselves, or t ra - la and t rb - lb from trvbkd.
template <int n>
void bvnd_rows(int count, const double* h, const double* k, const trvbkd_block* blk, const bvnd_rule& rule,
               double* out)
{
    const hn::ScalableTag<double> d;
    using V = hn::Vec<decltype(d)>;
    constexpr int N = HWY_LANES(double);
    for (int i = 0; i < count; i += N) {
        // A last, partial vector takes its inputs from a padded copy.
        const int m = count - i < N ? count - i : N;
        HWY_ALIGN double hp[N] = {};
        HWY_ALIGN double kp[N] = {};
        V hv;
        V kv = hn::Zero(d);
        if (m == N) {
            hv = hn::LoadU(d, h + i);
            if (k != nullptr) {
                kv = hn::LoadU(d, k + i);
            }
        } else {
            for (int l = 0; l < m; ++l) {
                hp[l] = h[i + l];
                if (k != nullptr) {
                    kp[l] = k[i + l];
                }
            }
            hv = hn::Load(d, hp);
            kv = hn::Load(d, kp);
        }
        V dens = hn::Set(d, 1.0);
        if (blk != nullptr) {
            const V t = hv;
            hv = hn::Sub(hn::Mul(t, hn::Set(d, blk->ra)), hn::Set(d, blk->la));
            kv = hn::Sub(hn::Mul(t, hn::Set(d, blk->rb)), hn::Set(d, blk->lb));
            dens = hn::Exp(d, hn::Neg(hn::Mul(hn::Mul(t, t), hn::Set(d, 0.5))));
        }
        V p = bvnd_lanes<n>(d, hv, kv, rule);
        if (blk != nullptr) {
            p = hn::Mul(dens, p);
        }
        if (m == N) {
            hn::StoreU(p, d, out + i);
        } else {
            HWY_ALIGN double pp[N];
            hn::Store(p, d, pp);
            for (int l = 0; l < m; ++l) {
                out[i + l] = pp[l];
            }
        }
    }
}

void bvnd_dispatch(int count, const double* h, const double* k, const trvbkd_block* blk, const bvnd_rule& rule,
                   double* out)
{
    switch (rule.n) {
    case 6:
        bvnd_rows<6>(count, h, k, blk, rule, out);
        break;
    case 12:
        bvnd_rows<12>(count, h, k, blk, rule, out);
        break;
    default:
        bvnd_rows<20>(count, h, k, blk, rule, out);
        break;
    }
}

void bvnd_n_v(int count, const double* h, const double* k, const bvnd_rule& rule, double* p)
{
    bvnd_dispatch(count, h, k, nullptr, rule, p);
}

void trvfnd_n_v(int count, const trvbkd_block& blk, const double* t, double* f)
{
    bvnd_dispatch(count, t, nullptr, &blk, blk.rule, f);
}

// Four values in the lanes of a vector and back, without a round trip through memory (a
// vector load of values just stored one by one waits for the stores to retire).
using D4 = hn::CappedTag<double, 4>;
using V4 = hn::Vec<D4>;
HWY_INLINE V4 lanes4(double a, double b, double c)
{
    const D4 d4;
    return hn::ConcatUpperLower(d4, hn::Set(d4, c), hn::InterleaveLower(d4, hn::Set(d4, a), hn::Set(d4, b)));
}
HWY_INLINE double lane0(V4 v)
{
    return hn::GetLane(v);
}
HWY_INLINE double lane1(V4 v)
{
    return hn::GetLane(hn::Shuffle01(v));
}
HWY_INLINE double lane2(V4 v)
{
    return hn::GetLane(hn::UpperHalf(hn::Half<D4>(), v));
}

// (v0 + v1) + (v2 + v3) of four lanes, in registers.
HWY_INLINE double quad_sum(V4 v)
{
    const V4 pairs = hn::Add(v, hn::Shuffle01(v));
    return hn::GetLane(hn::Add(pairs, hn::SwapAdjacentBlocks(pairs)));
}

// The eight partial sums of a node sum in the fixed order, from one vector of eight or two
// of four.
template <class D>
HWY_INLINE double sum8(D d, const hn::Vec<D>* acc)
{
    if constexpr (hn::MaxLanes(D()) == 8) {
        const hn::Half<D> dh;
        return quad_sum(hn::LowerHalf(dh, acc[0])) + quad_sum(hn::UpperHalf(dh, acc[0]));
    } else {
        (void)d;
        return quad_sum(acc[0]) + quad_sum(acc[1]);
    }
}

// The rule for r, from a per-thread cache of the last four correlations asked for: the
// integrands ask again and again for the few correlations of their problem. A rule is the
// same bits whether it is prepared anew or found here.
const bvnd_rule& cached_rule(double r)
{
    struct cache {
        std::uint64_t key[4];
        bool used[4];
        int next;
        bvnd_rule rule[4];
    };
    thread_local cache c{};
    std::uint64_t key;
    std::memcpy(&key, &r, sizeof key);
    for (int i = 0; i < 4; ++i) {
        if (c.used[i] && c.key[i] == key) {
            return c.rule[i];
        }
    }
    const int i = c.next;
    c.next = (i + 1) % 4;
    c.key[i] = key;
    c.used[i] = true;
    bvnd_prepare_v(r, c.rule[i]);
    return c.rule[i];
}

// One bvnd: the node sum a vector of nodes at a time, eight partial sums in eight lanes
// (one or two vectors), so that the sum is the batch's; the rest as the scalar code has it,
// with the exps and phids gathered in vectors.
double bvnd_one_v(double h, double k, double r)
{
    const hn::ScalableTag<double> d;
    using V = hn::Vec<decltype(d)>;
    constexpr int N = HWY_LANES(double);
    constexpr int P = 8 / N;
    static_assert(N * P == 8, "eight partial sums");

    const bvnd_rule& rule = cached_rule(r);
    const int n = rule.n;
    const double absr = std::fabs(r);
    V acc[P];
    for (V& s : acc) {
        s = hn::Zero(d);
    }
    const auto node_sum = [d, &acc]() { return sum8(d, acc); };
    const D4 d4;

    if (absr < 0.925) {
        const V4 ph = phid_v(d4, lanes4(-h, -k, 0.0));
        const V hk = hn::Set(d, h * k);
        const V hs = hn::Set(d, (h * h + k * k) * 0.5);
        for (int j = 0; j < n; j += N) {
            const V arg = hn::Div(hn::Sub(hn::Mul(hn::LoadU(d, rule.sn + j), hk), hs), hn::LoadU(d, rule.den + j));
            const V term = hn::Mul(hn::LoadU(d, rule.wn + j), hn::Exp(d, arg));
            V& s = acc[(j / N) % P];
            s = hn::IfThenElse(hn::FirstN(d, static_cast<std::size_t>(n - j)), hn::Add(s, term), s);
        }
        return node_sum() * rule.asr / fourpi + lane0(ph) * lane1(ph);
    }

    double kk = k;
    double hk = h * k;
    if (r < 0.0) {
        kk = -kk;
        hk = -hk;
    }
    const double ph1 = r > 0.0 ? -std::max(h, kk) : -h; // the phid arguments of the end
    const double ph2 = -kk;
    double bvn = 0.0;
    V4 ph;
    if (absr < 1.0) {
        const double as = rule.as;
        const double a = rule.a;
        const double bs = (h - kk) * (h - kk);
        const double u = (4.0 - hk) * 0.125;
        const double v = (12.0 - hk) * 0.0625;
        const double e1 = -(bs / as + hk) * 0.5;
        const double b = std::sqrt(bs);
        const double nb = -b / a;
        const V4 ex = hn::Exp(d4, lanes4(e1, -hk * 0.5, 0.0));
        ph = phid_v(d4, lanes4(nb, ph1, ph2));
        if (e1 > -100.0) {
            bvn = a * lane0(ex) * (1.0 - u * (bs - as) * (1.0 - v * bs / 5.0) / 3.0 + u * v * as * as / 5.0);
        }
        if (-hk < 100.0) {
            bvn = bvn - lane1(ex) * std::sqrt(twopi) * lane0(ph) * b * (1.0 - u * bs * (1.0 - v * bs / 5.0) / 3.0);
        }
        const V one = hn::Set(d, 1.0);
        const V vbs = hn::Set(d, bs);
        const V vhk = hn::Set(d, hk);
        const V vu = hn::Set(d, u);
        const V vv = hn::Set(d, v);
        for (int j = 0; j < n; j += N) {
            const V xs = hn::LoadU(d, rule.xs + j);
            const V e2 = hn::Mul(hn::Neg(hn::Add(hn::Div(vbs, xs), vhk)), hn::Set(d, 0.5));
            const V ex2 = hn::Div(hn::Exp(d, hn::Div(hn::Mul(hn::Neg(vhk), hn::LoadU(d, rule.omr + j)),
                                                      hn::LoadU(d, rule.tpr + j))),
                                  hn::LoadU(d, rule.rs + j));
            const V poly = hn::Add(one, hn::Mul(hn::Mul(vu, xs), hn::Add(one, hn::Mul(vv, xs))));
            const V term = hn::Mul(hn::Mul(hn::LoadU(d, rule.aw + j), hn::Exp(d, e2)), hn::Sub(ex2, poly));
            const auto counts = hn::And(hn::Gt(e2, hn::Set(d, -100.0)), hn::FirstN(d, static_cast<std::size_t>(n - j)));
            V& s = acc[(j / N) % P];
            s = hn::IfThenElse(counts, hn::Add(s, term), s);
        }
        bvn = bvn + node_sum();
        bvn = -bvn / twopi;
    } else {
        ph = phid_v(d4, lanes4(0.0, ph1, ph2));
    }
    if (r > 0.0) {
        return bvn + lane1(ph);
    }
    return -bvn + std::max(0.0, lane1(ph) - lane2(ph));
}

double phid_one_v(double z)
{
    const hn::CappedTag<double, 1> d1;
    return hn::GetLane(phid_v(d1, hn::Set(d1, z)));
}

void phid_n_v(int count, const double* z, double* p)
{
    const hn::ScalableTag<double> d;
    constexpr int N = HWY_LANES(double);
    int i = 0;
    for (; i + N <= count; i += N) {
        hn::StoreU(phid_v(d, hn::LoadU(d, z + i)), d, p + i);
    }
    for (; i < count; ++i) {
        p[i] = phid_one_v(z[i]);
    }
}

const mvn_kernels* kernel_table()
{
    static const mvn_kernels table = {
        hwy::TargetName(HWY_TARGET),
        static_cast<int>(hn::Lanes(hn::ScalableTag<double>())),
        &phid_one_v,
        &phid_n_v,
        &bvnd_one_v,
        &bvnd_prepare_v,
        &bvnd_n_v,
        &trvfnd_n_v,
    };
    return &table;
}

#else

const mvn_kernels* kernel_table()
{
    return nullptr;
}

#endif

} // namespace HWY_NAMESPACE
} // namespace traz
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

#include <cstdlib>
#include <cstring>

namespace traz {

HWY_EXPORT(kernel_table);

const mvn_kernels* mvn_vector_available()
{
    static const mvn_kernels* const best = HWY_DYNAMIC_DISPATCH(kernel_table)();
    return best;
}

const mvn_kernels* mvn_vector()
{
    static const mvn_kernels* const chosen = [] {
        const char* scalar = std::getenv("TRAZ_SCALAR");
        const bool forced = scalar != nullptr && scalar[0] != '\0' && std::strcmp(scalar, "0") != 0;
        return forced ? nullptr : mvn_vector_available();
    }();
    return chosen;
}

const mvn_kernels* mvn_vector_for_target(std::int64_t target)
{
    if ((target & HWY_TARGETS) == 0 || (hwy::SupportedTargets() & target) == 0) {
        return nullptr;
    }
    hwy::SetSupportedTargetsForTest(target);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
    const mvn_kernels* k = HWY_DYNAMIC_DISPATCH(kernel_table)();
    hwy::SetSupportedTargetsForTest(0);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
    return k;
}

void trvfnd_n(const mvn_kernels& v, int n, const trvbkd_block& blk, const double* t, double* f)
{
    v.trvfnd_n(n, blk, t, f);
}

} // namespace traz

#endif
