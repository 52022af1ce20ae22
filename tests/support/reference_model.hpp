// Reference values of the single-stage selection model for the driver tests, computed
// without the program's own routines: normal tail from std::erfc, log-factorials as sums
// of logarithms, and a composite Gauss-Legendre rule whose nodes are found here by Newton
// iteration on the Legendre polynomial.
#pragma once

namespace traz::testref {

// A pool of n applicants from a mixture of groups; each applicant's standardized
// composite score is normal with mean `mean`[k] in group k, the criterion is normal with
// mean `efc`[k], variance 1 and correlation `cory` with the composite. The ns best on
// the composite are selected.
struct Pool {
    int n = 0, ns = 0, ngroup = 1;
    double pg[5] = {1.0};
    double mean[5] = {};
    double efc[5] = {};
    double cory = 0.0;
};

double upper_tail(double z);  // 1 - Phi(z)
double normal_density(double z);
double log_factorial(int k);

// Nodes and weights of the 20-point Gauss-Legendre rule on [-1, 1].
struct GaussLegendre20 {
    double x[20], w[20];
    GaussLegendre20();
};
const GaussLegendre20& gauss_legendre20();

// Integral of f over [a, b]: `panels` equal panels, each with the 20-point rule.
template <class F>
double integrate(F f, double a, double b, int panels) {
    const GaussLegendre20& r = gauss_legendre20();
    const double h = (b - a) / panels;
    double sum = 0.0;
    for (int p = 0; p < panels; ++p) {
        const double mid = a + (p + 0.5) * h;
        for (int i = 0; i < 20; ++i) sum += r.w[i] * f(mid + 0.5 * h * r.x[i]);
    }
    return 0.5 * h * sum;
}

// Expected value of the i-th smallest of n independent standard normal scores.
double normal_order_statistic_mean(int n, int i);

// Through the order statistics of the whole pool: the density of a score that is among
// the ns best is n * density * P(Binomial(n-1, S(x)) <= ns-1).
double expected_criterion(const Pool& p);       // mean criterion score of the selected
double selection_rate(const Pool& p, int k);    // E[#selected of group k] / (n * pg[k]), 0-based k

// Through the cut score (the (ns+1)-th best score) and its density.
double cut_density(const Pool& p, double x);
double tail_mass(const Pool& p, double x);       // S(x): probability of a score above x

// Integral over the cut score x of its density times value(x).
template <class V>
double over_cut(const Pool& p, V value) {
    return integrate([&](double x) { return cut_density(p, x) * value(x); }, -10.0, 10.0, 400);
}
double proportion_above_cut(const Pool& p);      // E[S(cut)]
// E[m1], E[m1^2] and E[m2] over the cut, where m1 and m2 are the mean and the second moment
// of the criterion score of an applicant above the cut.
void selected_moments(const Pool& p, double& e, double& e2, double& q);
double sd_of_average(const Pool& p);             // SD of the average criterion score of the selected

} // namespace traz::testref
