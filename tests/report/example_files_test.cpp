#include "report/example_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "data/curve_reader.hpp"
#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"

namespace kelvora {
namespace {

using testing::read_text;
using testing::Scratch_folder;

std::string join(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\n";
  return text;
}

const char* const saturation_comment_lines =
    "Determine binding affinity (Kd) and receptor density (Bmax)\n"
    "Scatchard Plot: Bound/Free vs. Bound gives slope = -K\n"
    "  Type: HOT ligand saturation (Scatchard plot)\n"
    "  Parameters: Hot ligand (total) varies\n"
    "              Hot ligand measured (bound)\n";

TEST(ExampleFiles, AreWrittenByteForByte) {
  Scratch_folder folder;
  testing::Dialogue d("");
  create_tutorial_files(d.console());
  create_tutorial_files(d.console());  // a second run replaces, never appends

  const std::string ex1 =
      join({"Example 1: 1-site saturation binding", "0.0, 0.0, 0.001, 0.0, 0.0", "1, 1", "0.0",
            "  1.000000E-11,  9.016333E-13,   3.0", "  2.500000E-11,  2.226629E-12,   3.0",
            "  5.000000E-11,  4.364389E-12,   3.0", "  1.000000E-10,  8.392022E-12,   3.0",
            "  2.500000E-10,  1.877976E-11,   3.0", "  5.000000E-10,  3.188543E-11,   3.0",
            "  1.000000E-09,  4.875078E-11,   3.0", "  2.500000E-09,  7.083835E-11,   3.0",
            "  5.000000E-09,  8.309926E-11,   3.0", "  1.000000E-08,  9.083340E-11,   3.0",
            "  1.500000E-08,  9.371318E-11,   3.0", "  2.000000E-08  9.521641E-11   3.0", "", "!",
            "EX1_SAT.CRV: 1-site saturation binding"}) +
      saturation_comment_lines;
  const std::string ex2 =
      join({"Example 2: 1-site Hot-cold competition binding", "0.0, 0.0, 0.001, 0.0, 0.0", "1, 2",
            "1.0E-09", "0.0E+00, 5.00E-10, 3.0", "1.0E-10, 4.76E-10, 3.0", "1.0E-09, 3.33E-10, 3.0",
            "1.0E-08, 9.52E-11, 3.0", "1.0E-07, 1.23E-11, 3.0", "1.0E-06, 1.25E-12, 3.0",
            "1.0E-05, 6.12E-13, 3.0", "", "!",
            "EXAMPLE2_COMPETITION.CRV: 1-site Hot-cold competition binding",
            "Determine IC50 and Ki of unlabeled competitor", "  Type: Hot-cold displacement",
            "  Parameters: Hot ligand fixed at 1nM (Line 4)", "              Cold ligand varies"});
  const std::string ex3 =
      join({"Example 3: 2-site saturation binding", "0.0, 0.0, 0.001, 0.0, 0.0", "1, 1", "0.0",
            "1.0E-11, 9.68E-12, 3.0", "5.0E-11, 4.00E-11, 3.0", "1.0E-10, 6.67E-11, 3.0",
            "5.0E-10, 2.50E-10, 3.0", "1.0E-09, 4.00E-10, 3.0", "5.0E-09, 8.33E-10, 3.0",
            "1.0E-08, 1.05E-09, 3.0", "5.0E-08, 1.23E-09, 3.0", "1.0E-07, 1.27E-09, 3.0", "", "!",
            "Example 3: 2-site saturation binding"}) +
      saturation_comment_lines;
  EXPECT_EQ(read_text("EX1_SAT.CRV"), ex1);
  EXPECT_EQ(read_text("EX2_COMP.CRV"), ex2);
  EXPECT_EQ(read_text("EX3_TWOSITE.CRV"), ex3);
  EXPECT_TRUE(d.has_line(" Tutorial files created successfully!"));
}

TEST(ExampleFiles, ReadBackAsTheirCurves) {
  Scratch_folder folder;
  ASSERT_TRUE(create_simple_saturation_file());
  testing::Dialogue d("");
  Curve_data curve;
  curve.file_name = "EX1_SAT";
  read_curve_file(d.console(), "EX1_SAT.CRV", curve, true);
  ASSERT_EQ(curve.n_points, 12);
  for (int j = 0; j < 12; ++j) {
    EXPECT_DOUBLE_EQ(curve.replicates[j], 3.0);
    // One site, Kd 1e-9, R 1e-10, no nonspecific binding: free F = T - B
    // and B = R F / (Kd + F) hold to the 7 printed digits.
    const double b = curve.bound[j];
    const double f = curve.total_of(j, 1) - b;
    EXPECT_NEAR(b, 1e-10 * f / (1e-9 + f), 1e-6 * b);
  }
}

TEST(ExampleFiles, UnwritableFolderIsReported) {
  Scratch_folder folder;
  std::filesystem::create_directory("EX2_COMP.CRV");  // a folder where the file should go
  testing::Dialogue d("");
  create_tutorial_files(d.console());
  EXPECT_TRUE(d.has_line("ERROR: Cannot write file EX2_COMP.CRV"));
  EXPECT_FALSE(d.has_line(" Tutorial files created successfully!"));
  EXPECT_TRUE(std::filesystem::is_regular_file("EX3_TWOSITE.CRV"));
}

}  // namespace
}  // namespace kelvora
