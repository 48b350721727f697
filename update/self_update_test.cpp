#include "update/self_update.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/command_line_shell.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

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
      {"libx.so", true},       {"libx.so.1.2", true},    {"libx.so.1", true},
      {"libx.sox", false},     {"x.solution", false},    {"libx.SO", false},
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
  App app(h.t.services_with([&](Services& s) { s.shell = &shell; }));
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

// "App_Images\i.png" would reach into a folder the purge keeps.
TEST(ApplyLauncherUpdate, FlashPurgeLeavesNamesThatWouldReadAsPathsAlone) {
  PurgeHarness h;
  h.t.dir.write("App_Images\\i.png", "decoy");
  h.t.dir.write("XMLFile\\", "decoy");
  EXPECT_TRUE(apply_launcher_update(h.t.app, "flash"));
  EXPECT_EQ(h.t.dir.read("App_Images/i.png"), "App_Images/i.png");
  EXPECT_EQ(h.t.dir.read("XMLFile/error.txt"), "XMLFile/error.txt");
  EXPECT_TRUE(h.t.dir.exists("App_Images\\i.png"));
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

// Every entry under a folder with its contents ("<dir>" for folders) and mode.
std::map<std::string, std::string> tree(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = std::filesystem::relative(e.path(), root).string();
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    std::string contents = "<dir>";
    if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      contents.assign(std::istreambuf_iterator<char>(in), {});
    }
    entries[name] = contents + " " + std::to_string(st.st_mode & 07777);
  }
  return entries;
}

// A launcher folder after a version check found an "exe" release, and the
// server it came from.
struct ReplaceHarness {
  testing::TempDir site;
  testing::TestHttpServer server{site.path()};
  testing::TestApp t;

  ReplaceHarness() {
    Settings& s = t.app.settings();
    s.set_url(server.url("launcher/"));
    s.set_exe_name("Tarvel.exe");
    s.set_server_settings_copy_name("glo_stp.xml");
    t.dir.write("Tarvel.exe", "old program");
    EXPECT_EQ(::chmod((t.dir / "Tarvel.exe").c_str(), 0755), 0);
    t.dir.write("setup.xml", "version=$version-1.1\n");
    t.dir.write("glo_stp.xml", "version=$version-1.2\nversion_type=exe\n");
    t.dir.write("Config.xml", "<Config>old</Config>");
    t.dir.write("games/slot/a.swf", "a");
    site.write("launcher/Tarvel.exe", "new program");
    site.write("launcher/Config.xml", "<Config>new</Config>");
  }

  mode_t mode(const std::string& name) const {
    struct stat st {};
    EXPECT_EQ(::stat((t.dir / name).c_str(), &st), 0);
    return st.st_mode & 07777;
  }
};

TEST(ReplaceExecutable, NewProgramSettingsAndConfigThenAskForARestart) {
  ReplaceHarness h;
  ASSERT_EQ(::chmod((h.site / "launcher/Tarvel.exe").c_str(), 0600), 0);
  EXPECT_TRUE(apply_launcher_update(h.t.app, "exe"));
  EXPECT_EQ(h.t.dir.read("Tarvel.exe"), "new program");
  EXPECT_EQ(h.mode("Tarvel.exe"), 0755u);
  EXPECT_EQ(h.t.dir.read("setup.xml"), "version=$version-1.2\nversion_type=exe\n");
  EXPECT_FALSE(h.t.dir.exists("glo_stp.xml"));
  EXPECT_EQ(h.t.dir.read("Config.xml"), "<Config>new</Config>");
  EXPECT_EQ(h.t.dir.read("games/slot/a.swf"), "a") << "an exe release purges nothing";
  EXPECT_EQ(h.t.files.list("").size(), 4u) << "no backup and no temporary file left";
  EXPECT_EQ(h.t.message_box.shown(),
            (std::vector<RecordingMessageBox::Shown>{
                {"Please Run the Application again...New Updates Installed", "Message"}}));
  EXPECT_EQ(h.t.app.settings().restart_pending(), 1);
}

TEST(ReplaceExecutable, AFailedDownloadLeavesTheFolderAsItWas) {
  for (const auto fault :
       {testing::TestHttpServer::Fault::not_found, testing::TestHttpServer::Fault::reset_mid_body,
        testing::TestHttpServer::Fault::short_body}) {
    ReplaceHarness h;
    h.t.app.settings().set_restart_pending(7);
    const auto before = tree(h.t.dir.path());
    h.server.set_fault("launcher/Tarvel.exe", fault);
    EXPECT_TRUE(apply_launcher_update(h.t.app, "exe"));
    EXPECT_EQ(tree(h.t.dir.path()), before);
    EXPECT_EQ(h.t.app.settings().restart_pending(), 0);
    EXPECT_TRUE(h.t.message_box.shown().empty());
    EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));
  }
}

TEST(ReplaceExecutable, AFailedConfigFetchKeepsTheOldConfiguration) {
  ReplaceHarness h;
  h.server.set_fault("launcher/Config.xml", testing::TestHttpServer::Fault::reset_mid_body);
  EXPECT_TRUE(apply_launcher_update(h.t.app, "exe"));
  EXPECT_EQ(h.t.dir.read("Config.xml"), "<Config>old</Config>");
  EXPECT_EQ(h.t.dir.read("Tarvel.exe"), "new program");
  EXPECT_EQ(h.t.app.settings().restart_pending(), 1);
}

TEST(ReplaceExecutable, FullPurgesFirstAndTheSettingsCopySurvivesToBeMoved) {
  ReplaceHarness h;
  h.t.dir.write("common_install.xml", "$version-1.0\n");
  EXPECT_TRUE(apply_launcher_update(h.t.app, "full"));
  EXPECT_FALSE(h.t.dir.exists("games"));
  EXPECT_FALSE(h.t.dir.exists("common_install.xml"));
  EXPECT_EQ(h.t.dir.read("setup.xml"), "version=$version-1.2\nversion_type=exe\n");
  EXPECT_EQ(h.t.dir.read("Tarvel.exe"), "new program");
  EXPECT_EQ(h.t.app.settings().restart_pending(), 1);
}

// A clock stopped at 5 March 2017, 14:07:09 UTC.
class StoppedClock final : public Clock {
 public:
  [[nodiscard]] UtcTime utc_now() const override {
    UtcTime t;
    t.year = 2017, t.month = 3, t.day = 5, t.hour = 14, t.minute = 7, t.second = 9;
    return t;
  }
  [[nodiscard]] std::uint64_t tick_ms() const override { return 0; }
};

TEST(ReplaceExecutable, ALauncherThatCannotBeMovedAsideIsNotReplaced) {
  ReplaceHarness h;
  StoppedClock clock;
  App app(h.t.services_with([&](Services& s) { s.clock = &clock; }));
  app.settings().locked([&](SettingsValues& v) { v = h.t.app.settings().snapshot(); });
  // A folder under the backup name: the move over it fails, and downloading
  // now would first delete the only copy of the running launcher.
  h.t.dir.write("Tarvel.exe_2017_3_5_7_9/in-the-way", "x");
  const auto before = tree(h.t.dir.path());
  EXPECT_TRUE(apply_launcher_update(app, "exe"));
  EXPECT_EQ(tree(h.t.dir.path()), before);
  EXPECT_EQ(app.settings().restart_pending(), 0);
  EXPECT_TRUE(h.server.requests().empty());
}

TEST(ReplaceExecutable, AnUnusableLauncherNameReplacesNothing) {
  for (const char* name : {"", "..", "bin/Tarvel.exe", "..\\Tarvel.exe"}) {
    ReplaceHarness h;
    h.t.app.settings().set_exe_name(name);
    const auto before = tree(h.t.dir.path());
    EXPECT_TRUE(apply_launcher_update(h.t.app, "exe"));
    EXPECT_EQ(tree(h.t.dir.path()), before) << name;
    EXPECT_EQ(h.t.app.settings().restart_pending(), 0);
  }
}

}  // namespace
}  // namespace tarvel
