#pragma once
// The shared records of one analysis and the capacities that follow from them.
// Indices the user sees (curve, point, ligand, site, parameter, variable) are
// 1-based; in code, curves, points, parameter slots and variables are 0-based
// and ligand and site numbers keep their 1-based domain meaning.

#include <array>
#include <string>
#include <vector>

#include "data/units.hpp"

namespace kelvora {

constexpr int max_curves = 50;
constexpr int max_points = 1000;
constexpr int max_ligands = 4;
constexpr int max_sites = 3;  // working storage of the point model
constexpr int max_params = 72;
constexpr int max_var = 25;
constexpr int name_length = 10;
constexpr int file_name_length = 80;
constexpr int n_weight_coefs = 5;

// One curve as read from its curve file.
struct Curve_data {
  std::string file_name;  // as entered, without extension and trailing blanks
  std::string path;       // the file that was read
  int n_points = 0;
  int varying_ligand = 0;
  int labelled_ligand = 0;
  std::array<double, n_weight_coefs> weight_coef{};  // for Y in M
  // The unit the file was written in; every value above and below is in M.
  Concentration_unit unit = Concentration_unit::molar;
  // Per-point arrays: absent (empty) until the curve is read, then
  // max_points entries each, zero-filled beyond n_points. The fitted model's
  // predictions are kept apart (model/curve_predictions.hpp).
  std::vector<std::array<double, max_ligands>> total;  // [point][ligand - 1]
  std::vector<double> bound;
  std::vector<double> replicates;

  bool arrays_present() const { return !bound.empty(); }
  // Total concentration of ligand `ligand` (1-based) at point `point` (0-based).
  double total_of(int point, int ligand) const { return total[point][ligand - 1]; }
  double& total_of(int point, int ligand) { return total[point][ligand - 1]; }
  bool is_saturation_curve() const { return varying_ligand == labelled_ligand; }
};

using Curve_table = std::array<Curve_data, max_curves>;

// Creates the three per-point arrays of a curve, zero-filled, at full size.
void allocate_curve_data(Curve_data& curve);
// Releases the per-point arrays of a curve (nothing happens when absent).
void deallocate_curve_data(Curve_data& curve);
// Releases the arrays of the first `count` curves of the table.
void deallocate_all_curves(Curve_table& curves, int count);

// The model's dimensions and the parameter vector.
struct Fit_parameters {
  int n_ligands = 0;
  int n_sites = 0;
  int n_curves = 0;
  int n_points = 0;
  int n_params = 0;
  int n_var = 0;
  int n_params_check = 0;
  int prev_n_sites = 0;
  std::array<double, max_params> accepted{};
  std::array<double, max_params> value{};
  std::array<double, max_params> saved_value{};
  std::array<bool, max_params> is_constant{};
  std::array<int, max_params> shared_link{};
  std::array<int, max_params> saved_link{};
  std::array<int, max_var> var_map{};          // variable -> parameter slot
  std::array<int, max_params> var_of_param{};  // slot -> variable, -1 when constant
  std::array<std::string, max_params> name;    // at most name_length characters
  std::array<std::string, max_params> saved_name;
};

using Variable_matrix = std::array<std::array<double, max_var>, max_var>;

// Whether the data of an analysis can determine its fitted parameters, and
// if not, why (data_determinacy in stats/fit_statistics.hpp decides).
enum class Determinacy { determined, one_concentration, exact_fit };

// One curve at the fitted values, point by point (n_points entries each):
// the labelled ligand's predicted bound concentration, the residual
// (observed - predicted) and the weight.
struct Curve_prediction {
  std::vector<double> predicted;
  std::vector<double> residual;
  std::vector<double> weight;
};

// What a fit found: its sum of squares, each curve at the fitted values
// ([curve - 1], filled when the fit ends) and, once the bootstrap has run,
// the standard errors and intervals of the variable parameters.
struct Fit_outcome {
  double ss = 0.0;
  std::vector<Curve_prediction> fitted;
  std::array<double, max_var> se{};  // standard errors, by variable number
  // The 95 % bootstrap percentile interval of each variable parameter; valid
  // when has_intervals.
  std::array<double, max_var> ci_lower{};
  std::array<double, max_var> ci_upper{};
  bool has_intervals = false;
  // Decided with the intervals: when the data do not determine the fitted
  // parameters, the reports give their values without errors or intervals.
  Determinacy determinacy = Determinacy::determined;
};

// Output bookkeeping shared by the graphics and competition writers.
struct Fit_results {
  int n_blocks = 0;
};

// n = L*S + S + L + M + S parameter slots in use.
int get_total_npar(const Fit_parameters& params);

}  // namespace kelvora
