// Compressed copies, patches and mirrors end to end: releases published by
// the operator's manifest tool, a launcher installing them from loopback
// servers, and what those servers were asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <random>
#include <thread>

#include "operator/package_release.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/game_package.hpp"

namespace tarvel {
namespace {

using testing::TestHttpServer;

constexpr const char* kScript = "games/slot/game.js";  // compresses well, changes a little
constexpr const char* kSound = "games/slot/spin.ogg";  // does not compress

std::string script(int release) {
  std::string text;
  for (int i = 0; i < 4000; ++i) {
    text += "function reel" + std::to_string(i) + "() { return spin(" + std::to_string(i % 7) +
            ", " + std::to_string(i == 1234 ? release : 0) + "); }\n";
  }
  return text;
}

std::string noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

struct CodedSite {
  testing::TempDir site;
  TestHttpServer server{site.path()};
  PosixFiles site_files{site.path()};
  testing::TestApp t;

  CodedSite() { t.app.settings().set_game_url(server.url("games/")); }
  void publish(int release, bool with_sums = true) {
    site.write(kScript, script(release));
    site.write(kSound, noise(64 * 1024, 7));
    const ReleaseResult result = publish_package(
        site_files, {.group = "common",
                     .package = "slot",
                     .version = "1." + std::to_string(release),
                     .mandatory = "",
                     .source = "GAMES/slot/",
                     .target = "games\\slot\\",
                     .package_dir = site / "games/slot",
                     .out_dir = site / "games"});
    ASSERT_TRUE(result.ok()) << result.problems.front();
    if (!with_sums) {
      for (const char* name : {"common_slot_install.xml.sums", "common_slot_update.xml.sums"}) {
        std::filesystem::remove(site / (std::string("games/") + name));
      }
      for (const char* name : {"common_slot_install.xml", "common_slot_update.xml"}) {
        std::string text = site.read(std::string("games/") + name);
        text.erase(text.find("#tarvel-sums"));
        site.write(std::string("games/") + name, text);
      }
    }
  }
  bool install() { return install_game_package(t.app, "slot", "common", kSourceGameUrl); }
  std::vector<std::string> asked() {
    std::vector<std::string> paths;
    for (const auto& request : server.requests()) paths.push_back(request.path);
    return paths;
  }
  bool asked_for(const std::string& path) {
    const auto paths = asked();
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  }
  void expect_installed(int release) {
    EXPECT_EQ(t.dir.read(kScript), script(release));
    EXPECT_EQ(t.dir.read(kSound), noise(64 * 1024, 7));
  }
};

TEST(CodedInstall, CompressedAndPatchedFilesArriveWholeForAFractionOfTheirBytes) {
  CodedSite s;
  s.publish(1);
  EXPECT_TRUE(s.site.exists(std::string(kScript) + ".zst"));
  EXPECT_FALSE(s.site.exists(std::string(kSound) + ".zst")) << "saves nothing: none is written";
  ASSERT_TRUE(s.install());
  s.expect_installed(1);
  EXPECT_TRUE(s.asked_for("games/slot/game.js.zst"));
  EXPECT_FALSE(s.asked_for("games/slot/game.js"));
  EXPECT_TRUE(s.asked_for("games/slot/spin.ogg"));

  s.publish(2);
  const std::uint64_t before = s.server.body_bytes_sent();
  ASSERT_TRUE(s.install());
  s.expect_installed(2);
  const auto paths = s.asked();
  EXPECT_TRUE(std::any_of(paths.begin(), paths.end(),
                          [](const std::string& p) { return p.ends_with(".zpatch"); }));
  // The manifests and sums travel too; the script's change is a few bytes.
  EXPECT_LT(s.server.body_bytes_sent() - before, script(2).size() / 10);
}

// Each way to a file that does not give the file gives way to the next.
TEST(CodedInstall, ACorruptCopyOrAPatchAgainstAnotherBaseFallsBackToTheNextChoice) {
  struct Case {
    const char* name;
    bool change_installed;  // the player's file is not the patch's base
    bool corrupt_copy;
    bool copy_lost;
    const char* whole_asked;  // whether the whole file had to be fetched
  };
  const Case cases[] = {
      {"patch against another base", true, false, false, nullptr},
      {"patch against another base, copy corrupt", true, true, false, "yes"},
      {"copy lost on the server", true, false, true, "yes"},
  };
  for (const Case& c : cases) {
    CodedSite s;
    s.publish(1);
    ASSERT_TRUE(s.install()) << c.name;
    s.publish(2);
    if (c.change_installed) s.t.dir.write(kScript, script(1) + "// mended by hand\n");
    const std::string copy = std::string(kScript) + ".zst";
    if (c.corrupt_copy) {
      std::string bytes = s.site.read(copy);
      bytes[bytes.size() / 2] ^= 0x55;
      s.site.write(copy, bytes);
    }
    if (c.copy_lost) std::filesystem::remove(s.site / copy);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(s.install()) << c.name;
    (void)::testing::internal::GetCapturedStderr();
    s.expect_installed(2);
    EXPECT_EQ(s.asked_for(kScript), c.whole_asked != nullptr) << c.name;
  }
}

// The installed file changes between the plan, which chose the patch for
// it, and the patch's arrival: the patch no longer applies, and the file
// still arrives whole, from the compressed copy.
TEST(CodedInstall, APatchWhoseBaseChangedSinceThePlanGivesWayToTheCopy) {
  CodedSite s;
  s.publish(1);
  ASSERT_TRUE(s.install());
  s.publish(2);
  std::string patch;
  for (const auto& entry : std::filesystem::directory_iterator(s.site / "games/slot")) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".zpatch")) patch = "games/slot/" + name;
  }
  ASSERT_FALSE(patch.empty());
  s.server.set_fault(patch, TestHttpServer::Fault::hold, 1);
  ::testing::internal::CaptureStderr();
  auto installing = std::async(std::launch::async, [&] { return s.install(); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!s.asked_for(patch) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(s.asked_for(patch));
  s.t.dir.write(kScript, script(3));
  s.server.release_holds();
  EXPECT_TRUE(installing.get());
  (void)::testing::internal::GetCapturedStderr();
  s.expect_installed(2);
  EXPECT_TRUE(s.asked_for(std::string(kScript) + ".zst"));
}

// A launcher that reads no sums (or a server that publishes none) asks for
// the files themselves, as ever.
TEST(CodedInstall, WithoutSumsOnlyTheFilesThemselvesAreAskedFor) {
  CodedSite s;
  s.publish(1, false);
  ASSERT_TRUE(s.install());
  s.expect_installed(1);
  for (const std::string& path : s.asked()) {
    EXPECT_FALSE(path.ends_with(".zst") || path.ends_with(".zpatch") || path.ends_with(".sums"))
        << path;
  }
}

// The first address refuses, answers 500 or serves files that are not the
// released ones: every file still arrives, from the mirror.
TEST(CodedInstall, AFailingMirrorGivesWayToTheNext) {
  enum class Failing { refuses, server_error, tampered };
  for (const Failing failing : {Failing::refuses, Failing::server_error, Failing::tampered}) {
    CodedSite s;
    s.publish(1);
    testing::TempDir bad_site;
    std::filesystem::copy(s.site.path(), bad_site.path(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    auto bad = std::make_unique<TestHttpServer>(bad_site.path());
    const std::string bad_url = bad->url("games/");
    if (failing == Failing::refuses) bad.reset();
    if (failing == Failing::server_error) {
      for (const char* path : {"games/slot/game.js.zst", "games/slot/game.js",
                               "games/slot/spin.ogg", "games/common_slot_install.xml"}) {
        bad->set_fault(path, TestHttpServer::Fault::server_error);
      }
    }
    if (failing == Failing::tampered) {
      bad_site.write(kSound, noise(64 * 1024, 8));
      bad_site.write(std::string(kScript) + ".zst", "not zstd at all");
      bad_site.write(kScript, "tampered");
    }
    s.t.app.settings().set_game_url(bad_url);
    s.t.app.settings().set_game_url_mirrors(s.server.url("games/"));
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(s.install()) << static_cast<int>(failing);
    (void)::testing::internal::GetCapturedStderr();
    s.expect_installed(1);
  }
}

}  // namespace
}  // namespace tarvel
