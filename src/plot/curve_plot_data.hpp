#pragma once
// What the plot of one fitted curve shows, as plain data: whoever fits the
// curve fills it in, and the plot draws it without knowing of the fit.

#include <array>
#include <string>
#include <vector>

namespace kelvora {

// The points whose two ratios are both positive (log total ligand against
// observed and predicted bound/total), and a legend of five 30-column lines
// (the last two blank).
struct Curve_plot {
  std::vector<double> log_total;
  std::vector<double> observed;
  std::vector<double> predicted;
  std::array<std::string, 5> legend;
};

}  // namespace kelvora
