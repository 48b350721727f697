#include "platform/posix/posix_log_file.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

TEST(PosixLogFileTest, TurnsOverAtItsSizeAndKeepsItsOlderFiles) {
  testing::TempDir dir;
  const std::string path = dir / "state/tarvel/client.log";
  {
    PosixLogFile log(path, "tarvel", {.bytes = 1000, .files = 3});
    ASSERT_TRUE(log.is_open()) << log.error();
    for (int i = 0; i < 100; ++i) log.append("line " + std::to_string(i) + std::string(40, '.'));
  }
  const std::vector<std::string> files = support_log_files(path);
  ASSERT_EQ(files, (std::vector<std::string>{path, path + ".1", path + ".2"}));
  for (const std::string& file : files) EXPECT_LE(std::filesystem::file_size(file), 1000u) << file;
  const std::string newest = dir.read("state/tarvel/client.log");
  EXPECT_NE(newest.find(" tarvel[" + std::to_string(::getpid()) + "] line 99"), std::string::npos)
      << newest;
  EXPECT_EQ(dir.read("state/tarvel/client.log.2").find("line 0."), std::string::npos)
      << "the oldest lines went";
  EXPECT_EQ(std::filesystem::status(dir / "state/tarvel").permissions() &
                std::filesystem::perms::others_all,
            std::filesystem::perms::none);
}

TEST(PosixLogFileTest, AFolderThatTakesNoLogSaysWhyAndCostsNothingElse) {
  testing::TempDir dir;
  dir.write("state", "a file where the state folder should be");
  PosixLogFile log(dir / "state/tarvel/client.log");
  EXPECT_FALSE(log.is_open());
  EXPECT_EQ(log.error(), dir / "state/tarvel: not a directory");
  log.append("goes nowhere");
}

// Puts a variable back as it was when the test ends.
struct KeptVariable {
  explicit KeptVariable(const char* name) : name(name) {
    if (const char* value = std::getenv(name)) kept = value;
  }
  ~KeptVariable() {
    if (kept) {
      setenv(name, kept->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  const char* name;
  std::optional<std::string> kept;
};

TEST(PosixLogFileTest, EachClientFolderHasALogOfItsOwnInTheStateFolder) {
  const KeptVariable state("XDG_STATE_HOME");
  const KeptVariable home("HOME");
  setenv("XDG_STATE_HOME", "/s", 1);
  const std::string one = support_log_path("/home/p/casino");
  EXPECT_TRUE(one.starts_with("/s/tarvel/casino-")) << one;
  EXPECT_TRUE(one.ends_with(".log"));
  EXPECT_NE(one, support_log_path("/home/q/casino"));
  EXPECT_EQ(one, support_log_path("/home/p/casino"));
  setenv("XDG_STATE_HOME", "relative", 1);
  setenv("HOME", "/h", 1);
  EXPECT_TRUE(support_log_path("/c").starts_with("/h/.local/state/tarvel/c-"));
  unsetenv("XDG_STATE_HOME");
  unsetenv("HOME");
  EXPECT_EQ(support_log_path("/c"), "");
}

}  // namespace
}  // namespace tarvel
