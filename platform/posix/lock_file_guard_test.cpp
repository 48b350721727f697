#include "platform/posix/lock_file_guard.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

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
  LockFileInstanceGuard nowhere(dir / "missing-parent/runtime");
  EXPECT_EQ(nowhere.claim("{GUARD}"), Claim::failed);
  // Only a real directory will do: not a link to one, not a file.
  std::filesystem::create_directory_symlink(dir.path(), dir / "link");
  LockFileInstanceGuard through_link(dir / "link");
  EXPECT_EQ(through_link.claim("{GUARD}"), Claim::failed);
  dir.write("plain-file", "x");
  LockFileInstanceGuard in_file(dir / "plain-file");
  EXPECT_EQ(in_file.claim("{GUARD}"), Claim::failed);
}

}  // namespace
}  // namespace tarvel
