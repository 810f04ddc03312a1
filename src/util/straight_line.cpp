#include "util/straight_line.hpp"

#include <algorithm>
#include <cmath>

namespace kelvora {

// Sums of deviations from the means, so that values with a small spread about
// a large mean (log concentrations near -9) keep their precision:
//   slope = Sxy / Sxx, intercept = mean(y) - slope mean(x),
//   r^2 = Sxy^2 / (Sxx Syy)   (S.. sums of products of deviations from the means).
Straight_line fit_straight_line(const double* x, const double* y, int n) {
  Straight_line line;
  if (n < 2) return line;
  double mean_x = 0.0, mean_y = 0.0, largest = 0.0;
  for (int i = 0; i < n; ++i) {
    mean_x += x[i];
    mean_y += y[i];
    largest = std::max(largest, std::abs(x[i]));
  }
  mean_x /= n;
  mean_y /= n;
  double sxx = 0.0, syy = 0.0, sxy = 0.0;
  for (int i = 0; i < n; ++i) {
    sxx += (x[i] - mean_x) * (x[i] - mean_x);
    syy += (y[i] - mean_y) * (y[i] - mean_y);
    sxy += (x[i] - mean_x) * (y[i] - mean_y);
  }
  const double slope = sxy / sxx;
  const double intercept = mean_y - slope * mean_x;
  const double noise = 1e-12 * largest;  // spread of x values that agree to rounding
  if (!(sxx > n * noise * noise) || !std::isfinite(slope) || !std::isfinite(intercept)) return line;
  line = {slope, intercept, syy > 0.0 ? std::min(1.0, sxy * sxy / (sxx * syy)) : 0.0, true};
  return line;
}

}  // namespace kelvora
