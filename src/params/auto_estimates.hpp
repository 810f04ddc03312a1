#pragma once
// Automatic initial estimates. Each estimator writes its estimates into both
// the current and the accepted values and leaves every constant parameter as
// it was.

#include <vector>

#include "data/records.hpp"

namespace kelvora {

class Console;

// Saturation data: a multiple regression of B/F on B and F per ligand, the
// linear form of one-site binding with nonspecific binding N F,
//   B/F = (N + K Bmax) - K B + K N F,
// sets K<l>1 (and K<l>2), N<l> and the receptor concentrations. r_yb receives
// the correlation of B/F with B and r2 the regression's R^2 of the last ligand
// that reached them (they are left alone otherwise).
void preadjust_initial_parameters_schliebs_bigl(Console& console, const Curve_table& curves,
                                                Fit_parameters& params, double& r_yb, double& r2);

// Saturation data: nonspecific ratios from the smallest B/T, then Scatchard
// lines (specific bound / free against specific bound) for the affinities;
// quality receives the r^2 of the last ligand that reached a regression.
void preadjust_initial_parameters_scatchard(Console& console, const Curve_table& curves,
                                            Fit_parameters& params, double& quality);

// Competition data: a logistic line through each competition curve gives the
// IC50, and the Cheng-Prusoff relation Ki = IC50 / (1 + L Khot) the
// competitor's affinity; R1 from the largest bound value.
void preadjust_initial_parameters_competition(Console& console, const Curve_table& curves,
                                              Fit_parameters& params);

struct Scatchard_line {
  double K = 0.0;
  double Bmax = 0.0;
  double quality = 0.0;  // r^2 of q = x / y against x
};

// Straight Scatchard line through (x = specific bound, y = free); K = -slope
// (1e8 when the slope is not below -1e5 or cannot be formed), Bmax = the
// intercept / K (the largest x when below 1e-12). Prints one empty line.
Scatchard_line fit_scatchard_linear(Console& console, const std::vector<double>& x,
                                    const std::vector<double>& y);

struct Two_site_scatchard {
  Scatchard_line high;  // site 1
  Scatchard_line low;   // site 2
  double quality = 0.0;
};

// Two lines, through the first and the last max(0.4 n, 2) points, the
// high-affinity one first. Prints one empty line per line and one of its own.
Two_site_scatchard fit_scatchard_twosite(Console& console, const std::vector<double>& x,
                                         const std::vector<double>& y);

struct Logistic_line {
  double B0 = 0.0;
  double IC50 = 0.0;  // 0 when the curve has no competitor concentration above 0
  double hill = 1.0;
};

// Logistic (Hill) line through a displacement curve y(x) (bound fractions),
// in any order of x: B0 is y at the lowest concentration, and a regression of
// log10(B0/y - 1) on log10 x over the points between the floor and B0 gives
// the slope and the IC50, which is kept between the smallest and the largest
// positive concentration. With fewer than 3 such points or no line through
// them (one concentration only), IC50 is the geometric mean of that range and
// the slope 1. Prints nothing.
Logistic_line fit_logistic_competition(const std::vector<double>& x, const std::vector<double>& y);

}  // namespace kelvora
