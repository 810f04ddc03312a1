#include "report/example_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "data/curve_reader.hpp"
#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"

namespace kelvora {
namespace {

namespace fs = std::filesystem;
using testing::read_text;
using testing::Scratch_folder;
using testing::write_text;

Curve_data read_back(const char* name) {
  testing::Dialogue quiet("");
  Curve_data curve;
  curve.file_name = name;
  read_curve_file(quiet.console(), name, curve, true);
  return curve;
}

TEST(ExampleFiles, ReadBackAsTheCurvesTheyDescribe) {
  Scratch_folder folder;
  testing::Dialogue d("");
  create_tutorial_files(d.console());
  create_tutorial_files(d.console());  // a second run replaces, never appends
  EXPECT_TRUE(d.has_line(" Tutorial files created successfully!"));
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 3);

  const Curve_data ex1 = read_back("EX1_SAT.CRV");
  ASSERT_EQ(ex1.n_points, 12);
  for (int j = 0; j < 12; ++j) {
    EXPECT_DOUBLE_EQ(ex1.replicates[j], 3.0);
    // One site, Kd 1e-9 M, R 1e-10 M, no nonspecific binding: the free
    // ligand F = T - B satisfies B = R F / (Kd + F) to the 7 printed digits.
    const double b = ex1.bound[j];
    const double f = ex1.total_of(j, 1) - b;
    EXPECT_NEAR(b, 1e-10 * f / (1e-9 + f), 1e-6 * b);
  }
  const Curve_data ex2 = read_back("EX2_COMP.CRV");
  EXPECT_EQ(ex2.n_points, 7);
  EXPECT_EQ(ex2.varying_ligand, 1);
  EXPECT_EQ(ex2.labelled_ligand, 2);
  EXPECT_EQ(ex2.total_of(0, 1), 0.0);  // the first point has no competitor
  EXPECT_DOUBLE_EQ(ex2.total_of(6, 2), 1e-9);
  EXPECT_EQ(read_back("EX3_TWOSITE.CRV").n_points, 9);
}

TEST(ExampleFiles, LeaveWhatTheyCannotReplaceUntouched) {
  Scratch_folder folder;
  fs::create_symlink("missing/EX1_SAT.CRV", "EX1_SAT.CRV");  // a dangling link stays one
  fs::create_directory("EX2_COMP.CRV");                     // a folder where the file should go
  write_text("EX3_TWOSITE.CRV.tmp", "left by a killed writer\n");  // no longer in the way
  testing::Dialogue d("");
  create_tutorial_files(d.console());
  EXPECT_TRUE(d.has_line("ERROR: Cannot write file EX1_SAT.CRV"));
  EXPECT_TRUE(d.has_line("ERROR: Cannot write file EX2_COMP.CRV"));
  EXPECT_TRUE(d.has_line(" Written: EX3_TWOSITE.CRV"));
  EXPECT_FALSE(d.has_line(" Tutorial files created successfully!"));
  EXPECT_TRUE(fs::is_symlink("EX1_SAT.CRV"));
  EXPECT_TRUE(fs::is_directory("EX2_COMP.CRV"));
  EXPECT_EQ(read_back("EX3_TWOSITE.CRV").n_points, 9);
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 4);
}

}  // namespace
}  // namespace kelvora
