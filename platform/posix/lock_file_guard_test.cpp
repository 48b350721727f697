#include "platform/posix/lock_file_guard.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

using Claim = InstanceGuard::Claim;

TEST(LockFileInstanceGuard, OneHolderAtATimeAndFreeAgainAfterIt) {
  testing::TempDir dir;
  const std::string runtime = dir / "runtime";  // created on first claim
  auto first = std::make_unique<LockFileInstanceGuard>(runtime);
  LockFileInstanceGuard second(runtime);
  EXPECT_EQ(first->claim("{GUARD}"), Claim::claimed);
  EXPECT_EQ(first->claim("{GUARD}"), Claim::claimed) << "claiming again keeps the lock";
  EXPECT_EQ(second.claim("{GUARD}"), Claim::already_running);
  EXPECT_EQ(second.claim("{OTHER}"), Claim::claimed) << "another name is another lock";
  first.reset();
  LockFileInstanceGuard third(runtime);
  EXPECT_EQ(third.claim("{GUARD}"), Claim::claimed);
}

TEST(LockFileInstanceGuard, NamesStayInsideTheDirectoryAndFailuresAreReported) {
  testing::TempDir dir;
  LockFileInstanceGuard guard(dir.path());
  EXPECT_EQ(guard.claim("../escape/x"), Claim::claimed);
  EXPECT_TRUE(dir.exists(".._escape_x.lock"));
  LockFileInstanceGuard nowhere(dir / "missing/parent/runtime");  // one level is made, not two
  EXPECT_EQ(nowhere.claim("{GUARD}"), Claim::failed);
  // Only a real directory will do: not a link to one, not a file.
  std::filesystem::create_directory_symlink(dir.path(), dir / "link");
  LockFileInstanceGuard through_link(dir / "link");
  EXPECT_EQ(through_link.claim("{GUARD}"), Claim::failed);
  dir.write("plain-file", "x");
  LockFileInstanceGuard in_file(dir / "plain-file");
  EXPECT_EQ(in_file.claim("{GUARD}"), Claim::failed);
}

// A folder that will not do (not a folder, a link, another user's) passes
// the claim on to the next; all of them failing says why for each.
TEST(LockFileInstanceGuard, FallsBackPastFoldersThatWillNotDo) {
  testing::TempDir dir;
  dir.write("plain-file", "x");
  std::filesystem::create_directory_symlink(dir.path(), dir / "link");
  const std::vector<std::string> folders{dir / "plain-file", dir / "link", dir / "cache/tarvel"};
  LockFileInstanceGuard first(folders);
  EXPECT_EQ(first.claim("{GUARD}"), Claim::claimed);
  EXPECT_TRUE(dir.exists("cache/tarvel/{GUARD}.lock")) << "the missing parent was made too";
  EXPECT_EQ(first.failure(), "");
  LockFileInstanceGuard second(folders);
  EXPECT_EQ(second.claim("{GUARD}"), Claim::already_running);

  LockFileInstanceGuard none({dir / "plain-file", dir / "plain-file/sub"});
  EXPECT_EQ(none.claim("{GUARD}"), Claim::failed);
  EXPECT_NE(none.failure().find(dir / "plain-file: not a folder"), std::string::npos)
      << none.failure();
  EXPECT_NE(none.failure().find(dir / "plain-file/sub: "), std::string::npos) << none.failure();
  LockFileInstanceGuard nowhere(std::vector<std::string>{});
  EXPECT_EQ(nowhere.claim("{GUARD}"), Claim::failed);
  EXPECT_FALSE(nowhere.failure().empty());
}

// Environment variables are the process's own; each case restores them.
struct Environment {
  explicit Environment(std::vector<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
  }
  ~Environment() {
    for (const auto& [name, value] : saved_)
      value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(LockFileInstanceGuard, RuntimeFolderFirstThenTheUsersCacheNeverTmp) {
  using Folders = std::vector<std::string>;
  {
    Environment env({{"XDG_RUNTIME_DIR", "/run/user/7"}, {"XDG_CACHE_HOME", "/c"}, {"HOME", "/h"}});
    EXPECT_EQ(LockFileInstanceGuard::user_lock_directories(),
              (Folders{"/run/user/7", "/c/tarvel"}));
  }
  {
    Environment env({{"XDG_RUNTIME_DIR", nullptr}, {"XDG_CACHE_HOME", nullptr}, {"HOME", "/h"}});
    EXPECT_EQ(LockFileInstanceGuard::user_lock_directories(), (Folders{"/h/.cache/tarvel"}));
  }
  {
    Environment env({{"XDG_RUNTIME_DIR", "relative"}, {"XDG_CACHE_HOME", "also"}, {"HOME", "/h"}});
    EXPECT_EQ(LockFileInstanceGuard::user_lock_directories(), (Folders{"/h/.cache/tarvel"}))
        << "relative values are ignored, as the base directory rules say";
  }
}

}  // namespace
}  // namespace tarvel
