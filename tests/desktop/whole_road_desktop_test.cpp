// The built launcher on a desktop, the whole road in real windows: the
// sample movies, with a player's part played by a script the test adds to
// them, against a download server and a request service on 127.0.0.1. The
// test looks at each screen from outside, as a player's eyes would, and
// takes a picture of it before it lets the road go on.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/gtk/gtk_desktop.hpp"
#include "tests/support/launcher_process.hpp"
#include "tests/support/pty_session.hpp"
#include "tests/support/whole_road.hpp"

namespace tarvel {
namespace {

constexpr auto kPatience = std::chrono::milliseconds(testing::kPatienceMs);
// Longer than the whole road takes under a sanitizer on a busy machine.
constexpr int kRunLimitSeconds = 280;

// Downloads the test holds, so that a screen that would go on by itself
// stays while the test looks at it.
constexpr const char* kLoginPageFile = "movies/login.html";
constexpr const char* kLobbyImageFile = "common/images/lobby.png";
constexpr const char* kGameFile = "games/slot/slot.swf";

constexpr const char* kCashierPage = R"html(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Cashier</title></head>
<body style="margin:0;font:15px 'DejaVu Sans',sans-serif;background:#f7f4ec;color:#222">
<header style="background:#1f4f46;color:#f3c969;padding:14px 20px;font-size:20px">Cashier</header>
<main style="padding:20px"><p id="who"></p>
<p>Deposit <input value="50.00" style="width:80px"> EUR <button>Pay</button></p></main>
<script>
  const q = new URLSearchParams(location.search);
  document.getElementById("who").textContent =
    "Player " + q.get("username") + " (ticket " + q.get("ticket") + ", " + q.get("lang_code") + ")";
</script></body></html>)html";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A sample movie page with the player's part added at its end.
std::string driven(const std::string& page) {
  std::string out = page;
  const auto body = out.rfind("</body>");
  out.insert(body == std::string::npos ? out.size() : body,
             "<script src=\"/hear.js\"></script>\n<script src=\"/drive_road.js\"></script>\n");
  return out;
}

struct Shot {
  const char* name;
  const char* role;
  int width;
  int height;
};

struct DesktopRoad : ::testing::Test {
  void SetUp() override {
    std::string why;
    if (!testing::start_gtk(&why)) GTEST_FAIL() << why;
    stage_movies();
    road.write_config(road.site.server.url("cashier.html?"));
    road.site.write("cashier.html", kCashierPage);
    for (const char* file : {kLoginPageFile, kLobbyImageFile, kGameFile}) {
      road.site.server.set_fault(file, testing::TestHttpServer::Fault::drip);
    }
  }

  // The launcher's own movies are already there; the login movie and the
  // lobby come with their packages, each beside the .swf it stands in for.
  void stage_movies() {
    const std::string samples = testing::sample_movies_directory();
    testing::copy_tree(samples + "app-popup", road.app / "app-popup");
    std::filesystem::remove(road.app / "app-popup/login.html");
    road.app.write("app-popup/errorMsg.html",
                   driven(read_file(samples + "app-popup/errorMsg.html")));
    road.app.write("drive_road.js",
                   read_file(testing::source_directory() + "tests/desktop/movies/drive_road.js"));
    road.app.write("hear.js", read_file(testing::source_directory() + "web/demo/hear.js"));
    road.package("", "update_login",
                 {"movies/login.swf,app-popup\\", "movies/login.html,app-popup\\"});
    road.site.write("movies/login.html", driven(read_file(samples + "app-popup/login.html")));
    road.package("common/", "common",
                 {"COMMON/movies/index.swf,", "COMMON/movies/index.html,",
                  "COMMON/images/lobby.png,app-popup\\"});
    road.site.write("common/movies/index.html", driven(read_file(samples + "index.html")));
  }

  // The launcher's environment: the test's own (its display included), with
  // a lock folder of the run's own.
  std::vector<std::string> environment() const {
    const std::string runtime = road.scratch / "run";
    ::mkdir(runtime.c_str(), 0700);
    return testing::merged_environment({"XDG_RUNTIME_DIR=" + runtime});
  }

  // Waits for the transcript line, after the ones waited for before.
  void see(const std::string& line) {
    ASSERT_TRUE(launcher->wait_for(line, kPatience)) << "never saw: " << line << "\n"
                                                     << launcher->transcript();
  }
  void hold_reached(const char* file) {
    ASSERT_TRUE(road.site.server.wait_for_drip(file, kPatience))
        << "no request for " << file << "\n"
        << launcher->transcript();
  }
  void look_at(const Shot& shot) {
    const testing::Picture picture = testing::settled_screenshot_of(shot.role, shot.name);
    EXPECT_EQ(picture.width, shot.width) << shot.name;
    EXPECT_EQ(picture.height, shot.height) << shot.name;
    EXPECT_GT(picture.colours, 16) << shot.name << ": words and buttons, not a plain fill";
  }
  void go_ahead(const std::string& step) { road.app.write("go/" + step, "go"); }

  testing::WholeRoad road;
  std::unique_ptr<testing::LauncherProcess> launcher;
};

TEST_F(DesktopRoad, EveryScreenInARealWindowFromStartUpToTheCashierAndExit) {
  launcher = std::make_unique<testing::LauncherProcess>(TARVEL_LOOPBACK_PROGRAM, road.app.path(),
                                                        environment(), kRunLimitSeconds);
  // The update check, in the middle of the login package.
  ASSERT_NO_FATAL_FAILURE(hold_reached(kLoginPageFile));
  ASSERT_NO_FATAL_FAILURE(see("Update#1 movie plays the page"));
  ASSERT_NO_FATAL_FAILURE(see("Update#1 received \"lang=en\""));
  look_at({"road_update_check", "Update", 283, 139});
  road.site.server.let_go(kLoginPageFile);

  ASSERT_NO_FATAL_FAILURE(see("CCorvaneDlg#2 movie plays the page"));
  ASSERT_NO_FATAL_FAILURE(see("CCorvaneDlg#2 received \"lang=en\""));
  look_at({"road_login", "CCorvaneDlg", 297, 300});
  go_ahead("login");

  // The first installation pass, in the middle of the common package.
  ASSERT_NO_FATAL_FAILURE(hold_reached(kLobbyImageFile));
  ASSERT_NO_FATAL_FAILURE(see("TransferringForm#3 movie plays the page"));
  ASSERT_NO_FATAL_FAILURE(see("TransferringForm#3 received \"progress="));
  look_at({"road_installation", "TransferringForm", 297, 300});
  road.site.server.let_go(kLobbyImageFile);

  ASSERT_NO_FATAL_FAILURE(see("IndexForm#4 movie plays the page"));
  ASSERT_NO_FATAL_FAILURE(see("IndexForm#4 received \"game_status==<![CDATA[<main>"));
  look_at({"road_lobby", "IndexForm", 1000, 690});
  go_ahead("lobby");

  // The game installs beside the lobby; a second request meanwhile gets the
  // error screen over the disabled lobby.
  ASSERT_NO_FATAL_FAILURE(see("IndexForm#4 command \"rnggame_slot\""));
  ASSERT_NO_FATAL_FAILURE(see("TransferringForm#5 window shown, owned by #4"));
  ASSERT_NO_FATAL_FAILURE(hold_reached(kGameFile));
  go_ahead("busy");
  ASSERT_NO_FATAL_FAILURE(see("IndexForm#4 command \"rnggame_poker\""));
  ASSERT_NO_FATAL_FAILURE(see("IndexForm#4 window disabled"));
  ASSERT_NO_FATAL_FAILURE(see("CError#6 received \"Err=405\""));
  look_at({"road_error_405", "CError", 283, 139});
  go_ahead("error");
  ASSERT_NO_FATAL_FAILURE(see("CError#6 command \"ok\""));
  ASSERT_NO_FATAL_FAILURE(see("IndexForm#4 window enabled"));
  road.site.server.let_go(kGameFile);

  ASSERT_NO_FATAL_FAILURE(
      see("IndexForm#4 received \"game_rnginstall==<![CDATA[<main>"
          "<game type=\\\"slot\\\" version=\\\"uptodate\\\"></game>"));
  go_ahead("cashier");
  ASSERT_NO_FATAL_FAILURE(see("HtmlBrowser#7 browser navigate " +
                              road.site.server.url("cashier.html?") +
                              "ticket=A1B2&username=player&lang_code=en"));
  look_at({"road_cashier", "HtmlBrowser", 1000, 675});
  go_ahead("exit");
  ASSERT_NO_FATAL_FAILURE(see("IndexForm#4 command \"exit\""));

  // The cashier, the desktop's own window, goes with the run.
  EXPECT_EQ(launcher->wait_exit(), 0) << launcher->transcript();
  EXPECT_TRUE(testing::in_order(launcher->transcript(), {"IndexForm#4 window destroyed",
                                                         "Update#1 window modal loop returned",
                                                         "HtmlBrowser#7 window destroyed"}));
  for (const char* failure : {"Err=401", "Err=402", "Err=403", "Err=404"}) {
    EXPECT_EQ(launcher->transcript().find(failure), std::string::npos) << failure;
  }
  for (const char* file : {"app-popup/login.html", "index.html", "app-popup/lobby.png",
                           "casino/table.txt", "games/slot/slot.swf", "common_slot_install.xml"}) {
    EXPECT_TRUE(road.app.exists(file)) << file;
  }
}

}  // namespace
}  // namespace tarvel
