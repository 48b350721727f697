// Manifests written by the operator's tool, served over loopback HTTP and
// installed by the launcher's own installers.
#include "operator/package_release.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "core/settings_readers.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/common_package.hpp"
#include "update/game_package.hpp"

namespace tarvel {
namespace {

// Bytes that differ per name and per round, every byte value included.
std::string contents_for(const std::string& name, int round, std::size_t size) {
  std::seed_seq seed(name.begin(), name.end());
  std::mt19937 random(seed);
  random.discard(static_cast<unsigned long long>(round) * 7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

struct Layout {
  const char* what;
  std::string group;
  std::string package;
  std::string served_folder;  // the package folder, under the served root
  std::string source;         // as launchers fetch it
  std::string target;         // launcher form, as given to the tool
  bool common_package;        // installed by the common package's installer
  int source_code;            // otherwise the game installer's base address
};

class PublishedPackage : public ::testing::Test {
 protected:
  PublishedPackage() { point_at_server(t); }

  void point_at_server(testing::TestApp& app) {
    apply_defaults(app.app.settings());
    Settings& s = app.app.settings();
    s.set_url(server.url("launcher/"));
    s.set_common_url(server.url("common/"));
    s.set_game_url(server.url("games/"));
    s.set_selected_language("en");
    s.set_game_language_address(server.url("games/language/en/"));
  }

  void put(const Layout& layout, const std::string& relative, int round, std::size_t size) {
    served.write(layout.served_folder + "/" + relative, contents_for(relative, round, size));
  }

  ReleaseResult publish(const Layout& layout, const std::string& version,
                        const std::string& mandatory = "") {
    const std::string folder = served / layout.served_folder;
    return publish_package(files, {layout.group, layout.package, version, mandatory, layout.source,
                                   layout.target, folder, folder.substr(0, folder.rfind('/'))});
  }

  bool install(const Layout& layout) { return install_into(t, layout); }

  // A language pack's group is the selected language, which the game
  // installer puts in for an empty group.
  static bool install_into(testing::TestApp& app, const Layout& layout) {
    if (layout.common_package) return install_common_package(app.app);
    const std::string group = layout.source_code == kSourceGameLanguage ? "" : layout.group;
    return install_game_package(app.app, layout.package, group, layout.source_code);
  }

  // Every file of the package folder, byte for byte at its place in the
  // application directory.
  void expect_installed(const Layout& layout, const std::vector<std::string>& relatives) {
    std::string folder = layout.target;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    if (!folder.empty() && folder.back() != '/') folder += '/';
    for (const std::string& relative : relatives) {
      EXPECT_EQ(t.dir.read(folder + relative), served.read(layout.served_folder + "/" + relative))
          << layout.what << ": " << relative;
    }
  }

  // Paths of the package files fetched since the last call, sorted.
  std::vector<std::string> fetched_files(const Layout& layout) {
    std::vector<std::string> paths;
    const auto requests = server.requests();
    for (std::size_t i = seen_; i < requests.size(); ++i) {
      const std::string& path = requests[i].path;
      const std::string prefix = layout.served_folder + "/";
      if (!path.starts_with(prefix)) continue;
      // A compressed copy or a patch stands for its file.
      std::string file = path.substr(prefix.size());
      if (const auto from = file.find(".from-"); from != std::string::npos) file.resize(from);
      if (file.ends_with(".zst")) file.resize(file.size() - 4);
      paths.push_back(file);
    }
    seen_ = requests.size();
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  testing::TempDir served;
  testing::TestHttpServer server{served.path()};
  PosixFiles files{served.path()};
  testing::TestApp t;
  std::size_t seen_ = 0;
};

const Layout kLayouts[] = {
    {"common package", "", "common", "common/files", "COMMON/files/", "app-popup\\", true, 0},
    {"game", "common", "Slot Mania", "games/slotmania", "GAMES/slotmania/", "games/slotmania",
     false, kSourceGameUrl},
    {"login package", "update", "login", "launcher/login", "login/", "", false, kSourceLauncherUrl},
    {"game language pack", "en", "slotmania", "games/language/en/slotmania",
     "GAMES/language/en/slotmania/", "games\\slotmania\\language\\", false, kSourceGameLanguage},
};

TEST_F(PublishedPackage, InstallsWholeThenAsADeltaByteForByte) {
  for (const Layout& layout : kLayouts) {
    SCOPED_TRACE(layout.what);
    put(layout, "movie.swf", 1, 70000);
    put(layout, "images/reel.png", 1, 3000);
    put(layout, "images/deep/empty.txt", 1, 0);
    put(layout, "sounds/spin.mp3", 1, 120000);
    const ReleaseResult first = publish(layout, "1.0");
    ASSERT_TRUE(first.ok()) << first.problems.front();
    EXPECT_EQ(first.files, 4);
    ASSERT_TRUE(install(layout));
    expect_installed(layout,
                     {"movie.swf", "images/reel.png", "images/deep/empty.txt", "sounds/spin.mp3"});
    (void)fetched_files(layout);

    // 1.1 changes one file and adds one; a launcher at 1.0 fetches those two.
    put(layout, "images/reel.png", 2, 3500);
    put(layout, "images/bonus.png", 2, 900);
    const ReleaseResult second = publish(layout, "1.1");
    ASSERT_TRUE(second.ok()) << second.problems.front();
    EXPECT_EQ(second.changed, (std::vector<std::string>{"images/bonus.png", "images/reel.png"}));
    ASSERT_TRUE(install(layout));
    EXPECT_EQ(fetched_files(layout), second.changed);
    expect_installed(layout, {"movie.swf", "images/reel.png", "images/bonus.png",
                              "images/deep/empty.txt", "sounds/spin.mp3"});
  }
}

TEST_F(PublishedPackage, AFreshLauncherAtALaterReleaseGetsEveryFileOfIt) {
  const Layout& layout = kLayouts[1];
  put(layout, "movie.swf", 1, 5000);
  ASSERT_TRUE(publish(layout, "1").ok());
  put(layout, "movie.swf", 2, 6000);
  put(layout, "extra.swf", 2, 10);
  ASSERT_TRUE(publish(layout, "2").ok());
  ASSERT_TRUE(install(layout));
  expect_installed(layout, {"movie.swf", "extra.swf"});
  EXPECT_EQ(game_package_status(t.app, "common", "slot mania", kSourceGameUrl), kPackageUpToDate);
}

TEST_F(PublishedPackage, AMandatoryReleaseIsDueUntilInstalled) {
  const Layout& layout = kLayouts[1];
  put(layout, "movie.swf", 1, 5000);
  ASSERT_TRUE(publish(layout, "1").ok());
  ASSERT_TRUE(install(layout));
  put(layout, "movie.swf", 2, 5000);
  ASSERT_TRUE(publish(layout, "2", "2").ok());
  EXPECT_EQ(game_package_status(t.app, "common", "slot mania", kSourceGameUrl),
            kPackageMandatoryUpdate);
  ASSERT_TRUE(install(layout));
  EXPECT_EQ(game_package_status(t.app, "common", "slot mania", kSourceGameUrl), kPackageUpToDate);
  expect_installed(layout, {"movie.swf"});

  // A later release without --mandatory keeps the mandatory label, so a
  // launcher installing it fresh sees later releases as plain updates.
  put(layout, "movie.swf", 3, 5000);
  ASSERT_TRUE(publish(layout, "3").ok());
  testing::TestApp fresh;
  point_at_server(fresh);
  ASSERT_TRUE(install_into(fresh, layout));
  EXPECT_EQ(game_package_status(fresh.app, "common", "slot mania", kSourceGameUrl),
            kPackageUpToDate);
  put(layout, "movie.swf", 4, 5000);
  ASSERT_TRUE(publish(layout, "4").ok());
  EXPECT_EQ(game_package_status(fresh.app, "common", "slot mania", kSourceGameUrl), kPackageUpdate);
}

// The update manifest keeps 1.1's line for a file that 1.2 removed: a
// launcher still at 1.0 takes 1.2 without it.
TEST_F(PublishedPackage, ALauncherThatSkippedReleasesConvergesPastARemovedFile) {
  const Layout& layout = kLayouts[1];
  put(layout, "movie.swf", 1, 100);
  put(layout, "reel.png", 1, 100);
  ASSERT_TRUE(publish(layout, "1.0").ok());
  ASSERT_TRUE(install(layout));
  put(layout, "movie.swf", 2, 100);
  put(layout, "reel.png", 2, 100);
  ASSERT_TRUE(publish(layout, "1.1").ok());
  std::filesystem::remove(served / (layout.served_folder + "/reel.png"));
  put(layout, "movie.swf", 3, 100);
  ASSERT_TRUE(publish(layout, "1.2").ok());
  ASSERT_TRUE(install(layout));
  expect_installed(layout, {"movie.swf"});
  EXPECT_EQ(game_package_status(t.app, "common", "slot mania", kSourceGameUrl), kPackageUpToDate);
}

TEST_F(PublishedPackage, RefusesNamesLaunchersWouldMishandleAndWritesNothing) {
  const Layout& layout = kLayouts[1];
  const char* const kRefused[] = {
      "a,b.swf",     "with space.png", "tab\there.png", "ctl\x01.png", "caf\xC3\xA9.png",
      "back\\slash", "hash#.png",      "query?.png",    "pct%20.png",  "$version-9.txt",
      "quote\".png", "colon:.png",     "brace{.png",  ".x.png.tarvel-part",
      ".x.tarvel-resume", ".x.png.tarvel-new", "x.tarvel-journal",
  };
  for (const char* name : kRefused) {
    testing::TempDir fresh;
    fresh.write("pkg/ok.swf", "fine");
    fresh.write(std::string("pkg/sub/") + name, "x");
    PosixFiles local(fresh.path());
    const ReleaseResult result = publish_package(
        local, {"common", "pkg", "1", "", "GAMES/pkg/", "", fresh / "pkg", fresh.path()});
    ASSERT_EQ(result.problems.size(), 1u) << name;
    EXPECT_TRUE(result.problems[0].starts_with(std::string("sub/") + name + ": "))
        << result.problems[0];
    EXPECT_EQ(testing::names_in(fresh.path()), (std::vector<std::string>{"pkg"})) << name;
  }

  put(layout, "movie.swf", 1, 10);
  const Layout outside_target{"",         "common",  "x",   "games/slotmania",
                              "GAMES/x/", "..\\x\\", false, 0};
  const Layout outside_source{"", "common", "x", "games/slotmania", "../x/", "", false, 0};
  for (const Layout& bad : {outside_target, outside_source}) {
    const ReleaseResult result = publish(bad, "1");
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_TRUE(result.problems[0].find("leads out of its folder") != std::string::npos)
        << result.problems[0];
  }
  for (const char* label : {"", "1,2", "1 2", "$version-1"}) {
    EXPECT_FALSE(publish(layout, label).ok()) << label;
  }
  EXPECT_FALSE(served.exists("games/common_slot_mania_install.xml"));
}

// A ".." that stays inside the folder is folded away; a path that leaves
// it is refused with the way it leaves.
TEST_F(PublishedPackage, FoldsDotDotThatStaysInsideAndNamesHowAPathLeaves) {
  const struct {
    std::string source;
    std::string target;
    std::string outcome;  // the first manifest line, or the problem
  } cases[] = {
      {"GAMES/old/../slot/", "games/./x/../slot/", "GAMES/slot/movie.swf,games\\slot\\"},
      {"GAMES/../../up/", "", "--source leads out of its folder (\"..\" climbs"},
      {"/GAMES/slot/", "", "--source starts with \"/\", which launchers take for a path"},
      {"GAMES/slot/", "games\\..\\..\\", "--target leads out of its folder"},
  };
  for (const auto& c : cases) {
    testing::TempDir fresh;
    fresh.write("pkg/movie.swf", "fine");
    PosixFiles local(fresh.path());
    const ReleaseResult result = publish_package(
        local, {"common", "pkg", "1", "", c.source, c.target, fresh / "pkg", fresh.path()});
    const std::string manifest = fresh.read("common_pkg_install.xml");
    const std::string got =
        result.ok() ? manifest.substr(manifest.find('\n') + 1) : result.problems.front();
    EXPECT_TRUE(got.starts_with(c.outcome)) << c.source << " " << c.target << ": " << got;
  }
}

// The disk as the tool sees it, with one folder that cannot be listed
// (unreadable, or on a failing disk); root reads any folder, so here the
// refusal is played.
class UnlistableFolder final : public PosixFiles {
 public:
  UnlistableFolder(const std::string& root, std::string folder)
      : PosixFiles(root), folder_(std::move(folder)) {}
  std::optional<std::vector<Entry>> read_folder(const std::string& path) const override {
    if (path.ends_with(folder_)) return std::nullopt;
    return PosixFiles::read_folder(path);
  }

 private:
  std::string folder_;
};

TEST_F(PublishedPackage, AFolderThatCannotBeListedFailsTheReleaseByName) {
  const Layout& layout = kLayouts[1];
  put(layout, "movie.swf", 1, 10);
  put(layout, "images/reel.png", 1, 10);
  UnlistableFolder disk(served.path(), "/images");
  const std::string folder = served / layout.served_folder;
  const ReleaseResult result =
      publish_package(disk, {"common", layout.package, "1", "", layout.source, "", folder,
                             folder.substr(0, folder.rfind('/'))});
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_EQ(result.problems[0], folder + "/images: the folder cannot be listed");
  EXPECT_FALSE(served.exists("games/common_slot_mania_install.xml"));
}

TEST_F(PublishedPackage, KeepsItsHistoryReadableByLaunchers) {
  const Layout& layout = kLayouts[1];
  put(layout, "movie.swf", 1, 100);
  ASSERT_TRUE(publish(layout, "10").ok());
  const std::string update_manifest = served.read("games/common_slot_mania_update.xml");

  // The same label again: fine as a rerun, refused once the files differ.
  const ReleaseResult rerun = publish(layout, "10");
  EXPECT_TRUE(rerun.ok() && rerun.already_published && !rerun.sums_renewed);
  // Sums of the first form named no package: a rerun renews them, serial kept.
  const std::string sums_name = "games/common_slot_mania_install.xml.sums";
  const std::string sums = served.read(sums_name);
  const std::string named = "package common_slot_mania_install.xml\n";
  ASSERT_NE(sums.find(named), std::string::npos) << sums;
  served.write(sums_name, sums.substr(0, sums.find(named)) +
                              sums.substr(sums.find(named) + named.size()));
  EXPECT_TRUE(publish(layout, "10").sums_renewed);
  EXPECT_EQ(served.read(sums_name), sums);
  put(layout, "movie.swf", 2, 100);
  EXPECT_FALSE(publish(layout, "10").ok());

  // Launchers find a version by text search, so "1" after "10" would be
  // found at "10"'s line.
  const ReleaseResult contained = publish(layout, "1");
  ASSERT_FALSE(contained.ok());
  EXPECT_EQ(served.read("games/common_slot_mania_update.xml"), update_manifest);

  // Without its state, an update manifest cannot be continued.
  std::filesystem::remove(served / "games/common_slot_mania.state");
  EXPECT_FALSE(publish(layout, "11").ok());
}

}  // namespace
}  // namespace tarvel
