#include "platform/posix/posix_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

TEST(PosixFiles, BackslashesAndRelativeNamesMapIntoTheRoot) {
  testing::TempDir dir;
  PosixFiles files(dir.path() + "/");
  EXPECT_EQ(files.working_directory(), dir.path());
  EXPECT_EQ(files.native_path("app-popup\\login.swf"), dir.path() + "/app-popup/login.swf");
  EXPECT_EQ(files.native_path(dir.path() + "/\\app-popup\\x"), dir.path() + "//app-popup/x");
  EXPECT_FALSE(files.create_directory("games\\slot\\")) << "one folder at a time";
  ASSERT_TRUE(files.create_directory("games"));
  ASSERT_TRUE(files.create_directory("games\\slot\\"));
  ASSERT_TRUE(files.write("games\\slot\\a.txt", "hello"));
  EXPECT_EQ(dir.read("games/slot/a.txt"), "hello");
  EXPECT_EQ(files.read(dir.path() + "/games\\slot\\a.txt"), "hello");
  EXPECT_EQ(files.kind("games\\slot"), Files::Kind::directory);
  EXPECT_FALSE(files.read("games\\slot\\none").has_value());
}

TEST(PosixFiles, WriteReplacesWholeAndLeavesNoTemporaryFile) {
  testing::TempDir dir;
  PosixFiles files(dir.path());
  ASSERT_TRUE(files.write("f", "first"));
  ASSERT_TRUE(files.write("f", "2nd"));
  EXPECT_EQ(dir.read("f"), "2nd");
  EXPECT_EQ(files.list("").size(), 1u);
  EXPECT_FALSE(files.write("no-such-folder\\f", "x"));
}

TEST(PosixFiles, KindsRemoveMoveAndList) {
  testing::TempDir dir;
  PosixFiles files(dir.path());
  dir.write("a", "1");
  dir.write("sub/b", "2");
  ASSERT_EQ(::symlink((dir / "sub").c_str(), (dir / "link").c_str()), 0);
  EXPECT_EQ(files.kind("link"), Files::Kind::symlink);
  EXPECT_EQ(files.kind("a"), Files::Kind::file);
  EXPECT_EQ(files.kind("nothing"), Files::Kind::missing);

  auto entries = files.list("");
  std::sort(entries.begin(), entries.end(), [](auto& x, auto& y) { return x.name < y.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "a");
  EXPECT_EQ(entries[1].kind, Files::Kind::symlink);
  EXPECT_EQ(entries[2].kind, Files::Kind::directory);

  EXPECT_TRUE(files.move("a", "sub\\b"));
  EXPECT_EQ(dir.read("sub/b"), "1");
  EXPECT_TRUE(files.remove_file("link"));
  EXPECT_TRUE(dir.exists("sub/b")) << "removing a link leaves its target alone";
  EXPECT_TRUE(files.remove_file("already-gone"));
}

// A link planted below the root never leads a change out of it: making a
// folder, writing, moving and removing through it all fail, and the folder it
// points to stays as it was. A link at or above the root is the system's
// business and is followed.
TEST(PosixFiles, NoChangePassesThroughALinkBelowTheRoot) {
  testing::TempDir dir;
  dir.write("app/a", "mine");
  dir.write("outside/victim", "theirs");
  ASSERT_EQ(::symlink("../outside", (dir / "app/games").c_str()), 0);
  ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "app/top").c_str()), 0);
  PosixFiles files(dir / "app");
  EXPECT_FALSE(files.create_directory("games\\slot"));
  EXPECT_FALSE(files.create_directory("games")) << "a link is no folder";
  EXPECT_FALSE(files.write("games\\new", "x"));
  EXPECT_FALSE(files.write("top\\outside\\new", "x"));
  EXPECT_FALSE(files.move("a", "games\\a"));
  EXPECT_FALSE(files.move("games\\victim", "stolen"));
  EXPECT_FALSE(files.remove_file("games\\victim"));
  EXPECT_FALSE(files.remove_file(dir / "app/games/victim"));
  EXPECT_EQ(testing::names_in(dir / "outside"), std::vector<std::string>{"victim"});
  EXPECT_EQ(dir.read("outside/victim"), "theirs");
  EXPECT_EQ(dir.read("app/a"), "mine");

  ASSERT_EQ(::symlink((dir / "app").c_str(), (dir / "root-link").c_str()), 0);
  PosixFiles through_root(dir / "root-link");
  ASSERT_TRUE(through_root.create_directory("sub"));
  ASSERT_TRUE(through_root.write("sub\\f", "ok"));
  ASSERT_TRUE(through_root.move("sub\\f", "g"));
  EXPECT_TRUE(through_root.remove_file("g"));
  EXPECT_TRUE(dir.exists("app/sub"));
}

}  // namespace
}  // namespace tarvel
