// The derivative-free quasi-Newton minimiser (see quasi_newton.hpp).
//
// Notation, in the scaled variables y: g the difference gradient, B = L D L^T
// the curvature matrix (identity at the start of a pass), d = -B^-1 g the
// search direction, alpha the step taken along it, gamma = g_new - g the
// change of gradient over the step delta = alpha d.

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "fit/quasi_newton.hpp"

namespace kelvora {

namespace {

constexpr double scale_floor = 1e-15;       // |x_i| below this keeps scale 1
constexpr double return_to_start = 1.05;    // f_best >= 1.05 f0: back to the start
constexpr double worst_accepted = 2.0;      // a result above 2 f0 is refused
constexpr double gradient_floor = 1e-6;     // a 0 or not-a-number component becomes this
constexpr double smallest_step = 1e-6;      // alpha_min = 1e-6 / max_i |d_i| / e_i
constexpr double extrapolation_max = 1e15;  // a longer extrapolation step ends the pass
constexpr double extrapolation_min = 1e-15;

// B = L D L^T, L unit lower triangular, packed by rows: row i holds
// L(i, 0..i-1) followed by D(i).
class Factored_curvature {
 public:
  explicit Factored_curvature(int n) : n_(n), packed_(static_cast<std::size_t>(n) * (n + 1) / 2) {}

  void set_identity() {
    std::fill(packed_.begin(), packed_.end(), 0.0);
    for (int i = 0; i < n_; ++i) at(i, i) = 1.0;
  }

  // Solves B x = b: L z = b forwards, then L^T x = D^-1 z backwards.
  void solve(const std::vector<double>& b, std::vector<double>& x) const {
    x = b;
    for (int i = 0; i < n_; ++i)
      for (int j = 0; j < i; ++j) x[i] -= at(i, j) * x[j];
    for (int i = 0; i < n_; ++i) x[i] /= at(i, i);
    for (int i = n_ - 1; i >= 0; --i)
      for (int r = i + 1; r < n_; ++r) x[i] -= at(r, i) * x[r];
  }

  // B <- B + sigma z z^T on the factors (the composite recurrence of Gill,
  // Golub, Murray and Saunders, Math. Comp. 28, 505-535, 1974): for each
  // column j, with p = z_j reduced by the earlier columns,
  //   D'_j = D_j + a p^2,  beta = a p / D'_j,  a <- a D_j / D'_j,
  //   z_r <- z_r - p L(r,j),  L(r,j) <- L(r,j) + beta z_r  (r > j).
  // A negative sigma can, through rounding, drive D'_j to zero or below;
  // D'_j then takes the smallest diagonal factor met so far, which keeps B
  // positive definite.
  void rank_one(double sigma, std::vector<double> z) {
    if (n_ == 0) return;
    double smallest = at(0, 0);
    for (int i = 1; i < n_; ++i) smallest = std::min(smallest, at(i, i));
    double a = sigma;
    for (int j = 0; j < n_ && a != 0.0; ++j) {
      const double p = z[j];
      const double d = at(j, j);
      double updated = d + a * p * p;
      if (!(updated > 0.0)) updated = smallest;
      smallest = std::min(smallest, updated);
      const double beta = a * p / updated;
      a *= d / updated;
      at(j, j) = updated;
      for (int r = j + 1; r < n_; ++r) {
        z[r] -= p * at(r, j);
        at(r, j) += beta * z[r];
      }
    }
  }

 private:
  double at(int i, int j) const { return packed_[static_cast<std::size_t>(i) * (i + 1) / 2 + j]; }
  double& at(int i, int j) { return packed_[static_cast<std::size_t>(i) * (i + 1) / 2 + j]; }

  int n_;
  std::vector<double> packed_;
};

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}

enum class Differences { forward, central };
enum class Search { success, failed, end_pass };

// The working storage of one minimisation.
class Minimisation {
 public:
  Minimisation(const Objective_callback& f, std::span<double> x, Random_generator& rng,
               const Seeding& before_polish, const Message_callback& report,
               const Quasi_newton_options& options)
      : f_(f),
        x_(x),
        rng_(rng),
        before_polish_(before_polish),
        report_(report),
        o_(options),
        n_(static_cast<int>(x.size())),
        scale_(n_, 1.0),
        y_(n_),
        y0_(n_),
        e_(n_, 1.0),
        g_(n_),
        g_prev_(n_),
        d_(n_),
        y_start_(n_),
        trial_(n_),
        work_(n_),
        curvature_(n_) {}

  Quasi_newton_result run();

 private:
  // F(y) = f(y_i s_i); not counted against the pass.
  double evaluate(const std::vector<double>& y) {
    for (int i = 0; i < n_; ++i) work_[i] = y[i] * scale_[i];
    ++result_.evaluations;
    return f_(work_.data(), n_);
  }
  double counted(const std::vector<double>& y) {
    ++count_;
    return evaluate(y);
  }
  bool budget_spent() const { return count_ >= o_.pass_evaluations; }

  int pass();
  void gradient(Differences mode);
  Search line_search(double gd, double expected_reduction, double alpha_min, double& taken);
  void correct_curvature(double alpha);
  void polish(double reference);

  // f at y_start + alpha d.
  double along(double alpha) {
    for (int i = 0; i < n_; ++i) trial_[i] = y_start_[i] + alpha * d_[i];
    return counted(trial_);
  }
  void move_to_trial(double value) {
    y_ = trial_;
    f_now_ = f_best_ = value;
  }

  const Objective_callback& f_;
  std::span<double> x_;
  Random_generator& rng_;
  const Seeding& before_polish_;
  const Message_callback& report_;
  Quasi_newton_options o_;
  int n_;
  std::vector<double> scale_, y_, y0_, e_, g_, g_prev_, d_, y_start_, trial_, work_;
  Factored_curvature curvature_;
  Quasi_newton_result result_;
  double epsilon_ = 0.0;  // relative difference step of the current pass
  double f0_ = 0.0, f_now_ = 0.0, f_start_ = 0.0, f_best_ = 0.0;
  int count_ = 0;  // evaluations of the current pass
  bool not_a_number_ = false;
};

// Difference gradient at y with steps h_i = epsilon e_i, at least epsilon^2
// in magnitude: forward (F(y + h u_i) - F(y)) / h, or central
// (F(y + h u_i) - F(y - h u_i)) / 2h.
void Minimisation::gradient(Differences mode) {
  const double floor = epsilon_ * epsilon_;
  for (int i = 0; i < n_; ++i) {
    double h = epsilon_ * e_[i];
    if (std::abs(h) < floor) h = std::copysign(floor, h);
    trial_ = y_;
    trial_[i] = y_[i] + h;
    const double up = counted(trial_);
    double gi;
    if (mode == Differences::forward) {
      gi = (up - f_now_) / h;
    } else {
      trial_[i] = y_[i] - h;
      gi = (up - counted(trial_)) / (2.0 * h);
    }
    g_[i] = (gi == 0.0 || std::isnan(gi)) ? gradient_floor : gi;
  }
}

// Fletcher's switching correction of B with the step alpha d from gradient
// g_prev to g. With B d = -g_prev, c = gamma^T d > 0 and a = g_prev^T d < 0,
//   gamma^T delta > delta^T B delta  (c + alpha a > 0):  the DFP formula,
//     B + w w^T / (theta c) - theta g g^T / c,  w = (theta - 1) g + g_new,
//     theta = alpha c / (c - alpha a);
//   otherwise the BFGS formula,
//     B + gamma gamma^T / (alpha c) + g g^T / a.
// Both keep B positive definite and satisfy B_new delta = gamma; the positive
// update is applied first.
void Minimisation::correct_curvature(double alpha) {
  std::vector<double> gamma(n_);
  for (int i = 0; i < n_; ++i) gamma[i] = g_[i] - g_prev_[i];
  const double c = dot(gamma, d_);
  const double a = dot(g_prev_, d_);
  if (!(c > 0.0)) return;
  if (c + alpha * a > 0.0) {
    const double theta = alpha * c / (c - alpha * a);
    std::vector<double> w(n_);
    for (int i = 0; i < n_; ++i) w[i] = (theta - 1.0) * g_prev_[i] + g_[i];
    curvature_.rank_one(1.0 / (theta * c), std::move(w));
    curvature_.rank_one(-theta / c, g_prev_);
  } else {
    curvature_.rank_one(1.0 / (alpha * c), std::move(gamma));
    curvature_.rank_one(1.0 / a, g_prev_);
  }
}

// Searches along d from y (value f_now_), first step
// alpha = min(1, -2 expected_reduction / g^T d). Too long a step is cut back
// to the minimum of the parabola through 0, alpha/2 and alpha (at least a
// tenth of alpha/2); a successful first step is extended while f keeps
// falling and does not yet curve upwards.
Search Minimisation::line_search(double gd, double expected_reduction, double alpha_min,
                                 double& taken) {
  result_.status = qn_status::converged;
  y_start_ = y_;
  const double f_entry = f_now_;
  auto stop_on_nan = [this](double v) {
    if (!std::isnan(v)) return false;
    not_a_number_ = true;
    return true;
  };
  double alpha = std::min(1.0, -2.0 * expected_reduction / gd);
  if (budget_spent()) return Search::end_pass;
  double f_alpha = along(alpha);
  if (stop_on_nan(f_alpha)) return Search::end_pass;
  bool shrunk = false;
  while (!(f_alpha < f_now_)) {
    if (alpha < alpha_min) return Search::failed;
    if (budget_spent()) return Search::end_pass;
    const double half = alpha / 2.0;
    const double f_half = along(half);
    if (stop_on_nan(f_half)) return Search::end_pass;
    if (f_half < f_now_) {
      move_to_trial(f_half);
      taken = half;
      return half < alpha_min ? Search::failed : Search::success;
    }
    const double curvature = f_alpha + f_now_ - 2.0 * f_half;
    alpha = curvature > 0.0 ? half * std::max(0.1, 1.0 + 0.5 * (f_now_ - f_alpha) / curvature)
                            : 0.1 * half;
    shrunk = true;
    if (budget_spent()) return Search::end_pass;
    f_alpha = along(alpha);
    if (stop_on_nan(f_alpha)) return Search::end_pass;
  }
  move_to_trial(f_alpha);
  taken = alpha;
  if (shrunk) return alpha < alpha_min ? Search::failed : Search::success;

  // Extrapolation, the step growing with the gradient's norm.
  const double g_norm = std::sqrt(dot(g_, g_));
  const double growth = g_norm > 1000.0 ? 1000.0 : g_norm > 100.0 ? 100.0 : std::max(g_norm, 2.0);
  double step = alpha, f_prev = f_entry, f_mid = f_alpha;
  for (;;) {
    if (budget_spent()) return Search::end_pass;
    const double f_new = along(taken + step);
    if (stop_on_nan(f_new)) return Search::end_pass;
    if (!(f_new < f_now_)) return Search::success;
    move_to_trial(f_new);
    taken += step;
    if (f_prev + f_new >= 2.0 * f_mid && 7.0 * f_new + 5.0 * f_prev > 12.0 * f_mid)
      return Search::success;
    f_prev = f_mid;
    f_mid = f_new;
    step *= growth;
    if (step > extrapolation_max) return Search::end_pass;
    if (step < extrapolation_min) return Search::failed;
  }
}

// One pass from y; returns its status.
int Minimisation::pass() {
  result_.status = 0;
  curvature_.set_identity();
  count_ = 0;
  f_now_ = f_best_ = f_start_ = counted(y_);
  double expected_reduction = f_start_ == 0.0 ? 1.0 : std::abs(f_start_ / 2.0);
  Differences mode = Differences::forward;
  bool after_step = false;
  double alpha = 0.0, f_before = f_now_;
  for (;;) {
    gradient(mode);
    if (after_step) {
      if (count_ > o_.pass_evaluations - 1) return qn_status::budget;
      correct_curvature(alpha);
      expected_reduction = f_before - f_now_;
    }
    std::vector<double> minus_g(n_);
    for (int i = 0; i < n_; ++i) minus_g[i] = -g_[i];
    curvature_.solve(minus_g, d_);
    double q = 0.0;
    for (int i = 0; i < n_; ++i) q = std::max(q, std::abs(d_[i]) / e_[i]);
    const double alpha_min = smallest_step / std::max(q, smallest_step);
    const double gd = dot(g_, d_);
    after_step = false;
    Search outcome = Search::failed;
    if (gd >= 0.0 || std::isnan(gd)) {
      result_.status = qn_status::no_descent;
    } else {
      g_prev_ = g_;
      f_before = f_now_;
      outcome = line_search(gd, expected_reduction, alpha_min, alpha);
    }
    if (outcome == Search::success) {
      after_step = true;
    } else if (outcome == Search::end_pass) {
      if (not_a_number_) f_best_ = f0_;
      return qn_status::budget;
    } else if (mode == Differences::forward) {
      mode = Differences::central;  // a failure: retry with better derivatives
    } else {
      return result_.status;
    }
  }
}

// Eleven trials trial_i = (1 + (k - 6) u 1e-4) y_i, k = 1..11, from the
// numbers u drawn after the caller's seeding; a trial below the reference
// value is kept.
// After a refused trial the first (n + 1) k numbers (at most all of them)
// are shuffled (Fisher-Yates).
void Minimisation::polish(double reference) {
  before_polish_(rng_);
  const int m = o_.polish_numbers;
  std::vector<double> u(m);
  for (double& v : u) v = rng_.uniform();
  const int centre = (o_.polish_trials + 1) / 2;
  for (int k = 1; k <= o_.polish_trials; ++k) {
    for (int i = 0; i < n_; ++i)
      trial_[i] = (1.0 + (k - centre) * u[(k - 1 + i) % m] * o_.polish_size) * y_[i];
    const double value = evaluate(trial_);
    if (value < reference) {
      y_ = trial_;
      reference = value;
      continue;
    }
    const int shuffled = static_cast<int>(std::min<long long>(1LL * (n_ + 1) * k, m));
    for (int i = shuffled - 1; i > 0; --i) {
      const int j = std::min(i, static_cast<int>(rng_.uniform() * (i + 1)));
      std::swap(u[i], u[j]);
    }
  }
  // The next pass starts by evaluating the polished point.
}

Quasi_newton_result Minimisation::run() {
  for (int i = 0; i < n_; ++i) {
    if (std::isnan(x_[i]) || std::abs(x_[i]) > o_.start_limit) {
      report_("CG ERROR: Invalid input parameters (NaN or too large)");
      result_.status = qn_status::error;
      result_.f_best = std::nan("");
      return result_;
    }
    scale_[i] = std::abs(x_[i]) < scale_floor ? 1.0 : std::abs(x_[i]);
    y_[i] = x_[i] / scale_[i];
  }
  f0_ = f_best_ = evaluate(y_);
  result_.f_best = f0_;
  if (std::isnan(f0_) || f0_ > o_.start_limit) {
    report_("CG ERROR: Initial SSQR invalid (NaN or too large)");
    result_.status = qn_status::error;
    return result_;
  }
  y0_ = y_;
  epsilon_ = o_.accuracy;
  for (int p = 1; p <= o_.passes; ++p) {
    std::fill(e_.begin(), e_.end(), 1.0);
    not_a_number_ = false;
    int status = pass();
    result_.passes = p;
    const bool spent = count_ >= o_.pass_evaluations;
    if (p == o_.passes) {
      result_.status =
          (!spent && status == qn_status::converged) ? status : qn_status::not_converged;
      break;
    }
    const double f_end = f_now_;
    if (std::abs(1.0 - f_end / f_start_) <= o_.pass_convergence && f_end != f_start_) {
      result_.status = spent ? qn_status::not_converged : qn_status::converged;
      break;
    }
    polish(f_start_);
    epsilon_ /= 10.0;
  }

  if (f_best_ >= return_to_start * f0_) {
    y_ = y0_;
    f_best_ = f0_;
  }
  bool usable = !std::isnan(f_best_) && f_best_ <= worst_accepted * f0_;
  for (const double v : y_) usable = usable && std::abs(v) <= o_.scaled_limit;
  if (usable) {
    for (int i = 0; i < n_; ++i) x_[i] = y_[i] * scale_[i];
  } else {
    f_best_ = f0_;
    result_.status = qn_status::error;
  }
  result_.f_best = f_best_;
  return result_;
}

}  // namespace

Quasi_newton_result quasi_newton_minimise(const Objective_callback& f, std::span<double> x,
                                          Random_generator& rng, const Seeding& before_polish,
                                          const Message_callback& report,
                                          const Quasi_newton_options& options) {
  return Minimisation(f, x, rng, before_polish, report, options).run();
}

}  // namespace kelvora
