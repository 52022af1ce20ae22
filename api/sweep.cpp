// Design sweeps: the grid of points and the threads that run them.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "api/internal.hpp"
#include "deck/sweep_range.hpp"

namespace traz {

namespace {

// CPU time of the calling thread: a point's seconds, whatever the other threads do.
float thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<float>(ts.tv_sec) + static_cast<float>(ts.tv_nsec) * 1.0e-9f;
}

[[noreturn]] void bad_range(const std::string& why) {
    Diagnostic d;
    d.message = why;
    throw Error(d);
}

// The ranges of a sweep, checked against the base deck.
std::vector<SweepRange> parse_ranges(const Deck& base, const SweepRequest& request) {
    if (request.vary.empty() || request.vary.size() > 2) bad_range("sweep: give one or two ranges to vary");
    if (request.shard_count < 1 || request.shard_index < 1 || request.shard_index > request.shard_count)
        bad_range("sweep: shard " + std::to_string(request.shard_index) + "/" + std::to_string(request.shard_count) +
                  ": expected I/N with 1 <= I <= N");
    std::vector<SweepRange> ranges(request.vary.size());
    std::string why;
    for (std::size_t j = 0; j < request.vary.size(); ++j)
        if (!parse_range(request.vary[j], ranges[j], why) || !check_range(base, ranges[j], request.mix_to, why))
            bad_range("sweep: " + why);
    if (ranges.size() == 2 && ranges[0].name == ranges[1].name)
        bad_range("sweep: " + ranges[0].name + " is varied twice");
    const long grid = static_cast<long>(ranges[0].values.size()) * (ranges.size() > 1 ? static_cast<long>(ranges[1].values.size()) : 1);
    if (grid > kMaxSweepPoints)
        bad_range("sweep: a grid of " + std::to_string(grid) + " points is more than a sweep may have (" +
                  std::to_string(kMaxSweepPoints) + "); split it into several sweeps");
    return ranges;
}

// Threads for the points: as many as asked (every core by default), but no more than the
// points, kMaxSweepJobs, and one per 32 MB of half the machine's memory.
int worker_count(int jobs, std::size_t points) {
    long n = jobs > 0 ? jobs : static_cast<long>(std::thread::hardware_concurrency());
    // A job touches its 25 MB memo and little else; under a limit of the address space it
    // also reserves its stack and an arena of the allocator (64 MB).
    constexpr double kMB = 1024.0 * 1024.0;
    const double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGE_SIZE));
    if (memory > 0) n = std::min(n, std::max(1L, static_cast<long>(memory / 2 / (32 * kMB))));
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        n = std::min(n, std::max(1L, static_cast<long>(static_cast<double>(limit.rlim_cur) / 2 / (128 * kMB))));
    n = std::clamp(n, 1L, static_cast<long>(kMaxSweepJobs));
    return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(n), std::max<std::size_t>(points, 1)));
}

// The result of a point whose run could not get the memory it needs.
Result out_of_memory(const RunOptions& opt) {
    auto rec = std::make_shared<RunRecord>();
    rec->outcome = Outcome::fatal;
    rec->diagnostic = "out of memory: the computation could not get the memory it needs";
    rec->source = opt.source;
    return result_of(std::move(rec), {});
}

// Runs one point on the calling thread.
Result run_point(const Deck& base, const std::vector<SweepRange>& ranges, const std::vector<double>& values,
                 const std::vector<double>& mix_to, const RunOptions& opt) {
    auto deck = std::make_unique<Deck>();
    auto scratch = std::make_unique<Deck>();
    std::string error;
    bool ok = apply_range_value(base, ranges[0], values[0], mix_to, *deck, error);
    if (ok && ranges.size() > 1) {
        ok = apply_range_value(*deck, ranges[1], values[1], mix_to, *scratch, error);
        std::swap(deck, scratch);
    }
    if (!ok) {
        // Checked before the sweep started; kept as a row should it ever happen.
        auto rec = std::make_shared<RunRecord>();
        rec->outcome = Outcome::refused;
        rec->diagnostic = error;
        rec->source = opt.source;
        return result_of(std::move(rec), {});
    }
    return evaluate_deck_struct(*deck, opt);
}

// The fitted rule's level for every point of a sweep: one above the highest level that the
// grid's corners need, so that the level holds everywhere with room to spare and the
// results change smoothly along the grid. 0 (each point its own level) when a corner's rule
// fell back to the adaptive integration: no settled level serves such a grid.
int settled_level(const Deck& base, const std::vector<SweepRange>& ranges, const std::vector<double>& mix_to,
                  const RunOptions& opt) {
    int highest = 0;
    const std::size_t n2 = ranges.size() > 1 ? 2 : 1;
    for (std::size_t c = 0; c < 2 * n2; ++c) {
        std::vector<double> values{c % 2 == 0 ? ranges[0].values.front() : ranges[0].values.back()};
        if (n2 > 1) values.push_back(c / 2 == 0 ? ranges[1].values.front() : ranges[1].values.back());
        const Result r = run_point(base, ranges, values, mix_to, opt);
        if (!r.ok()) continue;  // a refused corner says nothing about the others
        if (!r.fallback.empty() || r.rule_level == 0) return 0;
        highest = std::max(highest, r.rule_level);
    }
    return highest > 0 ? highest + 1 : 0;
}

} // namespace

std::vector<std::string> sweep_names(const Design& base, const SweepRequest& request) {
    auto d = std::make_unique<Deck>();
    deck_of_design(base, *d);
    std::vector<std::string> names;
    for (const SweepRange& r : parse_ranges(*d, request)) names.push_back(r.name);
    return names;
}

std::vector<SweepPoint> sweep(const Design& base, const SweepRequest& request,
                              const std::function<void(const SweepPoint&)>& on_point) {
    auto d = std::make_unique<Deck>();
    deck_of_design(base, *d);
    const std::vector<SweepRange> ranges = parse_ranges(*d, request);

    // The grid, the first range varying fastest; this shard's points only.
    const std::size_t n1 = ranges[0].values.size(), n2 = ranges.size() > 1 ? ranges[1].values.size() : 1;
    std::vector<SweepPoint> points;
    for (std::size_t i2 = 0; i2 < n2; ++i2)
        for (std::size_t i1 = 0; i1 < n1; ++i1) {
            const int index = static_cast<int>(i2 * n1 + i1) + 1;
            if ((index - 1) % request.shard_count != request.shard_index - 1) continue;
            SweepPoint p;
            p.point = index;
            p.values.push_back(ranges[0].values[i1]);
            if (ranges.size() > 1) p.values.push_back(ranges[1].values[i2]);
            points.push_back(std::move(p));
        }

    Options options;
    options.fitted_level = request.fitted_level;
    RunOptions opt = run_options(base.integration, options);
    opt.source = request.source;
    opt.cpu_clock = &thread_cpu_seconds;
    if (opt.fitted && opt.fitted_level == 0) opt.fitted_level = settled_level(*d, ranges, request.mix_to, opt);

    // Workers take the next point until none is left; each point's results depend on its
    // deck alone, never on the thread or the order. The calling thread hands the finished
    // points on in grid order. A worker runs at most `window` points ahead of the next one
    // to hand on, so that the results waiting for a slow point stay few.
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopping{false};
    std::mutex lock;
    std::condition_variable progressed, room;
    std::vector<char> done(points.size(), 0);
    std::size_t handed = 0;
    int busy = 0;  // points running
    const int nworkers = worker_count(request.jobs, points.size());
    const std::size_t window = std::max<std::size_t>(64, 4 * static_cast<std::size_t>(nworkers));
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < points.size();) {
            {
                std::unique_lock<std::mutex> hold(lock);
                room.wait(hold, [&] { return i < handed + window || stopping.load(); });
                if (stopping.load()) break;
                ++busy;
            }
            Result r;
            try {
                r = run_point(*d, ranges, points[i].values, request.mix_to, opt);
            } catch (const std::bad_alloc&) {
                r = out_of_memory(opt);
            }
            const std::lock_guard<std::mutex> hold(lock);
            points[i].result = std::move(r);
            done[i] = 1;
            --busy;
            progressed.notify_one();
        }
    };
    std::vector<std::thread> workers;
    for (int w = 0; w < nworkers; ++w) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // as many threads as the system gives
        }
    }
    if (workers.empty()) {
        Diagnostic diag;
        diag.message = "sweep: no thread could be started for the points";
        throw Error(diag);
    }
    int finished = 0;
    const int total = static_cast<int>(points.size());
    const auto running = [&] {
        if (stopping.load()) return false;
        if (request.cancel && request.cancel()) {
            {
                const std::lock_guard<std::mutex> hold(lock);
                stopping.store(true);
                next.store(points.size());
            }
            room.notify_all();
            return false;
        }
        return true;
    };
    const auto stop_workers = [&] {
        {
            const std::lock_guard<std::mutex> hold(lock);
            stopping.store(true);
            next.store(points.size());
        }
        room.notify_all();
        for (std::thread& t : workers) t.join();
    };
    try {
        std::unique_lock<std::mutex> hold(lock);
        while (handed < points.size()) {
            progressed.wait_for(hold, std::chrono::milliseconds(250), [&] { return done[handed] != 0; });
            finished = static_cast<int>(std::count(done.begin(), done.end(), 1));
            hold.unlock();
            if (request.progress) request.progress(finished, total);
            const bool go_on = running();
            hold.lock();
            while (handed < points.size() && done[handed] != 0) {
                if (on_point) {
                    hold.unlock();
                    on_point(points[handed]);
                    hold.lock();
                }
                if (!request.keep_results) points[handed].result = Result{};
                ++handed;
                room.notify_all();
            }
            // Stopped: the points running finish and are handed on while they complete the
            // order; then the rest are left out.
            if (!go_on && busy == 0) break;
        }
    } catch (...) {
        stop_workers();
        throw;
    }
    if (request.progress && handed == points.size()) request.progress(total, total);
    stop_workers();
    points.resize(handed);
    return points;
}

} // namespace traz
