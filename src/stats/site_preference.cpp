#include "stats/site_preference.hpp"

#include <algorithm>

#include "data/parameter_layout.hpp"
#include "stats/fit_statistics.hpp"
#include "util/fields.hpp"

namespace kelvora {

std::vector<std::string> preference_warning(const Fit_parameters& p, const Preference_fits& fits) {
  const auto prefers_second = [](const double(&k)[2]) { return k[1] > k[0]; };
  if (prefers_second(fits.k_as_given) == prefers_second(fits.k_exchanged)) return {};
  const double better = std::min(fits.ss_as_given, fits.ss_exchanged);
  const double worse = std::max(fits.ss_as_given, fits.ss_exchanged);
  const Fit_statistics best = fit_statistics(p.n_points, p.n_var, better);
  if (!(best.mse > 0.0)) return {};
  const double f = (worse - better) / best.mse;
  const double p_value = f_upper_tail(f, 1, best.df);
  if (!(worse <= 1.01 * better || p_value >= 0.05)) return {};
  const std::string l = std::to_string(fits.ligand);
  const std::string& k1 = p.name[k_slot(p, fits.ligand, 1)];
  const std::string& k2 = p.name[k_slot(p, fits.ligand, 2)];
  const auto solution = [&](const double(&k)[2], double ss, bool kept) {
    return "           " + k1 + " =" + fmt_es(k[0], 12, 5) + "   " + k2 + " =" +
           fmt_es(k[1], 12, 5) + "   SSQ =" + fmt_es(ss, 12, 5) + (kept ? "  (reported)" : "");
  };
  return {
      "WARNING: These data cannot tell which site ligand " + l + " prefers: the fits started from",
      "         both preferences end about equally well (F = " + fmt_f(f, 7, 3) +
          ", p = " + fmt_f(p_value, 6, 4) + "):",
      solution(fits.k_as_given, fits.ss_as_given, !fits.exchanged_kept),
      solution(fits.k_exchanged, fits.ss_exchanged, fits.exchanged_kept),
      "         Hold an affinity of ligand " + l +
          " constant, or add data that separate the sites."};
}

std::vector<std::string> preference_warning(const Fit_parameters& p,
                                            const std::vector<Preference_fits>& preferences) {
  std::vector<std::string> lines;
  for (const Preference_fits& fits : preferences) {
    const std::vector<std::string> warning = preference_warning(p, fits);
    lines.insert(lines.end(), warning.begin(), warning.end());
  }
  return lines;
}

}  // namespace kelvora
