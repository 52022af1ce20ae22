#include "reference_model.hpp"

#include <cmath>

namespace traz::testref {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLo = -10.0, kHi = 10.0;  // wide enough that the tails beyond are below 1e-15
constexpr int kPanels = 400;

// Tail mass S(x) and density T(x) of the mixture at x.
void mixture_at(const Pool& p, double x, double& S, double& T) {
    S = T = 0.0;
    for (int k = 0; k < p.ngroup; ++k) {
        S += p.pg[k] * upper_tail(x - p.mean[k]);
        T += p.pg[k] * normal_density(x - p.mean[k]);
    }
}

// P(Binomial(m, s) <= j), by summing the probabilities.
double binomial_cdf(int m, double s, int j) {
    double sum = 0.0;
    for (int r = 0; r <= j && r <= m; ++r) {
        const double lc = log_factorial(m) - log_factorial(r) - log_factorial(m - r);
        sum += std::exp(lc) * std::pow(s, r) * std::pow(1.0 - s, m - r);
    }
    return sum;
}

// Density at x of a score that is among the ns best, for an applicant of group k.
double top_density(const Pool& p, int k, double x) {
    double S, T;
    mixture_at(p, x, S, T);
    return p.n * p.pg[k] * normal_density(x - p.mean[k]) * binomial_cdf(p.n - 1, S, p.ns - 1);
}

// Mean and second moment of the criterion score of an applicant above the cut x, and S(x).
// Within group k, Y = efc + cory*Z + sqrt(1 - cory^2)*e with Z the standardized composite,
// so E[Y; Z > z] = efc*P + cory*phi(z) and E[Y^2; Z > z] = (1 + efc^2)*P + 2*efc*cory*phi(z)
// + cory^2*z*phi(z).
void above_cut(const Pool& p, double x, double& S, double& m1, double& m2) {
    S = m1 = m2 = 0.0;
    for (int k = 0; k < p.ngroup; ++k) {
        const double z = x - p.mean[k], P = upper_tail(z), phi = normal_density(z);
        const double c = p.cory, e = p.efc[k];
        S += p.pg[k] * P;
        m1 += p.pg[k] * (e * P + c * phi);
        m2 += p.pg[k] * ((1.0 + e * e) * P + 2.0 * e * c * phi + c * c * z * phi);
    }
    m1 /= S;
    m2 /= S;
}

} // namespace

GaussLegendre20::GaussLegendre20() {
    const int n = 20;
    for (int i = 0; i < n; ++i) {
        double t = std::cos(kPi * (i + 0.75) / (n + 0.5));
        double dp = 0.0;
        for (int it = 0; it < 100; ++it) {
            double p0 = 1.0, p1 = t;  // P_0, P_1; recurrence up to P_n
            for (int k = 2; k <= n; ++k) {
                const double pk = ((2.0 * k - 1.0) * t * p1 - (k - 1.0) * p0) / k;
                p0 = p1;
                p1 = pk;
            }
            dp = n * (t * p1 - p0) / (t * t - 1.0);
            const double dt = p1 / dp;
            t -= dt;
            if (std::fabs(dt) < 1e-16) break;
        }
        x[i] = t;
        w[i] = 2.0 / ((1.0 - t * t) * dp * dp);
    }
}

const GaussLegendre20& gauss_legendre20() {
    static const GaussLegendre20 rule;
    return rule;
}

double upper_tail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

double normal_density(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * kPi); }

// ln k! as a running sum of logarithms, tabulated once for the pool sizes of the tests.
double log_factorial(int k) {
    static const struct Table {
        double v[1001];
        Table() {
            v[0] = 0.0;
            for (int i = 1; i <= 1000; ++i) v[i] = v[i - 1] + std::log(static_cast<double>(i));
        }
    } table;
    return table.v[k];
}

double normal_order_statistic_mean(int n, int i) {
    const double lc = log_factorial(n) - log_factorial(i - 1) - log_factorial(n - i);
    return integrate(
        [&](double x) {
            const double Phi = 1.0 - upper_tail(x);
            return x * std::exp(lc) * std::pow(Phi, i - 1) * std::pow(1.0 - Phi, n - i) *
                   normal_density(x);
        },
        kLo, kHi, kPanels);
}

double expected_criterion(const Pool& p) {
    double sum = 0.0;
    for (int k = 0; k < p.ngroup; ++k)
        sum += integrate(
            [&](double x) { return top_density(p, k, x) * (p.efc[k] + p.cory * (x - p.mean[k])); },
            kLo, kHi, kPanels);
    return sum / p.ns;
}

// E[#selected of group k] / (n pg[k]): the probability that one applicant of group k is
// among the ns best, the other n - 1 being drawn from the mixture. Defined for pg[k] = 0.
double selection_rate(const Pool& p, int k) {
    return integrate(
        [&](double x) {
            double S, T;
            mixture_at(p, x, S, T);
            return normal_density(x - p.mean[k]) * binomial_cdf(p.n - 1, S, p.ns - 1);
        },
        kLo, kHi, kPanels);
}

double cut_density(const Pool& p, double x) {
    double S, T;
    mixture_at(p, x, S, T);
    const double lc = log_factorial(p.n) - log_factorial(p.ns) - log_factorial(p.n - p.ns - 1);
    return std::exp(lc) * std::pow(S, p.ns) * T * std::pow(1.0 - S, p.n - p.ns - 1);
}

double tail_mass(const Pool& p, double x) {
    double S, T;
    mixture_at(p, x, S, T);
    return S;
}

double proportion_above_cut(const Pool& p) {
    return integrate(
        [&](double x) {
            double S, T;
            mixture_at(p, x, S, T);
            return S * cut_density(p, x);
        },
        kLo, kHi, kPanels);
}

void selected_moments(const Pool& p, double& e, double& e2, double& q) {
    auto moment = [&](int which) {
        return integrate(
            [&](double x) {
                double S, m1, m2;
                above_cut(p, x, S, m1, m2);
                return cut_density(p, x) * (which == 0 ? m1 : which == 1 ? m1 * m1 : m2);
            },
            kLo, kHi, kPanels);
    };
    e = moment(0);
    e2 = moment(1);
    q = moment(2);
}

// Given the cut, the ns selected are independent draws from the applicants above it:
// Var(mean) = E[m2 - m1^2]/K + Var(m1), with K = ns.
double sd_of_average(const Pool& p) {
    double e, e2, q;
    selected_moments(p, e, e2, q);
    const double K = p.ns;
    return std::sqrt((q - e2) / K + (e2 - e * e));
}

} // namespace traz::testref
