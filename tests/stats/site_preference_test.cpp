#include "stats/site_preference.hpp"

#include <gtest/gtest.h>

#include "params/parameter_vector.hpp"

namespace kelvora {
namespace {

TEST(SitePreference, WarnsOnlyWhenOppositePreferencesFitAlike) {
  Fit_parameters p;
  p.n_ligands = p.n_sites = 2, p.n_curves = 1;
  setup_parameter_names(p);
  p.n_points = 27, p.n_var = 7;  // 20 degrees of freedom
  // F(1, 20) exceeds 4.3512 with probability 0.05 (published table): the
  // worse fit's extra SS over the better one's MSE (10 / 20) decides.
  auto fits = [](double ss_exchanged, double k1_exchanged, double k2_exchanged) {
    Preference_fits f;
    f.ligand = 2;
    f.k_as_given[0] = 1e6, f.k_as_given[1] = 1e8, f.ss_as_given = 10.0;
    f.k_exchanged[0] = k1_exchanged, f.k_exchanged[1] = k2_exchanged;
    f.ss_exchanged = ss_exchanged;
    f.exchanged_kept = ss_exchanged < 10.0;
    return f;
  };
  const std::vector<std::string> lines = preference_warning(p, fits(10.0 + 0.5 * 4.30, 1e8, 1e6));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("WARNING: These data cannot tell which site ligand 2 prefers", 0), 0u);
  EXPECT_EQ(lines[2],
            "           K21 = 1.00000E+06   K22 = 1.00000E+08   SSQ = 1.00000E+01  (reported)");
  EXPECT_EQ(lines[3], "           K21 = 1.00000E+08   K22 = 1.00000E+06   SSQ = 1.21500E+01");
  EXPECT_TRUE(preference_warning(p, fits(10.0 + 0.5 * 4.40, 1e8, 1e6)).empty());
  // The exchanged fit better by a hair: still a warning, now reporting it.
  const std::vector<std::string> close = preference_warning(p, fits(9.95, 1e8, 1e6));
  ASSERT_EQ(close.size(), 5u);
  EXPECT_NE(close[3].find("(reported)"), std::string::npos);
  // Both fits in the same preference: nothing is in doubt.
  EXPECT_TRUE(preference_warning(p, fits(10.0, 2e6, 9e7)).empty());
}

}  // namespace
}  // namespace kelvora
