#include "update/download.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

using Fault = testing::TestHttpServer::Fault;
using Method = DownloadMode::Method;

using testing::names_in;

TEST(DownloadMode, ChosenByExactFirstLog) {
  EXPECT_EQ(download_mode("1"), (DownloadMode{Method::client, true}));
  EXPECT_EQ(download_mode("2"), (DownloadMode{Method::client, true}));
  EXPECT_EQ(download_mode("3"), (DownloadMode{Method::direct, false}));
  EXPECT_EQ(download_mode("4"), (DownloadMode{Method::direct, true}));
  for (const char* other : {"", " 3", "3 ", "5", "33", "one"}) {
    EXPECT_EQ(download_mode(other), (DownloadMode{Method::client, false})) << other;
  }
}

TEST(DirectQuery, DateMinuteAndSecondWithoutHour) {
  EXPECT_EQ(direct_query({2017, 3, 5, 14, 7, 9, 500}), "?20173579");
  EXPECT_EQ(direct_query({2026, 12, 31, 23, 59, 0, 0}), "?20261231590");
}

struct DownloadTest : ::testing::Test {
  DownloadTest() {
    served.write("pkg/a.swf", "AAAA");
    served.write("pkg/b.swf", "BBBB");
    served.write("setup.xml", "version=$version-1.2\n");
  }

  bool download(const std::string& path, const std::string& local) {
    return download_file(t.app, server.url(path), root() + local);
  }
  std::string root() const { return t.app.settings().application_directory(); }
  Settings& settings() { return t.app.settings(); }

  testing::TempDir served;
  testing::TestHttpServer server{served.path()};
  testing::TestApp t;
};

TEST_F(DownloadTest, SingleFileOutsideAListPostsNothing) {
  settings().set_item_index(3);
  ASSERT_TRUE(download("pkg/a.swf", "a.swf"));
  EXPECT_EQ(t.dir.read("a.swf"), "AAAA");
  EXPECT_EQ(settings().status(), Status{});
  EXPECT_EQ(settings().item_index(), 3) << "no list, no counting";
}

TEST_F(DownloadTest, ProgressFromTheSecondFileOfAList) {
  settings().set_item_count(5);
  settings().set_package_kind("common");
  settings().set_selected_language("en");
  ASSERT_TRUE(download("pkg/a.swf", "a.swf"));
  EXPECT_EQ(settings().take_status(), Status{}) << "the first file posts nothing";
  EXPECT_EQ(settings().item_index(), 1);
  ASSERT_TRUE(download("pkg/b.swf", "b.swf"));
  EXPECT_EQ(settings().take_status(), (Status{202, "1,5,common,en"}));
  EXPECT_EQ(settings().item_index(), 2);

  // Documents fetched once a list is done never count past it.
  settings().set_item_count(2);
  for (const char* file : {"a.swf", "b.swf"}) {
    ASSERT_TRUE(download(std::string("pkg/") + file, file));
  }
  EXPECT_EQ(settings().take_status(), (Status{202, "2,2,common,en"}));
  EXPECT_EQ(settings().item_index(), 2);
}

TEST_F(DownloadTest, FailureKeepsTheIndexAndReports401) {
  settings().set_item_count(5);
  settings().set_item_index(2);
  server.set_fault("pkg/a.swf", Fault::not_found);
  EXPECT_FALSE(download("pkg/a.swf", "a.swf"));
  EXPECT_EQ(settings().take_status(), (Status{401, "Err=401"}));
  EXPECT_EQ(settings().item_index(), 2);
}

// Whatever the fault, no file (whole, partial or temporary) is left under
// the target's folder, and the old file is gone.
TEST_F(DownloadTest, EveryFaultLeavesNoTargetFile) {
  for (const Fault fault :
       {Fault::not_found, Fault::server_error, Fault::reset_mid_body, Fault::short_body}) {
    SCOPED_TRACE(static_cast<int>(fault));
    t.dir.write("games/a.swf", "previous");
    server.set_fault("pkg/a.swf", fault);
    EXPECT_FALSE(download("pkg/a.swf", "games\\a.swf"));
    EXPECT_EQ(settings().take_status(), (Status{401, "Err=401"}));
    EXPECT_EQ(names_in(t.dir / "games"), std::vector<std::string>{});
  }
}

TEST_F(DownloadTest, FailureWithoutConnectivityLeaves402) {
  testing::TestApp offline("never-resolves.invalid");
  EXPECT_FALSE(download_file(offline.app, server.url("missing.swf"), "missing.swf"));
  EXPECT_EQ(offline.app.settings().take_status(), (Status{402, "Err=402"}));
}

TEST_F(DownloadTest, SettingsFileSurvivesAFailedDownload) {
  t.dir.write("setup.xml", "url=old\n");
  server.set_fault("setup.xml", Fault::short_body);
  EXPECT_FALSE(download("setup.xml", "setup.xml"));
  EXPECT_EQ(t.dir.read("setup.xml"), "url=old\n");
  server.set_fault("setup.xml", Fault::none);
  EXPECT_TRUE(download("setup.xml", "setup.xml"));
  EXPECT_EQ(t.dir.read("setup.xml"), "version=$version-1.2\n");
}

TEST_F(DownloadTest, ServerSettingsCopyIsGoneAfterAFailedFetch) {
  t.dir.write("glo_stp.xml", "version=$version-1.0\n");
  server.set_fault("setup.xml", Fault::not_found);
  EXPECT_FALSE(download_file(t.app, server.url("setup.xml"), "glo_stp.xml"));
  EXPECT_FALSE(t.dir.exists("glo_stp.xml"));
}

TEST_F(DownloadTest, MissingTargetFolderFails) {
  EXPECT_FALSE(download("pkg/a.swf", "no\\such\\a.swf"));
  EXPECT_EQ(settings().take_status(), (Status{401, "Err=401"}));
}

TEST_F(DownloadTest, MessageBoxOnlyInItsModes) {
  const std::string address = server.url("missing.swf");
  for (const char* first_log : {"", "3", " 3", "x"}) {
    settings().set_first_log(first_log);
    EXPECT_FALSE(download_file(t.app, address, "m.swf"));
  }
  EXPECT_TRUE(t.message_box.shown().empty());
  for (const char* first_log : {"1", "2", "4"}) {
    settings().set_first_log(first_log);
    EXPECT_FALSE(download_file(t.app, address, "m.swf"));
  }
  const RecordingMessageBox::Shown box{address, "ERROR!!"};
  EXPECT_EQ(t.message_box.shown(), (std::vector{box, box, box}))
      << "the address, without any query";
}

TEST_F(DownloadTest, ClientMethodNamesItselfDirectMethodDefeatsCaches) {
  settings().set_first_log(" 3");
  ASSERT_TRUE(download("pkg/a.swf", "a.swf"));
  settings().set_first_log("3");
  ASSERT_TRUE(download("pkg/b.swf", "b.swf"));
  EXPECT_EQ(t.dir.read("b.swf"), "BBBB");
  const auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].target, "/pkg/a.swf");
  EXPECT_EQ(seen[0].user_agent, "GetWebFile/1.0");
  EXPECT_TRUE(std::regex_match(seen[1].target, std::regex(R"(/pkg/b\.swf\?[0-9]{8,14})")))
      << seen[1].target;
  EXPECT_EQ(seen[1].user_agent, "");
}

TEST_F(DownloadTest, AListTravelsOverOneConnection) {
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(download(i % 2 ? "pkg/a.swf" : "pkg/b.swf", "x.swf"));
  EXPECT_EQ(server.connections(), 1);
}

}  // namespace
}  // namespace tarvel
