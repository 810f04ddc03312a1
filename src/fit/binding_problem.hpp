#pragma once
// The binding analysis as a least-squares problem: the variable parameters
// of a parameter vector (in slot order) are the variables, the curves'
// points the residuals,
//   SS = sum_c sum_j w(j) (Y(j) - Yhat(j))^2,   w = r / v(Yhat),
// with Yhat the point model's bound concentration of the labelled ligand.
// The constant parameters are taken from the vector the problem is made
// from; the curves must outlive the problem.
//
// The admissible region: negative values are reflected (and the trial's SS
// penalised), each value is clamped to the range of its kind, and with two
// ligands at two sites of saturation curves the sites are exchanged when
// site 2 binds ligand 1 more strongly than site 1.

#include <array>
#include <optional>
#include <span>

#include "data/records.hpp"
#include "fit/least_squares.hpp"
#include "model/curve_predictions.hpp"

namespace kelvora {

// From this many data points on, the curves of an analysis are evaluated on
// several threads (below it the threads would cost more than they save).
constexpr int parallel_points = 4000;

class Binding_problem final : public Least_squares_problem {
 public:
  Binding_problem(const Curve_table& curves, const Fit_parameters& params);

  int n_variables() const override { return n_; }
  int n_residuals() const override { return layout_.n_points; }
  void residuals(std::span<const double> x, std::span<double> r) const override;
  double sum_of_squares(std::span<const double> x) const override;
  // g = sum w (e + e^2 v'/(2 v)) d (minus half the gradient of SS, the
  // weights' dependence on the prediction included) and H = sum w d d^T, d
  // the derivatives of the prediction by forward differences (step 1e-7
  // max(|x|, floor), floors K 1e5, R 1e-14, N 1e-3, C 0.1, B 0.25, taken
  // downwards at the upper bound of the kind) or by implicit differentiation
  // of the conservation equations.
  void normal_equations(std::span<const double> x, Derivative_kind kind,
                        Normal_equations& ne) const override;

  std::optional<Admissible_range> range(int i) const override;
  bool project(std::span<double> x) const override;
  void relabel(std::span<double> x, std::span<double> accepted) const override;
  // By kind: a new value of exactly 0 becomes K 1e9, R 1e-9, C and B 1; a K
  // or R below 0 becomes 0.1 times the accepted value, a C or B below its
  // lower bound 1.1 times it; an N below 0 becomes 1e-6 and one above 0.5
  // becomes 0.25.
  std::optional<double> repair_step(int i, double accepted, double updated) const override;
  // K and R doubled, N raised by 0.05 (at most to 0.45), others times 1.5.
  double simplex_vertex(int i, double x) const override;

  const Curve_table& curves() const { return curves_; }
  const Fit_parameters& layout() const { return layout_; }
  // The parameter vector with the variables at x.
  Fit_parameters record_at(std::span<const double> x) const;

 private:
  using Slot_values = std::array<double, max_params>;
  Slot_values values_at(std::span<const double> x) const;

  const Curve_table& curves_;
  Fit_parameters layout_;
  Slot_values constants_{};
  int n_ = 0;
  std::array<char, max_var> kind_{};
  std::array<std::optional<Admissible_range>, max_var> range_{};  // of each variable's kind
  std::array<Curve_plan, max_curves> plans_{};
  // The variables exchanged with the sites, in pairs; none when the
  // exchange cannot apply.
  int exchanged_pairs_ = 0;
  int exchange_[4][2] = {};
};

// The search state of a parameter vector's variables (values and accepted
// values; SS 0, nothing counted), and the way back into the vector.
Search_state search_state_of(const Fit_parameters& params);
void store_search_state(const Search_state& state, Fit_parameters& params);

// SS of the analysis at the current values of `params`, as they stand.
double sum_of_squares_at(const Curve_table& curves, const Fit_parameters& params);

}  // namespace kelvora
