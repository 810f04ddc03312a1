#include "stats/fit_statistics.hpp"

#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace kelvora {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// Boost.Math reports bad arguments and unrepresentable results by throwing;
// here they come back as NaN (domain, evaluation) or infinity (overflow), so
// that a report prints them as it prints any other undefined figure.
namespace policies = boost::math::policies;
using Quiet_policy = policies::policy<policies::domain_error<policies::ignore_error>,
                                      policies::pole_error<policies::ignore_error>,
                                      policies::overflow_error<policies::ignore_error>,
                                      policies::underflow_error<policies::ignore_error>,
                                      policies::evaluation_error<policies::ignore_error>,
                                      policies::rounding_error<policies::ignore_error>>;

}  // namespace

Fit_statistics fit_statistics(int n_points, int n_var, double ss) {
  Fit_statistics s;
  s.n_points = n_points;
  s.n_var = n_var;
  s.ss = ss;
  s.df = n_points - n_var;
  const double n = n_points;
  const double p = n_var;
  s.mse = s.df > 0 && ss >= 0.0 ? ss / s.df : not_a_number;
  // ln S - ln N rather than ln(S/N): the quotient of a tiny S underflows to 0.
  s.aic = n_points > 0 && ss > 0.0 ? n * (std::log(ss) - std::log(n)) + 2.0 * p : not_a_number;
  s.aicc = s.df - 1 > 0 ? s.aic + 2.0 * p * (p + 1.0) / (s.df - 1.0) : not_a_number;
  return s;
}

Determinacy data_determinacy(const Curve_table& curves, const Fit_parameters& params, double ss) {
  std::optional<double> first_x;
  bool one_concentration = true;
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    for (int j = 0; j < curve.n_points; ++j) {
      const double x = curve.total_of(j, curve.varying_ligand);
      if (!first_x) first_x = x;
      one_concentration = one_concentration && x == *first_x;
    }
  }
  if (first_x && one_concentration) return Determinacy::one_concentration;
  if (ss == 0.0 && params.n_points > params.n_var) return Determinacy::exact_fit;
  return Determinacy::determined;
}

std::string determinacy_warning(Determinacy determinacy) {
  const std::string lead = "WARNING: The data do not determine the fitted parameters ";
  switch (determinacy) {
    case Determinacy::one_concentration:
      return lead + "(all points at one concentration).";
    case Determinacy::exact_fit:
      return lead + "(the fit passes through every point exactly).";
    case Determinacy::determined:
      break;
  }
  return {};
}

double student_t_quantile(double probability, double df) {
  if (std::isnan(probability) || std::isnan(df)) return not_a_number;
  return boost::math::quantile(boost::math::students_t_distribution<double, Quiet_policy>(df),
                               probability);
}

double f_upper_tail(double f, double d1, double d2) {
  if (!(d1 > 0.0 && d2 > 0.0) || std::isnan(f)) return not_a_number;
  if (f <= 0.0) return 1.0;
  if (std::isinf(f)) return 0.0;
  const boost::math::fisher_f_distribution<double, Quiet_policy> distribution(d1, d2);
  return boost::math::cdf(boost::math::complement(distribution, f));
}

}  // namespace kelvora
