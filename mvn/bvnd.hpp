// Gauss-Legendre tables of the bivariate normal routine.
#pragma once

namespace traz::bvnd_rules {

// Column ng = 0, 1, 2 holds the 6-, 12- and 20-point rule on [-1, 1]: the abscissae of
// the negative half in increasing order, x[ng][i] with weight w[ng][i]; unused entries 0.
extern const double x[3][10];
extern const double w[3][10];

} // namespace traz::bvnd_rules
