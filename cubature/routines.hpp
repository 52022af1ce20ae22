// Routines behind dcuhre: argument check, adaptive loop, region heap, rules, rule evaluation.
// Arrays of the problem's 1-based items start at element 0; two-dimensional tables are
// stored column by column: g(i, k) is g[(i-1) + ndim*(k-1)], w(r, k) is w[(r-1) + 5*(k-1)],
// scales(p, i) and norms(p, i) are [(p-1) + 3*(i-1)]. Counts and axes kept in the double
// work areas (rulpts, dir) are whole numbers held as doubles.
#pragma once

#include "cubature/dcuhre.hpp"

namespace traz {

inline constexpr int maxdim = 15; // largest number of variables
inline constexpr int mdiv = 1;    // subregions divided in one step of the adaptive loop
inline constexpr int maxwt = 14;  // largest number of generators of any rule

// Checks the arguments of dcuhre in a fixed order and derives the rule parameters.
// maxdim, mdiv: fixed parameters; ndim..restar: dcuhre's arguments.
// Out: num (integrand calls per region), maxsub and minsub (subregion limits from maxpts and
// minpts), keyf (rule 1..4), wtleng (generators of the rule) and ifail: 0, or the code 2..12
// of the first failing check (the remaining outputs are then not all set). The integer
// formulas are evaluated in 64 bits, so no request is accepted through overflow.
void dchhre(const int& maxdim, const int& ndim, const int& numfun, const int& mdiv,
            const double* a, const double* b, const int& minpts, const int& maxpts,
            const double& epsabs, const double& epsrel, const int& key, const int& nw,
            const int& restar, int& num, int& maxsub, int& minsub, int& keyf, int& ifail,
            int& wtleng);

// Globally adaptive subdivision over the region [a, b] (see dcuhre.cpp for the arguments it
// shares with dcuhre). key is the rule number 1..4, lenw the scratch length 16*mdiv*numfun,
// nsub the number of stored subregions (in on restart, out always). The store sections
// values..dir hold one column per subregion, arranged as a max-heap on greate; oldres and
// work are scratch; g..norms are the rule sections of dcuhre's internal area.
// Writes result, abserr, neval, nsub and ifail (0: accuracy reached, 1: subregion limit).
void dadhre(const int& ndim, const int& numfun, const int& mdiv, const double* a,
            const double* b, const int& minsub, const int& maxsub, CubatureIntegrand funsub,
            const double& epsabs, const double& epsrel, const int& key, const int& restar,
            const int& num, const int& lenw, const int& wtleng, double* result,
            double* abserr, int& neval, int& nsub, int& ifail, double* values,
            double* errors, double* centrs, double* hwidts, double* greate, double* dir,
            double* oldres, double* work, double* g, double* w, double* rulpts,
            double* center, double* hwidth, double* x, double* scales, double* norms);

// Keeps the subregion store a max-heap on greate. dvflag 1 removes the top record (sbrgns
// decreases by one); dvflag 2 sifts up the record already placed at position sbrgns.
// error/value (numfun each) and center/hwidth (ndim each) buffer the record being placed.
void dtrhre(const int& dvflag, const int& ndim, const int& numfun, int& sbrgns,
            double* values, double* errors, double* centrs, double* hwidts, double* greate,
            double* error, double* value, double* center, double* hwidth, double* dir);

// Fills the tables of rule key (1..4) for ndim variables: generators g (ndim x wtleng),
// weights w (5 x wtleng: basic rule, then null rules 1..4), errcof (6), rulpts (wtleng), and
// the null-rule combination tables scales and norms (3 x wtleng each).
void dinhre(const int& ndim, const int& key, const int& wtleng, double* w, double* g,
            double* errcof, double* rulpts, double* scales, double* norms);

// Degree-13 rule for two variables, 14 generators, 65 points (tables as for dinhre).
void d132re(const int& wtleng, double* w, double* g, double* errcof, double* rulpts);

// Degree-11 rule for three variables, 13 generators, 127 points (tables as for dinhre).
void d113re(const int& wtleng, double* w, double* g, double* errcof, double* rulpts);

// Degree-9 rule for ndim >= 2 variables, 9 generators (8 when ndim = 2).
void d09hre(const int& ndim, const int& wtleng, double* w, double* g, double* errcof,
            double* rulpts);

// Degree-7 rule for ndim >= 2 variables, 6 generators.
void d07hre(const int& ndim, const int& wtleng, double* w, double* g, double* errcof,
            double* rulpts);

// Applies the basic rule and its null rules to the region with centre center and positive
// half-widths hwidth. g is modified during the call and restored. x (ndim) is the point
// buffer, null (numfun x 8) scratch. Out: basval and rgnerr (numfun integral and error
// estimates) and direct, the axis (1..ndim, as a double) along which to divide the region.
void drlhre(const int& ndim, const double* center, const double* hwidth, const int& wtleng,
            double* g, const double* w, const double* errcof, const int& numfun,
            CubatureIntegrand funsub, const double* scales, const double* norms, double* x,
            double* null, double* basval, double* rgnerr, double& direct);

// Sums the integrand over all points center + hwidth * p, p running over the distinct
// permutations and sign changes of the generator g (non-negative, non-increasing entries).
// g is permuted in place and restored; x is the point buffer, funvls the integrand's buffer.
// Out: fulsms, the numfun sums.
void dfshre(const int& ndim, const double* center, const double* hwidth, double* x,
            double* g, const int& numfun, CubatureIntegrand funsub, double* fulsms,
            double* funvls);

// Last step of the closed-form rules (d09hre, d07hre): each of the four lower-degree rules in
// rows 2..5 of w becomes a null rule (minus the basic rule, its centre weight balancing the
// others) and the basic rule in row 1 is scaled to the cube [-1,1]^ndim (twondm = 2^ndim).
void null_rules_and_scale(double* w, const double* rulpts, int wtleng, double twondm);

} // namespace traz
