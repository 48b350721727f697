// Package installs with many files on the way at once: what the player and
// the files see stays what a list fetched one by one shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "tests/support/eventually.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/game_package.hpp"
#include "update/manifest.hpp"
#include "update/package_install.hpp"

namespace tarvel {
namespace {

using Fault = testing::TestHttpServer::Fault;
constexpr auto kDeadline = std::chrono::seconds(20);

std::string padded(int n) { return (n < 100 ? n < 10 ? "00" : "0" : "") + std::to_string(n); }
std::string file_path(int i) { return "slot/d" + padded(i % 7) + "/f" + padded(i) + ".bin"; }
std::string contents(int i) { return "file " + std::to_string(i) + std::string(i % 300, '.'); }

// Names that interrupted transfers leave, anywhere under the folder.
std::vector<std::string> leftovers(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tarvel-part") != std::string::npos ||
        name.find(".tarvel-resume") != std::string::npos) {
      found.push_back(entry.path().string());
    }
  }
  return found;
}

// A game package of many files on a loopback server.
struct ManyFiles : ::testing::Test {
  void serve(int count) {
    std::string manifest = "$version-1.0\n";
    for (int i = 0; i < count; ++i) {
      site.write("games/" + file_path(i), contents(i));
      manifest += "GAMES/" + file_path(i) + ",games\\slot\\d" + padded(i % 7) + "\\\n";
    }
    site.write("games/common_slot_install.xml", manifest);
    Settings& s = t.app.settings();
    s.set_url(server.url("launcher/"));
    s.set_game_url(server.url("games/"));
    s.set_package_kind("game");
    s.set_selected_language("en");
  }
  std::size_t requests_for(const std::string& path) const {
    std::size_t count = 0;
    for (const auto& request : server.requests()) count += request.path == path ? 1 : 0;
    return count;
  }
  bool install() { return install_game_package(t.app, "slot", "common", kSourceGameUrl); }

  testing::TempDir site;
  testing::TestHttpServer server{site.path()};
  testing::TestApp t;
};

TEST_F(ManyFiles, AFailureAmongFiveHundredStopsTheInstallAndTheNextRunConverges) {
  serve(500);
  server.set_fault("games/" + file_path(250), Fault::not_found);
  // The files after the failing one get no answer, so the places they take
  // are not handed on while its 404 is on the way, however slow that is.
  const int limit = t.app.settings().max_connections();
  for (int i = 251; i < 251 + limit; ++i) server.set_fault("games/" + file_path(i), Fault::hold);
  EXPECT_FALSE(install());
  EXPECT_EQ(t.app.settings().take_status(), (Status{401, "Err=401"}));
  EXPECT_FALSE(t.dir.exists("common_slot_install.xml")) << "the package is not installed";
  EXPECT_EQ(requests_for("games/" + file_path(250)), 1u) << "a 404 is not tried again";
  // Files start in list order: past the failure, only the places the other
  // transfers left were filled, and nothing more was asked for once it failed.
  EXPECT_LE(server.requests().size(), 1 + 251 + static_cast<std::size_t>(limit - 1));
  EXPECT_EQ(leftovers(t.dir.path()), std::vector<std::string>{});

  for (int i = 251; i < 251 + limit; ++i) server.set_fault("games/" + file_path(i), Fault::none);
  server.release_holds();
  server.set_fault("games/" + file_path(250), Fault::none);
  server.set_fault("games/" + file_path(100), Fault::reset_mid_body, 1);
  const std::size_t before = requests_for("games/" + file_path(100));
  ASSERT_TRUE(install());
  EXPECT_EQ(requests_for("games/" + file_path(100)) - before, 2u) << "a reset is tried again";
  for (int i = 0; i < 500; ++i) ASSERT_EQ(t.dir.read("games/" + file_path(i)), contents(i)) << i;
  EXPECT_TRUE(t.dir.exists("common_slot_install.xml"));
  EXPECT_EQ(t.app.settings().item_index(), 500);
  EXPECT_EQ(leftovers(t.dir.path()), std::vector<std::string>{});
}

// Files end in whatever order their transfers finish: the index still rises
// by one per completed file, and the progress line shows it while files remain.
TEST_F(ManyFiles, ProgressRisesByOneForEachCompletedFile) {
  constexpr int kCount = 12;
  serve(kCount);
  t.dir.write("m.xml", site.read("games/common_slot_install.xml"));
  for (int i = 0; i < kCount; ++i) server.set_fault("games/" + file_path(i), Fault::hold);
  count_entries(t.app, "m.xml");
  bool ok = false;
  std::thread installing([&] {
    EntryList entries;
    ok = install_full_manifest(t.app, entries, "m.xml", t.dir.path() + "/", "unused/");
    CurlHttpGet::close_idle_connections();
  });
  std::vector<std::string> released;
  for (int done = 1; done <= kCount; ++done) {
    // The most recently asked-for file that is still held finishes next.
    std::string next;
    ASSERT_TRUE(testing::eventually([&] {
      for (const auto& request : server.requests()) {
        if (std::find(released.begin(), released.end(), request.path) == released.end())
          next = request.path;
      }
      return !next.empty();
    }));
    released.push_back(next);
    server.release_hold(next);
    ASSERT_TRUE(testing::eventually([&] { return t.app.settings().item_index() == done; }))
        << "index " << t.app.settings().item_index() << " after " << done << " files";
    const Status expected =
        done < kCount ? Status{202, std::to_string(done) + ",12,game,en"} : Status{};
    EXPECT_EQ(t.app.settings().take_status(), expected);
  }
  installing.join();
  EXPECT_TRUE(ok);
}

// The player's exit never waits for a download: transfers that will not end
// by themselves end when the launcher tears down, and nobody is told.
TEST_F(ManyFiles, TearingDownEndsARunningInstall) {
  serve(20);
  for (int i = 0; i < 20; ++i) server.set_fault("games/" + file_path(i), Fault::hold);
  t.app.settings().set_first_log("1");
  bool ok = true;
  ASSERT_TRUE(t.app.workers().start(WorkerKind::installation, [&] {
    ok = install();
    CurlHttpGet::close_idle_connections();
  }));
  ASSERT_TRUE(server.wait_for_holds(1, kDeadline));
  // The held answers stay held until the server goes: only the stop can end the install.
  t.app.workers().stop_and_join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(t.app.settings().take_status(), Status{});
  EXPECT_TRUE(t.message_box.shown().empty()) << "nothing pops up on the way out";
  EXPECT_FALSE(t.dir.exists("common_slot_install.xml"));
}

}  // namespace
}  // namespace tarvel
