#include "update/player_folder.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/posix/posix_files.hpp"
#include "platform/posix/posix_shell.hpp"
#include "tests/support/temp_dir.hpp"
#include "update/self_update.hpp"
#include "update/sums.hpp"

namespace tarvel {
namespace {

TEST(LauncherVersions, LaterByNumberAndTheVersionOnAVersionLine) {
  struct Later {
    const char* a;
    const char* b;
    bool later;
  };
  const Later pairs[] = {{"1.10", "1.9", true},   {"1.9", "1.10", false}, {"1.2.1", "1.2", true},
                         {"1.2", "1.2.0", false}, {"2", "1.99.99", true}, {"0.1.0", "0.1.0", false},
                         {"1.2rc1", "1.1", true}, {"", "0.0.1", false}};
  for (const Later& p : pairs) EXPECT_EQ(later_version(p.a, p.b), p.later) << p.a << " " << p.b;
  const std::pair<const char*, const char*> lines[] = {{"tarvel 1.4.2", "1.4.2"},
                                                       {"tarvel (Tarvel) 0.10.0", "0.10.0"},
                                                       {"0.3", "0.3"},
                                                       {"tarvel: unknown argument --version", ""},
                                                       {"", ""}};
  for (const auto& [line, version] : lines) EXPECT_EQ(version_in(line), version) << line;
}

TEST(LauncherChoice, ThePackagesRunsOnlyWhereItIsLaterThanThePlayersAsFarAsThatIsKnown) {
  const LauncherRecord copied{"0.2.0", "aaaa"};
  struct Case {
    const char* what;
    PlayerLauncher player;
    const char* package;
    const char* answer;  // what the player's launcher says when asked
    bool take;
    bool asked;
  };
  const Case cases[] = {
      {"none yet", {false, "", copied}, "0.2.0", "", true, false},
      {"the copy, same version", {true, "aaaa", copied}, "0.2.0", "", false, false},
      {"the copy, package upgraded", {true, "aaaa", copied}, "0.3.0", "", true, false},
      {"the copy, package downgraded", {true, "aaaa", copied}, "0.1.0", "", false, false},
      {"self-updated, package as before", {true, "bbbb", copied}, "0.2.0", "", false, false},
      {"self-updated past the upgrade", {true, "bbbb", copied}, "0.3.0", "0.4.0", false, true},
      {"self-updated, upgrade later", {true, "bbbb", copied}, "0.3.0", "0.2.5", true, true},
      {"self-updated, cannot tell", {true, "bbbb", copied}, "0.3.0", "", true, true},
      {"never recorded, as new", {true, "cccc", std::nullopt}, "0.2.0", "0.2.0", false, true},
  };
  for (const Case& c : cases) {
    int asks = 0;
    const LauncherChoice choice = choose_launcher(c.package, c.player, [&] {
      ++asks;
      return std::string(c.answer);
    });
    EXPECT_EQ(choice.take_package, c.take) << c.what;
    EXPECT_EQ(asks, c.asked ? 1 : 0) << c.what;
  }
}

// A package unpacked into a folder of its own, and a player's data folder.
struct Installed {
  Installed() {
    package.write("share/client/setup.xml", "url=http://127.0.0.1:1/\n  exe_name=tarvel\n");
    package.write("share/client/Config.xml", "<Config/>\n");
    package.write("share/client/app-popup/checkUpdate.swf", "prefix Err= -> command exit\n");
    package.write("lib/tarvel", "#!/bin/sh\necho 'tarvel 0.2.0'\n");
    ::symlink("/etc", (package / "share/client/elsewhere").c_str());
  }
  PlayerFolder prepare(const std::string& version = "0.2.0", const std::string& answer = "") {
    return prepare_player_folder(files, shell,
                                 {package / "share/client", package / "lib/tarvel", version},
                                 folder, [&](const std::string&) -> std::optional<std::string> {
                                   ++asks;
                                   return answer;
                                 });
  }
  [[nodiscard]] bool executable(const std::string& path) const {
    return ::access(path.c_str(), X_OK) == 0;
  }

  testing::TempDir package;
  testing::TempDir data;
  PosixFiles files{data.path()};
  PosixShell shell{files};
  std::string folder = data / "brand";
  std::atomic<int> asks = 0;
};

TEST(PlayerFolder, TheFirstStartCopiesThePackagesClientAndLauncherLaterOnesKeepThePlayersFiles) {
  Installed i;
  ASSERT_EQ(::mkdir(i.folder.c_str(), 0700), 0) << "made beforehand, empty";
  const PlayerFolder first = i.prepare();
  ASSERT_EQ(first.error, "");
  EXPECT_EQ(first.launcher, i.folder + "/tarvel");
  EXPECT_EQ(first.notes, std::vector<std::string>{"made your client folder " + i.folder + " from " +
                                                  (i.package / "share/client")});
  EXPECT_EQ(i.data.read("brand/app-popup/checkUpdate.swf"), "prefix Err= -> command exit\n");
  EXPECT_EQ(i.data.read("brand/tarvel"), i.package.read("lib/tarvel"));
  EXPECT_TRUE(i.executable(first.launcher));
  EXPECT_FALSE(i.data.exists("brand/elsewhere")) << "a link in the package is not followed";
  EXPECT_EQ(testing::names_in(i.data.path()), std::vector<std::string>{"brand"});

  i.data.write("brand/setup.xml", "exe_name=tarvel\nversion=$version-1.2\n");
  const PlayerFolder second = i.prepare();
  EXPECT_EQ(second.error, "");
  EXPECT_TRUE(second.notes.empty());
  EXPECT_EQ(i.data.read("brand/setup.xml"), "exe_name=tarvel\nversion=$version-1.2\n");
  EXPECT_EQ(i.asks, 0);
  // A purge by a launcher release keeps what the start command knows.
  EXPECT_TRUE(purge_keeps_file(kLauncherSeenName, "tarvel"));
}

TEST(PlayerFolder, TwoFirstStartsAtOnceBothStartFromOneWholeFolder) {
  Installed i;
  PlayerFolder first;
  std::thread other([&] { first = i.prepare(); });
  const PlayerFolder second = i.prepare();
  other.join();
  EXPECT_EQ(first.error, "");
  EXPECT_EQ(second.error, "");
  EXPECT_EQ(testing::names_in(i.data.path()), std::vector<std::string>{"brand"});
  EXPECT_EQ(i.data.read("brand/tarvel"), i.package.read("lib/tarvel"));
}

TEST(PlayerFolder, ASelfUpdatedLauncherStaysUntilThePackageBringsALaterOne) {
  Installed i;
  ASSERT_EQ(i.prepare().error, "");
  i.data.write("brand/tarvel", "the launcher 0.3.0, fetched by a self-update");

  EXPECT_TRUE(i.prepare("0.2.0").notes.empty());
  EXPECT_EQ(i.asks, 0);
  // An upgraded package asks the player's launcher once, and remembers.
  EXPECT_TRUE(i.prepare("0.2.5", "tarvel 0.3.0").notes.empty());
  EXPECT_TRUE(i.prepare("0.2.5", "tarvel 0.3.0").notes.empty());
  EXPECT_EQ(i.asks, 1);
  EXPECT_EQ(i.data.read("brand/tarvel"), "the launcher 0.3.0, fetched by a self-update");

  const PlayerFolder upgraded = i.prepare("0.4.0");
  EXPECT_EQ(upgraded.notes, std::vector<std::string>{
                                "took the package's launcher 0.4.0 in place of yours (0.3.0)"});
  EXPECT_EQ(i.data.read("brand/tarvel"), i.package.read("lib/tarvel"));
  EXPECT_TRUE(i.executable(upgraded.launcher));
  EXPECT_EQ(i.asks, 1);
}

TEST(PlayerFolder, WhatCannotBeStartedIsSaidAndNothingIsLeftHalfMade) {
  const std::pair<const char*, const char*> settings[] = {
      {"url=x\n", "names no launcher program (exe_name)"},
      {"exe_name=../tarvel\n", "names no launcher program (exe_name)"},
  };
  for (const auto& [text, error] : settings) {
    Installed i;
    i.package.write("share/client/setup.xml", text);
    EXPECT_NE(i.prepare().error.find(error), std::string::npos) << text;
    EXPECT_TRUE(testing::names_in(i.data.path()).empty()) << text;
  }
  Installed no_client;
  ASSERT_EQ(::unlink((no_client.package / "share/client/setup.xml").c_str()), 0);
  EXPECT_NE(no_client.prepare().error.find("has no setup.xml"), std::string::npos);
  EXPECT_TRUE(testing::names_in(no_client.data.path()).empty());
  Installed in_the_way;
  in_the_way.data.write("brand", "a file");
  EXPECT_EQ(in_the_way.prepare().error, in_the_way.folder + " is in the way: it is not a folder");
}

TEST(PlayerFolder, RemovingTakesTheFolderAndOnlyALinkInItsPlace) {
  Installed i;
  ASSERT_EQ(i.prepare().error, "");
  EXPECT_TRUE(remove_player_folder(i.files, i.shell, i.folder));
  EXPECT_TRUE(testing::names_in(i.data.path()).empty());
  ASSERT_EQ(::symlink((i.package / "share").c_str(), i.folder.c_str()), 0);
  EXPECT_TRUE(remove_player_folder(i.files, i.shell, i.folder));
  EXPECT_TRUE(i.package.exists("share/client/setup.xml"));
  EXPECT_TRUE(remove_player_folder(i.files, i.shell, i.folder)) << "nothing there is fine too";
}

}  // namespace
}  // namespace tarvel
