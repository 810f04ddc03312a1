#include "util/files.hpp"
#include "util/checksum.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/scratch_folder.hpp"

namespace kelvora {
namespace {

namespace fs = std::filesystem;
using testing::read_text;
using testing::Scratch_folder;
using testing::write_text;

TEST(ReplaceFile, AFailedWriteKeepsTheOldFileAndLeavesNoTrace) {
  Scratch_folder folder;
  // Stands for a full disk: half the text gets out, then the write fails.
  const Text_writer failing = [](std::FILE* file, std::string_view text) {
    write_all(file, text.substr(0, text.size() / 2));
    return false;
  };
  write_text("OLD.CRV", "old text\n");
  EXPECT_FALSE(replace_file("OLD.CRV", "new text\n", failing));
  EXPECT_FALSE(replace_file("NEW.CRV", "new text\n", failing));
  EXPECT_FALSE(replace_file("missing/NEW.CRV", "new text\n"));
  EXPECT_EQ(read_text("OLD.CRV"), "old text\n");
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);

  EXPECT_TRUE(replace_file("OLD.CRV", "new text\n"));
  EXPECT_EQ(read_text("OLD.CRV"), "new text\n");
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

TEST(ReplaceFile, WritesThroughALinkAndLeavesADanglingOneAlone) {
  Scratch_folder folder;
  fs::create_directory("kept");
  write_text("kept/results.out", "old\n");
  fs::create_symlink("kept/results.out", "results.out");
  fs::create_symlink("nowhere/results.out", "dangling.out");
  EXPECT_TRUE(replace_file("results.out", "new\n"));
  EXPECT_TRUE(fs::is_symlink("results.out"));
  EXPECT_EQ(read_text("kept/results.out"), "new\n");
  EXPECT_FALSE(replace_file("dangling.out", "new\n"));
  EXPECT_TRUE(fs::is_symlink("dangling.out"));
  EXPECT_EQ(std::distance(fs::directory_iterator("kept"), fs::directory_iterator()), 1);
}

TEST(Checksum, Sha256OfTheStandardTestMessages) {
  // FIPS 180-4 examples: "abc" and the empty message.
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace kelvora
