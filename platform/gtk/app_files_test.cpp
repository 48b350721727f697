#include "platform/gtk/app_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

using Verdict = InsideFile::Verdict;

struct AppFilesTest : ::testing::Test {
  void SetUp() override {
    app.write("app-popup/errorMsg.swf", "swf");
    app.write("app-popup/errorMsg.html", "page");
    app.write("app-popup/login.swf", "swf");
    app.write("index.swf", "swf");
    app.write("docs/readme.htm", "page");
    outside.write("secret.txt", "secret");
    std::filesystem::create_symlink(outside / "secret.txt", app / "app-popup/link.txt");
    std::filesystem::create_symlink(outside.path(), app / "elsewhere");
    std::filesystem::create_symlink(app / "index.swf", app / "app-popup/index-link.swf");
  }
  testing::TempDir app;
  testing::TempDir outside;
};

TEST_F(AppFilesTest, FindsFilesInsideAndRefusesEveryWayOut) {
  const std::string outside_name = std::filesystem::path(outside.path()).filename().string();
  const struct {
    std::string name;
    Verdict verdict;
  } cases[] = {
      {"app-popup/errorMsg.swf", Verdict::found},
      {"app-popup\\errorMsg.swf", Verdict::found},
      {"/app-popup//./errorMsg.swf", Verdict::found},
      {"app-popup/index-link.swf", Verdict::found},  // a link that stays inside
      {"app-popup/missing.swf", Verdict::missing},
      {"app-popup", Verdict::missing},  // a folder is no file to serve
      {"", Verdict::missing},
      {"../" + outside_name + "/secret.txt", Verdict::outside},
      {"..\\" + outside_name + "\\secret.txt", Verdict::outside},
      {"app-popup/../index.swf", Verdict::outside},  // ".." is never followed
      {"app-popup/link.txt", Verdict::outside},
      {"elsewhere/secret.txt", Verdict::outside},
      {std::string("index.swf\0/../x", 15), Verdict::outside},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(find_inside(app.path(), c.name).verdict, c.verdict) << c.name;
  }
  const InsideFile found = find_inside(app.path(), "app-popup\\errorMsg.html");
  ASSERT_EQ(found.verdict, Verdict::found);
  EXPECT_EQ(found.path, std::filesystem::canonical(app / "app-popup/errorMsg.html").string());
}

TEST_F(AppFilesTest, ChoosesThePageBesideASwfAndTheSwfOtherwise) {
  const std::string root = app.path() + "/";
  using K = MovieChoice::Kind;
  const struct {
    std::string path;
    K kind;
    std::string relative;
  } cases[] = {
      {root + "app-popup\\errorMsg.swf", K::html, "app-popup/errorMsg.html"},
      {root + "app-popup\\login.swf", K::flash, "app-popup/login.swf"},
      {root + "index.swf", K::flash, "index.swf"},
      {root + "\\app-popup\\errorMsg.swf", K::html, "/app-popup/errorMsg.html"},
      {root + "docs/readme.htm", K::html, "docs/readme.htm"},
      {root + "app-popup\\transfer.swf", K::missing, ""},
      {outside.path() + "/secret.txt", K::missing, ""},
      {root + "..\\x.swf", K::missing, ""},
  };
  for (const auto& c : cases) {
    const MovieChoice choice = choose_movie(root, c.path);
    EXPECT_EQ(choice.kind, c.kind) << c.path;
    if (c.kind != K::missing) {
      EXPECT_EQ(choice.relative, c.relative) << c.path;
    }
  }
}

TEST(ContentTypeTest, ServesTheEmulatorsFilesWithTheTypesItNeeds) {
  EXPECT_EQ(content_type_of("core.wasm"), "application/wasm");
  EXPECT_EQ(content_type_of("ruffle.js"), "text/javascript; charset=utf-8");
  EXPECT_EQ(content_type_of("Login.HTML"), "text/html; charset=utf-8");
  EXPECT_EQ(content_type_of("movie.swf"), "application/x-shockwave-flash");
  EXPECT_EQ(content_type_of("data.bin"), "application/octet-stream");
}

}  // namespace
}  // namespace tarvel
