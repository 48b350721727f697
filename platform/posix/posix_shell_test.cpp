#include "platform/posix/posix_shell.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_files.hpp"
#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

struct ShellHarness {
  testing::TempDir dir;
  testing::TempDir outside;
  PosixFiles files{dir.path()};
  PosixShell shell{files};

  void link(const std::string& target, const std::string& name) const {
    ASSERT_EQ(::symlink(target.c_str(), (dir / name).c_str()), 0);
  }
  mode_t mode(const std::string& name) const {
    struct stat st {};
    EXPECT_EQ(::lstat((dir / name).c_str(), &st), 0);
    return st.st_mode & 07777;
  }
};

TEST(PosixShell, ForceDeleteRemovesFilesAndLinksButNoFolder) {
  ShellHarness h;
  h.dir.write("plain.xml", "x");
  h.dir.write("locked.xml", "x");
  ASSERT_EQ(::chmod((h.dir / "locked.xml").c_str(), 0444), 0);
  h.dir.write("old.build/inside.txt", "keep");
  h.outside.write("target.txt", "outside");
  h.link(h.outside / "target.txt", "link.txt");

  EXPECT_TRUE(h.shell.force_delete_file("plain.xml"));
  EXPECT_TRUE(h.shell.force_delete_file("locked.xml"));
  EXPECT_TRUE(h.shell.force_delete_file("link.txt"));
  EXPECT_TRUE(h.shell.force_delete_file("never-there.xml"));
  EXPECT_FALSE(h.shell.force_delete_file("old.build"));

  EXPECT_FALSE(h.dir.exists("plain.xml"));
  EXPECT_FALSE(h.dir.exists("locked.xml"));
  EXPECT_FALSE(h.dir.exists("link.txt"));
  EXPECT_EQ(h.outside.read("target.txt"), "outside");
  EXPECT_EQ(h.dir.read("old.build/inside.txt"), "keep");
}

TEST(PosixShell, RemoveTreeNeverFollowsLinksOutOfTheFolder) {
  ShellHarness h;
  h.outside.write("precious/data.bin", "outside");
  h.dir.write("games/slot/deep/a.swf", "a");
  h.dir.write("games/b.swf", "b");
  ASSERT_EQ(::chmod((h.dir / "games/b.swf").c_str(), 0444), 0);
  h.link(h.outside / "precious", "games/slot/escape");
  h.link(h.outside / "precious", "portal");
  h.dir.write("README", "a file, not a folder");

  EXPECT_TRUE(h.shell.remove_folder_tree("games"));
  EXPECT_TRUE(h.shell.remove_folder_tree("portal"));
  EXPECT_TRUE(h.shell.remove_folder_tree("gone-already"));
  EXPECT_FALSE(h.shell.remove_folder_tree("README"));

  EXPECT_FALSE(h.dir.exists("games"));
  EXPECT_FALSE(h.dir.exists("portal"));
  EXPECT_EQ(h.outside.read("precious/data.bin"), "outside");
  EXPECT_EQ(h.dir.read("README"), "a file, not a folder");
}

TEST(PosixShell, RemoveTreeRefusesNamesThatMeanTheFolderItself) {
  ShellHarness h;
  h.dir.write("sub/keep.txt", "k");
  for (const char* name : {"", ".", "..", "sub\\.", "sub\\..", "\\"}) {
    EXPECT_FALSE(h.shell.remove_folder_tree(name)) << "'" << name << "'";
  }
  EXPECT_EQ(h.dir.read("sub/keep.txt"), "k");
}

TEST(PosixShell, NamesAreNeverReadAsCommands) {
  ShellHarness h;
  const std::string hostile[] = {"a\" & touch pwned & \".txt", "$(touch pwned).txt",
                                 "`touch pwned`", "x; touch pwned"};
  for (const std::string& name : hostile) {
    h.dir.write(name, "x");
    EXPECT_TRUE(h.shell.force_delete_file(name)) << name;
    EXPECT_FALSE(h.dir.exists(name)) << name;
    ASSERT_TRUE(h.files.create_directory(name));
    EXPECT_TRUE(h.shell.remove_folder_tree(name)) << name;
  }
  EXPECT_FALSE(h.dir.exists("pwned"));
  EXPECT_TRUE(h.files.list("").empty());
}

TEST(PosixShell, MoveReplacesTheTargetInOneStep) {
  ShellHarness h;
  h.dir.write("glo_stp.xml", "server");
  h.dir.write("setup.xml", "local");
  EXPECT_TRUE(h.shell.move_replacing("glo_stp.xml", "setup.xml"));
  EXPECT_EQ(h.dir.read("setup.xml"), "server");
  EXPECT_FALSE(h.dir.exists("glo_stp.xml"));
  EXPECT_FALSE(h.shell.move_replacing("glo_stp.xml", "setup.xml"));
  EXPECT_EQ(h.dir.read("setup.xml"), "server");
}

TEST(PosixShell, MarkExecutableSetsTheModeAndRefusesLinks) {
  ShellHarness h;
  h.dir.write("tarvel", "#!");
  ASSERT_EQ(::chmod((h.dir / "tarvel").c_str(), 0600), 0);
  EXPECT_TRUE(h.shell.mark_executable("tarvel"));
  EXPECT_EQ(h.mode("tarvel"), 0755u);

  h.outside.write("victim", "v");
  ASSERT_EQ(::chmod((h.outside / "victim").c_str(), 0600), 0);
  h.link(h.outside / "victim", "planted");
  EXPECT_FALSE(h.shell.mark_executable("planted"));
  struct stat st {};
  ASSERT_EQ(::stat((h.outside / "victim").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_FALSE(h.shell.mark_executable("missing"));
}

}  // namespace
}  // namespace tarvel
