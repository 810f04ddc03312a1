#include "competition/competition_analysis.hpp"

#include <algorithm>
#include <cmath>

#include "data/parameter_layout.hpp"
#include "util/order_statistics.hpp"

namespace kelvora {

namespace {

constexpr double tiny = 1e-20;
constexpr double min_conc = 1e-30;

// Specific binding of the labelled ligand: bound minus the nonspecific part,
// which is proportional to the free labelled ligand Hot - bound (floored).
double specific_binding(double bound, double hot, double ns) {
  return bound - ns * std::max(tiny, hot - bound);
}

// Percent of the specific binding at the first point, clamped to 0..100; 0
// throughout when there is no specific binding to refer to. The ratio is taken
// first, so that the first point itself is exactly 100 %.
double percent_binding(double specific, double b0_spec) {
  if (!(b0_spec > tiny)) return 0.0;
  return std::clamp(100.0 * (specific / b0_spec), 0.0, 100.0);
}

// The point (0-based) whose percent binding is closest to 50 among those with
// a positive concentration; the earlier point wins a tie; -1 when none.
int closest_to_half(const std::vector<double>& conc, const std::vector<double>& percent) {
  int closest = -1;
  double best = 1e10;
  for (std::size_t i = 0; i < conc.size(); ++i) {
    const double distance = std::abs(percent[i] - 50.0);
    if (distance < best && conc[i] > min_conc) {
      best = distance;
      closest = static_cast<int>(i);
    }
  }
  return closest;
}

// The concentration where percent binding crosses 50 between the points
// (ca, pa) and (cb, pb), interpolated from a towards b: in log concentration
//   ln IC50 = ln ca + (ln cb - ln ca) (50 - pa) / (pb - pa)
// when both concentrations are positive, otherwise linearly (only when
// `linear_allowed`). False when 50 is not between pa and pb, or they agree.
bool crossing(double ca, double pa, double cb, double pb, bool linear_allowed, double& ic50) {
  const bool between = (pa >= 50.0 && 50.0 >= pb) || (pa <= 50.0 && 50.0 <= pb);
  if (!between || !(std::abs(pb - pa) > 1e-10)) return false;
  const double fraction = (50.0 - pa) / (pb - pa);
  if (ca > 0.0 && cb > 0.0) {
    ic50 = std::exp(std::log(ca) + (std::log(cb) - std::log(ca)) * fraction);
    return true;
  }
  if (!linear_allowed) return false;
  ic50 = ca + (cb - ca) * fraction;
  return true;
}

// Weighted least squares of y on x from the raw sums
//   D = Sxx Sw - Sx^2,  b = (Sxy Sw - Sx Sy) / D,  a = (Sy - b Sx) / Sw,
// with nH = -b and se(nH) = sqrt(SSres / (m - 2)) / sqrt(D) * sqrt(Sw).
Hill_fit fit_hill_line(const std::vector<double>& x, const std::vector<double>& y,
                       const std::vector<double>& w) {
  Hill_fit hill;
  const int m = static_cast<int>(x.size());
  hill.n_points = m;
  if (m < 3) return hill;
  double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  for (int i = 0; i < m; ++i) {
    sw += w[i];
    sx += w[i] * x[i];
    sy += w[i] * y[i];
    sxx += w[i] * x[i] * x[i];
    sxy += w[i] * x[i] * y[i];
  }
  const double d = sxx * sw - sx * sx;
  if (d <= tiny) {
    hill.status = Hill_status::degenerate;
    return hill;
  }
  const double b = (sxy * sw - sx * sy) / d;
  const double a = (sy - b * sx) / sw;
  const double mean_y = sy / sw;
  double ss_res = 0.0, ss_tot = 0.0;
  for (int i = 0; i < m; ++i) {
    ss_res += w[i] * (y[i] - (b * x[i] + a)) * (y[i] - (b * x[i] + a));
    ss_tot += w[i] * (y[i] - mean_y) * (y[i] - mean_y);
  }
  hill.status = Hill_status::fitted;
  hill.slope = -b;
  hill.intercept = a;
  hill.r2 = ss_tot > tiny ? 1.0 - ss_res / ss_tot : 0.0;
  hill.slope_se = std::sqrt(ss_res / (m - 2)) / std::sqrt(d) * std::sqrt(sw);
  return hill;
}

// The crossing of 50 % next to point k (0-based): towards the following point
// first, then from the preceding one.
bool crossing_next_to(const std::vector<double>& conc, const std::vector<double>& percent, int k,
                      bool linear_allowed, double& ic50) {
  const int n = static_cast<int>(conc.size());
  return (k < n - 1 &&
          crossing(conc[k], percent[k], conc[k + 1], percent[k + 1], linear_allowed, ic50)) ||
         (k > 0 &&
          crossing(conc[k - 1], percent[k - 1], conc[k], percent[k], linear_allowed, ic50));
}

// IC50 of the fitted curve: interpolated across 50 % next to the closest
// point k (unless k is the last point), otherwise the closest point's
// concentration. The percentages here are neither clamped nor guarded, so
// that the line runs through the fitted values.
void point_estimate(const std::vector<double>& conc, const std::vector<double>& spec_pred,
                    double b0_spec, int k, Competition_result& result) {
  result.ic50 = k >= 0 ? conc[k] : 0.0;
  result.ic50_interpolated = false;
  const int n = static_cast<int>(conc.size());
  if (k < 0 || k == n - 1) return;
  std::vector<double> percent(n);
  for (int i = 0; i < n; ++i) percent[i] = 100.0 * (spec_pred[i] / b0_spec);
  double ic50 = 0.0;
  if (crossing_next_to(conc, percent, k, true, ic50)) {
    result.ic50 = ic50;
    result.ic50_interpolated = true;
  }
}

}  // namespace

Bootstrap_summary summarise_replicates(std::vector<double>& values) {
  // The standard library's sort serves where a partition-exchange sort is
  // called for: only the ascending order matters.
  std::sort(values.begin(), values.end());
  const int n = static_cast<int>(values.size());
  const int lower_rank = std::max(static_cast<int>(0.025 * n), 1);
  const int upper_rank = std::min(static_cast<int>(0.975 * n), n);
  return {median_of_sorted(values.data(), n), values[lower_rank - 1], values[upper_rank - 1]};
}

Competition_result analyse_competition_curve(const Curve_data& curve, const Fit_parameters& params,
                                             int fit_number, Random_generator& rng,
                                             int n_replicates) {
  Competition_result result;
  const int n = curve.n_points;
  const int hot_ligand = curve.labelled_ligand;
  const int cold_ligand = curve.varying_ligand;
  const int n_sites = params.n_sites;
  result.fit_number = fit_number;
  result.file_name = curve.file_name;
  result.hot_ligand = hot_ligand;
  result.cold_ligand = cold_ligand;
  result.n_points = n;
  result.n_sites = n_sites;
  result.n_replicates = n_replicates;

  // Apparent Kd over the sites, weighted by capacity: sum Kd(s) R(s) / sum R(s);
  // with one site simply that site's Kd, whatever its capacity.
  double capacity = 0.0, kd_hot_sum = 0.0, kd_cold_sum = 0.0, kd_hot_first = 0.0;
  for (int s = 1; s <= n_sites; ++s) {
    const double r = params.value[r_slot(params, s)];
    const double kd_hot = 1.0 / params.value[k_slot(params, hot_ligand, s)];
    const double kd_cold = 1.0 / params.value[k_slot(params, cold_ligand, s)];
    if (s == 1) kd_hot_first = kd_hot, result.kd_cold_first = kd_cold;
    capacity += r;
    kd_hot_sum += kd_hot * r;
    kd_cold_sum += kd_cold * r;
  }
  result.kd_hot_app = n_sites == 1 ? kd_hot_first : kd_hot_sum / capacity;
  result.kd_cold_app = n_sites == 1 ? result.kd_cold_first : kd_cold_sum / capacity;

  // The competitor's nonspecific ratio, kept from exceeding what the first
  // point can carry; B0spec refers every percentage to the first point.
  const double hot = curve.total_of(0, hot_ligand);
  const double bound_first = curve.bound[0];
  const double free_first = std::max(tiny, hot - bound_first);
  double ns = params.value[n_slot(params, cold_ligand)];
  if (ns < 0.0) ns = 0.0;
  if (ns * free_first > bound_first) ns = 0.0;
  result.ns = ns;
  result.hot = hot;
  result.b0_spec = bound_first - free_first * ns;

  std::vector<double> conc(n), spec_pred(n), percent_pred(n), resid(n);
  std::vector<double> hill_x, hill_y, hill_w;
  result.rows.resize(n);
  for (int i = 0; i < n; ++i) {
    Inhibition_row& row = result.rows[i];
    row.conc = conc[i] = curve.total_of(i, cold_ligand);
    row.log_conc = row.conc > min_conc ? std::log10(row.conc) : -30.0;
    row.bound_obs = curve.bound[i];
    row.bound_pred = curve.predicted[i];
    resid[i] = row.bound_obs - row.bound_pred;
    row.spec_obs = specific_binding(row.bound_obs, hot, ns);
    row.spec_pred = spec_pred[i] = specific_binding(row.bound_pred, hot, ns);
    row.percent_obs = percent_binding(row.spec_obs, result.b0_spec);
    row.percent_pred = percent_pred[i] = percent_binding(row.spec_pred, result.b0_spec);
    row.inhibition_obs = 100.0 - row.percent_obs;
    row.inhibition_pred = 100.0 - row.percent_pred;
    const double w = curve.weight[i];
    row.std_err = w > tiny ? 1.0 / std::sqrt(w) : 0.0;
    // Hill (logit) points: y = log10(B / (100 - B)) over 20 < B < 80.
    if (row.percent_pred > 20.0 && row.percent_pred < 80.0 && row.conc > min_conc) {
      hill_x.push_back(row.log_conc);
      hill_y.push_back(std::log10(row.percent_pred / (100.0 - row.percent_pred)));
      hill_w.push_back(w > tiny ? w : 1.0);
    }
  }
  result.hill = fit_hill_line(hill_x, hill_y, hill_w);
  point_estimate(conc, spec_pred, result.b0_spec, closest_to_half(conc, percent_pred), result);

  // Residual bootstrap without refit: y*(i) = predicted(i) + resid(j), j drawn
  // uniformly; each replicate's IC50 is interpolated in log concentration
  // next to its closest point, or falls back to the point estimate.
  std::vector<double> ic50_samples(n_replicates), ki_samples(n_replicates), percent(n);
  const double cheng_prusoff = 1.0 + hot / result.kd_hot_app;
  for (int r = 0; r < n_replicates; ++r) {
    for (int i = 0; i < n; ++i) {
      const int j = std::min(static_cast<int>(n * rng.uniform()), n - 1);
      const double y = curve.predicted[i] + resid[j];
      percent[i] = percent_binding(specific_binding(y, hot, ns), result.b0_spec);
    }
    double ic50 = result.ic50;
    const int k = closest_to_half(conc, percent);
    double interpolated = 0.0;
    if (k >= 0 && crossing_next_to(conc, percent, k, false, interpolated)) ic50 = interpolated;
    ic50_samples[r] = ic50;
    if (ic50 > 0.0 && result.kd_hot_app > 0.0) {
      ki_samples[r] = ic50 / cheng_prusoff;
      ++result.n_successful;
    } else {
      ki_samples[r] = 0.0;
    }
  }
  result.ic50_boot = summarise_replicates(ic50_samples);
  result.ki_boot = summarise_replicates(ki_samples);

  result.has_ki = result.ic50 > 0.0 && result.kd_hot_app > 0.0;
  if (result.has_ki) result.ki = result.ic50 / cheng_prusoff;
  return result;
}

void competition_ic50_analysis_bootstrap(std::ostream& out, const Curve_table& curves,
                                         const Fit_parameters& params, Fit_results& results,
                                         Random_generator& rng, int B) {
  results.n_blocks = 0;
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    if (curve.is_saturation_curve()) continue;
    ++results.n_blocks;
    const auto word = static_cast<std::uint32_t>(1000 * (c + 1) + 12345);
    rng.seed_fixed({word, word, word, word});
    write_competition_block(out,
                            analyse_competition_curve(curve, params, results.n_blocks, rng, B));
  }
}

}  // namespace kelvora
