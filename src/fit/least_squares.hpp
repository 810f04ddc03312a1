#pragma once
// The problem every minimiser works on: a weighted least-squares problem over
// a span of n variables,
//   SS(x) = sum_j r_j(x)^2,
// with its normal equations, the admissible range of each variable and the
// repairs that keep a trial inside the admissible region. A problem has no
// side effects: every query is a function of x alone.
//
// The minimisers evaluate a trial through `evaluate` (below), which projects
// it onto the admissible region first, so that SS always belongs to the point
// the minimiser holds afterwards.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "data/records.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {

using Variables = std::array<double, max_var>;

enum class Derivative_kind { numerical, analytical };

// The normal equations at a point: g = -1/2 grad SS and the Gauss-Newton
// matrix H = J^T J (lower triangle), then scaled (see scale_normal_equations).
struct Normal_equations {
  std::array<double, max_var> g{};
  Variable_matrix h{};
  std::array<double, max_var> scale{};
};

class Least_squares_problem {
 public:
  Least_squares_problem() : identity_(new_identity()) {}
  // A copy is another problem as far as the sums known to a search state go
  // (Known_sum below): it may be changed apart from the original.
  Least_squares_problem(const Least_squares_problem&) : identity_(new_identity()) {}
  Least_squares_problem& operator=(const Least_squares_problem&) {
    identity_ = new_identity();
    return *this;
  }
  virtual ~Least_squares_problem() = default;

  // Tells this problem from every other one made in the process.
  std::uint64_t identity() const { return identity_; }

  virtual int n_variables() const = 0;
  virtual int n_residuals() const = 0;
  // The weighted residuals r_j(x), n_residuals() of them.
  virtual void residuals(std::span<const double> x, std::span<double> r) const = 0;
  // SS(x) = sum r_j^2, at x as given (no repair).
  virtual double sum_of_squares(std::span<const double> x) const;
  // dr_j/dx_i into jacobian[j * n + i]; by forward differences with step
  // 1e-7 max(|x_i|, 1) unless a problem knows better.
  virtual void jacobian(std::span<const double> x, std::span<double> jacobian) const;
  // g and H (unscaled, lower triangle) at x. From the Jacobian unless the
  // problem gives them itself; `kind` tells a problem with analytical
  // derivatives which to use.
  virtual void normal_equations(std::span<const double> x, Derivative_kind kind,
                                Normal_equations& ne) const;

  // The admissible range of variable i; none by default.
  virtual std::optional<Admissible_range> range(int) const { return std::nullopt; }
  // Projection of a trial onto the admissible region, in place. True when
  // the trial had to be reflected: its SS is then penalised by `evaluate`.
  virtual bool project(std::span<double>) const { return false; }
  // A relabelling that leaves SS unchanged (for example exchanging two
  // equivalent sites), applied to the trial and, identically, to the
  // accepted point. Done after the evaluation.
  virtual void relabel(std::span<double>, std::span<double>) const {}
  // The repair of a damped step that took variable i from `accepted` to
  // `updated` outside its admissible region: the repaired value, or nothing
  // when no repair applies.
  virtual std::optional<double> repair_step(int, double, double) const { return std::nullopt; }
  // The second vertex of the simplex along variable i, from x.
  virtual double simplex_vertex(int, double x) const { return 1.5 * x; }

 private:
  static std::uint64_t new_identity();
  std::uint64_t identity_;
};

// The last point, as projected, at which a search computed SS, the sum there
// (without the reflection penalty) and the problem it belongs to (0: none).
// A problem's SS is a function of the point alone, so a search that comes
// back to that point need not compute it again.
struct Known_sum {
  std::uint64_t problem = 0;
  Variables point{};
  double ss = 0.0;
};

// What the minimisers of one fit hand on from one to the next: the trial
// point, the accepted (best) point, the sum of squares handed on (the SS of
// one of them, or the hand-on a minimiser documents), and the two facts a
// damped least-squares run takes from the runs before it.
struct Search_state {
  int n = 0;
  Variables value{};
  Variables accepted{};
  double ss = 0.0;
  // Product of the pivots of the last damped system factorised: the damping
  // a run starts from after a refused first step.
  double last_pivot_product = 0.0;
  // The iteration a counting run (enhanced and tunnel strategies) last
  // reached. While it stands at 1, a zero damping counts as first_damping.
  int counted_iterations = 0;
  // Sums of squares computed (one taken from `known` is not).
  long long evaluations = 0;
  Known_sum known;

  std::span<double> trial() { return {value.data(), static_cast<std::size_t>(n)}; }
  std::span<const double> trial() const { return {value.data(), static_cast<std::size_t>(n)}; }
  void accept() { accepted = value; }
  void restore_accepted() { value = accepted; }
};

// The objective as the minimisers see it: the trial s.value is projected,
// SS evaluated there ((1 + 1e6) SS when it had to be reflected), and the
// trial and accepted point relabelled. Stores SS in s.ss and returns it.
// When the projected trial is the point of s.known, its sum is taken from
// there; otherwise it is computed, counted and becomes s.known.
double evaluate(const Least_squares_problem& problem, Search_state& s);

// The relative ridge and the scaling of the normal equations:
// s_i = sqrt(H_ii) (1 when not positive), H_ii += 1e-8 |H_ii|, then
// g_i /= s_i and H_ik /= s_i s_k, so that a damping lambda is relative to
// each variable's curvature.
void scale_normal_equations(int n, Normal_equations& ne);

}  // namespace kelvora
