#include "update/self_update.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/command_line_shell.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PurgeKeepRules, FilesByMarkOrExactNameFoldersByDashOrExactName) {
  struct Case {
    const char* name;
    bool kept;
  };
  const Case files[] = {
      {"Tarvel.exe", true},    {"libx.dll", true},       {"a.lib", true},
      {"notes.data", true},    {"x.exe.bak", true},      {"Config.xml", true},
      {"setup.xml", true},     {"glo_stp.xml", true},    {"config.xml", false},
      {"Setup.xml", false},    {"setup.xml.old", false}, {"common_install.xml", false},
      {"temp_ver.xml", false}, {"a.EXE", false},         {"tarvel.bin", true},
  };
  for (const Case& c : files) {
    EXPECT_EQ(purge_keeps_file(c.name, "tarvel.bin"), c.kept) << c.name;
  }
  EXPECT_FALSE(purge_keeps_file("tarvel.bin", "")) << "no launcher name keeps nothing extra";

  const Case folders[] = {
      {"app-popup", true}, {"App_Images", true},  {"XMLFile", true},   {"-", true},
      {"games", false},    {"app_images", false}, {"XMLFiles", false},
  };
  for (const Case& c : folders) EXPECT_EQ(purge_keeps_folder(c.name), c.kept) << c.name;
}

TEST(BackupName, UtcDateAndTimeWithoutHourOrLeadingZeros) {
  UtcTime t;
  t.year = 2017, t.month = 3, t.day = 5, t.hour = 14, t.minute = 7, t.second = 9;
  EXPECT_EQ(backup_name("Tarvel.exe", t), "Tarvel.exe_2017_3_5_7_9");
  t.month = 12, t.day = 31, t.hour = 23, t.minute = 59, t.second = 0;
  EXPECT_EQ(backup_name("tarvel", t), "tarvel_2017_12_31_59_0");
}

// The application folder of the purge examples, plus the awkward names.
struct PurgeHarness {
  testing::TestApp t;
  testing::TempDir outside;

  PurgeHarness() {
    t.app.settings().set_exe_name("Tarvel.exe");
    for (const char* name :
         {"Tarvel.exe", "libx.dll", "Config.xml", "setup.xml", "glo_stp.xml", "common_install.xml",
          "temp_ver.xml", "notes.data", "README", "Tarvel.exe_2017_3_5_7_9"}) {
      t.dir.write(name, name);
    }
    for (const char* name : {"app-popup/login.swf", "games/slot/a.swf", "App_Images/i.png",
                             "XMLFile/error.txt", "old.build/out.o"}) {
      t.dir.write(name, name);
    }
    outside.write("shared/keep.swf", "outside");
    EXPECT_EQ(::symlink((outside / "shared").c_str(), (t.dir / "linked").c_str()), 0);
  }
};

TEST(ListDirectory, SortsNamesIntoFilesAndFoldersByTheDotAlone) {
  PurgeHarness h;
  const DirectoryListing listing =
      list_directory(h.t.app, h.t.app.settings().application_directory());
  EXPECT_EQ(sorted(listing.files),
            (std::vector<std::string>{"Config.xml", "Tarvel.exe", "Tarvel.exe_2017_3_5_7_9",
                                      "common_install.xml", "glo_stp.xml", "libx.dll", "notes.data",
                                      "old.build", "setup.xml", "temp_ver.xml"}));
  EXPECT_EQ(sorted(listing.folders), (std::vector<std::string>{"App_Images", "README", "XMLFile",
                                                               "app-popup", "games", "linked"}));
  EXPECT_TRUE(list_directory(h.t.app, "no-such-folder").files.empty());
}

TEST(ApplyLauncherUpdate, FlashPurgeIssuesTheCommandLinesOfTheWindowsBuild) {
  PurgeHarness h;
  std::vector<std::string> started;
  CommandLineShell shell([&](const std::string& line) { started.push_back(line); });
  App app(Services{h.t.files, h.t.message_box, h.t.clock, h.t.resolver, h.t.echo_sockets,
                   h.t.http_get, shell});
  app.settings().set_application_directory(h.t.app.settings().application_directory());
  app.settings().set_exe_name("Tarvel.exe");

  EXPECT_TRUE(apply_launcher_update(app, "flash"));
  EXPECT_EQ(sorted(started), (std::vector<std::string>{
                                 "cmd /c DEL /F  \"common_install.xml\"",
                                 "cmd /c DEL /F  \"old.build\"",
                                 "cmd /c DEL /F  \"temp_ver.xml\"",
                                 "cmd /c rmdir /s/q \"README\"",
                                 "cmd /c rmdir /s/q \"games\"",
                                 "cmd /c rmdir /s/q \"linked\"",
                             }));
  EXPECT_EQ(app.settings().restart_pending(), 0);
  EXPECT_TRUE(app.files().list("").size() > 10u)
      << "the command lines only start, here nothing ran";
}

TEST(CommandLineShell, RefusesNamesTheInterpreterWouldReadAsMore) {
  std::vector<std::string> started;
  CommandLineShell shell([&](const std::string& line) { started.push_back(line); });
  EXPECT_TRUE(shell.move_replacing("glo_stp.xml", "setup.xml"));
  EXPECT_FALSE(shell.force_delete_file("a\" & del /q * & \".txt"));
  EXPECT_FALSE(shell.force_delete_file("%APPDATA%.txt"));
  EXPECT_FALSE(shell.remove_folder_tree(""));
  EXPECT_FALSE(shell.move_replacing("glo_stp.xml", "x\"y"));
  EXPECT_EQ(started, (std::vector<std::string>{"cmd /c move /y \"glo_stp.xml\" \"setup.xml\""}));
}

TEST(ApplyLauncherUpdate, FlashPurgeOnDiskKeepsTheRulesAndNeverFollowsALink) {
  PurgeHarness h;
  EXPECT_TRUE(apply_launcher_update(h.t.app, "flash"));
  for (const char* gone : {"common_install.xml", "temp_ver.xml", "games", "linked"}) {
    EXPECT_FALSE(h.t.dir.exists(gone)) << gone;
  }
  for (const char* kept : {"Tarvel.exe", "libx.dll", "Config.xml", "setup.xml", "glo_stp.xml",
                           "notes.data", "Tarvel.exe_2017_3_5_7_9", "app-popup/login.swf",
                           "App_Images/i.png", "XMLFile/error.txt"}) {
    EXPECT_TRUE(h.t.dir.exists(kept)) << kept;
  }
  // Counted as a folder and a file by name, they are the wrong kind for the
  // operation they get, which leaves them alone as the Windows commands do.
  EXPECT_EQ(h.t.dir.read("README"), "README");
  EXPECT_EQ(h.t.dir.read("old.build/out.o"), "old.build/out.o");
  EXPECT_EQ(h.outside.read("shared/keep.swf"), "outside");
  EXPECT_EQ(h.t.app.settings().restart_pending(), 0);
}

TEST(ApplyLauncherUpdate, OnlyTheExactReleaseKindsAct) {
  PurgeHarness h;
  for (const char* kind : {"Full", "FLASH", "", "exe ", " flash", "none"}) {
    EXPECT_TRUE(apply_launcher_update(h.t.app, kind));
  }
  EXPECT_TRUE(h.t.dir.exists("games/slot/a.swf"));
  EXPECT_TRUE(h.t.dir.exists("common_install.xml"));
  EXPECT_TRUE(h.t.message_box.shown().empty());
}

}  // namespace
}  // namespace tarvel
