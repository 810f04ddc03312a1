#include "competition/competition_analysis.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <utility>

#include <boost/math/tools/toms748_solve.hpp>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"
#include "stats/fit_statistics.hpp"
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

// Percent of the specific binding without competitor, clamped to 0..100; 0
// throughout when there is no specific binding to refer to.
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

// True when 50 lies between pa and pb (inclusive) and they differ.
bool encloses_half(double pa, double pb) {
  const bool between = (pa >= 50.0 && 50.0 >= pb) || (pa <= 50.0 && 50.0 <= pb);
  return between && std::abs(pb - pa) > 1e-10;
}

// The pair of neighbouring points next to point k (0-based) that encloses
// 50 %: k with the following point first, then the preceding one with k;
// with `positive_only`, a pair with a concentration that is not positive does
// not count. Returns the index of the pair's first point, or -1.
int enclosing_pair(const std::vector<double>& conc, const std::vector<double>& percent, int k,
                   bool positive_only) {
  const int n = static_cast<int>(percent.size());
  auto encloses = [&](int a) {
    return encloses_half(percent[a], percent[a + 1]) &&
           (!positive_only || (conc[a] > 0.0 && conc[a + 1] > 0.0));
  };
  if (k < 0) return -1;
  if (k < n - 1 && encloses(k)) return k;
  if (k > 0 && encloses(k - 1)) return k - 1;
  return -1;
}

// The log-concentration line through the points a and a + 1 at 50 %:
//   ln c = ln ca + (ln cb - ln ca) (50 - pa) / (pb - pa),
// also outside the pair. NaN when the percentages agree or a concentration
// is not positive.
double log_line_at_half(const std::vector<double>& conc, const std::vector<double>& percent,
                        int a) {
  const double ca = conc[a], cb = conc[a + 1], pa = percent[a], pb = percent[a + 1];
  if (!(std::abs(pb - pa) > 1e-10) || !(ca > 0.0 && cb > 0.0))
    return std::numeric_limits<double>::quiet_NaN();
  return std::log(ca) + (std::log(cb) - std::log(ca)) * (50.0 - pa) / (pb - pa);
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

// The fitted model of one competition curve at any competitor concentration,
// the other ligands' totals as at the curve's first point.
class Fitted_curve {
 public:
  Fitted_curve(const Curve_data& curve, const Fit_parameters& params, double correction, double ns)
      : curve_(curve),
        params_(params),
        constants_(binding_constants(params)),
        correction_(correction),
        ns_(ns),
        competition_(is_competition_assay(curve, params)),
        hot_(curve.total_of(0, curve.labelled_ligand)) {}

  Point_binding at(double competitor) const {
    std::array<double, max_ligands> total = curve_.total[0];
    total[curve_.varying_ligand - 1] = competitor;
    Point_binding point;
    calculate_binding_unified(curve_, params_, total, constants_, correction_, competition_, point);
    return point;
  }

  double specific(double competitor) const {
    return specific_binding(at(competitor).bound[curve_.labelled_ligand - 1], hot_, ns_);
  }

  // The labelled ligand's binding to each site at the curve's first point, in
  // percent of its binding to all sites.
  std::vector<double> site_shares() const {
    const Point_binding point = at(curve_.total_of(0, curve_.varying_ligand));
    std::vector<double> share(params_.n_sites);
    double sum = 0.0;
    for (int s = 1; s <= params_.n_sites; ++s) {
      share[s - 1] = bound_at_site(params_.n_ligands, constants_, correction_, point,
                                   curve_.labelled_ligand, s);
      sum += share[s - 1];
    }
    for (double& v : share) v = sum > 0.0 ? 100.0 * v / sum : 0.0;
    return share;
  }

 private:
  const Curve_data& curve_;
  const Fit_parameters& params_;
  Binding_constants constants_;
  double correction_;
  double ns_;
  bool competition_;
  double hot_;
};

// The concentration where the fitted curve's specific binding is `level` %
// of b0, between the concentrations ca and cb whose fitted values enclose it.
// The search runs on ln(concentration) (TOMS 748: Alefeld, Potra, Shi, ACM
// Trans. Math. Softw. 21, 327-344, 1995). A bracket that starts at zero
// competitor, or that does not enclose the level yet, is widened by decades
// on that side: downwards from cb when ca is 0, upwards when cb is
// `unbounded`.
constexpr double unbounded = -1.0;
bool solve_binding_level(const Fitted_curve& fitted, double b0, double level, double ca, double cb,
                         double& conc) {
  auto excess = [&](double log_conc) {
    return 100.0 * fitted.specific(std::exp(log_conc)) / b0 - level;
  };
  // Moves `end` a decade at a time away from `fixed` (at most `decades`
  // times) until the two enclose the level.
  auto widen = [&](double& end, double fixed, bool upwards, int decades) {
    for (int d = 0; d < decades && excess(std::log(end)) * excess(std::log(fixed)) > 0.0; ++d)
      end = upwards ? end * 10.0 : end / 10.0;
  };
  double lo = ca, hi = cb;
  if (hi == unbounded) {
    hi = lo;
    widen(hi, lo, true, 12);
  }
  if (lo > hi) std::swap(lo, hi);
  if (!(hi > 0.0)) return false;
  if (!(lo > 0.0)) {
    lo = hi;
    widen(lo, hi, false, 40);
  }
  double a = std::log(lo), b = std::log(hi);
  double fa = excess(a), fb = excess(b);
  if (fa == 0.0 || fb == 0.0) {
    conc = std::exp(fa == 0.0 ? a : b);
    return true;
  }
  if (!(fa * fb < 0.0)) return false;
  std::uintmax_t iterations = 200;
  const auto root = boost::math::tools::toms748_solve(
      excess, a, b, fa, fb, boost::math::tools::eps_tolerance<double>(48), iterations);
  conc = std::exp(0.5 * (root.first + root.second));
  return std::isfinite(conc);
}

// The Hill slope of the fitted curve: the logit line through 21 points of
// the fitted specific binding, evenly spaced in log concentration from its
// 80 % to its 20 % crossing (found outwards from the IC50). The measured
// concentrations would leave two or three points in that range at the usual
// half-decade spacing. False when the curve does not cross both levels.
bool fitted_hill_slope(const Fitted_curve& fitted, double b0, double ic50, Hill_fit& hill) {
  double c80 = 0.0, c20 = 0.0;
  if (!solve_binding_level(fitted, b0, 80.0, 0.0, ic50, c80) ||
      !solve_binding_level(fitted, b0, 20.0, ic50, unbounded, c20))
    return false;
  constexpr int samples = 21;
  std::vector<double> x(samples), y(samples), w(samples, 1.0);
  for (int i = 0; i < samples; ++i) {
    x[i] = std::log10(c80) + (std::log10(c20) - std::log10(c80)) * i / (samples - 1);
    const double percent = 100.0 * fitted.specific(std::pow(10.0, x[i])) / b0;
    if (!(percent > 0.0 && percent < 100.0)) return false;
    y[i] = std::log10(percent / (100.0 - percent));
  }
  hill = fit_hill_line(x, y, w);
  return hill.status == Hill_status::fitted;
}

// IC50 of the fitted curve: solved on the model between the closest point k
// and the neighbour on the other side of 50 % (the last point too has its
// preceding neighbour), otherwise the closest point's concentration. The
// percentages that choose the pair are neither clamped nor guarded, so that
// they follow the model.
void point_estimate(const Fitted_curve& fitted, const std::vector<double>& conc,
                    const std::vector<double>& spec_pred, double b0_spec, int k,
                    Competition_result& result) {
  result.ic50 = k >= 0 ? conc[k] : 0.0;
  result.ic50_solved = false;
  const int n = static_cast<int>(conc.size());
  if (k < 0 || !(b0_spec > tiny)) return;
  std::vector<double> percent(n);
  for (int i = 0; i < n; ++i) percent[i] = 100.0 * (spec_pred[i] / b0_spec);
  const int pair = enclosing_pair(conc, percent, k, false);
  double ic50 = 0.0;
  if (pair >= 0 && solve_binding_level(fitted, b0_spec, 50.0, conc[pair], conc[pair + 1], ic50)) {
    result.ic50 = ic50;
    result.ic50_solved = true;
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

Competition_result analyse_competition_curve(const Curve_table& curves, int c,
                                             const Fit_parameters& params,
                                             const Curve_prediction& prediction, int fit_number,
                                             Random_generator& rng, int n_replicates) {
  const Curve_data& curve = curves[c];
  Competition_result result;
  const int n = curve.n_points;
  const int hot_ligand = curve.labelled_ligand;
  const int cold_ligand = curve.varying_ligand;
  const int n_sites = params.n_sites;
  result.fit_number = fit_number;
  result.file_name = curve.file_name;
  result.curve = c + 1;
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
    result.sites.push_back({kd_cold, 0.0});
  }
  result.kd_hot_app = n_sites == 1 ? kd_hot_first : kd_hot_sum / capacity;
  result.kd_cold_app = n_sites == 1 ? result.kd_cold_first : kd_cold_sum / capacity;

  // The measured bound is the labelled ligand's, so its nonspecific part is
  // that of the labelled ligand: C N(hot) times the free labelled ligand.
  const double correction = params.value[c_slot(params, c + 1)];
  const double ns = std::max(0.0, curve_nonspecific_ratio(params, c + 1, hot_ligand));
  const double hot = curve.total_of(0, hot_ligand);
  result.ns = ns;
  result.hot = hot;
  const Fitted_curve fitted(curve, params, correction, ns);
  // 100 % is the fitted top: specific binding without competitor.
  result.b0_spec = fitted.specific(0.0);
  if (n_sites > 1) {
    const std::vector<double> shares = fitted.site_shares();
    for (int s = 0; s < n_sites; ++s) result.sites[s].hot_share = shares[s];
  }

  std::vector<double> conc(n), spec_pred(n), percent_pred(n), resid(n);
  std::vector<double> hill_x, hill_y, hill_w;
  result.rows.resize(n);
  for (int i = 0; i < n; ++i) {
    Inhibition_row& row = result.rows[i];
    row.conc = conc[i] = curve.total_of(i, cold_ligand);
    row.log_conc = row.conc > min_conc ? std::log10(row.conc) : -30.0;
    row.bound_obs = curve.bound[i];
    row.bound_pred = prediction.predicted[i];
    resid[i] = row.bound_obs - row.bound_pred;
    row.spec_obs = specific_binding(row.bound_obs, hot, ns);
    row.spec_pred = spec_pred[i] = specific_binding(row.bound_pred, hot, ns);
    row.percent_obs = percent_binding(row.spec_obs, result.b0_spec);
    row.percent_pred = percent_pred[i] = percent_binding(row.spec_pred, result.b0_spec);
    row.inhibition_obs = 100.0 - row.percent_obs;
    row.inhibition_pred = 100.0 - row.percent_pred;
    const double w = prediction.weight[i];
    row.std_err = w > tiny ? 1.0 / std::sqrt(w) : 0.0;
    // Hill (logit) points of specific binding: y = log10(B / (100 - B)) over
    // 20 < B < 80.
    if (row.percent_pred > 20.0 && row.percent_pred < 80.0 && row.conc > min_conc) {
      hill_x.push_back(row.log_conc);
      hill_y.push_back(std::log10(row.percent_pred / (100.0 - row.percent_pred)));
      hill_w.push_back(w > tiny ? w : 1.0);
    }
  }
  point_estimate(fitted, conc, spec_pred, result.b0_spec, closest_to_half(conc, percent_pred),
                 result);
  // The Hill slope of the fitted curve; from the fitted values at the measured
  // points when the curve does not span 20-80 % around a solved IC50.
  if (!result.ic50_solved || !fitted_hill_slope(fitted, result.b0_spec, result.ic50, result.hill))
    result.hill = fit_hill_line(hill_x, hill_y, hill_w);

  // Residual bootstrap without refit: y*(i) = predicted(i) + resid(j), j drawn
  // uniformly. A replicate's IC50 is interpolated in log concentration
  // between the pair of points next to its closest point. A straight line
  // between two measured points misses the curve's own crossing by an amount
  // set by the spacing of the points, not by the data's noise, so the
  // replicate is referred to the same line through the fitted values of that
  // pair:  ln IC50* = ln IC50 + L(y*) - L(predicted),  L the line's log
  // concentration at 50 %. The replicates then scatter about the fitted
  // curve's IC50 as far as the noise moves the crossing. A replicate without
  // a crossing keeps the point estimate.
  std::vector<double> ic50_samples(n_replicates), ki_samples(n_replicates), percent(n);
  const double cheng_prusoff = 1.0 + hot / result.kd_hot_app;
  for (int r = 0; r < n_replicates; ++r) {
    for (int i = 0; i < n; ++i) {
      const int j = std::min(static_cast<int>(n * rng.uniform()), n - 1);
      const double y = prediction.predicted[i] + resid[j];
      percent[i] = percent_binding(specific_binding(y, hot, ns), result.b0_spec);
    }
    double ic50 = result.ic50;
    const int pair = enclosing_pair(conc, percent, closest_to_half(conc, percent), true);
    if (pair >= 0) {
      const double replicate = log_line_at_half(conc, percent, pair);
      const double fitted_line = log_line_at_half(conc, percent_pred, pair);
      ic50 = std::isfinite(fitted_line) && result.ic50 > 0.0
                 ? result.ic50 * std::exp(replicate - fitted_line)
                 : std::exp(replicate);
    }
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

Random_generator::Seed competition_curve_seed(int c) {
  const auto word = static_cast<std::uint32_t>(1000 * (c + 1) + 12345);
  return {word, word, word, word};
}

void competition_ic50_analysis_bootstrap(std::ostream& out, const Curve_table& curves,
                                         const Fit_parameters& params,
                                         const std::vector<Curve_prediction>& fitted,
                                         Fit_results& results, Random_generator& rng,
                                         const Curve_seeding& before_curve, int B,
                                         std::vector<Competition_result>* analysed) {
  results.n_blocks = 0;
  // The weighted sum of squares of the fit, from the curves as they stand.
  double ss = 0.0;
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    for (int j = 0; j < curve.n_points; ++j) {
      const double residual = curve.bound[j] - fitted[c].predicted[j];
      ss += fitted[c].weight[j] * residual * residual;
    }
  }
  const Determinacy determinacy = data_determinacy(curves, params, ss);
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    if (curve.is_saturation_curve()) continue;
    ++results.n_blocks;
    before_curve(rng, c);
    Competition_result result =
        analyse_competition_curve(curves, c, params, fitted[c], results.n_blocks, rng, B);
    result.determinacy = determinacy;
    write_competition_block(out, result);
    if (analysed) analysed->push_back(std::move(result));
  }
}

std::string competition_results_text(const Curve_table& curves, const Fit_parameters& params,
                                     const std::vector<Curve_prediction>& fitted,
                                     const Fit_results& results, Random_generator& rng,
                                     const Curve_seeding& before_curve,
                                     std::vector<Competition_result>* analysed) {
  std::ostringstream out;
  Fit_results numbering = results;
  competition_ic50_analysis_bootstrap(out, curves, params, fitted, numbering, rng, before_curve,
                                      1000, analysed);
  return out.str();
}

}  // namespace kelvora
