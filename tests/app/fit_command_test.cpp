// `kelvora fit` run as a script would run it: the same numbers as the menu's
// seeded session, machine-readable files that agree with the printed ones,
// and refusals with their status and one line.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "report/example_files.hpp"
#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

#ifdef KELVORA_BINARY
namespace kelvora {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Runs a shell command line with the program; its exit status.
int run(const std::string& arguments) {
  const std::string command =
      "SOURCE_DATE_EPOCH=86400 " + std::string(KELVORA_BINARY) + " " + arguments;
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The final parameter tables and fit figures of STEM.out: everything from the
// first FINAL PARAMETER ESTIMATES to the analysis record.
std::string summaries(const std::string& stem) {
  const std::string text = testing::read_text(stem + ".out");
  const auto from = text.find("FINAL PARAMETER ESTIMATES");
  const auto to = text.find("ANALYSIS RECORD");
  return from == std::string::npos ? "" : text.substr(from, to - from);
}

// A value of the last summary of STEM.out, as printed there.
std::string printed(const std::string& stem, const std::string& label, int width) {
  const std::string text = testing::read_text(stem + ".out");
  const auto at = text.rfind("\n" + label);
  return at == std::string::npos ? "" : text.substr(at + 1 + label.size(), width);
}

class FitCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::Dialogue quiet("");
    create_tutorial_files(quiet.console());
  }
  testing::Scratch_folder folder;
};

TEST_F(FitCommand, GivesTheSeededMenuSessionsNumbersAndFilesThatAgreeWithThem) {
  // The menu: EX1_SAT alone, then EX1_SAT with EX2_COMP, one site, every
  // default accepted, automatic estimates, no second fit.
  testing::write_text("one.txt", "1\nmenu1\nEX1_SAT\n\n1\n" + std::string(8, '\n') + "N\n5\n");
  testing::write_text("pair.txt",
                      "1\nmenu2\nEX1_SAT\nEX2_COMP\n\n1\n" + std::string(12, '\n') + "N\n5\n");
  ASSERT_EQ(run("--seed 1 --plots=none < one.txt > one.log"), 0);
  ASSERT_EQ(run("--seed 1 --plots=none < pair.txt > pair.log"), 0);
  ASSERT_EQ(run("fit --sites 1 --seed 1 --plots=none EX1_SAT > fit1.log"), 0);
  ASSERT_EQ(run("fit --seed 1 --plots=none --stem fit2 EX1_SAT.CRV EX2_COMP > fit2.log"), 0);
  ASSERT_FALSE(summaries("menu1").empty());
  EXPECT_EQ(summaries("EX1_SAT"), summaries("menu1"));
  EXPECT_EQ(summaries("fit2"), summaries("menu2"));
  EXPECT_EQ(testing::read_text("fit2_Competition.out").substr(0, 2000),
            testing::read_text("menu2_Competition.out").substr(0, 2000));

  // STEM.json holds the printed values to their printed precision, and so
  // does the CSV table.
  const json j = json::parse(testing::read_text("fit2.json"));
  EXPECT_EQ(j["format"], 1);
  EXPECT_EQ(j["inputs"].size(), 2u);
  EXPECT_EQ(j["inputs"][1]["sha256"].get<std::string>().size(), 64u);
  EXPECT_EQ(j["model"]["curves"], 2);
  std::istringstream csv(testing::read_text("fit2_results.csv"));
  std::string row;
  std::getline(csv, row);
  for (const char* name : {"K11", "K21", "R1", "N1", "N2"}) {
    const json& parameter = j["parameters"][name];
    const std::string label = fmt_left(name, 10) + " = ";
    EXPECT_EQ(fmt_es(parameter["value"].get<double>(), 14, 6), printed("fit2", label, 14)) << name;
    EXPECT_EQ(parameter["fixed"], false);
    ASSERT_TRUE(std::getline(csv, row));
    const auto fields = split_items(row);
    EXPECT_EQ(fields[0], name);
    EXPECT_EQ(*parse_real(fields[1]), parameter["value"].get<double>());
    EXPECT_EQ(*parse_real(fields[2]), parameter["se"].get<double>());
  }
  const double kd = 1.0 / j["parameters"]["K11"]["value"].get<double>();
  EXPECT_NEAR(j["parameters"]["K11"]["kd"]["value"].get<double>() *
                  (j["parameters"]["K11"]["kd"]["unit"] == "nM" ? 1e-9 : 1e-12),
              kd, 1e-12 * kd);
  EXPECT_EQ(fmt_es(j["statistics"]["ssq"].get<double>(), 14, 6),
            printed("fit2", "SUM OF SQUARED RESIDUALS (SSQ) = ", 14));
  EXPECT_EQ(j["runs_test"].size(), 2u);
  ASSERT_EQ(j["competition"].size(), 1u);
  EXPECT_EQ(j["competition"][0]["curve"], 2);
  EXPECT_GT(j["competition"][0]["ki"]["value"].get<double>(), 0.0);
  EXPECT_TRUE(j["comparison"].is_null());
  for (const char* file : {"fit2.out", "fit2_Plot.out", "fit2_results.csv", "fit2.json"})
    EXPECT_NE(std::find(j["files"].begin(), j["files"].end(), file), j["files"].end()) << file;
  // The same curve written in nM, read with --units nM, is the same fit.
  std::istringstream molar(testing::read_text("EX1_SAT.CRV"));
  std::string nanomolar;
  int line_number = 0;
  for (std::string line; std::getline(molar, line); nanomolar += line + "\n") {
    if (++line_number <= 4) continue;
    for (std::size_t e = line.find("E-"); e != std::string::npos; e = line.find("E-", e + 2)) {
      const int exponent = std::stoi(line.substr(e + 1, 3)) + 9;
      line.replace(e + 1, 3,
                   (exponent < 0 ? "-" : "+") + std::string(std::abs(exponent) < 10 ? "0" : "") +
                       std::to_string(std::abs(exponent)));
    }
  }
  testing::write_text("SAT_NM.CRV", nanomolar);
  ASSERT_EQ(run("fit --seed 1 --plots=none --units nM --stem nm SAT_NM > nm.log"), 0);
  EXPECT_NE(nanomolar.find("1.000000E-02"), std::string::npos);
  EXPECT_EQ(summaries("nm"), summaries("EX1_SAT"));
  EXPECT_EQ(json::parse(testing::read_text("nm.json"))["units"], "nM");
  // The final table shows the dissociation constant in familiar units too.
  EXPECT_NE(testing::read_text("fit1.log").find(" M = 1.00 nM)"), std::string::npos);
}

TEST_F(FitCommand, ComparesOneSiteWithTwoAndSkipsTheBootstrapWhenAsked) {
  ASSERT_EQ(run("fit --sites 2 --compare --bootstrap 0 --quiet --plots=none EX3_TWOSITE "
                "> compare.log 2> compare.err"),
            0);
  const std::string log = testing::read_text("compare.log");
  EXPECT_NE(log.find("MODEL COMPARISON (1 vs 2 sites)"), std::string::npos);
  EXPECT_NE(log.find("No bootstrap was run"), std::string::npos);
  EXPECT_EQ(log.find("DETAILED RESULTS"), std::string::npos);  // quiet
  const json j = json::parse(testing::read_text("EX3_TWOSITE.json"));
  EXPECT_EQ(j["model"]["sites"], 2);
  EXPECT_EQ(j["bootstrap"]["replicates"], 0);
  EXPECT_TRUE(j["parameters"]["K11"]["se"].is_null());
  const json& c = j["comparison"];
  EXPECT_EQ(c["one_site"]["sites"], 1);
  EXPECT_EQ(fmt_es(c["f"].get<double>(), 12, 4), log.substr(log.find("   F = ") + 7, 12));
  const auto two_sites = log.find("AICc = ", log.find("2 sites:"));
  EXPECT_EQ(fmt_es(c["two_sites"]["aicc"].get<double>(), 12, 4), log.substr(two_sites + 7, 12));
  EXPECT_GT(c["p"].get<double>(), 0.0);
  EXPECT_LT(c["p"].get<double>(), 0.05);
}

TEST_F(FitCommand, WritesUtf8JsonFromATitleInWindows1252) {
  // "Caf\xe9 \x80 \xb1", as a Windows editor saves it.
  testing::write_text("LATIN.CRV",
                      "\"Caf\xe9 \x80 \xb1\"\n0 0 0.001 0 0\n1 1\n0.0\n1e-10 1e-11 3\n"
                      "1e-9 5e-11 3\n1e-8 9e-11 3\n1e-7 1e-10 3\n");
  ASSERT_EQ(run("fit --quiet --plots=none --bootstrap 0 LATIN > latin.log"), 0);
  const json j = json::parse(testing::read_text("LATIN.json"));
  EXPECT_EQ(j["inputs"][0]["title"], "Caf\xC3\xA9 \xE2\x82\xAC \xC2\xB1");
}

TEST_F(FitCommand, RefusesBadUsageAndInputWithStatusTwoAndOneLine) {
  testing::write_text("BAD.CRV", "\"bad\"\n0 0 0.001 0 0\n1 x\n0.0\n1e-9 1e-10 3\n");
  const std::pair<const char*, const char*> refusals[] = {
      {"fit --sites 3 EX1_SAT", "--sites"},
      {"fit --seed -1 EX1_SAT", "--seed needs a whole number"},
      {"fit --frobnicate EX1_SAT", "frobnicate"},
      {"fit", "CURVE"},
      {"fit MISSING", "no curve file MISSING"},
      {"fit --hold K99 EX1_SAT", "K99 is no parameter"},
      {"fit --start K11 EX1_SAT", "needs a value"},
      {"fit --start K11=1,5E9 EX1_SAT", "decimals take a point"},
      {"fit --start K11=x EX1_SAT", "is not a number"},
      {"fit --start C1=2 EX1_SAT", "names a constant"},
      {"fit --hold C1,B1,R1=5 EX1_SAT", "R1 must lie between"},
      {"fit --hold NONE EX1_SAT EX2_COMP EX3_TWOSITE", ""},  // fits: not a refusal
      {"fit --stem no/such/folder/x EX1_SAT", "cannot create no/such/folder/x.out"},
      {"fit BAD", "BAD.CRV, line 3"}};
  for (const auto& [arguments, reason] : refusals) {
    const int status = run(std::string(arguments) +
                           " --plots=none --bootstrap 0 --quiet "
                           "> refused.log 2> refused.err");
    const std::string err = testing::read_text("refused.err");
    if (*reason == '\0') {
      EXPECT_EQ(status, 0) << arguments << err;
      continue;
    }
    EXPECT_EQ(status, 2) << arguments;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << arguments << "\n" << err;
    EXPECT_TRUE(err.starts_with("kelvora fit: ")) << err;
    EXPECT_NE(err.find(reason), std::string::npos) << arguments << "\n" << err;
  }
  EXPECT_FALSE(fs::exists("BAD.out"));
  EXPECT_FALSE(fs::exists("MISSING.out"));
  // The help names every option with an example.
  ASSERT_EQ(run("fit --help > help.txt"), 0);
  const std::string help = testing::read_text("help.txt");
  for (const char* option : {"--sites", "--hold", "--start", "--no-estimates", "--stem",
                             "--bootstrap", "--compare", "--seed", "--plots", "--quiet", "--units"})
    EXPECT_NE(help.find(std::string("Example: ") + option), std::string::npos) << option;
}

}  // namespace
}  // namespace kelvora
#endif
