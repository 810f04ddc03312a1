#pragma once
// What a plot shows, independent of where it is drawn: a title, two axes
// with their captions and scales, and data series with their styles.

#include <string>
#include <vector>

namespace kelvora {

// How a series is drawn: connected line, large dots, bars or small dots.
enum class Series_type { line = 0, large_dots = 1, bars = 2, small_dots = 3 };

struct Rgb {
  int red = 0;
  int green = 0;
  int blue = 0;  // each 0 ... 255; the painter clamps others
};

struct Plot_series {
  std::vector<double> x;
  std::vector<double> y;
  Series_type type = Series_type::line;
  Rgb color;
  std::string label;  // legend text; a blank label has no legend entry
};

struct Plot_axis {
  bool logarithmic = false;
  double base = 10.0;     // of a logarithmic axis
  bool autoscale = true;  // the range follows the data of all series
  double min = 0.0;       // the fixed range when not autoscaled
  double max = 1.0;
  std::string caption;
};

struct Plot_object {
  std::string title;
  Plot_axis x;
  Plot_axis y;
  std::vector<Plot_series> series;
};

}  // namespace kelvora
