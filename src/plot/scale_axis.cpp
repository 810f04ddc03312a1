#include "plot/scale_axis.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace kelvora {

Axis_scale scale_axis(std::span<const double> values) {
  // Non-finite values carry no position on an axis; they are left out.
  double vmin = std::numeric_limits<double>::infinity();
  double vmax = -std::numeric_limits<double>::infinity();
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    vmin = std::min(vmin, v);
    vmax = std::max(vmax, v);
  }
  if (vmin > vmax) vmin = vmax = 0.0;  // nothing finite: scale as all zero
  const double range = vmax - vmin;
  constexpr double eps = DBL_EPSILON;

  Axis_scale axis;
  if (std::abs(range) > eps * std::max(std::abs(vmin), 1.0)) {
    // A step of 0.2, 0.5, 1 or 2 units of the power of ten below the range
    // (taken 10% wider), with at least k − 1 steps between the ends.
    const double e = std::floor(std::log10(1.1 * range));
    const double unit = std::pow(10.0, e);
    const double r = 1.1 * range / unit;
    int k = 5;
    if (r <= 1.5) {
      axis.step = 0.2 * unit;
    } else if (r <= 3.0) {
      axis.step = 0.5 * unit;
      k = 4;
    } else if (r <= 7.0) {
      axis.step = unit;
    } else {
      axis.step = 2.0 * unit;
    }
    axis.min = std::floor(vmin / axis.step) * axis.step;
    axis.max = std::ceil(vmax / axis.step) * axis.step;
    while ((axis.max - axis.min) / axis.step < k - 1) axis.max += axis.step;
  } else if (std::abs(vmin) < eps) {
    axis.min = -1.0;
    axis.max = 1.0;
    axis.step = 0.4;
  } else {
    axis.min = 0.9 * vmin;
    axis.max = 1.1 * vmax;
    axis.step = (axis.max - axis.min) / 5.0;
  }
  return axis;
}

}  // namespace kelvora
