#pragma once
// Rounds a range of values outward to a readable axis.

#include <span>

namespace kelvora {

struct Axis_scale {
  double min = 0.0;
  double max = 0.0;
  double step = 0.0;
};

// The axis over `values` (at least one value): min and max are multiples of
// a step of 0.2, 0.5, 1 or 2 times a power of ten that cover the values in
// at least three or four steps; a range too small to scale becomes -1 ... 1
// around zero, or 0.9·v ... 1.1·v around a value v.
Axis_scale scale_axis(std::span<const double> values);

}  // namespace kelvora
