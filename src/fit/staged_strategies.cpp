// Damped least-squares strategies with the tunnel move, and the staged fit of
// several curves. The step machinery (gradient, Hessian, damped step, repairs)
// is that of minimisers.hpp; here only the loops around it differ.
//
// Both tunnel strategies keep one invariant: the reference SS (ss_prev,
// f_ref) is the SS of the accepted point. The tunnel move therefore starts
// from the accepted point with that SS, and the SS of a point it finds
// becomes the reference; a later step is kept only if it beats that point.

#include "fit/staged_strategies.hpp"

#include <algorithm>
#include <array>
#include <memory>

#include "data/parameter_layout.hpp"
#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
#include "fit/tunnel_search.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {

namespace {

// Before iteration `grace_iterations` + 1 the loops are not stopped for a
// small gain: the damping is still being tuned.
constexpr int grace_iterations = 20;

// (before - after) / before < tolerance, written without the division so
// that before = 0 (an exact fit) counts as no gain rather than as NaN.
bool gain_below(double before, double after, double tolerance) {
  return before - after < tolerance * before;
}

// The tunnel move from the accepted point, whose SS is `reference`. On
// improvement the values, the accepted values and opt.ss hold the point
// found; otherwise the accepted point and `reference` are back in place.
// The curves hold a trial's residuals either way.
Tunnel_result tunnel_from_accepted(Curve_table& curves, Fit_parameters& params,
                                   Optimization_data& opt, double reference,
                                   const Fit_random& random, Strategy_summary& summary) {
  restore_accepted(params);
  opt.ss = reference;
  ++summary.tunnel_moves;
  return tunnel_search_kelvora3(curves, params, opt, random.for_tunnel());
}

// The record of a one-curve analysis of curve c: the same ligands, sites,
// values and constant flags, with curve c's correction factor as C1 and the
// cooperativity factors in the slots a one-curve vector has for them.
Fit_parameters one_curve_record(const Fit_parameters& params, int c, int n_points) {
  Fit_parameters one = params;
  one.n_curves = 1;
  one.n_points = n_points;
  one.n_params = get_total_npar(one);
  auto copy_slot = [&](int to, int from) {
    one.name[to] = params.name[from];
    one.value[to] = one.accepted[to] = params.value[from];
    one.is_constant[to] = params.is_constant[from];
  };
  copy_slot(c_slot(one, 1), c_slot(params, c));
  one.name[c_slot(one, 1)] = "C1";
  for (int s = 1; s <= params.n_sites; ++s) copy_slot(b_slot(one, s), b_slot(params, s));
  for (int p = one.n_params; p < max_params; ++p) one.is_constant[p] = true;
  return one;
}

// The slot of the full record that slot p of curve c's one-curve record
// stands for.
int full_record_slot(const Fit_parameters& params, const Fit_parameters& one, int p, int c) {
  if (p == c_slot(one, 1)) return c_slot(params, c);
  for (int s = 1; s <= params.n_sites; ++s)
    if (p == b_slot(one, s)) return b_slot(params, s);
  return p;  // K, R and N sit in the same slots
}

}  // namespace

Strategy_summary optimize_fit_with_tunnel(Curve_table& curves, Fit_parameters& params,
                                          Optimization_data& opt, const Fit_random& random) {
  using Stop = Strategy_summary::Stop;
  constexpr int max_iterations = 500;
  constexpr double gain_tolerance = 1e-6;
  Strategy_summary summary;
  summary.stop = Stop::iteration_limit;
  const long long evaluations_at_entry = opt.n_evaluations;

  for (int p = 0; p < params.n_params; ++p)
    if (!(params.value[p] < 0.0)) params.accepted[p] = params.value[p];
  opt.lm_mode = 0;
  opt.lambda = 0.0;
  evaluate_model(curves, params, opt);
  update_parameters(params, opt);  // the point as repaired by the objective
  opt.ss_prev = opt.ss;
  bool at_accepted = true;  // whether opt.ss and the residuals belong to it

  // Damping beyond its limit: the local steps are too short to matter, so
  // the tunnel move decides. True when the loop goes on.
  auto tunnel_beyond_damping_limit = [&] {
    if (opt.lambda <= damping_limit) return true;
    const double before = opt.ss_prev;
    const Tunnel_result moved = tunnel_from_accepted(curves, params, opt, before, random, summary);
    at_accepted = false;
    if (!moved.improved) {
      summary.stop = Stop::damping_exceeded;
      return false;
    }
    opt.lambda = 0.0;
    opt.ss_prev = opt.ss;
    if (opt.lm_mode > grace_iterations && gain_below(before, opt.ss, gain_tolerance)) {
      summary.stop = Stop::small_gain;
      return false;
    }
    return true;
  };

  while (opt.lm_mode < max_iterations) {
    ++opt.lm_mode;
    summary.iterations = opt.lm_mode;
    restore_accepted(params);
    calculate_gradient_hessian(curves, params, opt);
    if (!levenberg_marquardt_step(params, opt)) {
      raise_damping_after_failure(opt);
      if (opt.lambda > damping_limit) {
        if (tunnel_beyond_damping_limit()) continue;
        break;
      }
    }
    // Also after a repaired or refused step: a repaired point that lowers
    // SS is kept.
    evaluate_model(curves, params, opt);
    if (opt.ss < opt.ss_prev) {
      update_parameters(params, opt);
      at_accepted = true;
      if (opt.lm_mode > grace_iterations && gain_below(opt.ss_prev, opt.ss, gain_tolerance)) {
        summary.stop = Stop::small_gain;
        break;
      }
      opt.ss_prev = opt.ss;
      if (opt.lambda > 0.0) opt.lambda /= 10.0;
    } else {
      at_accepted = false;
      raise_damping_after_failure(opt);
      restore_accepted(params);
      // Rejected steps alone would raise lambda without end and repeat
      // ever shorter steps from the same point until the iteration limit.
      if (!tunnel_beyond_damping_limit()) break;
    }
  }
  finish_at_accepted(curves, params, opt, at_accepted);
  summary.evaluations = opt.n_evaluations - evaluations_at_entry;
  return summary;
}

Strategy_summary optimize_with_adaptive_tunnel(Curve_table& curves, Fit_parameters& params,
                                               Optimization_data& opt, const Fit_random& random) {
  using Stop = Strategy_summary::Stop;
  constexpr int max_iterations = 300;
  constexpr double adaptive_damping_limit = 1e8;
  constexpr double stall_tolerance = 1e-8;
  constexpr double gain_tolerance = 1e-6;
  constexpr int stalls_before_tunnel = 10;
  Strategy_summary summary;
  summary.stop = Stop::iteration_limit;
  const long long evaluations_at_entry = opt.n_evaluations;

  // Gentle damping: doubled after a loss, halved after a gain; from 0 it
  // starts at a tenth of the last determinant (first_damping when none is
  // known), as a rejected undamped step would be repeated unchanged.
  auto raise_damping = [&opt] {
    if (opt.lambda != 0.0)
      opt.lambda *= 2.0;
    else
      opt.lambda = opt.lambda_start > 0.0 ? 0.1 * opt.lambda_start : first_damping;
  };

  opt.lambda = 0.0;
  evaluate_model(curves, params, opt);
  update_parameters(params, opt);
  double f_ref = opt.ss;  // SS of the accepted point
  bool at_accepted = true;
  int stalls = 0;
  int t = 0;
  // Tunnel moves that found nothing since the accepted point last moved.
  int fruitless_here = 0;

  // A tunnel move from the accepted point; on improvement its point and SS
  // become the reference (and, when `reset_damping`, lambda restarts at 0).
  // False when the move improved by less than the gain tolerance after the
  // grace iterations, which ends the loop.
  auto tunnel = [&](bool reset_damping, bool& improved) {
    const double before = f_ref;
    improved = tunnel_from_accepted(curves, params, opt, f_ref, random, summary).improved;
    at_accepted = false;
    if (!improved) {
      ++fruitless_here;
      return true;
    }
    fruitless_here = 0;
    if (reset_damping) opt.lambda = 0.0;
    f_ref = opt.ss;
    if (t > grace_iterations && gain_below(before, f_ref, gain_tolerance)) {
      summary.stop = Stop::small_gain;
      return false;
    }
    return true;
  };

  bool improved = false;
  for (t = 1; t <= max_iterations; ++t) {
    summary.iterations = t;
    restore_accepted(params);
    calculate_gradient_hessian(curves, params, opt);
    if (!levenberg_marquardt_step(params, opt)) {
      raise_damping();
      if (opt.lambda > adaptive_damping_limit) {
        if (!tunnel(true, improved)) break;
        if (!improved) {
          // Neither ever shorter steps nor the random search get anywhere.
          summary.stop = Stop::damping_exceeded;
          break;
        }
        stalls = 0;
      }
      continue;
    }
    evaluate_model(curves, params, opt);
    if (opt.ss < f_ref) {
      update_parameters(params, opt);
      at_accepted = true;
      fruitless_here = 0;
      const bool stalled = gain_below(f_ref, opt.ss, stall_tolerance);
      const bool small = gain_below(f_ref, opt.ss, gain_tolerance);
      opt.lambda = std::max(0.5 * opt.lambda, 0.0);
      f_ref = opt.ss;
      if (stalled) {
        ++stalls;
        if (t > grace_iterations) {
          summary.stop = Stop::small_gain;
          break;
        }
        if (stalls >= stalls_before_tunnel) {
          stalls = 0;
          if (!tunnel(true, improved)) break;
        }
      } else {
        stalls = 0;
        if (t > grace_iterations && small) {
          summary.stop = Stop::small_gain;
          break;
        }
      }
      continue;
    }
    // No gain.
    at_accepted = false;
    ++stalls;
    raise_damping();
    if (!tunnel(false, improved)) break;
    if (!improved && (t > grace_iterations || fruitless_here >= 2)) {
      // A converged point: the steps are rejected and the tunnel move finds
      // nothing; going on would spend a tunnel move per iteration. Before
      // the grace iterations end, the sign is a second fruitless search
      // from the same accepted point: one more search of the same
      // distribution is unlikely to find what two missed, and the
      // refinements that follow in a fit start their own damping here.
      summary.stop = Stop::stalled;
      break;
    }
    if (stalls >= stalls_before_tunnel) {
      stalls = 0;
      if (!tunnel(true, improved)) break;
    }
  }
  finish_at_accepted(curves, params, opt, at_accepted);
  summary.evaluations = opt.n_evaluations - evaluations_at_entry;
  return summary;
}

Strategy_summary fit_curves_independently(Curve_table& curves, Fit_parameters& params,
                                          Optimization_data& opt, double ss_ref) {
  Strategy_summary summary;
  const long long evaluations_at_entry = opt.n_evaluations;
  long long private_evaluations = 0;
  std::array<double, max_params> sum{};
  std::array<int, max_params> count{};

  // The one-curve problem: curve c copied into the first slot of a table
  // whose other slots stay empty, and the record of a one-curve analysis
  // (one_curve_record) for it.
  auto single = std::make_unique<Curve_table>();
  for (int c = 1; c <= params.n_curves; ++c) {
    (*single)[0] = curves[c - 1];
    Fit_parameters one = one_curve_record(params, c, curves[c - 1].n_points);
    Optimization_data one_opt = opt;
    setup_variable_map(one, one_opt);
    one_opt.n_evaluations = 0;
    evaluate_model(*single, one, one_opt);  // the simplex starts from this SS
    nelder_mead_simplex(*single, one, one_opt, 250);
    optimize_fit_simple(*single, one, one_opt, 200);
    private_evaluations += one_opt.n_evaluations;
    // Back to the slots of the full record: the shared K, R, N and B are
    // averaged over the curves, C<c> is curve c's own.
    for (int p = 0; p < one.n_params; ++p) {
      if (one.is_constant[p]) continue;
      const int full = full_record_slot(params, one, p, c);
      sum[full] += one.value[p];
      ++count[full];
    }
  }
  for (int p = 0; p < max_params; ++p)
    if (count[p] > 0) params.value[p] = params.accepted[p] = sum[p] / count[p];

  evaluate_model(curves, params, opt);
  update_parameters(params, opt);
  // (ss_ref - SS) / ss_ref < 0.05: the averaged point gains less than 5 %.
  if (gain_below(ss_ref, opt.ss, 0.05)) nelder_mead_simplex(curves, params, opt, 200);
  summary.evaluations = opt.n_evaluations - evaluations_at_entry + private_evaluations;
  return summary;
}

Strategy_summary optimize_multidataset_staged(Curve_table& curves, Fit_parameters& params,
                                              Optimization_data& opt, const Fit_random& random) {
  const long long evaluations_at_entry = opt.n_evaluations;
  opt.lambda = 0.0;
  for (int p = 0; p < params.n_params; ++p) params.accepted[p] = params.backup[p] = params.value[p];
  evaluate_model(curves, params, opt);
  opt.ss_prev = opt.ss;
  const long long before_alone = opt.n_evaluations;
  const Strategy_summary alone = fit_curves_independently(curves, params, opt, opt.ss);
  // The evaluations of the one-curve copies, which opt does not count.
  const long long private_evaluations = alone.evaluations - (opt.n_evaluations - before_alone);

  // The objective keeps the sites in order (enforce_affinity_ordering) at
  // every evaluation, so each stage below starts from an ordered point.
  evaluate_model(curves, params, opt);
  update_parameters(params, opt);
  optimize_fit_simple(curves, params, opt, 200);
  evaluate_model(curves, params, opt);
  Strategy_summary summary = optimize_fit_with_tunnel(curves, params, opt, random);
  optimize_fit_simple(curves, params, opt, 200);
  evaluate_model(curves, params, opt);

  summary.stop = Strategy_summary::Stop::completed;
  summary.evaluations = opt.n_evaluations - evaluations_at_entry + private_evaluations;
  return summary;
}

}  // namespace kelvora
