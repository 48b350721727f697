#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "flash/flash_window.hpp"
#include "platform/browser_control.hpp"
#include "tests/support/gtk/gtk_desktop.hpp"
#include "tests/support/gtk/movie_screen.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

using testing::MovieScreen;
// A page that reports once with a command, and the screen closes on it.
const MovieScreen::Options kClosing{
    .control = {0, 0, 320, 200}, .lines = {}, .close_on_command = true};

struct PlatformDesktopTest : ::testing::Test {
  void SetUp() override {
    std::string why;
    if (!testing::start_gtk(&why)) GTEST_FAIL() << why;
    t = std::make_unique<testing::GtkTestApp>();
  }
  std::unique_ptr<testing::GtkTestApp> t;
};

// The page reads each address and reports what came of it, in order.
std::string fetching_page(const std::vector<std::string>& addresses) {
  std::string list;
  for (const std::string& address : addresses) list += "\"" + address + "\",";
  return R"(<!DOCTYPE html><html><body><script>
  const addresses = [)" +
         list + R"(];
  const read = async (address) => {
    try {
      const answer = await fetch(address);
      return answer.ok ? "read " + (await answer.text()) : "status " + answer.status;
    } catch (e) {
      return "refused";
    }
  };
  window.addEventListener("load", async () => {
    const results = [];
    for (const address of addresses) results.push(await read(address));
    tarvel.fscommand("results", results.join("|"));
  });
</script></body></html>)";
}

TEST_F(PlatformDesktopTest, MoviesReadTheApplicationDirectoryAndNothingOutsideIt) {
  testing::TempDir outside;
  outside.write("secret.txt", "secret");
  const std::string outside_name = std::filesystem::path(outside.path()).filename().string();
  t->base.dir.write("app-popup/inside.txt", "inside");
  std::filesystem::create_symlink(outside / "secret.txt", t->base.dir / "app-popup/link.txt");
  t->base.dir.write("app-popup/page.html",
                    fetching_page({
                        "inside.txt",
                        "tarvel://app/app-popup%5Cinside.txt",
                        "tarvel://app/..%5C" + outside_name + "%5Csecret.txt",
                        "tarvel://app/app-popup\\\\..\\\\..\\\\" + outside_name + "\\\\secret.txt",
                        "link.txt",
                        "missing.txt",
                        "file://" + outside.path() + "/secret.txt",
                    }));
  MovieScreen screen(t->ui, t->base.dir.path() + "/app-popup\\page.html", kClosing);
  t->give_up_after(testing::kPatienceMs);
  (void)t->ui.run_modal(screen.window());

  ASSERT_EQ(screen.commands.size(), 1u) << t->transcript.dump();
  EXPECT_EQ(screen.commands[0].second,
            "read inside|read inside|refused|refused|refused|refused|refused");
  EXPECT_TRUE(t->saw(Kind::movie, "refused: outside the application directory"));
}

// The road of the launcher: a screen's command handler runs the next screen
// modally, and that screen's movie must still be heard inside the nested loop.
class HandingOverScreen final : public FlashWindow {
 public:
  HandingOverScreen(Ui& ui, std::string movie, std::string next)
      : FlashWindow(ui, "First"), movie_(std::move(movie)), next_(std::move(next)) {}
  std::vector<std::string> next_commands;

 private:
  void on_init() override { load_movie(movie_); }
  void on_command(const std::string&, const std::string&) override {
    MovieScreen next(ui(), next_, kClosing);
    ui().set_main_window(next.window());
    destroy_window();
    (void)ui().run_modal(next.window());
    for (const auto& [command, argument] : next.commands) next_commands.push_back(command);
  }
  std::string movie_;
  std::string next_;
};

TEST_F(PlatformDesktopTest, TheNextScreenRunsModallyInsideACommandHandler) {
  t->base.dir.write("first.html",
                    "<html><body><script>addEventListener('load', () => "
                    "tarvel.fscommand('next', ''));</script></body></html>");
  t->base.dir.write("second.html",
                    "<html><body><script>addEventListener('load', () => "
                    "tarvel.fscommand('done', ''));</script></body></html>");
  HandingOverScreen first(t->ui, t->base.dir / "first.html", t->base.dir / "second.html");
  t->give_up_after(testing::kPatienceMs);
  (void)t->ui.run_modal(first.window());
  EXPECT_FALSE(t->gave_up);
  EXPECT_EQ(first.next_commands, (std::vector<std::string>{"done"}));
}

// A text reaches an HTML5 movie whole, whatever it holds.
TEST_F(PlatformDesktopTest, ATextReachesThePageWholeWithATagOrANulInIt) {
  t->base.dir.write("echo.html",
                    "<html><body><script>function addText(text) {"
                    " tarvel.fscommand('got', text.split('\\u0000').join('<NUL>')); }"
                    "</script></body></html>");
  const std::string text = std::string("a</string>b\0c</arguments></invoke>d", 35);
  MovieScreen screen(t->ui, t->base.dir / "echo.html",
                     {.control = {0, 0, 320, 200}, .lines = {text}, .close_on_command = true});
  t->give_up_after(testing::kPatienceMs);
  (void)t->ui.run_modal(screen.window());
  EXPECT_FALSE(t->gave_up);
  using Command = std::pair<std::string, std::string>;
  EXPECT_EQ(screen.commands,
            (std::vector<Command>{{"got", "a</string>b<NUL>c</arguments></invoke>d"}}));
}

TEST_F(PlatformDesktopTest, AMoviePathOutsideTheApplicationDirectoryPlaysNothing) {
  testing::TempDir outside;
  outside.write("page.html", fetching_page({}));
  MovieScreen screen(t->ui, outside.path() + "/page.html", kClosing);
  t->every_tick([&] {
    if (!t->saw(Kind::movie, "missing: the screen stays blank")) return false;
    screen.destroy_window();
    return true;
  });
  t->give_up_after(testing::kPatienceMs);
  (void)t->ui.run_modal(screen.window());
  EXPECT_FALSE(t->gave_up);
  EXPECT_TRUE(screen.commands.empty());
}

// The message box a worker raises: shown by the windows' thread, the worker
// waiting until the user has pressed OK.
TEST_F(PlatformDesktopTest, AWorkersMessageBoxWaitsForOk) {
  std::atomic<bool> returned = false;
  std::thread worker([&] {
    t->app.message_box().show("No Internet Connection!", "ERROR!!");
    returned = true;
  });
  // The box runs a loop of its own: the user is played from the loop's ticks.
  std::string title;
  bool was_waiting = false;
  t->every_tick([&] {
    GtkWidget* box = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w != nullptr; w = w->next) {
      if (GTK_IS_MESSAGE_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data))) {
        box = GTK_WIDGET(w->data);
      }
    }
    g_list_free(windows);
    if (box == nullptr) return false;
    title = gtk_window_get_title(GTK_WINDOW(box));
    was_waiting = !returned;
    gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    return true;
  });
  EXPECT_TRUE(t->wait_until([&] { return returned.load(); }));
  worker.join();
  EXPECT_EQ(title, "ERROR!!");
  EXPECT_TRUE(was_waiting);
  EXPECT_TRUE(t->saw(Kind::message_box, "No Internet Connection!"));
}

TEST_F(PlatformDesktopTest, ClosingTheWindowsReleasesAWorkerWaitingForABox) {
  std::thread worker([&] { t->app.message_box().show("late", "ERROR!!"); });
  t->ui.close();
  worker.join();  // returns: nobody will ever press OK now
  SUCCEED();
}

// A web site on the loopback: one page, and a count of the times it was asked for.
struct WebSite {
  WebSite() {
    server.Get("/cashier.html", [this](const httplib::Request&, httplib::Response& response) {
      ++hits;
      response.set_content("<html><body style='background:#0a0'><h1>Cashier</h1></body></html>",
                           "text/html");
    });
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
  }
  ~WebSite() {
    server.stop();
    thread.join();
  }
  [[nodiscard]] std::string url() const {
    return "http://127.0.0.1:" + std::to_string(port) + "/cashier.html";
  }

  httplib::Server server;
  std::atomic<int> hits = 0;
  int port = 0;
  std::thread thread;
};

TEST_F(PlatformDesktopTest, BrowserWindowsGoToWebAddressesOnly) {
  WebSite site;
  struct Plain : WindowHandler {
  } handler;
  const WindowId window = t->ui.create_window(handler, "HtmlBrowser");
  const std::unique_ptr<BrowserControl> browser = t->ui.create_browser_control(window);
  t->ui.move_control(window, {0, 0, 300, 200});
  t->ui.show_modeless(window, kNoWindow);
  browser->navigate("file:///etc/hostname");
  browser->navigate("tarvel://app/Config.xml");
  browser->navigate(site.url());
  testing::Picture picture;
  EXPECT_TRUE(t->wait_until([&] {
    picture = testing::screenshot(t->ui, window);
    return site.hits > 0 && picture.off_background > 0.01;
  }));
  picture = testing::screenshot(t->ui, window, "browser");
  EXPECT_EQ(site.hits, 1);
  EXPECT_EQ(t->transcript.texts(Kind::browser),
            (std::vector<std::string>{"refused: not an http or https address",
                                      "refused: not an http or https address",
                                      "navigate " + site.url()}));
  EXPECT_EQ(picture.width, 300);
  EXPECT_EQ(picture.height, 200);
  t->ui.destroy(window);
}

// This process's children whose name begins so ("WebKitWebProces" is as
// much of "WebKitWebProcess" as the kernel keeps).
int children_named(const std::string& prefix) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream status(entry.path() / "status");
    std::string line, name;
    bool ours = false;
    while (std::getline(status, line)) {
      if (line.starts_with("Name:\t")) name = line.substr(6);
      if (line.starts_with("PPid:\t")) ours = std::stoi(line.substr(6)) == ::getpid();
    }
    if (ours && name.starts_with(prefix)) ++count;
  }
  return count;
}

// Two screens and a browser window open at once live in one web process
// and one network process; the web page, though it shares them, never
// reads the movies' files.
TEST_F(PlatformDesktopTest, ScreensAndBrowsersShareOneWebProcessAndTheWebNeverReadsTheMovies) {
  t->base.dir.write("leak.js", "window.leaked = 'inside';");
  const std::string page =
      "<html><body><script>addEventListener('load', () => "
      "tarvel.fscommand('shown', ''));</script></body></html>";
  t->base.dir.write("first.html", page);
  t->base.dir.write("second.html", page);
  httplib::Server site;
  std::atomic<int> reports = 0;
  std::string report;
  site.Get("/page.html", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(
        "<html><body><h1>Cashier</h1><script>"
        "const movies = document.createElement('script');"
        "movies.onload = () => fetch('/report?r=' + window.leaked);"
        "movies.onerror = () => fetch('/report?r=refused');"
        "movies.src = 'tarvel://app/leak.js';"
        "document.head.append(movies);</script></body></html>",
        "text/html");
  });
  site.Get("/report", [&](const httplib::Request& request, httplib::Response&) {
    report = request.get_param_value("r");
    ++reports;
  });
  const int port = site.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { site.listen_after_bind(); });

  MovieScreen first(t->ui, t->base.dir / "first.html");
  MovieScreen second(t->ui, t->base.dir / "second.html");
  t->ui.show_modeless(first.window(), kNoWindow);
  t->ui.show_modeless(second.window(), kNoWindow);
  struct Plain : WindowHandler {
  } handler;
  const WindowId window = t->ui.create_window(handler, "HtmlBrowser");
  const std::unique_ptr<BrowserControl> browser = t->ui.create_browser_control(window);
  t->ui.show_modeless(window, kNoWindow);
  browser->navigate("http://127.0.0.1:" + std::to_string(port) + "/page.html");
  EXPECT_TRUE(t->wait_until(
      [&] { return !first.commands.empty() && !second.commands.empty() && reports > 0; }));

  EXPECT_EQ(children_named("WebKitWebProces"), 1);
  EXPECT_EQ(children_named("WebKitNetworkPr"), 1);
  EXPECT_EQ(report, "refused");
  t->ui.destroy(window);
  site.stop();
  serving.join();
}

}  // namespace
}  // namespace tarvel
