// The replications: the random stream of each, the draw of the pool stage by stage, and the
// threads that share the replications of a run.
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

#include <Random123/philox.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "simulate/simulate.hpp"

namespace traz::sim {

// The random words of one replication: Philox2x64-10 keyed by the run's seed, its counter
// holding the block number and the replication number. Blocks are drawn kWords/2 at a time,
// which lets the processor overlap them.
class Stream {
public:
    void start(std::uint64_t seed, std::uint64_t r) {
        key_ = {{seed}};
        ctr_ = {{0, r}};
        next_ = kWords;
    }
    std::uint64_t word() {
        if (next_ == kWords) [[unlikely]]
            refill();
        return words_[next_++];
    }
    // Uniform on [0, 1) and on (0, 1), 53 bits.
    double uniform() { return static_cast<double>(word() >> 11) * 0x1p-53; }
    double uniform_positive() { return (static_cast<double>(word() >> 11) + 0.5) * 0x1p-53; }

private:
    static constexpr int kWords = 32;
    [[gnu::noinline]] void refill() {
        for (int w = 0; w < kWords; w += 2) {
            const r123::Philox2x64::ctr_type out = r123::Philox2x64()(ctr_, key_);
            ++ctr_[0];
            words_[w] = out[0];
            words_[w + 1] = out[1];
        }
        next_ = 0;
    }
    r123::Philox2x64::key_type key_{};
    r123::Philox2x64::ctr_type ctr_{};
    std::uint64_t words_[kWords] = {};
    int next_ = kWords;
};

namespace {

// The stream as a GSL generator, for GSL's binomial draw.
unsigned long stream_get(void* state) { return static_cast<Stream*>(state)->word() >> 32; }
double stream_get_double(void* state) { return static_cast<Stream*>(state)->uniform(); }
void stream_set(void*, unsigned long) {}
const gsl_rng_type kStreamType = {"traz-philox2x64", 0xffffffffUL, 0, 0, &stream_set, &stream_get, &stream_get_double};

// Standard normal deviates by the ziggurat method of Marsaglia and Tsang (2000), 128 layers,
// with a whole 64-bit word per attempt: 7 bits choose the layer, 1 the sign and 53 the
// abscissa, so that a pool of a million applicants holds no two equal draws in practice.
class Ziggurat {
public:
    Ziggurat() {
        const double m = 0x1p53, v = kArea;
        double x = kR, prev = x;
        const double q = v / std::exp(-0.5 * x * x);  // width of the base layer with its tail
        k_[0] = static_cast<std::uint64_t>(x / q * m);
        k_[1] = 0;
        w_[0] = q / m;
        w_[127] = x / m;
        f_[0] = 1.0;
        f_[127] = std::exp(-0.5 * x * x);
        for (int i = 126; i >= 1; --i) {
            x = std::sqrt(-2.0 * std::log(v / x + std::exp(-0.5 * x * x)));
            k_[i + 1] = static_cast<std::uint64_t>(x / prev * m);
            prev = x;
            f_[i] = std::exp(-0.5 * x * x);
            w_[i] = x / m;
        }
    }
    // Most draws fall inside their layer's rectangle and take one word.
    double operator()(Stream& s) const {
        const std::uint64_t u = s.word();
        const int i = static_cast<int>(u & 127);
        const std::uint64_t j = u >> 11;
        const double x = static_cast<double>(j) * w_[i];
        if (j < k_[i]) [[likely]]
            return (u & 128) != 0 ? -x : x;
        return edge(s, u);
    }

private:
    // A draw outside the rectangle of its layer: the base layer's tail, or the wedge of another
    // layer, and a new word when the wedge rejects it.
    [[gnu::noinline]] double edge(Stream& s, std::uint64_t u) const {
        for (;;) {
            const int i = static_cast<int>(u & 127);
            const double sign = (u & 128) != 0 ? -1.0 : 1.0;
            const std::uint64_t j = u >> 11;
            const double x = static_cast<double>(j) * w_[i];
            if (j < k_[i]) return sign * x;
            if (i == 0) {  // the tail beyond kR
                double a, b;
                do {
                    a = -std::log(s.uniform_positive()) / kR;
                    b = -std::log(s.uniform_positive());
                } while (b + b < a * a);
                return sign * (kR + a);
            }
            if (f_[i] + s.uniform() * (f_[i - 1] - f_[i]) < std::exp(-0.5 * x * x)) return sign * x;
            u = s.word();
        }
    }

    static constexpr double kR = 3.442619855899;         // start of the tail
    static constexpr double kArea = 9.91256303526217e-3;  // area of each layer
    double w_[128], f_[128];
    std::uint64_t k_[128];
};

const Ziggurat kNormal;

// Replications are handed to the threads in blocks of about this many applicants' draws (at
// least one replication, at most 256), so that progress shows for large pools too.
constexpr std::int64_t kBlockApplicants = 65536;

// The k-th largest (k from 0) of v[0 .. n), by quickselect; w is scratch of n values and the
// values end up in either. Each partition writes every value to both ends of the free part of
// the other buffer and moves one end on, so it does not branch on the data: the scores are
// random and such branches would be mispredicted half of the time.
double kth_largest(double* v, double* w, int n, int k) {
    int lo = 0, hi = n;
    while (hi - lo > 8) {
        const double a = v[lo], b = v[lo + (hi - lo) / 2], c = v[hi - 1];
        const double pivot = std::max(std::min(a, b), std::min(std::max(a, b), c));  // median of three
        double* front = w + lo;     // w[lo ..) > pivot, up to front
        double* back = w + hi - 1;  // w(back .. hi) <= pivot
        for (const double* x = v + lo; x != v + hi; ++x) {
            *front = *x;
            *back = *x;
            const int above = *x > pivot;
            front += above;
            back += above - 1;
        }
        std::swap(v, w);
        const int above = static_cast<int>(front - v);
        if (k < above) {
            hi = above;
        } else if (k == above) {
            return pivot;  // the largest of those not above it
        } else if (above > lo) {
            lo = above;
        } else {
            // The pivot is the largest value, and k lies beyond it: drop its copies.
            int keep = lo;
            for (int j = lo; j < hi; ++j) {
                v[keep] = v[j];
                keep += v[j] != pivot;
            }
            if (k < lo + (hi - keep)) return pivot;
            k -= hi - keep;
            hi = keep;
        }
    }
    std::sort(v + lo, v + hi, std::greater<double>());
    return v[k];
}

} // namespace

Replicator::Replicator(const Model& m)
    : m_(m), stream_(std::make_unique<Stream>()), cand_(m.napp), work_(2 * static_cast<std::size_t>(m.napp)), first_(m.napp),
      dim_(m.nstage + 1), noise_(static_cast<std::size_t>(m.ns[0]) * dim_), row_id_(m.ns[0]), rows_(m.ns[0]) {}

Replicator::~Replicator() = default;

void keep_best(Candidate* cand, int n, int keep, double* work) {
    double* scores = work;
    for (int i = 0; i < n; ++i) scores[i] = cand[i].score;
    const double cut = kth_largest(scores, work + n, n, keep - 1);
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        const Candidate c = cand[i];
        cand[kept] = c;
        kept += c.score >= cut;
    }
    if (kept == keep) return;
    // More scores equal the cut than places are left for them: the first ones are kept.
    int ties = keep;
    for (int i = 0; i < kept; ++i) ties -= cand[i].score > cut;
    int k = 0;
    for (int i = 0; i < kept; ++i) {
        const bool tie = cand[i].score == cut;
        if (!tie || ties-- > 0) cand[k++] = cand[i];
    }
}

Replication Replicator::run(std::uint64_t seed, std::uint64_t r) {
    const Model& m = m_;
    Stream& stream = *stream_;
    stream.start(seed, r);
    Replication out;

    // The pool: group 1's size is binomial; applicants are exchangeable, so the first n1 are
    // group 1's. Stage 1 ranks everyone on a draw of the first composite.
    gsl_rng rng{&kStreamType, &stream};
    const int n1 = m.ngroup == 1 ? m.napp : static_cast<int>(gsl_ran_binomial(&rng, m.pg1, static_cast<unsigned>(m.napp)));
    out.applicants[0] = n1;
    out.applicants[1] = m.napp - n1;
    for (int i = 0; i < m.napp; ++i) {
        const double e = kNormal(stream);
        first_[i] = e;
        cand_[i] = {m.mean[i < n1 ? 0 : 1][0] + m.L(0, 0) * e, i, i};
    }
    keep_best(cand_.data(), m.napp, m.ns[0], work_.data());
    int count = m.ns[0];
    for (int s = 0; s < count; ++s) {
        const int id = cand_[s].id;
        row_id_[s] = id;
        noise_[static_cast<std::size_t>(s) * dim_] = first_[id];
        rows_[s] = s;
    }

    // Stages 2 .. nstage: a new draw for each applicant still in the pool.
    for (int k = 1; k < m.nstage; ++k) {
        for (int s = 0; s < count; ++s) {
            const int row = rows_[s];
            double* e = &noise_[static_cast<std::size_t>(row) * dim_];
            e[k] = kNormal(stream);
            double score = m.mean[row_id_[row] < n1 ? 0 : 1][k];
            for (int i = 0; i <= k; ++i) score += m.L(k, i) * e[i];
            cand_[s] = {score, row_id_[row], row};
        }
        keep_best(cand_.data(), count, m.ns[k], work_.data());
        count = m.ns[k];
        for (int s = 0; s < count; ++s) rows_[s] = cand_[s].row;
    }

    // The criterion of those finally selected, given their composites.
    const int K = m.nstage;
    double sum = 0.0;
    for (int s = 0; s < count; ++s) {
        const int row = rows_[s];
        const double* e = &noise_[static_cast<std::size_t>(row) * dim_];
        const int g = row_id_[row] < n1 ? 0 : 1;
        double y = m.mean[g][K];
        for (int i = 0; i < K; ++i) y += m.L(K, i) * e[i];
        y += m.L(K, K) * kNormal(stream);
        sum += y;
        ++out.hires[g];
    }
    out.mean_criterion = sum / count;
    return out;
}

Sample simulate(const Model& m, std::uint64_t seed, std::int64_t first, std::int64_t count, int jobs,
                const Progress& progress) {
    Sample sample;
    sample.first = first;
    sample.mean_criterion.assign(static_cast<std::size_t>(count), 0.0);
    const std::int64_t block = std::clamp<std::int64_t>(kBlockApplicants / m.napp, 1, 256);
    const std::int64_t blocks = (count + block - 1) / block;
    int workers = jobs > 0 ? jobs : static_cast<int>(std::thread::hardware_concurrency());
    workers = static_cast<int>(std::clamp<std::int64_t>(workers, 1, std::max<std::int64_t>(blocks, 1)));

    std::atomic<std::int64_t> next{0};
    std::mutex lock;
    std::condition_variable progressed;
    std::int64_t done = 0;
    int finished = 0;
    std::vector<std::map<std::pair<int, int>, std::int64_t>> tables(static_cast<std::size_t>(workers));
    auto work = [&](int w) {
        Replicator rep(m);
        auto& mine = tables[static_cast<std::size_t>(w)];
        for (std::int64_t b; (b = next.fetch_add(1)) < blocks;) {
            const std::int64_t lo = b * block, hi = std::min(count, lo + block);
            for (std::int64_t i = lo; i < hi; ++i) {
                const Replication one = rep.run(seed, static_cast<std::uint64_t>(first + i));
                sample.mean_criterion[static_cast<std::size_t>(i)] = one.mean_criterion;
                ++mine[{one.applicants[0], one.hires[0]}];
            }
            const std::lock_guard<std::mutex> hold(lock);
            done += hi - lo;
        }
        const std::lock_guard<std::mutex> hold(lock);
        ++finished;
        progressed.notify_one();
    };
    std::vector<std::thread> threads;
    for (int w = 1; w < workers; ++w) threads.emplace_back(work, w);
    if (progress) {
        // The calling thread reports progress; the others work.
        threads.emplace_back(work, 0);
        std::unique_lock<std::mutex> hold(lock);
        while (finished < workers) {
            progress(done);
            progressed.wait_for(hold, std::chrono::milliseconds(250));
        }
        progress(done);
    } else {
        work(0);
    }
    for (std::thread& t : threads) t.join();
    // Counts add up the same in any order.
    for (const auto& t : tables)
        for (const auto& [key, n] : t) sample.tables[key] += n;
    return sample;
}

} // namespace traz::sim
