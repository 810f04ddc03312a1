#include "report/result_set.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"
#include "util/checksum.hpp"

namespace kelvora {
namespace {

using Lines = std::vector<std::string>;

TEST(ResultSet, FilesAreWrittenTogetherOrNotAtAllAndTheClosingNamesThem) {
  testing::Scratch_folder folder;
  std::filesystem::create_directory("c_Competition.out");
  testing::write_text("c_Scatchard.out", "an earlier analysis\n");
  testing::write_text("C.CRV", "\"a title\"\r\n");
  Result_set files;  // one curve file, the text of one fit
  files.stem = "c";
  files.date = "1970-01-01 00:00:00 UTC";
  files.inputs = {describe_input("C.CRV", 7)};
  files.out_text = "results\n";
  files.plot_text = "plot\n";
  files.commit("", std::string("competition\n"));
  testing::Dialogue d("");
  files.print_saved(d.console());
  const Lines lines = d.lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 4),
            (Lines{" Results saved to: c.out", " Plotting data saved to: c_Plot.out",
                   "ERROR: Cannot write file c_Competition.out",
                   " c_Scatchard.out is from an earlier analysis"}));
  // The results name their input and companions; the plot data their results.
  const std::string out = testing::read_text("c.out");
  EXPECT_EQ(out.rfind("results\n", 0), 0u);
  for (const std::string& line :
       Lines{" Curve 1:      C.CRV, 7 points", "title: \"a title\"", " Written with: c_Plot.out",
             "SHA-256: " + sha256_hex(testing::read_text("C.CRV"))})
    EXPECT_NE(out.find(line + "\n"), std::string::npos) << line;
  EXPECT_EQ(out.find("c_Competition.out"), std::string::npos);
  EXPECT_EQ(testing::read_text("c_Plot.out"),
            "plot\n Written with c.out by the analysis of 1970-01-01 00:00:00 UTC\n");

  // Without the results file no file is replaced.
  std::filesystem::remove("c.out");
  std::filesystem::create_directory("c.out");
  files.plot_text = "newer plot\n";
  files.commit("", std::nullopt);
  EXPECT_TRUE(files.saved.empty());
  EXPECT_EQ(files.not_saved, (Lines{"c.out", "c_Plot.out"}));
  EXPECT_EQ(testing::read_text("c_Plot.out").rfind("plot\n", 0), 0u);
}

}  // namespace
}  // namespace kelvora
