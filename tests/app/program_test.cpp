#include "app/program.hpp"
#include "util/stem_lock.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "report/example_files.hpp"
#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;
using testing::Scratch_folder;
namespace fs = std::filesystem;

struct Session {
  explicit Session(const std::string& answers) : dialogue(answers) {
    status = run_program(dialogue.console(), std::chrono::milliseconds(0));
  }
  int count(const std::string& line) const {
    const auto lines = dialogue.lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  Dialogue dialogue;
  int status = -1;
};

TEST(MainMenu, ShowsTheBannerAsksBadAnswersAgainAndTakesTheFirstItem) {
  Session run("7\nx\n\n   \n2, 5\n5\n");
  EXPECT_EQ(run.status, 0);
  const auto lines = run.dialogue.lines();
  EXPECT_EQ(lines[2], "  KELVORA v2.0 - Ligand Receptor Binding Curve Fitting");
  EXPECT_TRUE(run.dialogue.has_line("CHOOSE OPTION (1-5): 7"));
  EXPECT_TRUE(run.dialogue.has_line(" Invalid choice. Please enter 1, 2, 3, 4 or 5."));
  EXPECT_TRUE(run.dialogue.has_line("ENTER A NUMBER [1, 2, 3, 4 or 5]"));
  EXPECT_EQ(run.count("               KELVORA MENU GUIDE"), 1);
  EXPECT_EQ(run.count(" MAIN MENU:"), 2);
  EXPECT_EQ(lines.back(), " Exiting program!");
}

TEST(Analysis, AStemThatAnotherSessionHoldsIsRefused) {
  Scratch_folder folder;
  Stem_lock other_session;
  ASSERT_EQ(other_session.acquire("busy"), Stem_lock::Outcome::locked);
  Session run("1\nbusy\nfree\nNOPE\n\n\n5\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.count("Another analysis is writing the results of busy now; choose another "
                      "output file name."),
            1);
  EXPECT_TRUE(run.dialogue.has_line("NOTE: No curve was read; the analysis is abandoned."));
  EXPECT_FALSE(fs::exists("free.lock"));
  other_session.release();
  EXPECT_FALSE(fs::exists("busy.lock"));
}

TEST(Analysis, BlankStemAndSaturationCurvesOnly) {
  Scratch_folder folder;
  ASSERT_TRUE(create_simple_saturation_file());
  Session run("1\n\nEX1_SAT\n\n1\n" + std::string(8, '\n') + "N\n5\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.dialogue.has_line(" Graphing data saved to: My_results_Scatchard.out"));
  for (const char* name : {"My_results.out", "My_results_Plot.out", "My_results_Scatchard.out"})
    EXPECT_TRUE(fs::is_regular_file(name)) << name;
  EXPECT_FALSE(fs::exists("My_results_Competition.out"));
  EXPECT_FALSE(fs::exists("My_results.lock"));
}

TEST(Analysis, OutputFileThatCannotBeCreatedOrAnEndedInputReturnsToTheMenu) {
  Scratch_folder folder;
  ASSERT_TRUE(create_simple_saturation_file());
  fs::create_directory("taken.out");                  // the results file's name is a folder
  Session run("1\nmissing_folder/x\n1\ntaken\n1\n");  // the input ends at the last stem prompt
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.dialogue.has_line("ERROR: Cannot create file missing_folder/x.out"));
  EXPECT_TRUE(run.dialogue.has_line("ERROR: Cannot create file taken.out"));
  EXPECT_FALSE(fs::exists("taken_Plot.out"));  // nothing half-made is left
  EXPECT_FALSE(fs::exists("My_results.out"));
  EXPECT_EQ(run.count(" MAIN MENU:"), 4);
}

TEST(Analysis, AnAnalysisThatReadsNoCurveLeavesOlderResultsAsTheyWere) {
  Scratch_folder folder;
  testing::write_text("stem.out", "older results\n");
  // A missing file, then a blank answer: back to the menu. Then no name at all.
  Session run("1\nstem\nNOPE\n\n\n1\nstem\n\n5\n");
  EXPECT_EQ(run.count(" MAIN MENU:"), 2);
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.dialogue.lines().back(), "***NO DATA FILES ENTERED, PROGRAM ENDED! ***");
  EXPECT_EQ(testing::read_text("stem.out"), "older results\n");
  EXPECT_FALSE(fs::exists("stem_Plot.out"));  // reserved by this run, then put back
}

TEST(CommandLine, AcceptsASeedAndHelpAndRefusesAnythingElse) {
  auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "kelvora");
    return parse_command_line(static_cast<int>(args.size()), args.data());
  };
  EXPECT_FALSE(parse({}).help || parse({}).seed || !parse({}).error.empty());
  const Command_line seeded = parse({"--seed", "18446744073709551615"});
  EXPECT_TRUE(seeded.error.empty());
  EXPECT_TRUE(seeded.seed == 18446744073709551615ull);
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_EQ(parse({}).plots, Plot_mode::automatic);
  EXPECT_EQ(parse({"--plots=svg", "--seed", "1"}).plots, Plot_mode::svg);
  EXPECT_EQ(parse({"--plots", "none"}).plots, Plot_mode::none);
  // clang-format off
  for (const auto& bad : std::vector<std::vector<const char*>>{
           {"--seed"}, {"--seed", "-1"}, {"--seed", "7x"}, {"--seed", "18446744073709551616"},
           {"--seeds", "7"}, {"--plots=jpeg"}, {"--plots"}, {"--plots="}})
    // clang-format on
    EXPECT_FALSE(parse(bad).error.empty()) << bad[0];
}

#ifdef KELVORA_BINARY
TEST(Program, ASeededSessionIsRepeatable) {
  Scratch_folder folder;
  // EX1_SAT, one site, default constants and estimates, automatic estimates
  // (with their random search) and the whole fit.
  testing::write_text("answers.txt", "4\n1\nrun\nEX1_SAT\n\n1\n\n\n\n\n\n\n\nY\nN\n5\n");
  std::string first;
  for (int run = 0; run < 2; ++run) {
    // The analysis record's date is the only difference it may show; a
    // fixed SOURCE_DATE_EPOCH takes it away too.
    const std::string command = "SOURCE_DATE_EPOCH=86400 " + std::string(KELVORA_BINARY) +
                                " --seed 7 --plots=none < answers.txt > transcript.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_FALSE(fs::exists("run_curve1.png"));
    // Answers from a file are echoed after their prompts.
    EXPECT_NE(testing::read_text("transcript.txt").find("CHOOSE OPTION (1-5): 4\n"),
              std::string::npos);
    // Every result file of the analysis, the bootstrap intervals included.
    const std::string files = testing::read_text("run.out") + testing::read_text("run_Plot.out") +
                              testing::read_text("run_Scatchard.out");
    EXPECT_NE(files.find("(95% CI = "), std::string::npos);
    EXPECT_NE(files.find("EX1_SAT, CURVE NO.    1"), std::string::npos);
    EXPECT_NE(files.find(" Date:         1970-01-02 00:00:00 UTC\n"
                         " Command line: kelvora --seed 7 --plots=none\n"),
              std::string::npos);
    if (run == 0)
      first = files;
    else
      EXPECT_EQ(files, first);
  }
}

TEST(Program, ASaturationAndACompetitionCurveWriteEveryFile) {
  Scratch_folder folder;
  // EX1_SAT + EX2_COMP, C2 fitted, automatic estimates.
  testing::write_text("answers.txt", "4\n1\npair\nEX1_SAT\nEX2_COMP\n\n1\nC1 B1\n" +
                                         std::string(11, '\n') + "N\n5\n");
  const std::string command =
      std::string(KELVORA_BINARY) + " --seed 3 < answers.txt > transcript.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string samples = testing::read_text("bootstrap_multicurve.dat");
  // Header, 100 rows and the line naming the analysis; the stem's copy.
  EXPECT_EQ(std::count(samples.begin(), samples.end(), '\n'), 102);
  EXPECT_EQ(samples.rfind("# Bootstrap_Sample K11 K21 R1 N1 N2 C2\n", 0), 0u);
  EXPECT_NE(samples.find("\n# Written with pair.out by the analysis of "), std::string::npos);
  EXPECT_EQ(testing::read_text("pair_bootstrap.dat"), samples);
  EXPECT_NE(testing::read_text("pair_Competition.out").find("IC50 (bootstrap median)"),
            std::string::npos);
  EXPECT_NE(testing::read_text("pair_Plot.out").find("EX2_COMP, FIT NO.    2"), std::string::npos);
  // Answers from a file: the plots become 800 x 600 PNG files (the size is
  // in the header's first chunk, big-endian), named on the console.
  const std::string transcript = testing::read_text("transcript.txt");
  // The estimates of several curves come with a notice that waits for ENTER.
  for (const std::string line : {"   MULTI-CURVE FIT DETECTED\n", "PRESS <ENTER> TO CONTINUE...\n",
                                 " COMPLETED MULT-CURVE OPTIMIZATION\n", "CURVE: EX2_COMP\n",
                                 " Curve number:                2\n"})
    EXPECT_NE(transcript.find(line), std::string::npos) << line;
  for (const std::string name : {"pair_curve1.png", "pair_curve2.png"}) {
    const std::string png = testing::read_text(name);
    ASSERT_GT(png.size(), 24u) << name;
    EXPECT_EQ(png.substr(12, 12), std::string("IHDR\0\0\x03\x20\0\0\x02\x58", 12));
    EXPECT_NE(transcript.find(" Plot saved to: " + name + "\n"), std::string::npos);
  }
}

// The program as a child process: answers written to its input, its output
// read until a given text appears, then a signal sent to it.
class Child {
 public:
  explicit Child(const std::vector<std::string>& arguments) {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      for (const int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      std::vector<char*> argv;
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_child_ = in[1];
    from_child_ = out[0];
  }
  ~Child() {
    if (to_child_ >= 0) close(to_child_);
    if (from_child_ >= 0) close(from_child_);
    if (pid_ > 0 && status_ < 0) kill(pid_, SIGKILL), wait_for_exit();
  }
  void answer(const std::string& text) {
    EXPECT_EQ(write(to_child_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void close_input() {
    close(to_child_);
    to_child_ = -1;
  }
  // Reads the output until `text` has appeared; false when it ends first.
  bool wait_for(const std::string& text) {
    char buffer[4096];
    while (output_.find(text) == std::string::npos) {
      const ssize_t n = read(from_child_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  void signal(int number) { kill(pid_, number); }
  // The exit status, or 1000 + the signal that killed it.
  int wait_for_exit() {
    wait_for("\x01never");  // drain the output until the end
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return status_;
  }
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  int status_ = -1;
  std::string output_;
};

TEST(Program, AnInterruptedBootstrapWritesTheFitAndKeepsWhatItDoesNotReplace) {
  Scratch_folder folder;
  ASSERT_TRUE(create_simple_saturation_file());
  ASSERT_TRUE(create_competition_file());
  // The signal follows the tenth replicate; on a machine so busy that the
  // other ninety finish before it arrives, the run is tried again.
  bool cut_short = false;
  for (int attempt = 0; attempt < 3 && !cut_short; ++attempt) {
    testing::write_text("pair.out", "older results\n");
    testing::write_text("pair_curve1.png", "an older plot\n");
    Child child({KELVORA_BINARY, "--seed", "3", "--plots=png"});
    child.answer("1\npair\nEX1_SAT\nEX2_COMP\n\n1\nC1 B1\n" + std::string(9, '\n') + "N\n" +
                 std::string(8, '\n') + "N\n5\n");
    child.close_input();
    ASSERT_TRUE(child.wait_for("  Completed 10/100"));
    child.signal(SIGINT);
    EXPECT_EQ(child.wait_for_exit(), 130);
    EXPECT_EQ(testing::read_text("pair_curve1.png"), "an older plot\n");  // no plot after it
    const std::string out = testing::read_text("pair.out");
    EXPECT_NE(out.find("FINAL PARAMETER ESTIMATES"), std::string::npos);
    EXPECT_NE(out.find(" Written with: pair_Plot.out\n"), std::string::npos);  // complete
    cut_short = out.find(" Interrupted:  by SIGINT; the bootstrap ran ") != std::string::npos;
    EXPECT_NE(testing::read_text("pair_Competition.out").find("Written with pair.out"),
              std::string::npos);
    EXPECT_NE(child.output().find(" Results saved to: pair.out"), std::string::npos);
    EXPECT_FALSE(fs::exists("pair.lock"));
  }
  EXPECT_TRUE(cut_short);
}

TEST(Program, AnInterruptionAtAPromptEndsTheSessionAndTouchesNoFile) {
  Scratch_folder folder;
  ASSERT_TRUE(create_simple_saturation_file());
  testing::write_text("ex.out", "older results\n");
  Child child({KELVORA_BINARY, "--plots=none"});
  child.answer("1\nex\nEX1_SAT\n\n");
  ASSERT_TRUE(child.wait_for("NUMBER OF BINDING SITES: "));
  child.signal(SIGTERM);
  EXPECT_EQ(child.wait_for_exit(), 143);
  EXPECT_EQ(testing::read_text("ex.out"), "older results\n");
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 2);
}

#endif

}  // namespace
}  // namespace kelvora
