// Pareto-optimal stage weights: for each target impact ratio, the stage weights with the highest
// expected criterion score, found with NLopt from several starts.
//
// The free values are, per stage, the direction of its weights over the predictors it uses,
// in a chart w = c + B t (c a unit vector, B an orthonormal basis of its complement): smooth
// everywhere, one chart point per direction with w'c > 0, and non-negative weights are the
// linear constraints c + B t >= 0 (with c the equal-weights direction, the simplex seen from
// its centre). The objectives are E and a = log(rate 2 / rate 1), smooth in the weights; the
// impact ratio is exp(-|a|), so "impact ratio >= target" is the pair -L <= a <= L with
// L = -log target.
//
// The two ends come first: the highest E, and the smallest |a| (then the highest E among the
// designs within 1e-6 of that |a|). With E and the impact ratio scaled to [0, 1] between the
// ends, point j of N lies on the normal through the j-th of N equal steps along the line
// between them, as far beyond it as any design reaches (normal-boundary intersection); or, with
// equal steps of the impact ratio, it has the highest E at an impact ratio of at least its step.
// Each point's search starts from the interpolation between the ends' chart points and from the
// best of the ends and of screened quasi-random designs. A point's search depends on the ends
// and its own number only, and every shard finds the ends itself, so the results do not depend
// on threads or shards.
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_linalg.h>
#include <nlopt.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "api/internal.hpp"

namespace traz {

namespace {

[[noreturn]] void refuse(const std::string& why) {
    Diagnostic d;
    d.message = "pareto: " + why;
    throw Error(d);
}

// One stage's weight directions in the chart w = c + B t over its active predictors.
struct StageChart {
    int stage = 0;                // 0-based
    std::vector<int> predictors;  // 0-based: those with a non-zero weight in the base
    std::vector<double> centre;   // c, unit length
    std::vector<double> basis;    // B: p rows, p - 1 columns, column j from j * p
    int first = 0;                // the stage's first coordinate in the search vector
    int size() const { return static_cast<int>(predictors.size()); }
    int free() const { return size() - 1; }
    double b(int row, int col) const { return basis[static_cast<std::size_t>(col * size() + row)]; }

    // w = c + B t for the stage's coordinates t = x[first ..].
    double weight(int row, const double* x) const {
        double w = centre[static_cast<std::size_t>(row)];
        for (int j = 0; j < free(); ++j) w += b(row, j) * x[first + j];
        return w;
    }
    // The chart coordinates of a direction w with w'c > 0: t = B'(w / w'c).
    void coordinates(const std::vector<double>& w, double* x) const {
        double wc = 0;
        for (int i = 0; i < size(); ++i) wc += w[static_cast<std::size_t>(i)] * centre[static_cast<std::size_t>(i)];
        for (int j = 0; j < free(); ++j) {
            double t = 0;
            for (int i = 0; i < size(); ++i) t += b(i, j) * w[static_cast<std::size_t>(i)] / wc;
            x[first + j] = t;
        }
    }
};

// B from the Householder reflection H = I - 2vv'/v'v that takes c to a multiple of e1: H's
// columns 2..p are orthonormal and orthogonal to c.
void complete_basis(StageChart& s) {
    const int p = s.size();
    std::vector<double> v = s.centre;
    v[0] += v[0] >= 0 ? 1.0 : -1.0;
    double vv = 0;
    for (double x : v) vv += x * x;
    s.basis.assign(static_cast<std::size_t>(p * (p - 1)), 0.0);
    for (int j = 1; j < p; ++j)
        for (int i = 0; i < p; ++i)
            s.basis[static_cast<std::size_t>((j - 1) * p + i)] =
                (i == j ? 1.0 : 0.0) - 2.0 * v[static_cast<std::size_t>(i)] * v[static_cast<std::size_t>(j)] / vv;
}

// Σ^{-1} y over the predictors of one stage (Cholesky; the correlations are positive definite
// for a deck that passes the checks). Empty when the matrix is not positive definite.
std::vector<double> solve_correlations(const Design& g, const std::vector<int>& idx, std::vector<double> y) {
    const std::size_t p = idx.size();
    std::vector<double> a(p * p);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = 0; j < p; ++j)
            a[i * p + j] = g.correlations[static_cast<std::size_t>(idx[i])][static_cast<std::size_t>(idx[j])];
    gsl_matrix_view m = gsl_matrix_view_array(a.data(), p, p);
    gsl_vector_view v = gsl_vector_view_array(y.data(), p);
    gsl_error_handler_t* old = gsl_set_error_handler_off();
    const int status = gsl_linalg_cholesky_decomp1(&m.matrix);
    if (status == 0) gsl_linalg_cholesky_svx(&m.matrix, &v.vector);
    gsl_set_error_handler(old);
    return status == 0 ? y : std::vector<double>{};
}

// The problem every point shares.
struct Problem {
    Design search;  // the base as the search evaluates it: 4 passes (E and the rates), fitted
    Design final;   // the base as the points are reported: its own passes and relerr, fitted
    std::vector<StageChart> charts;
    std::vector<FreeWeight> free_weights;
    int n = 0;      // free values
    bool negative = false;
    ParetoMethod method;
    int level = 0;  // the fitted rule's level in the search (0: each design its own)
    std::vector<std::vector<double>> halton;  // the screened quasi-random designs, in chart coordinates
    std::vector<double> base_x, criterion_x, impact_x;  // heuristic starts of the ends
};

// The weights of design `g` set from the chart point x (stages without free values keep
// theirs). For a reported design (`reported`) weights of one sign are clipped at 0 and each
// stage's sum to 1 in absolute value.
void set_weights(const Problem& pb, const double* x, bool reported, Design& g) {
    for (const StageChart& s : pb.charts) {
        std::vector<double>& w = g.stages[static_cast<std::size_t>(s.stage)].weights;
        double sum = 0;
        for (int i = 0; i < s.size(); ++i) {
            const std::size_t k = static_cast<std::size_t>(s.predictors[static_cast<std::size_t>(i)]);
            double v = s.free() == 0 ? w[k] : s.weight(i, x);  // one predictor: its weight as it is
            if (reported && !pb.negative) v = std::max(v, 0.0);
            w[k] = v;
            sum += std::fabs(v);
        }
        if (!reported) continue;
        // Rounding residue of a weight at its bound (below 1e-12 of the stage's sum) is 0.
        double kept = 0;
        for (double& v : w) {
            if (std::fabs(v) <= 1e-12 * sum) v = 0.0;
            kept += std::fabs(v);
        }
        for (double& v : w) v /= kept;
    }
}

// The free weights of a reported design, in the order of the free weights.
std::vector<double> free_weight_values(const Problem& pb, const Design& g) {
    std::vector<double> out;
    for (const FreeWeight& f : pb.free_weights)
        out.push_back(g.stages[static_cast<std::size_t>(f.stage - 1)].weights[static_cast<std::size_t>(f.predictor - 1)]);
    return out;
}

// The radical inverse of i in base b: the Halton sequence's coordinate.
double radical_inverse(unsigned i, unsigned b) {
    double f = 1.0, r = 0.0;
    for (; i > 0; i /= b) {
        f /= b;
        r += f * (i % b);
    }
    return r;
}

// Quasi-random directions per stage: uniform on the simplex of non-negative weights
// (w_i = -log u_i), or on the half sphere around c (w_i = Φ^{-1}(u_i), turned towards c).
std::vector<std::vector<double>> screened_designs(const Problem& pb, int count) {
    static const unsigned primes[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53,
                                      59, 61, 67, 71, 73, 79, 83, 89, 97, 101, 103, 107, 109, 113};
    std::vector<std::vector<double>> out;
    for (int k = 1; k <= count; ++k) {
        std::vector<double> x(static_cast<std::size_t>(pb.n));
        unsigned dim = 0;
        for (const StageChart& s : pb.charts) {
            if (s.free() == 0) continue;
            std::vector<double> w(static_cast<std::size_t>(s.size()));
            double wc = 0;
            for (int i = 0; i < s.size(); ++i) {
                const double u = radical_inverse(static_cast<unsigned>(k), primes[dim++ % 30]);
                w[static_cast<std::size_t>(i)] = pb.negative ? gsl_cdf_ugaussian_Pinv(u) : -std::log(u);
                wc += w[static_cast<std::size_t>(i)] * s.centre[static_cast<std::size_t>(i)];
            }
            if (wc < 0)
                for (double& v : w) v = -v;
            s.coordinates(w, x.data());
        }
        out.push_back(std::move(x));
    }
    return out;
}

// The bound on every chart coordinate with weights of either sign: directions up to about
// 84 degrees from the chart's centre.
constexpr double kNegativeBound = 10.0;

void keep_in_bounds(const Problem& pb, std::vector<double>& x) {
    if (!pb.negative) return;
    for (double& v : x) v = std::clamp(v, -kNegativeBound, kNegativeBound);
}

Problem make_problem(const Design& base, const ParetoRequest& request) {
    Problem pb;
    const std::size_t npred = base.validities.size();
    if (request.points < 2) refuse("give at least 2 points (--points)");
    if (request.shard_count < 1 || request.shard_index < 1 || request.shard_index > request.shard_count)
        refuse("shard " + std::to_string(request.shard_index) + "/" + std::to_string(request.shard_count) +
               ": expected I/N with 1 <= I <= N");
    if (base.groups != 2) refuse("the impact ratio needs two groups; the base design has one");
    if (base.passes < 4) refuse("the selection rates need at least 4 passes; the base design has " +
                                std::to_string(base.passes));
    pb.negative = request.negative_weights;
    pb.method = request.method;
    for (std::size_t k = 0; k < base.stages.size(); ++k) {
        StageChart s;
        s.stage = static_cast<int>(k);
        const std::vector<double>& w = base.stages[k].weights;
        for (std::size_t i = 0; i < w.size() && i < npred; ++i) {
            if (w[i] == 0.0) continue;
            if (w[i] < 0 && !pb.negative)
                refuse("stage " + std::to_string(k + 1) + " weighs predictor " + std::to_string(i + 1) +
                       " negatively; use --negative-weights to search weights of either sign");
            s.predictors.push_back(static_cast<int>(i));
            pb.free_weights.push_back({static_cast<int>(k + 1), static_cast<int>(i + 1)});
        }
        if (s.size() == 0) refuse("stage " + std::to_string(k + 1) + " has no predictor with a weight");
        // The chart's centre: equal weights, or with weights of either sign the direction of
        // the validities (every design with a positive composite validity lies around it).
        double norm = 0;
        for (int i : s.predictors) norm += base.validities[static_cast<std::size_t>(i)] * base.validities[static_cast<std::size_t>(i)];
        norm = std::sqrt(norm);
        for (int i : s.predictors) {
            const double v = base.validities[static_cast<std::size_t>(i)];
            s.centre.push_back(pb.negative && norm > 0.05 ? v / norm : 1.0 / std::sqrt(static_cast<double>(s.size())));
        }
        if (pb.negative && norm <= 0.05) {
            // No validity direction: centre on the base's own weights.
            double bw = 0;
            for (int i : s.predictors) bw += w[static_cast<std::size_t>(i)] * w[static_cast<std::size_t>(i)];
            for (std::size_t i = 0; i < s.predictors.size(); ++i)
                s.centre[i] = w[static_cast<std::size_t>(s.predictors[i])] / std::sqrt(bw);
        }
        complete_basis(s);
        s.first = pb.n;
        pb.n += s.free();
        pb.charts.push_back(std::move(s));
    }
    if (pb.n == 0) refuse("every stage uses one predictor: there is no weight to choose");

    pb.search = base;
    pb.search.passes = 4;
    pb.search.relerr = request.method.search_relerr;
    pb.search.integration = Integration::fitted;
    pb.final = base;
    pb.final.integration = Integration::fitted;

    // Starts of the ends: the base's weights; regression weights Σ^{-1} r per stage (the
    // highest validity), and the same made free of the effect sizes, Σ^{-1} r - k Σ^{-1} d with
    // d'(...) = 0 (no composite effect), non-negative parts only without negative weights.
    pb.base_x.assign(static_cast<std::size_t>(pb.n), 0.0);
    pb.criterion_x = pb.impact_x = pb.base_x;
    for (const StageChart& s : pb.charts) {
        if (s.free() == 0) continue;
        std::vector<double> w, r, d;
        for (int i : s.predictors) {
            w.push_back(base.stages[static_cast<std::size_t>(s.stage)].weights[static_cast<std::size_t>(i)]);
            r.push_back(base.validities[static_cast<std::size_t>(i)]);
            d.push_back(base.effect_sizes[static_cast<std::size_t>(i)]);
        }
        double wc = 0;
        for (int i = 0; i < s.size(); ++i) wc += w[static_cast<std::size_t>(i)] * s.centre[static_cast<std::size_t>(i)];
        if (wc > 0) s.coordinates(w, pb.base_x.data());
        const std::vector<double> sr = solve_correlations(base, s.predictors, r);
        const std::vector<double> sd = solve_correlations(base, s.predictors, d);
        if (sr.empty()) continue;
        double rd = 0, dd = 0;
        for (int i = 0; i < s.size(); ++i) rd += d[static_cast<std::size_t>(i)] * sr[static_cast<std::size_t>(i)],
                                           dd += d[static_cast<std::size_t>(i)] * sd[static_cast<std::size_t>(i)];
        std::vector<double> fair = sr;
        if (dd > 0)
            for (int i = 0; i < s.size(); ++i) fair[static_cast<std::size_t>(i)] -= rd / dd * sd[static_cast<std::size_t>(i)];
        for (const std::vector<double>* v : std::initializer_list<const std::vector<double>*>{&sr, &fair}) {
            std::vector<double> u = *v;
            if (!pb.negative)
                for (double& x : u) x = std::max(x, 0.0);
            double uc = 0;
            for (int i = 0; i < s.size(); ++i) uc += u[static_cast<std::size_t>(i)] * s.centre[static_cast<std::size_t>(i)];
            if (uc > 1e-12) s.coordinates(u, (v == &sr ? pb.criterion_x : pb.impact_x).data());
        }
    }
    for (auto* x : {&pb.base_x, &pb.criterion_x, &pb.impact_x}) keep_in_bounds(pb, *x);
    pb.halton = screened_designs(pb, request.method.candidates);
    for (auto& x : pb.halton) keep_in_bounds(pb, x);
    return pb;
}

// A design's value to the search.
struct Value {
    bool ok = false;
    double E = NAN;
    double a = NAN;  // log(rate 2 / rate 1)
    std::string why;
};

// Evaluates designs of one search (one thread), remembering the last few with their gradients.
class Evaluator {
public:
    explicit Evaluator(const Problem& pb) : pb_(pb), design_(pb.search) {}

    const Value& at(const double* x) {
        Entry& e = entry(x);
        return e.value;
    }
    // Forward-difference gradients of E and a at x (a backward step where the forward
    // neighbour cannot be evaluated); false when neither can.
    bool gradients(const double* x, double* dE, double* da) {
        Entry& e = entry(x);
        if (!e.has_gradient) {
            e.dE.assign(static_cast<std::size_t>(pb_.n), 0.0);
            e.da = e.dE;
            std::vector<double> y = e.x;
            for (std::size_t i = 0; i < y.size(); ++i) {
                double h = pb_.method.step;
                y[i] = e.x[i] + h;
                Value w = evaluate_at(y.data());
                if (!w.ok) {
                    h = -h;
                    y[i] = e.x[i] + h;
                    w = evaluate_at(y.data());
                }
                y[i] = e.x[i];
                if (!w.ok) {
                    failure = w.why;
                    return false;
                }
                e.dE[i] = (w.E - e.value.E) / h;
                e.da[i] = (w.a - e.value.a) / h;
            }
            e.has_gradient = true;
        }
        std::copy(e.dE.begin(), e.dE.end(), dE);
        std::copy(e.da.begin(), e.da.end(), da);
        return true;
    }

    long evaluations = 0;
    std::string failure;  // why the last evaluation that failed did

private:
    struct Entry {
        std::vector<double> x;
        Value value;
        bool has_gradient = false;
        std::vector<double> dE, da;
    };

    Value evaluate_at(const double* x) {
        ++evaluations;
        set_weights(pb_, x, false, design_);
        Value v;
        Result r;
        try {
            Options o;
            o.fitted_level = pb_.level;
            r = evaluate(design_, o);
        } catch (const Error& e) {
            v.why = e.what();
            return v;
        }
        if (!r.ok()) {
            v.why = r.diagnostic.message.empty() ? r.outcome : r.diagnostic.message;
            return v;
        }
        const double r1 = r.selection_rate_group1.value, r2 = r.selection_rate_group2.value;
        if (!(r1 > 0) || !(r2 > 0) || !std::isfinite(r.expected_criterion_score.value)) {
            v.why = "a selection rate is not positive";
            return v;
        }
        v.ok = true;
        v.E = r.expected_criterion_score.value;
        v.a = std::log(r2 / r1);
        return v;
    }

    Entry& entry(const double* x) {
        for (Entry& e : cache_)
            if (std::equal(e.x.begin(), e.x.end(), x)) return e;
        Entry e;
        e.x.assign(x, x + pb_.n);
        e.value = evaluate_at(x);
        if (!e.value.ok) failure = e.value.why;
        if (cache_.size() < kCache) {
            cache_.push_back(std::move(e));
            return cache_.back();
        }
        Entry& slot = cache_[next_++ % kCache];
        slot = std::move(e);
        return slot;
    }

    static constexpr std::size_t kCache = 4;
    const Problem& pb_;
    Design design_;
    std::vector<Entry> cache_;
    std::size_t next_ = 0;
};

// What one local search is after: the highest E; the smallest |a|; the highest E with |a| at
// most a limit (an impact ratio at least exp(-limit)); or, between the ends (E0, I0) and
// (E1, I1) in coordinates scaled to [0, 1], the farthest design along the normal of the
// chord at its point c (normal-boundary intersection: f1 + f2 highest with f1 - f2 = c).
struct Goal {
    enum Kind { criterion, balance, criterion_within, normal_boundary } kind = criterion;
    double limit = 0;
    double E0 = 0, E1 = 0, I0 = 0, I1 = 0, c = 0;

    double f1(const Value& v) const { return (v.E - E1) / (E0 - E1); }
    double f2(const Value& v) const { return (std::exp(-std::fabs(v.a)) - I0) / (I1 - I0); }
    // Higher is better.
    double merit(const Value& v) const {
        switch (kind) {
            case balance: return -v.a * v.a;
            case normal_boundary: return f1(v) + f2(v);
            default: return v.E;
        }
    }
    void merit_gradient(const Value& v, const double* dE, const double* da, unsigned n, double* g) const {
        for (unsigned i = 0; i < n; ++i) {
            if (kind == balance) g[i] = -2.0 * v.a * da[i];
            else if (kind == normal_boundary) g[i] = dE[i] / (E0 - E1) + impact_slope(v) * da[i] / (I1 - I0);
            else g[i] = dE[i];
        }
    }
    // d exp(-|a|) / da.
    static double impact_slope(const Value& v) { return (v.a > 0 ? -1.0 : 1.0) * std::exp(-std::fabs(v.a)); }
    // How far a design is from meeting the goal's constraint (0: it meets it).
    double violation(const Value& v) const {
        if (kind == criterion_within) return std::max(0.0, std::fabs(v.a) - limit);
        if (kind == normal_boundary) return std::fabs(f1(v) - f2(v) - c);
        return 0.0;
    }
};

// Slack of the constraints: the optimiser ends within about this much of its target.
constexpr double kLimitSlack = 1e-7;

struct LocalSearch {
    Evaluator& ev;
    const Problem& pb;
    Goal goal;
    nlopt_opt opt = nullptr;
    std::string failure;

    // The value at x and, when grad is wanted, the gradients of E and a; false (with the
    // optimiser stopped) when the design cannot be evaluated.
    bool value(const double* x, bool grad, Value& v, std::vector<double>& dE, std::vector<double>& da) {
        v = ev.at(x);
        if (v.ok && grad) {
            dE.resize(static_cast<std::size_t>(pb.n));
            da.resize(static_cast<std::size_t>(pb.n));
            if (ev.gradients(x, dE.data(), da.data())) return true;
            v.why = ev.failure;
        } else if (v.ok) {
            return true;
        }
        failure = v.why;
        nlopt_force_stop(opt);
        return false;
    }
};

double objective(unsigned n, const double* x, double* grad, void* data) {
    auto& ls = *static_cast<LocalSearch*>(data);
    Value v;
    std::vector<double> dE, da;
    if (!ls.value(x, grad != nullptr, v, dE, da)) return HUGE_VAL;
    if (grad != nullptr) {
        ls.goal.merit_gradient(v, dE.data(), da.data(), n, grad);
        for (unsigned i = 0; i < n; ++i) grad[i] = -grad[i];
    }
    return -ls.goal.merit(v);
}

// a - L <= 0 and -a - L <= 0.
void balance_limits(unsigned m, double* result, unsigned n, const double* x, double* grad, void* data) {
    auto& ls = *static_cast<LocalSearch*>(data);
    Value v;
    std::vector<double> dE, da;
    if (!ls.value(x, grad != nullptr, v, dE, da)) {
        std::fill(result, result + m, HUGE_VAL);
        return;
    }
    result[0] = v.a - ls.goal.limit;
    result[1] = -v.a - ls.goal.limit;
    if (grad != nullptr)
        for (unsigned i = 0; i < n; ++i) grad[i] = da[i], grad[n + i] = -da[i];
}

// f1 - f2 - c = 0.
double on_normal(unsigned n, const double* x, double* grad, void* data) {
    auto& ls = *static_cast<LocalSearch*>(data);
    Value v;
    std::vector<double> dE, da;
    if (!ls.value(x, grad != nullptr, v, dE, da)) return HUGE_VAL;
    const Goal& g = ls.goal;
    if (grad != nullptr)
        for (unsigned i = 0; i < n; ++i) grad[i] = dE[i] / (g.E0 - g.E1) - Goal::impact_slope(v) * da[i] / (g.I1 - g.I0);
    return g.f1(v) - g.f2(v) - g.c;
}

// -(c + B t)_i <= 0 for every weight of every stage (weights of one sign only).
void non_negative(unsigned m, double* result, unsigned n, const double* x, double* grad, void* data) {
    const Problem& pb = *static_cast<const Problem*>(data);
    unsigned k = 0;
    if (grad != nullptr) std::fill(grad, grad + static_cast<std::size_t>(m) * n, 0.0);
    for (const StageChart& s : pb.charts) {
        if (s.free() == 0) continue;
        for (int i = 0; i < s.size(); ++i, ++k) {
            result[k] = -s.weight(i, x);
            if (grad != nullptr)
                for (int j = 0; j < s.free(); ++j) grad[k * n + static_cast<unsigned>(s.first + j)] = -s.b(i, j);
        }
    }
}

unsigned weight_count(const Problem& pb) {
    unsigned m = 0;
    for (const StageChart& s : pb.charts)
        if (s.free() > 0) m += static_cast<unsigned>(s.size());
    return m;
}

const char* result_words(nlopt_result r) {
    switch (r) {
        case NLOPT_SUCCESS: return "converged";
        case NLOPT_STOPVAL_REACHED: return "converged (stop value)";
        case NLOPT_FTOL_REACHED: return "converged (score tolerance)";
        case NLOPT_XTOL_REACHED: return "converged (weight tolerance)";
        case NLOPT_MAXEVAL_REACHED: return "evaluation limit reached";
        case NLOPT_MAXTIME_REACHED: return "time limit reached";
        case NLOPT_FAILURE: return "optimiser failure";
        case NLOPT_INVALID_ARGS: return "invalid arguments";
        case NLOPT_OUT_OF_MEMORY: return "out of memory";
        case NLOPT_ROUNDOFF_LIMITED: return "stopped by rounding";
        case NLOPT_FORCED_STOP: return "stopped: a design could not be evaluated";
        default: return "unknown optimiser result";
    }
}

struct LocalResult {
    std::vector<double> x;
    Value value;
    nlopt_result code = NLOPT_FAILURE;
    std::string why;  // for a forced stop: the evaluation's reason
    bool feasible = false;
};

bool converged(nlopt_result r) { return r == NLOPT_SUCCESS || r == NLOPT_FTOL_REACHED || r == NLOPT_XTOL_REACHED || r == NLOPT_ROUNDOFF_LIMITED; }

LocalResult local_search(Evaluator& ev, const Problem& pb, const Goal& goal, std::vector<double> x) {
    const unsigned n = static_cast<unsigned>(pb.n);
    const bool slsqp = pb.method.optimiser == ParetoMethod::Optimiser::slsqp;
    LocalSearch ls{ev, pb, goal, nlopt_create(slsqp ? NLOPT_LD_SLSQP : NLOPT_LN_COBYLA, n), {}};
    nlopt_set_min_objective(ls.opt, objective, &ls);
    if (goal.kind == Goal::criterion_within) {
        const double tol[2] = {kLimitSlack * 0.1, kLimitSlack * 0.1};
        nlopt_add_inequality_mconstraint(ls.opt, 2, balance_limits, &ls, tol);
    }
    if (goal.kind == Goal::normal_boundary) nlopt_add_equality_constraint(ls.opt, on_normal, &ls, kLimitSlack * 0.1);
    if (!pb.negative) {
        const unsigned m = weight_count(pb);
        std::vector<double> tol(m, 1e-12);
        nlopt_add_inequality_mconstraint(ls.opt, m, non_negative, const_cast<Problem*>(&pb), tol.data());
    } else {
        std::vector<double> lo(n, -kNegativeBound), hi(n, kNegativeBound);
        nlopt_set_lower_bounds(ls.opt, lo.data());
        nlopt_set_upper_bounds(ls.opt, hi.data());
    }
    nlopt_set_ftol_abs(ls.opt, 1e-9);
    nlopt_set_xtol_abs1(ls.opt, 1e-7);
    nlopt_set_maxeval(ls.opt, pb.method.max_evaluations);
    if (!slsqp) nlopt_set_initial_step1(ls.opt, 0.1);
    double f = 0;
    LocalResult out;
    out.code = nlopt_optimize(ls.opt, x.data(), &f);
    nlopt_destroy(ls.opt);
    out.x = x;
    out.why = ls.failure;
    out.value = ev.at(x.data());
    out.feasible = out.value.ok && goal.violation(out.value) <= kLimitSlack;
    if (!pb.negative)
        for (const StageChart& s : pb.charts)
            for (int i = 0; i < s.size() && s.free() > 0; ++i) out.feasible = out.feasible && s.weight(i, x.data()) >= -1e-9;
    return out;
}

// The best of several local searches for one goal.
struct Search {
    LocalResult best;
    long evaluations = 0;
    int starts = 0;
    int agreeing = 0;
    std::string optimiser;
    bool settled = false;
    std::string status;
};

// Runs local searches from the `starts` most promising of the candidates (those listed as
// `always` first, then the others by merit among the designs that meet the goal).
Search multistart(const Problem& pb, const Goal& goal, const std::vector<std::vector<double>>& always,
                  const std::vector<std::vector<double>>& candidates) {
    Evaluator ev(pb);
    std::vector<std::vector<double>> starts = always;
    if (static_cast<int>(starts.size()) > pb.method.starts) starts.resize(static_cast<std::size_t>(pb.method.starts));
    struct Ranked {
        double violation, merit;
        std::size_t index;
    };
    std::vector<Ranked> ranked;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Value& v = ev.at(candidates[i].data());
        if (v.ok) ranked.push_back({goal.violation(v), goal.merit(v), i});
    }
    std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        return a.violation != b.violation ? a.violation < b.violation : a.merit > b.merit;
    });
    for (const Ranked& r : ranked) {
        if (static_cast<int>(starts.size()) >= pb.method.starts) break;
        starts.push_back(candidates[r.index]);
    }

    Search s;
    std::vector<LocalResult> outcomes;
    for (const std::vector<double>& x0 : starts) {
        outcomes.push_back(local_search(ev, pb, goal, x0));
        ++s.starts;
    }
    s.evaluations = ev.evaluations;
    const LocalResult* best = nullptr;
    for (const LocalResult& o : outcomes)
        if (o.feasible && (best == nullptr || goal.merit(o.value) > goal.merit(best->value))) best = &o;
    if (best == nullptr) {
        // Nothing met the goal: keep the start that came closest, as an unsettled point.
        for (const LocalResult& o : outcomes)
            if (o.value.ok && (best == nullptr || goal.violation(o.value) < goal.violation(best->value))) best = &o;
        const char* missed = goal.kind == Goal::normal_boundary
                                 ? "not settled: no start reached the normal through the point's step between the ends"
                                 : "not settled: no start reached the target impact ratio";
        s.status = best == nullptr ? "not settled: no design of the search could be evaluated (" +
                                         (outcomes.empty() ? std::string("no start") : outcomes[0].why) + ")"
                                   : missed;
        if (best == nullptr) return s;
        s.best = *best;
        s.optimiser = result_words(best->code);
        return s;
    }
    s.best = *best;
    s.optimiser = result_words(best->code);
    for (const LocalResult& o : outcomes)
        if (o.feasible && std::fabs(goal.merit(o.value) - goal.merit(best->value)) <= 1e-5) ++s.agreeing;
    s.settled = converged(best->code);
    s.status = s.settled ? "settled" : "not settled: " + std::string(result_words(best->code)) +
                                           (best->why.empty() ? "" : " (" + best->why + ")");
    return s;
}

// The ends of the front, as every shard computes them.
struct Ends {
    Search criterion, impact;
};

// The designs an end's search screens for starts: the screened quasi-random designs, the
// chart's centre and the base deck's weights.
std::vector<std::vector<double>> end_candidates(const Problem& pb) {
    std::vector<std::vector<double>> candidates = pb.halton;
    candidates.push_back(std::vector<double>(static_cast<std::size_t>(pb.n), 0.0));
    candidates.push_back(pb.base_x);
    return candidates;
}

Search highest_criterion(const Problem& pb) {
    Goal g;
    g.kind = Goal::criterion;
    return multistart(pb, g, {pb.criterion_x}, end_candidates(pb));
}

Search highest_impact(const Problem& pb) {
    Goal g;
    g.kind = Goal::balance;
    Search balance = multistart(pb, g, {pb.impact_x}, end_candidates(pb));
    if (!balance.best.value.ok) return balance;
    // Among the designs within 1e-6 of the smallest |a|, the highest E.
    Goal within;
    within.kind = Goal::criterion_within;
    within.limit = std::fabs(balance.best.value.a) + 1e-6;
    Problem local = pb;
    local.method.starts = 1;
    Search polished = multistart(local, within, {balance.best.x}, {});
    polished.evaluations += balance.evaluations;
    polished.starts += balance.starts;
    polished.agreeing = balance.agreeing;
    if (!polished.best.value.ok || !polished.best.feasible) {
        balance.evaluations = polished.evaluations;
        return balance;
    }
    return polished;
}

double impact_of(const Value& v) { return std::exp(-std::fabs(v.a)); }

ParetoPoint finish(const Problem& pb, int point, double target, const Search& s, const std::string& source) {
    ParetoPoint p;
    p.point = point;
    p.target_impact_ratio = target;
    p.evaluations = s.evaluations;
    p.starts = s.starts;
    p.starts_agreeing = s.agreeing;
    p.optimiser = s.optimiser;
    p.settled = s.settled;
    p.status = s.status;
    p.design = pb.final;
    if (s.best.x.empty()) {
        // No design to report: a row with the reason only.
        auto rec = std::make_shared<RunRecord>();
        rec->outcome = Outcome::refused;
        rec->diagnostic = s.status;
        rec->source = source;
        p.result = result_of(std::move(rec), {});
        return p;
    }
    set_weights(pb, s.best.x.data(), true, p.design);
    p.weights = free_weight_values(pb, p.design);
    Options o;
    o.source = source;
    p.result = evaluate(p.design, o);
    if (!p.result.ok()) {
        p.settled = false;
        p.status = "not settled: the design was not computed at the base's accuracy (" + p.result.diagnostic.message + ")";
    }
    return p;
}

// Runs tasks 0..count-1 on up to `jobs` threads; done(i) runs on the calling thread in order.
void run_ordered(int count, int jobs, const std::function<void(int)>& task, const std::function<void(int)>& done,
                 const std::function<void(int, int)>& progress) {
    int nworkers = jobs > 0 ? jobs : static_cast<int>(std::thread::hardware_concurrency());
    nworkers = std::clamp(nworkers, 1, std::max(count, 1));
    std::atomic<int> next{0};
    std::mutex lock;
    std::condition_variable progressed;
    std::vector<char> finished(static_cast<std::size_t>(count), 0);
    std::vector<std::thread> workers;
    for (int w = 0; w < nworkers; ++w)
        workers.emplace_back([&] {
            for (int i; (i = next.fetch_add(1)) < count;) {
                task(i);
                const std::lock_guard<std::mutex> hold(lock);
                finished[static_cast<std::size_t>(i)] = 1;
                progressed.notify_one();
            }
        });
    int handed = 0;
    {
        std::unique_lock<std::mutex> hold(lock);
        while (handed < count) {
            progressed.wait_for(hold, std::chrono::milliseconds(250),
                                [&] { return finished[static_cast<std::size_t>(handed)] != 0; });
            const int n = static_cast<int>(std::count(finished.begin(), finished.end(), 1));
            hold.unlock();
            if (progress) progress(n, count);
            hold.lock();
            while (handed < count && finished[static_cast<std::size_t>(handed)] != 0) {
                hold.unlock();
                if (done) done(handed);
                hold.lock();
                ++handed;
            }
        }
    }
    for (std::thread& t : workers) t.join();
}

} // namespace

std::vector<FreeWeight> pareto_free_weights(const Design& base, const ParetoRequest& request) {
    return make_problem(base, request).free_weights;
}

// The fitted rule's level for the whole search: the highest level that the designs the search
// starts from need at the search's accuracy (ten times the usual deck's), so that E and the
// rates change smoothly with the weights. (One level more, as sweeps take, costs five times the
// time of a three-stage front and moves its points by less than 1e-6.) 0 when one of them needs
// the adaptive fallback (each design then takes its own level). Every shard settles the same.
int settled_level(Problem& pb) {
    std::vector<std::vector<double>> probes = pb.halton;
    probes.push_back(std::vector<double>(static_cast<std::size_t>(pb.n), 0.0));
    for (const auto* x : {&pb.base_x, &pb.criterion_x, &pb.impact_x}) probes.push_back(*x);
    int highest = 0;
    Design g = pb.search;
    for (const std::vector<double>& x : probes) {
        set_weights(pb, x.data(), false, g);
        const Result r = evaluate(g);
        if (!r.ok()) continue;  // a design the checks refuse says nothing about the others
        if (!r.fallback.empty() || r.rule_level == 0) return 0;
        highest = std::max(highest, r.rule_level);
    }
    return highest;
}

ParetoFront pareto(const Design& base, const ParetoRequest& request, const std::function<void(const ParetoPoint&)>& on_point) {
    Problem pb = make_problem(base, request);
    {
        // A base the checks refuse for what the search does not change is refused here.
        Result r = evaluate(pb.search);
        if (!r.ok() && r.outcome != "refused") refuse(r.diagnostic.message);
        if (!r.ok() && r.diagnostic.statement != 2) refuse(r.diagnostic.message);
    }
    pb.level = request.method.fitted_level > 0 ? request.method.fitted_level : settled_level(pb);
    const int N = request.points;
    ParetoFront front;
    front.free_weights = pb.free_weights;
    front.search_level = pb.level;
    front.total_points = N;

    // This shard's points, and the work: the two ends first (every shard), then the points
    // between them.
    std::vector<int> mine;
    for (int j = 1; j <= N; ++j)
        if ((j - 1) % request.shard_count == request.shard_index - 1) mine.push_back(j);
    const int total = static_cast<int>(mine.size()) + 2;
    int done_before = 0;
    const auto progress = [&](int done, int) {
        if (request.progress) request.progress(done_before + done, total);
    };

    Ends ends;
    run_ordered(2, request.jobs, [&](int i) { (i == 0 ? ends.criterion : ends.impact) = i == 0 ? highest_criterion(pb) : highest_impact(pb); },
                {}, progress);
    done_before = 2;
    front.highest_criterion = finish(pb, 1, NAN, ends.criterion, request.source);
    front.highest_impact = finish(pb, N, NAN, ends.impact, request.source);

    const Value& vE = ends.criterion.best.value;
    const Value& vI = ends.impact.best.value;
    const bool have_ends = vE.ok && vI.ok;
    const double ir_E = have_ends ? impact_of(vE) : NAN, ir_I = have_ends ? impact_of(vI) : NAN;
    // Ends that differ by no more than the search's accuracy in E or in the impact ratio: the
    // design with the highest E is also (as far as the search can tell) the fairest one.
    const double resolution = 10.0 * pb.method.search_relerr;
    const bool one_design = have_ends && (vE.E - vI.E <= resolution * std::fabs(vE.E) || ir_I - ir_E <= resolution);

    std::vector<ParetoPoint> points(mine.size());
    const auto task = [&](int k) {
        const int j = mine[static_cast<std::size_t>(k)];
        ParetoPoint& p = points[static_cast<std::size_t>(k)];
        if (j == 1) p = front.highest_criterion;
        else if (j == N) p = front.highest_impact;
        else if (!have_ends) {
            Search none;
            none.status = "not settled: the ends of the front could not be found";
            p = finish(pb, j, NAN, none, request.source);
        } else if (one_design) {
            p = front.highest_criterion;
            p.point = j;
            p.status = "settled: the front is one design (the ends differ by less than the search's accuracy)";
        } else {
            const double s = static_cast<double>(j - 1) / (N - 1);
            Goal g;
            double target = NAN;
            if (pb.method.spacing == ParetoMethod::Spacing::normal_boundary) {
                g.kind = Goal::normal_boundary;
                g.E0 = vE.E, g.E1 = vI.E, g.I0 = ir_E, g.I1 = ir_I;
                g.c = 1.0 - 2.0 * s;
            } else {
                target = ir_E + s * (ir_I - ir_E);
                g.kind = Goal::criterion_within;
                g.limit = -std::log(target);
            }
            std::vector<double> mid(static_cast<std::size_t>(pb.n));
            for (int i = 0; i < pb.n; ++i)
                mid[static_cast<std::size_t>(i)] = (1 - s) * ends.criterion.best.x[static_cast<std::size_t>(i)] +
                                                   s * ends.impact.best.x[static_cast<std::size_t>(i)];
            std::vector<std::vector<double>> candidates = pb.halton;
            candidates.push_back(ends.criterion.best.x);
            candidates.push_back(ends.impact.best.x);
            p = finish(pb, j, target, multistart(pb, g, {mid}, candidates), request.source);
        }
    };
    const auto handed = [&](int k) {
        if (on_point) on_point(points[static_cast<std::size_t>(k)]);
    };
    run_ordered(static_cast<int>(mine.size()), request.jobs, task, handed, progress);
    front.points = std::move(points);
    return front;
}

} // namespace traz
