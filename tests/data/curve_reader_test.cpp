#include "data/curve_reader.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"
#include "util/orderly_stop.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;
using testing::Scratch_folder;
using testing::write_text;

const std::string saturation_header =
    "\"Receptor binding\"\n0.0, 0.0, 0.001, 0.0, 0.0\n1, 1\n0.0\n";
const std::string competition_header = "Comp\n0.0 0.0 0.001 0.0 0.0\n1, 2\n1.0E-09\n";

class CurveReader : public ::testing::Test {
 protected:
  // Runs the reader with the given answers; true when it ended normally.
  bool read(const std::string& answers) {
    dialogue = std::make_unique<Dialogue>(answers);
    try {
      read_input_files(dialogue->console(), curves, params);
      return true;
    } catch (const Orderly_stop&) {
      return false;
    }
  }
  bool has(const std::string& line) const { return dialogue->has_line(line); }

  Scratch_folder folder;
  std::unique_ptr<Dialogue> dialogue;
  Curve_table curves;
  Fit_parameters params;
};

TEST_F(CurveReader, ReadsAndEchoesASaturationCurve) {
  write_text("SAT.CRV",
             saturation_header + "1.0E-10, 2.0E-11, 3\n2.0E-10 3.0E-11 0\n\n!\ncomment 1 2 3\n");
  ASSERT_TRUE(read("SAT\n\n"));
  EXPECT_TRUE(has("READ FILENAME FOR CURVE # 1"));
  EXPECT_TRUE(has("CURVE FILE: SAT.CRV"));
  EXPECT_TRUE(has("TITLE: Receptor binding"));
  EXPECT_TRUE(has("VARYING LIGAND:   1 LABELLED LIGAND:   1"));
  EXPECT_TRUE(has("SATURATION CURVE: Total ligand varies (Line 4 = 0.0)"));
  EXPECT_TRUE(has("Read    2 data points"));
  EXPECT_TRUE(has("Total:    2 points from    1 curves"));
  const Curve_data& c = curves[0];
  EXPECT_EQ(c.file_name, "SAT");
  ASSERT_EQ(c.n_points, 2);
  EXPECT_DOUBLE_EQ(c.total_of(1, 1), 2.0e-10);
  EXPECT_DOUBLE_EQ(c.bound[0], 2.0e-11);
  EXPECT_DOUBLE_EQ(c.replicates[0], 3.0);
  EXPECT_DOUBLE_EQ(c.replicates[1], 1.0);  // 0 replicates count as 1
  EXPECT_DOUBLE_EQ(c.weight_coef[2], 0.001);
  EXPECT_EQ(c.bound.size(), static_cast<std::size_t>(max_points));
  EXPECT_EQ(c.bound[2], 0.0);
  EXPECT_EQ(params.n_curves, 1);
  EXPECT_EQ(params.n_points, 2);
  EXPECT_EQ(params.n_ligands, 1);
}

TEST_F(CurveReader, CompetitionCurveFillsTheFixedLabelledColumn) {
  write_text("COMP.crv", competition_header + "0.0 5e-10 3\n1e-9, 3.3e-10, 3\r\n");
  write_text("SAT2.CRV", "T\n0 0 1e-3 0 0\n1 1\n0\n1e-9 1e-10 1\n");
  ASSERT_TRUE(read("COMP\nSAT2\n\n"));
  EXPECT_TRUE(has("CURVE FILE: COMP.crv"));  // the lower-case extension is found too
  EXPECT_TRUE(has("TOTAL HOT LIGAND:   1.0000E-09 [M] (Line 4 constant)"));
  const Curve_data& c = curves[0];
  ASSERT_EQ(c.n_points, 2);
  EXPECT_DOUBLE_EQ(c.total_of(0, 2), 1.0e-9);
  EXPECT_DOUBLE_EQ(c.total_of(1, 2), 1.0e-9);
  EXPECT_DOUBLE_EQ(c.total_of(1, 1), 1.0e-9);
  EXPECT_DOUBLE_EQ(c.total_of(0, 1), 0.0);
  EXPECT_EQ(params.n_ligands, 2);
  EXPECT_EQ(params.n_points, 3);
}

TEST_F(CurveReader, TitleQuotesAreRemovedOnlyWherePresent) {
  write_text("A.CRV", "  \"Open only\n0 0 1 0 0\n1 1\n0\n1 1 1\n");
  write_text("B.CRV", "No quotes here\n0 0 1 0 0\n1 1\n0\n1 1 1\n");
  ASSERT_TRUE(read("A\nB\n"));
  EXPECT_TRUE(has("TITLE: Open only"));
  EXPECT_TRUE(has("TITLE: No quotes here"));
}

TEST_F(CurveReader, DataPointsSpanLinesAndEndAtText) {
  // A two-number line takes its third number from the next line, whose
  // other numbers are then ignored; text ends the data section.
  write_text("S.CRV", saturation_header +
                          "1e-9 1e-10\n2 9 9\n\n3e-9 2e-10 1 7 7\nend of data\n4e-9 3e-10 1\n");
  ASSERT_TRUE(read("S\n"));
  const Curve_data& c = curves[0];
  ASSERT_EQ(c.n_points, 2);
  EXPECT_DOUBLE_EQ(c.replicates[0], 2.0);
  EXPECT_DOUBLE_EQ(c.total_of(1, 1), 3e-9);
}

TEST_F(CurveReader, SingleSaturationFileOfLigandTwoIsNormalised) {
  write_text("L2.CRV", "t\n0 0 1 0 0\n2, 2\n0\n1e-9 1e-10 1\n");
  ASSERT_TRUE(read("L2\n"));
  EXPECT_TRUE(has("Note: Normalizing saturation curve to ligand 1: L2"));
  EXPECT_TRUE(has("         (2,2) --> (1,1)"));
  EXPECT_EQ(curves[0].labelled_ligand, 1);
  EXPECT_DOUBLE_EQ(curves[0].total_of(0, 1), 1e-9);
  EXPECT_EQ(params.n_ligands, 1);
}

TEST_F(CurveReader, SeveralFilesKeepLigandTwo) {
  write_text("L1.CRV", "t\n0 0 1 0 0\n1 1\n0\n1e-9 1e-10 1\n");
  write_text("L2.CRV", "t\n0 0 1 0 0\n2 2\n0\n1e-9 1e-10 1\n");
  ASSERT_TRUE(read("L1\nL2\n\n"));
  EXPECT_FALSE(dialogue->transcript().find("Normalizing") != std::string::npos);
  EXPECT_EQ(curves[1].labelled_ligand, 2);
  EXPECT_EQ(params.n_ligands, 2);
}

TEST_F(CurveReader, MoreThanTheCapacityKeepsTheFirstThousandPoints) {
  std::string text = saturation_header;
  for (int i = 1; i <= max_points + 5; ++i) text += std::to_string(i) + "e-12, 1e-13, 1\n";
  write_text("BIG.CRV", text);
  ASSERT_TRUE(read("BIG\n"));
  EXPECT_EQ(curves[0].n_points, max_points);
  EXPECT_DOUBLE_EQ(curves[0].total_of(max_points - 1, 1), 1000e-12);
  EXPECT_TRUE(
      has("WARNING: BIG.CRV holds more than 1000 data points; the first 1000 are used and 5 are "
          "ignored"));
}

TEST_F(CurveReader, NonFiniteDataValueEndsTheDataWithAWarning) {
  write_text("NF.CRV", saturation_header + "1e-9 1e-10 1\n2e-9 NaN 1\n3e-9 1e-10 1\n");
  ASSERT_TRUE(read("NF\n"));
  EXPECT_EQ(curves[0].n_points, 1);
  EXPECT_TRUE(has("WARNING: NF.CRV, line 6: a value is not a finite number; the data end here"));
}

TEST_F(CurveReader, MissingFileGetsOneLastChance) {
  write_text("GOOD.CRV", saturation_header + "1e-9 1e-10 1\n");
  ASSERT_TRUE(read("NOPE\n\nGOOD\n"));
  EXPECT_TRUE(has("ERROR: Cannot open file NOPE.CRV"));
  EXPECT_TRUE(has("***NO DATA FILE READ, PROGRAM ENDED! ***"));
  EXPECT_TRUE(has(" CURVE # 1"));
  EXPECT_TRUE(has("*** THIS IS YOUR LAST CHANCE TO ENTER FILENAME!"));
  EXPECT_EQ(curves[0].file_name, "GOOD");
  EXPECT_EQ(params.n_curves, 1);
}

TEST_F(CurveReader, BlankLastChanceEndsTheListWithTheCurvesRead) {
  write_text("GOOD.CRV", saturation_header + "1e-9 1e-10 1\n");
  ASSERT_TRUE(read("GOOD\nNOPE\nGOOD\n\n\n"));
  EXPECT_EQ(params.n_curves, 1);
  EXPECT_TRUE(has("Total:    1 points from    1 curves"));
}

TEST_F(CurveReader, FiftyNamesEndTheListWithoutABlankLine) {
  write_text("S.CRV", saturation_header + "1e-9 1e-10 1\n");
  std::string answers;
  for (int i = 0; i < max_curves; ++i) answers += "S\n";
  ASSERT_TRUE(read(answers + "this line is never read\n"));
  EXPECT_EQ(params.n_curves, max_curves);
  EXPECT_EQ(params.n_points, max_curves);
}

struct Stop_case {
  const char* name;
  std::string file_text;  // empty: no file at all
  std::string answers;
  std::string expected_line;
};

class CurveReaderStops : public CurveReader, public ::testing::WithParamInterface<Stop_case> {};

TEST_P(CurveReaderStops, EndsTheProgramWithItsMessage) {
  const auto& c = GetParam();
  if (!c.file_text.empty()) write_text("F.CRV", c.file_text == "EMPTY" ? "" : c.file_text);
  EXPECT_FALSE(read(c.answers));
  EXPECT_TRUE(has(c.expected_line)) << dialogue->transcript();
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, CurveReaderStops,
    ::testing::Values(
        Stop_case{"NoName", "", "\n", "***NO DATA FILES ENTERED, PROGRAM ENDED! ***"},
        Stop_case{"EndOfInputIsABlankLine", "", "", "***NO DATA FILES ENTERED, PROGRAM ENDED! ***"},
        Stop_case{"LastChanceMissingToo", "", "A\n\nB\n", "ERROR: Cannot open file B.CRV"},
        Stop_case{"BlankLastChanceOnFirstCurve", "", "A\n\n\n",
                  "***NO DATA READ: File is empty***"},
        Stop_case{"NoDataPoints", saturation_header + "!\n", "F\n",
                  "***NO DATA READ: File is empty***"},
        Stop_case{"EmptyFile", "EMPTY", "F\n",
                  "ERROR: F.CRV, line 1: missing; the file must begin with a title line"},
        Stop_case{"MissingLine2", "title\n", "F\n",
                  "ERROR: F.CRV, line 2: missing; five weighting coefficients a0, a1, a2, a3, a4 "
                  "expected"},
        Stop_case{"ShortLine2", "t\n0 0 1 0\n1 1\n0\n", "F\n",
                  "ERROR: F.CRV, line 2: five weighting coefficients a0, a1, a2, a3, a4 expected"},
        Stop_case{"TextInLine2", "t\n0 0 x 0 0\n1 1\n0\n", "F\n",
                  "ERROR: F.CRV, line 2: five weighting coefficients a0, a1, a2, a3, a4 expected"},
        Stop_case{"NonFiniteLine2", "t\n0 0 inf 0 0\n1 1\n0\n", "F\n",
                  "ERROR: F.CRV, line 2: a value is not a finite number"},
        Stop_case{"NegativeCoefficient", "t\n0 0 1 0 -2\n1 1\n0\n", "F\n",
                  "ERROR: F.CRV, line 2: a weighting coefficient is negative; every coefficient "
                  "must be 0 or more"},
        Stop_case{
            "AllZeroCoefficients", "t\n0 0 0 0 2\n1 1\n0\n", "F\n",
            "ERROR: F.CRV, line 2: a0, a1, a2 and a3 are all zero, so no point could get a weight"},
        Stop_case{"MissingLine3", "t\n0 0 1 0 0\n", "F\n",
                  "ERROR: F.CRV, line 3: missing; two ligand numbers expected"},
        Stop_case{"RealLigandNumber", "t\n0 0 1 0 0\n1.5 1\n0\n", "F\n",
                  "ERROR: F.CRV, line 3: two ligand numbers expected (varying, labelled)"},
        Stop_case{"LigandOutOfRange", "t\n0 0 1 0 0\n1 5\n0\n", "F\n",
                  "ERROR: F.CRV, line 3: ligand numbers must lie between 1 and 4"},
        Stop_case{"LigandZero", "t\n0 0 1 0 0\n0 1\n0\n", "F\n",
                  "ERROR: F.CRV, line 3: ligand numbers must lie between 1 and 4"},
        Stop_case{
            "MissingLine4", "t\n0 0 1 0 0\n1 1\n", "F\n",
            "ERROR: F.CRV, line 4: missing; the total labelled ligand concentration [M] expected"},
        Stop_case{"NonFiniteLine4", "t\n0 0 1 0 0\n1 2\nNaN\n", "F\n",
                  "ERROR: F.CRV, line 4: a value is not a finite number"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kelvora
