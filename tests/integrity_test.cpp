// Signed, verified installs end to end: packages published by the operator's
// manifest tool, a launcher holding the public key, a loopback download server.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

#include "core/settings_readers.hpp"
#include "operator/launcher_release.hpp"
#include "operator/package_release.hpp"
#include "operator/signing.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/game_package.hpp"
#include "update/self_update.hpp"
#include "update/verify.hpp"

namespace tarvel {
namespace {

using testing::TestHttpServer;

constexpr const char* kInstallName = "common_slot_install.xml";
constexpr const char* kMovie = "games/slot/slot.swf";
constexpr const char* kTable = "games/slot/images/table.png";

struct SignedSite {
  testing::TempDir site;
  TestHttpServer server{site.path()};
  PosixFiles site_files{site.path()};
  KeyPair key = *generate_key_pair();
  testing::TestApp t;

  SignedSite() {
    t.app.settings().set_game_url(server.url("games/"));
    t.app.settings().set_url(server.url("launcher/"));
    trust(key.public_key);
  }
  void trust(const std::string& public_key) {
    t.dir.write("Config.xml", "<Config><UpdateKey>" + public_key + "</UpdateKey></Config>\n");
  }
  // Publishes release "1.<n>" of the slot package (or another game) with these files.
  void publish(int n, const std::string& movie, const std::string& table,
               const std::string& game = "slot") {
    site.write("games/" + game + "/slot.swf", movie);
    site.write("games/" + game + "/images/table.png", table);
    const ReleaseResult result = publish_package(site_files, {.group = "common",
                                                              .package = game,
                                                              .version = "1." + std::to_string(n),
                                                              .mandatory = "",
                                                              .source = "GAMES/" + game + "/",
                                                              .target = "games\\slot\\",
                                                              .package_dir = site / ("games/" + game),
                                                              .out_dir = site / "games",
                                                              .signing_key = key.private_key});
    ASSERT_TRUE(result.ok()) << result.problems.front();
  }
  bool install() { return install_game_package(t.app, "slot", "common", kSourceGameUrl); }
  int status() { return t.app.settings().take_status().code; }
};

// Bytes that do not compress, so the whole file is what travels: these
// tests are about its faults, not a compressed copy's.
std::string big(char c) {
  std::mt19937 random(static_cast<unsigned>(c));
  std::string bytes(200 * 1024, c);
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

TEST(SignedInstall, VerifiesRecordsUpdatesAndRepairsExactlyWhatBroke) {
  SignedSite s;
  s.publish(1, "movie 1", big('a'));
  ASSERT_TRUE(s.install());
  EXPECT_EQ(s.t.dir.read(kTable), big('a'));
  TreeReport clean = verify_installed_tree(s.t.app);
  EXPECT_EQ(clean.files, 2u);
  EXPECT_TRUE(clean.broken.empty());

  // An update fetches only what changed, checked, and the record follows it.
  s.publish(2, "movie 2", big('a'));
  ASSERT_TRUE(s.install());
  EXPECT_EQ(s.t.dir.read(kMovie), "movie 2");
  EXPECT_TRUE(verify_installed_tree(s.t.app).broken.empty());

  ASSERT_EQ(std::remove((s.t.dir / kMovie).c_str()), 0);
  s.t.dir.write(kTable, big('b'));
  const TreeReport broken = verify_installed_tree(s.t.app);
  ASSERT_EQ(broken.broken.size(), 2u);
  EXPECT_EQ(broken.broken[0].local_path, "games\\slot\\images\\table.png");
  EXPECT_EQ(broken.broken[0].problem, BrokenFile::Problem::changed);
  EXPECT_EQ(broken.broken[1].local_path, "games\\slot\\slot.swf");
  EXPECT_EQ(broken.broken[1].problem, BrokenFile::Problem::missing);
  EXPECT_EQ(broken.repair_bytes(), big('a').size() + std::string("movie 2").size());

  // A repair that cannot fetch a file leaves the player's copy as it was.
  s.server.set_fault(kTable, TestHttpServer::Fault::not_found);
  EXPECT_FALSE(repair_installed_tree(s.t.app, broken).empty());
  EXPECT_EQ(s.t.dir.read(kTable), big('b'));
  s.server.set_fault(kTable, TestHttpServer::Fault::none);
  EXPECT_TRUE(repair_installed_tree(s.t.app, broken).empty());
  EXPECT_EQ(s.t.dir.read(kMovie), "movie 2");
  EXPECT_EQ(s.t.dir.read(kTable), big('a'));
  EXPECT_TRUE(verify_installed_tree(s.t.app).broken.empty());
}

// An update that fails leaves what the player could play before: each file
// keeps its content until its new one has arrived whole and checked, and the
// package its version, so that the run after the server is mended converges.
TEST(SignedInstall, AFailedUpdateKeepsTheInstalledFilesAndVersionUntilTheServerIsMended) {
  struct Case {
    const char* name;
    TestHttpServer::Fault fault;
    std::string served;  // the table the server sends, when not the released one
  };
  const Case cases[] = {{"not what the sums say", TestHttpServer::Fault::none, big('x')},
                        {"lost by the server", TestHttpServer::Fault::not_found, ""}};
  for (const Case& c : cases) {
    SignedSite s;
    s.publish(1, "movie 1", big('a'));
    ASSERT_TRUE(s.install()) << c.name;
    s.publish(2, "movie 1", big('b'));
    if (!c.served.empty()) s.site.write(kTable, c.served);
    s.server.set_fault(kTable, c.fault);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(s.install()) << c.name;
    (void)::testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.status(), kStatusDownloadFailed) << c.name;
    EXPECT_EQ(s.t.dir.read(kTable), big('a')) << c.name;
    EXPECT_FALSE(s.t.dir.exists("common_slot_update.xml")) << c.name << ": still release 1";
    EXPECT_TRUE(verify_installed_tree(s.t.app).broken.empty()) << c.name;

    s.site.write(kTable, big('b'));
    s.server.set_fault(kTable, TestHttpServer::Fault::none);
    ASSERT_TRUE(s.install()) << c.name;
    EXPECT_EQ(s.t.dir.read(kTable), big('b')) << c.name;
  }
}

// Releases in a row, each changing one file: each update fetches that file
// alone, not every file changed since the first installation.
TEST(SignedInstall, EachReleaseInARowFetchesOnlyTheFileItChanged) {
  SignedSite s;
  s.publish(1, "movie 1", big('a'));
  ASSERT_TRUE(s.install());
  const struct {
    const char* movie;
    char table;
    const char* fetched;
  } releases[] = {{"movie 2", 'a', kMovie}, {"movie 2", 'b', kTable}, {"movie 4", 'b', kMovie}};
  int n = 2;
  for (const auto& release : releases) {
    s.publish(n, release.movie, big(release.table));
    const std::size_t seen = s.server.requests().size();
    ASSERT_TRUE(s.install()) << n;
    const auto requests = s.server.requests();
    std::vector<std::string> files;  // the package's files, not its manifests or sums
    for (std::size_t i = seen; i < requests.size(); ++i) {
      if (requests[i].path.starts_with("games/slot/")) files.push_back(requests[i].path);
    }
    EXPECT_EQ(files, std::vector<std::string>{release.fetched}) << "release " << n;
    ++n;
  }
  EXPECT_TRUE(verify_installed_tree(s.t.app).broken.empty());
}

// Each way a release can be untrustworthy: refused, said why, nothing installed.
TEST(SignedInstall, RefusesWhatTheKeyOrTheSumsDoNotVouchFor) {
  struct Case {
    const char* name;
    void (*spoil)(SignedSite&);
    const char* said;
  };
  const Case cases[] = {
      {"signed by another key",
       [](SignedSite& s) {
         const std::string sums = s.site.read("games/common_slot_install.xml.sums");
         s.site.write("games/common_slot_install.xml.sums.sig",
                      *sign_text(generate_key_pair()->private_key, sums) + "\n");
       },
       "not by the update key"},
      {"tampered sums",
       [](SignedSite& s) {
         std::string sums = s.site.read("games/common_slot_install.xml.sums");
         sums.replace(sums.find("serial 1"), 8, "serial 9");
         s.site.write("games/common_slot_install.xml.sums", sums);
       },
       "not by the update key"},
      {"tampered manifest",
       [](SignedSite& s) {
         s.site.write("games/common_slot_install.xml",
                      s.site.read("games/common_slot_install.xml") + "GAMES/evil.exe,\n");
       },
       "not the one these sums were made for"},
      {"unsigned",
       [](SignedSite& s) {
         (void)std::remove((s.site / "games/common_slot_install.xml.sums.sig").c_str());
       },
       ".sig: missing"},
      {"no sums",
       [](SignedSite& s) {
         (void)std::remove((s.site / "games/common_slot_install.xml.sums").c_str());
       },
       "asks for signed sums"},
      {"a lower serial than installed",
       [](SignedSite& s) {
         s.t.dir.write(std::string(kInstallName) + ".installed",
                       "tarvel-installed 1\nversion $version-1.7\nserial 7\n");
       },
       "lower than the installed 7"},
      {"a file changed without new sums",
       [](SignedSite& s) { s.site.write("games/slot/images/table.png", big('x')); },
       "GAMES/slot/images/table.png: arrived as 204800 bytes"},
      {"another package's signed release, of a higher serial",
       [](SignedSite& s) {
         for (int n = 1; n <= 3; ++n) s.publish(n, "poker", big('p'), "poker");
         for (const char* suffix : {"", ".sums", ".sums.sig"}) {
           s.site.write(std::string("games/common_slot_install.xml") + suffix,
                        s.site.read(std::string("games/common_poker_install.xml") + suffix));
         }
       },
       "belongs to the package \"common_poker_install.xml\""},
      {"signed sums of the first form, naming no package",
       [](SignedSite& s) {
         std::string sums = s.site.read("games/common_slot_install.xml.sums");
         sums.erase(0, sums.find("manifest "));
         s.site.write("games/common_slot_install.xml.sums", "tarvel-sums 1\n" + sums);
         s.site.write("games/common_slot_install.xml.sums.sig",
                      *sign_text(s.key.private_key, "tarvel-sums 1\n" + sums) + "\n");
       },
       "must be published again"},
      // A key that is there but unusable is a refusal, never no key.
      {"an empty key", [](SignedSite& s) { s.trust(""); }, "not an Ed25519 public key"},
      {"a key of white space", [](SignedSite& s) { s.trust(" \n "); }, "not an Ed25519"},
      {"a key of a comment", [](SignedSite& s) { s.trust("<!-- none -->"); }, "not an Ed25519"},
      {"a key of padding", [](SignedSite& s) { s.trust("===="); }, "not an Ed25519"},
      {"a signature of padding",
       [](SignedSite& s) { s.site.write("games/common_slot_install.xml.sums.sig", "====\n"); },
       "not by the update key"},
  };
  for (const Case& c : cases) {
    SignedSite s;
    s.publish(1, "movie 1", big('a'));
    c.spoil(s);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(s.install()) << c.name;
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(c.said), std::string::npos) << c.name << ": " << said;
    EXPECT_EQ(s.status(), kStatusDownloadFailed) << c.name;
    EXPECT_FALSE(s.t.dir.exists(kInstallName)) << c.name;
    EXPECT_FALSE(s.t.dir.exists(kTable)) << c.name;
  }
}

TEST(CheckedInstall, ABodyCutShortWithoutALengthIsFetchedAgainNeverInstalled) {
  SignedSite s;
  s.t.dir.write("Config.xml", "<Config/>\n");  // sums alone, no key
  s.publish(1, "movie 1", big('a'));
  s.server.set_fault("games/slot/images/table.png", TestHttpServer::Fault::cut_unsized, 1);
  ASSERT_TRUE(s.install()) << "the second attempt brings the whole file";
  EXPECT_EQ(s.t.dir.read(kTable), big('a'));

  SignedSite always;
  always.t.dir.write("Config.xml", "<Config/>\n");
  always.publish(1, "movie 1", big('a'));
  always.server.set_fault("games/slot/images/table.png", TestHttpServer::Fault::cut_unsized);
  EXPECT_FALSE(always.install());
  EXPECT_FALSE(always.t.dir.exists(kTable));
  EXPECT_FALSE(always.t.dir.exists(kInstallName));
}

struct LauncherSite : SignedSite {
  explicit LauncherSite(const std::string& version_type = "exe") {
    Settings& settings = t.app.settings();
    settings.set_exe_name("tarvel");
    settings.set_server_settings_copy_name("glo_stp.xml");
    const std::string setup =
        "version=$version-1.2\nexe_name=tarvel\nversion_type=" + version_type + "\n";
    site.write("launcher/setup.xml", setup);
    site.write("launcher/tarvel", "new launcher");
    site.write("launcher/Config.xml",
               "<Config><UpdateKey>" + key.public_key + "</UpdateKey></Config>\n");
    EXPECT_TRUE(publish_launcher_sums(site_files, site / "launcher", key.private_key).ok());
    t.dir.write("glo_stp.xml", site.read("launcher/setup.xml"));
    t.dir.write("tarvel", "running launcher");
  }
};

TEST(SignedSelfUpdate, ReplacesTheLauncherOnlyWithTheOneItsSumsName) {
  LauncherSite good;
  EXPECT_TRUE(apply_launcher_update(good.t.app, kReleaseExe));
  EXPECT_EQ(good.t.app.settings().restart_pending(), 1);
  EXPECT_EQ(good.t.dir.read("tarvel"), "new launcher");

  LauncherSite tampered;
  tampered.site.write("launcher/tarvel", "new launcher, but not as signed");
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(apply_launcher_update(tampered.t.app, kReleaseExe));
  (void)::testing::internal::GetCapturedStderr();
  EXPECT_EQ(tampered.t.app.settings().restart_pending(), 0);
  EXPECT_EQ(tampered.t.dir.read("tarvel"), "running launcher");
}

// Every file under a folder with its contents.
std::map<std::string, std::string> tree(const testing::TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    if (entry.is_regular_file()) {
      files[std::filesystem::relative(entry.path(), dir.path()).string()] =
          dir.read(std::filesystem::relative(entry.path(), dir.path()).string());
    }
  }
  return files;
}

// A purge is checked before it starts: with a key, a release that the key
// does not vouch for leaves the client, and the serials that keep older
// releases out, where they are.
TEST(SignedSelfUpdate, AReleaseTheKeyDoesNotVouchForChangesNothingOnDisk) {
  for (const char* type : {kReleaseFlash, kReleaseFull}) {
    LauncherSite s(type);
    s.publish(1, "movie 1", big('a'));
    ASSERT_TRUE(s.install());
    std::remove((s.site / "launcher/setup.xml.sums.sig").c_str());
    const auto before = tree(s.t.dir);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(apply_launcher_update(s.t.app, type));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("setup.xml.sums.sig: missing"), std::string::npos) << type << said;
    EXPECT_EQ(tree(s.t.dir), before) << type;
    EXPECT_EQ(s.status(), kStatusDownloadFailed) << type;
    EXPECT_EQ(s.t.app.settings().restart_pending(), 0) << type;
  }
}

TEST(SignedSelfUpdate, ASignedPurgeKeepsEachPackagesSerialButNotItsFiles) {
  LauncherSite s(kReleaseFlash);
  s.publish(1, "movie 1", big('a'));
  std::map<std::string, std::string> first;
  for (const char* name : {"games/common_slot_install.xml", "games/common_slot_install.xml.sums",
                           "games/common_slot_install.xml.sums.sig", "games/slot/slot.swf"}) {
    first[name] = s.site.read(name);
  }
  s.publish(2, "movie 2", big('a'));
  ASSERT_TRUE(s.install());
  EXPECT_TRUE(apply_launcher_update(s.t.app, kReleaseFlash));
  EXPECT_FALSE(s.t.dir.exists(kMovie));
  EXPECT_FALSE(s.t.dir.exists(kInstallName));
  EXPECT_EQ(s.t.dir.read(std::string(kInstallName) + ".installed"),
            "tarvel-installed 1\nversion $version-1.2\nserial 2\n");
  EXPECT_TRUE(verify_installed_tree(s.t.app).broken.empty()) << "no file is listed any more";
  EXPECT_NE(s.t.dir.read(kLauncherRecordName).find("serial 1"), std::string::npos);

  // The older release, genuinely signed, stays refused after the purge.
  for (const auto& [name, text] : first) s.site.write(name, text);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(s.install());
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("lower than the installed 2"), std::string::npos) << said;
}

}  // namespace
}  // namespace tarvel
