#include "data/curve_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <sstream>

#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"
#include "util/orderly_stop.hpp"

namespace kelvora {
namespace {

using testing::write_text;
using Lines = std::vector<std::string>;

const std::string last_chance = "*** THIS IS YOUR LAST CHANCE TO ENTER FILENAME!";

const std::string sat = "\"Receptor binding\"\n0.0, 0.0, 0.001, 0.0, 0.0\n1, 1\n0.0\n";

// The warnings, refusals and stops of a transcript.
Lines notices_in(Lines transcript) {
  std::erase_if(transcript, [](const auto& l) {
    return !l.starts_with("WARNING: ") && !l.starts_with("ERROR: ") && !l.starts_with("***");
  });
  return transcript;
}

class CurveReader : public ::testing::Test {
 protected:
  // Runs the reader with the given answers; true when it ended normally.
  bool read(const std::string& answers) {
    dialogue = std::make_unique<testing::Dialogue>(answers);
    try {
      curves_read = read_input_files(dialogue->console(), curves, params);
      return true;
    } catch (const Orderly_stop&) {
      return false;
    }
  }
  Lines notices() const { return notices_in(dialogue->lines()); }

  testing::Scratch_folder folder;
  std::unique_ptr<testing::Dialogue> dialogue;
  Curve_table curves;
  Fit_parameters params;
  bool curves_read = false;
};

TEST_F(CurveReader, ReadsSaturationAndCompetitionCurves) {
  write_text("SAT.CRV", sat + "1.0E-10, 2.0E-11, 3\n2.0E-10 3.0E-11 0\n\n!\nnote 1 2 3\n");
  write_text("COMP.crv", "Comp\n0 0 1e-3 0 0\n1, 2\n1.0E-09\n0.0 5e-10 3 7\n1e-9, 3.3e-10, 3\r\n");
  ASSERT_TRUE(read("SAT\nCOMP\n\n"));
  EXPECT_TRUE(dialogue->has_line("CURVE FILE: COMP.crv"));  // the lower-case extension is found too
  EXPECT_TRUE(dialogue->has_line("TOTAL HOT LIGAND:   1.0000E-09 [M] (Line 4 constant)"));
  EXPECT_TRUE(dialogue->has_line("Total:    4 points from    2 curves"));
  EXPECT_TRUE(notices().empty());
  EXPECT_EQ(curves[0].total_of(1, 1), 2.0e-10);
  EXPECT_EQ(curves[0].replicates[1], 1.0);  // 0 replicates count as 1
  EXPECT_EQ(curves[1].total_of(1, 2), 1.0e-9);
  EXPECT_EQ(curves[1].total_of(1, 1), 1.0e-9);
  EXPECT_EQ(params.n_ligands, 2);
}

TEST_F(CurveReader, TitlesAndSaturationNormalisation) {
  write_text("L4.CRV", "  \"Open only\n0 0 1 0 0\n4, 4\n0\n1e-9 1e-10 1\n");
  ASSERT_TRUE(read("L4\n"));
  EXPECT_TRUE(dialogue->has_line("TITLE: Open only"));
  EXPECT_TRUE(dialogue->has_line("         (4,4) --> (1,1)"));
  EXPECT_EQ(curves[0].total_of(0, 1), 1e-9);
}

TEST_F(CurveReader, CapacityAndLastChanceForAMissingFile) {
  std::string text = sat;
  for (int i = 1; i <= max_points + 5; ++i) text += std::to_string(i) + "e-12, 1e-13, 1\n";
  write_text("BIG.CRV", text);
  ASSERT_TRUE(read("NOPE\n\nBIG\n"));
  EXPECT_EQ(curves[0].n_points, max_points);
  EXPECT_EQ(curves[0].total_of(max_points - 1, 1), 1000e-12);
  EXPECT_TRUE(dialogue->has_line(
      "WARNING: BIG.CRV holds more than 1000 data points; the first 1000 are used "
      "and 5 are ignored"));
  // A blank last-chance answer ends the list; the names left out are named.
  ASSERT_TRUE(read("BIG\nNOPE\nBIG\n\n\n"));
  EXPECT_EQ(params.n_curves, 1);
  EXPECT_TRUE(dialogue->has_line("NOTE: Not read: NOPE BIG"));
  // With no curve read at all, the analysis is abandoned; the program goes on.
  ASSERT_TRUE(read("NOPE\n\n"));
  EXPECT_FALSE(curves_read);
  EXPECT_EQ(notices(), (Lines{"ERROR: File NOPE.CRV was not found.", last_chance}));
  // Names beyond the 50th are dropped up to the blank line, not left for the next prompt.
  std::string fifty;
  for (int i = 0; i < max_curves; ++i) fifty += "BIG\n";
  ASSERT_TRUE(read(fifty + "X51\nX52\n\nNEXT\n"));
  EXPECT_EQ(params.n_curves, max_curves);
  EXPECT_TRUE(dialogue->has_line("NOTE: Not read: X52"));
  EXPECT_EQ(dialogue->console().read_line(80), "NEXT");
}

std::string warned(int line, const std::string& what) {
  return "WARNING: F.CRV, line " + std::to_string(line) + ": " + what;
}
Lines refused(int line, const std::string& why) {
  return {"ERROR: F.CRV, line " + std::to_string(line) + ": " + why,
          "***INVALID DATA FILE, PROGRAM ENDED! ***"};
}
const std::string wrapped = "fewer than three numbers; the point is completed from line ";
const std::string discarded = "fewer than three numbers; the incomplete point is discarded";
const std::string above_total = "a bound value is above the total labelled ligand concentration";
const std::string molar = "a concentration is above 1 M; concentrations must be given in M";
const std::string unsupported = "ligand numbers 3 and 4 are not supported; use 1 or 2";
const std::string too_large =
    " is too large: a concentration or bound value may be at most 1.0E+03 M in magnitude";
const std::string no_file = "***NO DATA FILE READ, PROGRAM ENDED! ***";

struct Case {
  const char* name;
  std::string file_text;
  int n_points;  // -1: the program ends
  Lines notices;
  std::string answers = "F\n";
};

class CurveReaderCases : public CurveReader, public ::testing::WithParamInterface<Case> {};

TEST_P(CurveReaderCases, ReportEveryDoubtfulReading) {
  const auto& c = GetParam();
  write_text("F.CRV", c.file_text);
  write_text("S.CRV", sat + "1e-9 1e-10 1\n");
  EXPECT_EQ(read(c.answers), c.n_points >= 0);
  EXPECT_EQ(notices(), c.notices);
  EXPECT_EQ(c.n_points >= 0 ? curves[0].n_points : -1, c.n_points);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, CurveReaderCases, ::testing::Values(
    // The third number comes from the next line, whose other numbers are ignored.
    Case{"Wrapped", sat + "1e-9 1e-10\n2 9 9\n\n3e-9\n\n2e-10, 1\n", 2,
         {warned(5, wrapped + "6"), warned(8, wrapped + "10")}},
    Case{"Typo", sat + "1e-9 1e-10 1\n2e-9 1.000000E-O9 1\n3e-9 1e-10 1\n", -1,
         refused(6, "1.000000E-O9 is not a number")},
    Case{"EmptyItem", sat + "1e-9 1e-10 1\n\n,1e-9 1\n", 1,
         {warned(7, "an empty item between commas; the data end here")}},
    Case{"IncompleteAtTheEnd", sat + "1e-9 1e-10 1\n-.5e-9 1e-10\n", 1, {warned(6, discarded)}},
    // Each kind once per file, at its first line.
    Case{"Implausible", sat + "1e-9 2e-9 1\n-1e-9 -1e-10 1\n-2e-9 -1e-10 1\n2 1e-10 1\n", 4,
         {warned(5, above_total), warned(6, "a total concentration is negative"),
          warned(6, "a bound value is negative"), warned(8, molar)}},
    Case{"CompetitionInNanomolar", "t\n0 0 1 0 0\n2 1\n1.5\n0 1.6 1\n10 1 1\n", 2,
         {warned(4, molar), warned(5, above_total)}},
    Case{"NoName", "", -1, {"***NO DATA FILES ENTERED, PROGRAM ENDED! ***"}, ""},
    Case{"LastChanceMissingToo", "", -1, {"ERROR: File A.CRV was not found.", last_chance,
         "ERROR: File B.CRV was not found.", no_file}, "A\n\nB\n"},
    Case{"NoDataPoints", sat + "!\n", -1, {"***NO DATA READ: File is empty***"}},
    Case{"EmptyFile", "", -1, refused(1, "missing; the file must begin with a title line")},
    Case{"TextInLine2", "t\n0 0 x 0 0\n1 1\n0\n", -1,
         refused(2, "five weighting coefficients a0, a1, a2, a3, a4 expected")},
    Case{"NegativeWeight", "t\n0 1 -1 0 0\n1 1\n0\n", -1, refused(2, "a0 + a1 Y + a2 Y^2 + a3 "
         "|Y|^a4 is not positive for every Y > 0, so a weight could be negative or infinite")},
    Case{"LigandZero", "t\n1 0 0 0 0\n0 1\n0\n", -1, refused(3, "ligand numbers must be 1 or 2")},
    Case{"CompetitionOfLigand3", "t\n1 0 0 0 0\n1, 3\n1e-9\n", -1, refused(3, unsupported)},
    Case{"SaturationOfLigand3BesideAnother", "t\n1 0 0 0 0\n3 3\n0\n", -1, refused(3, unsupported),
         "S\nF\n"},
    Case{"NoHotOnACompetitionCurve", "t\n1 0 0 0 0\n1 2\n1e-300\n", -1, refused(4,
         "a competition curve needs a total labelled ligand concentration of at least 1.0E-30 M")},
    Case{"NaNDataValue", sat + "1e-9 1e-10 1\n2e-9 NaN 1\n", -1,
         refused(6, "a value is not a finite number")},
    Case{"AtTheLimits", sat + "1e3 -1e3 1e6\n", 1,
         {warned(5, molar), warned(5, "a bound value is negative")}},
    Case{"HugeBound", sat + "1e-9 1.1e3 1\n", -1, refused(5, "1.1e3" + too_large)},
    Case{"HugeConcentration", sat + "1e-9 1e-10 1\n-1e150 1e-10 1\n", -1,
         refused(6, "-1e150" + too_large)},
    Case{"HugeReplicateCount", sat + "1e-9 1e-10 1.000001e6\n", -1, refused(5,
         "1.000001e6 is too large: a replicate count may be at most 1000000")},
    Case{"HugeHot", "t\n1 0 0 0 0\n1 2\n2e3\n", -1, refused(4, "2e3" + too_large)}),
    [](const auto& test) { return std::string(test.param.name); });
// clang-format on

// One curve file read from a string as F.CRV, its transcript kept.
struct Reading {
  Curve_data curve;
  Lines transcript;
  bool read = false;
};

Reading read_stream(const std::string& text, std::optional<Concentration_unit> unit = {}) {
  testing::Dialogue dialogue("");
  std::istringstream in(text);
  Reading r;
  try {
    read_curve_stream(dialogue.console(), in, "F.CRV", r.curve, false, unit);
    r.read = true;
  } catch (const Orderly_stop&) {
  }
  r.transcript = dialogue.lines();
  return r;
}

// A competition curve with every weighting term in use, written in M, nM and
// pM (numbers in several forms); the coefficients are those of the same
// variance, a0 scaled by f^-2, a1 by f^-1 and a3 by f^(a4 - 2) with a4 = 1.5.
const std::string in_molar =
    "Comp\n2e-18 3e-10 0.001 2.2135943621178656e-05 1.5\n1 2\n1.1E-9\n"
    "3.3E-9 1.7E-10 3\n0 1.1e-10 2\n";
const std::string in_nanomolar =
    "UNITS nM\nComp\n2 0.3 0.001 0.7 1.5\n1 2\n1.1\n3.3e0 17D-2 3\n0 .11E0 2\n";
const std::string in_picomolar =
    "  units pM \r\nComp\n2e6 300 1e-3 22.135943621178654 1.5\n1 2\n1.1e3\n"
    "3300 170. 3\n-0 110 2\n";

double variance(const std::array<double, n_weight_coefs>& a, double y) {
  return a[0] + a[1] * y + a[2] * y * y + a[3] * std::pow(y, a[4]);
}

TEST(CurveUnits, ReadAsTheMolarCopy) {
  const Reading in_m = read_stream(in_molar);
  ASSERT_TRUE(in_m.read);
  const std::string micro =
      "UNITS \xC2\xB5M\nComp\n2e-6 3e-4 0.001 0.022135943621178656 1.5\n1 2\n1.1e-3\n"
      "3.3e-3 1.7e-4 3\n0 1.1e-4 2\n";
  const std::string nanomolar_unstated = in_nanomolar.substr(in_nanomolar.find('\n') + 1);
  const std::pair<Reading, Concentration_unit> copies[] = {
      {read_stream(in_nanomolar), Concentration_unit::nanomolar},
      {read_stream(in_nanomolar, Concentration_unit::nanomolar), Concentration_unit::nanomolar},
      {read_stream(nanomolar_unstated, Concentration_unit::nanomolar),
       Concentration_unit::nanomolar},
      {read_stream(in_picomolar), Concentration_unit::picomolar},
      {read_stream(micro), Concentration_unit::micromolar}};
  for (const auto& [copy, unit] : copies) {
    SCOPED_TRACE(unit_name(unit));
    ASSERT_TRUE(copy.read);
    EXPECT_EQ(copy.curve.unit, unit);
    // The transcript is the molar copy's with one line more.
    Lines expected = in_m.transcript;
    expected.insert(expected.begin() + 1,
                    "UNITS: " + std::string(unit_name(unit)) + " (converted to M)");
    EXPECT_EQ(copy.transcript, expected);
    ASSERT_EQ(copy.curve.n_points, 2);
    for (int j = 0; j < 2; ++j) {
      EXPECT_EQ(copy.curve.total[j], in_m.curve.total[j]);  // both ligands, bit for bit
      EXPECT_EQ(copy.curve.bound[j], in_m.curve.bound[j]);
      EXPECT_EQ(copy.curve.replicates[j], in_m.curve.replicates[j]);
    }
    for (const double y : {1e-11, 1e-10, 1e-9, 1e-8}) {
      const double v = variance(in_m.curve.weight_coef, y);
      EXPECT_NEAR(variance(copy.curve.weight_coef, y), v, 1e-12 * v) << y;
    }
  }
  // Not 1.1 * 1e-9 nor 0.11 * 1e-9 (each one bit higher): the decimal exponent
  // is shifted in the text.
  EXPECT_EQ(copies[0].first.curve.total_of(0, 2), 1.1e-9);
  EXPECT_EQ(copies[0].first.curve.bound[1], 1.1e-10);
  // A coefficient 0 stays 0 in any unit.
  const Reading usual = read_stream("UNITS pM\nt\n0 0 0.001 0 7\n1 1\n0\n1 0.1 1\n");
  EXPECT_EQ(usual.curve.weight_coef, (std::array<double, n_weight_coefs>{0, 0, 0.001, 0, 7}));
}

TEST(CurveUnits, AFileWithoutUnitsReadsInMolarAsEver) {
  const Reading unstated = read_stream(in_molar);
  EXPECT_EQ(unstated.transcript,
            (Lines{"CURVE FILE: F.CRV", "TITLE: Comp", "VARYING LIGAND:   1 LABELLED LIGAND:   2",
                   "TOTAL HOT LIGAND:   1.1000E-09 [M] (Line 4 constant)", "",
                   "Read    2 data points", ""}));
  EXPECT_EQ(unstated.curve.unit, Concentration_unit::molar);
  EXPECT_EQ(unstated.curve.weight_coef[3], 2.2135943621178656e-05);
  const Reading stated = read_stream(in_molar, Concentration_unit::molar);
  EXPECT_EQ(stated.transcript, unstated.transcript);
  EXPECT_EQ(stated.curve.bound, unstated.curve.bound);
  // A quoted title, or one whose first word only begins with UNITS, is a title.
  for (const char* title : {"\"UNITS of binding\"", "UNITSX nM"})
    EXPECT_TRUE(read_stream(title + in_molar.substr(4)).read) << title;
}

TEST(CurveUnits, RefusalsAndWarningsNameTheFilesOwnLines) {
  const std::string head = "UNITS nM\nt\n0 0 1 0 0\n";
  const std::string sat_nm = head + "1 1\n0\n";
  const std::string any_unit = "the units are M, mM, uM (or \xC2\xB5M), nM and pM";
  const std::pair<Reading, Lines> cases[] = {
      {read_stream(sat_nm + "1 0.1 1\n2 1.000000E-O9 1\n"),
       refused(7, "1.000000E-O9 is not a number")},
      {read_stream(head + "0 1\n0\n"), refused(4, "ligand numbers must be 1 or 2")},
      {read_stream(head + "1 2\n2e12\n"), refused(5, "2e12 nM" + too_large)},
      {read_stream(sat_nm + "1 2 1\n2\n0.1 1\n2e9 0.1 1\n"),
       {warned(6, above_total), warned(7, wrapped + "8"),
        warned(9, "a concentration is above 1 M; concentrations must be given in nM")}},
      {read_stream("UNITS\nt\n"), refused(1, "UNITS line: no unit is named; " + any_unit)},
      {read_stream("Units nm\nt\n"), refused(1, "UNITS line: \"nm\" is no unit; " + any_unit)},
      {read_stream("UNITS nM M\nt\n"), refused(1, "UNITS line: \"nM M\" is no unit; " + any_unit)},
      {read_stream("UNITS pM\n"), refused(2, "missing; a title line must follow the UNITS line")},
      {read_stream(sat_nm, Concentration_unit::picomolar),
       refused(1, "the UNITS line gives nM, but the curve is to be read in pM")},
      {read_stream(sat_nm, Concentration_unit::molar),
       refused(1, "the UNITS line gives nM, but the curve is to be read in M")},
      {read_stream("UNITS pM\nt\n1 0 0 1 -700\n"),
       refused(
           3, "a weighting coefficient leaves the range of a double when converted from pM to M")}};
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(notices_in(cases[i].first.transcript), cases[i].second) << i;
}

// An independent judge: the denominator a0 + a1 Y + a2 Y^2 + a3 |Y|^a4 on a
// dense logarithmic grid of Y and at Y = 0 (a3 = 0 drops its term).
bool grid_finds_a_bad_denominator(const std::array<double, n_weight_coefs>& a) {
  const auto d = [&](double y) {
    return a[0] + a[1] * y + a[2] * y * y + (a[3] != 0.0 ? a[3] * std::pow(y, a[4]) : 0.0);
  };
  for (double e = -30.01; e <= 30.0; e += 0.01) {  // the first Y is 0, where D may be 0
    const double v = e < -30.0 ? d(0.0) : d(std::pow(10.0, e));
    if (!std::isfinite(v) || v < 0.0 || (v == 0.0 && e >= -30.0)) return true;
  }
  return false;
}

TEST(WeightCoefficients, RefusedExactlyWhenADenominatorCanBeNonPositive) {
  // The first seven are sound, the others are not.
  const std::array<double, n_weight_coefs> cases[] = {
      {0, 0, 0.001, 0, 0}, {0, 1, 0, 0, 0},    {0, 0, 0, 1, 2},     {0, 0, 0, 1, 0.5},
      {1, 0, 0, 0, -2},    {1, -1.9, 1, 0, 0}, {0, 0, 1, -0.5, 2},  {1, -2, 1, 0, 0},
      {0, 0, 0, 0, 2},     {-1, 0, 1, 0, 0},   {0, 1, -1e-6, 0, 0}, {1, 0, 0, -1, 0.5},
      {1, 0, 0, 1, -1},    {0, 0, 1, -1, 2},   {1e-3, -1, 0, 1, 3}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(grid_finds_a_bad_denominator(cases[i]), i >= 7) << i;
    EXPECT_EQ(weight_coefficients_fault(cases[i]).has_value(), i >= 7) << i;
  }
  // Positive everywhere, yet refused: a negative term beside a general power.
  EXPECT_FALSE(grid_finds_a_bad_denominator({1, 0, 1, -0.5, 1.5}));
  EXPECT_TRUE(weight_coefficients_fault({1, 0, 1, -0.5, 1.5}));
  // Refused when the denominator overflows for a bound value up to 1e3 M.
  EXPECT_FALSE(weight_coefficients_fault({0, 0, 1e302, 1, 102}));
  EXPECT_TRUE(weight_coefficients_fault({0, 0, 0, 1, 103}));
  EXPECT_TRUE(weight_coefficients_fault({1e306, -1e306, 1e306, 0, 0}));  // inf - inf
}

}  // namespace
}  // namespace kelvora
