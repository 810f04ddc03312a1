#pragma once
// The least-squares straight line that several estimators share.

namespace kelvora {

// Least-squares line y = intercept + slope x through n points, with r^2, the
// squared correlation of x and y (0 when y has no spread). `formed` is false
// when the x values have no spread (they agree to rounding) or the slope or
// intercept is not finite; such a line says nothing and its figures are 0.
struct Straight_line {
  double slope = 0.0;
  double intercept = 0.0;
  double r2 = 0.0;
  bool formed = false;
};
Straight_line fit_straight_line(const double* x, const double* y, int n);

}  // namespace kelvora
