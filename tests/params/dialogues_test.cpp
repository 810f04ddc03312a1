#include "params/dialogues.hpp"

#include <gtest/gtest.h>

#include "data/parameter_layout.hpp"
#include "params/parameter_vector.hpp"
#include "support/dialogue.hpp"
#include "util/console.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

Fit_parameters fresh(int n_ligands, int n_sites, int n_curves) {
  Fit_parameters p;
  p.n_ligands = n_ligands;
  p.n_sites = n_sites;
  p.n_curves = n_curves;
  setup_parameter_names(p);
  return p;
}

std::string constant_names(const Fit_parameters& p) {
  std::string names;
  for (int i = 0; i < p.n_params; ++i)
    if (p.is_constant[i]) names += p.name[i] + " ";
  return names;
}

struct Constant_case {
  const char* answer;
  const char* constants;
  const char* warning;  // empty: none expected
};

class ConstantDialogue : public ::testing::TestWithParam<Constant_case> {};

TEST_P(ConstantDialogue, TypedListReplacesTheDefaults) {
  // A list with an unknown name is asked again; ENTER then takes the defaults.
  const auto& c = GetParam();
  Curve_table curves;
  auto p = fresh(1, 1, 1);
  Dialogue d(std::string(c.answer) + "\n\n");
  setup_constant_parameters(d.console(), curves, p);
  const std::string prompt = "LIST OF CONSTANT PARAMETERS [DEFAULT: C1 B1]: ";
  EXPECT_TRUE(d.has_line(prompt + c.answer));
  EXPECT_EQ(constant_names(p), c.constants);
  if (*c.warning) {
    const int warning = d.find_line(c.warning);
    ASSERT_GT(warning, 0) << d.transcript();
    EXPECT_EQ(d.lines()[warning + 1],
              "Enter the whole list again; the parameters are: K11 R1 N1 C1 B1");
    EXPECT_EQ(d.lines()[warning + 2], prompt);
  } else {
    EXPECT_EQ(d.find_line("Enter the whole list again; the parameters are: K11 R1 N1 C1 B1"), -1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ConstantDialogue,
    ::testing::Values(Constant_case{"", "C1 B1 ", ""}, Constant_case{"  none  ", "", ""},
                      Constant_case{"k11  r1", "K11 R1 ", ""},
                      Constant_case{"K11,R1", "C1 B1 ", "WARNING: Parameter \"K11,R1\" not found!"},
                      Constant_case{"K11 NI", "C1 B1 ", "WARNING: Parameter \"NI\" not found!"},
                      Constant_case{"NONE K11", "C1 B1 ", "WARNING: Parameter \"NONE\" not found!"},
                      Constant_case{"'k11' r1", "C1 B1 ",
                                    "WARNING: Parameter \"'k11'\" not found!"},
                      Constant_case{"K11 K11", "K11 ", ""}));

TEST(ConstantDialogueLayout, NotesAndDefaultsFollowTheModel) {
  Curve_table curves;
  auto p = fresh(1, 2, 3);
  Dialogue d("\n");
  setup_constant_parameters(d.console(), curves, p);
  EXPECT_TRUE(d.has_line("LIST OF CONSTANT PARAMETERS [DEFAULT: C1 C2 C3 B1 B2]: "));
  EXPECT_EQ(constant_names(p), "C1 C2 C3 B1 B2 ");

  // A value of exactly 1 puts any parameter in the defaults; none at all
  // gives NONE.
  auto q = fresh(1, 1, 1);
  q.value[0] = 1.0;
  Dialogue one("\n");
  setup_constant_parameters(one.console(), curves, q);
  EXPECT_TRUE(one.has_line("LIST OF CONSTANT PARAMETERS [DEFAULT: K11 C1 B1]: "));
  auto r = fresh(1, 1, 1);
  r.value[3] = r.value[4] = 2.0;
  r.is_constant.fill(false);
  Dialogue none("\n");
  setup_constant_parameters(none.console(), curves, r);
  EXPECT_TRUE(none.has_line("LIST OF CONSTANT PARAMETERS [DEFAULT:NONE]: "));
  EXPECT_EQ(constant_names(r), "");

  Dialogue ended("");
  EXPECT_THROW(setup_constant_parameters(ended.console(), curves, r), Input_ended);
}

TEST(InitialEstimates, OffersTypicalValuesAndChecksAnswers) {
  auto p = fresh(1, 1, 1);
  // C1 and B1 constant: C1 blank, B1 "1e7" (out of range), then "2"; K11
  // "-5" (out of range), then "0" (floored); R1 with a decimal comma, then
  // "abc", then "2" (out of range), then blank (kept); N1 "1e3" (the upper
  // end of its range).
  Dialogue d("\n1e7\n2\n-5\n0\n2,5E-10\nabc\n2\n\n1e3\n");
  get_initial_parameters(d.console(), p);
  EXPECT_TRUE(d.has_line("C1 = [ 1.00000E+00]: "));
  EXPECT_EQ(d.find_line("B1 = [ 1.00000E+00]: 1e7") + 1,
            d.find_line("ERROR: B1 must lie between 0 and 1.0E+06; enter it again."));
  EXPECT_EQ(d.find_line("INITIAL ESTIMATE FOR K11 [ 1.00000E+09]: -5") + 1,
            d.find_line("ERROR: K11 must lie between 0 and 1.0E+20 M^-1; enter it again."));
  EXPECT_TRUE(d.has_line("  (Corresponding Kd =  1.00000E+15 [M])"));
  EXPECT_EQ(d.find_line("INITIAL ESTIMATE FOR R1 [ 1.00000E-10]: 2,5E-10") + 1,
            d.find_line("Please enter one number: \"2,5E-10\" holds several (decimals take a "
                        "point, e.g. 2.5E-10)"));
  EXPECT_EQ(d.find_line("INITIAL ESTIMATE FOR R1 [ 1.00000E-10]: abc") + 2,
            d.find_line("INITIAL ESTIMATE FOR R1 [ 1.00000E-10]: 2"));
  EXPECT_EQ(d.find_line("INITIAL ESTIMATE FOR R1 [ 1.00000E-10]: 2") + 1,
            d.find_line("ERROR: R1 must lie between 0 and 1.0E+00 M; enter it again."));
  const std::array<double, 5> expected = {1e-15, 1e-10, 1e3, 1.0, 2.0};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(p.value[i], expected[i]) << p.name[i];
    EXPECT_EQ(p.accepted[i], expected[i]) << p.name[i];
  }
  EXPECT_EQ(d.find_line(" NOTE: For two-site models, typical ordering is:"), -1);
}

TEST(InitialEstimates, TwoSitesKeepNonZeroValuesAndResetConstants) {
  auto p = fresh(1, 2, 1);
  p.is_constant[0] = true;  // K11 constant at some earlier value
  p.value[0] = 5e7;
  p.value[1] = 3e7;  // K12 fitted, already estimated
  const int n1 = n_slot(p, 1);
  p.is_constant[n1] = true;  // N1 constant and kept: neither asked nor reset
  p.value[n1] = 1e-4;
  std::array<bool, max_params> keep{};
  keep[n1] = true;
  Dialogue d(std::string(9, '\n'));
  get_initial_parameters(d.console(), p, keep);
  EXPECT_EQ(p.value[n1], 1e-4);
  EXPECT_EQ(d.find_line("N1 = [ 1.00000E-03]: "), -1);
  EXPECT_TRUE(d.has_line("K11 = [ 1.00000E+09]: "));
  EXPECT_TRUE(d.has_line("INITIAL ESTIMATE FOR K12 [ 3.00000E+07]: "));
  EXPECT_TRUE(d.has_line("INITIAL ESTIMATE FOR R2 [ 1.00000E-09]: "));
  EXPECT_TRUE(d.has_line(" NOTE: For two-site models, typical ordering is:"));
}

}  // namespace
}  // namespace kelvora
