#include "tests/support/gtk/gtk_desktop.hpp"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <stdlib.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "tests/support/xvfb.hpp"

// Last: Xlib defines names as macros that other headers use.
#include <X11/Xatom.h>
#include <gdk/gdkx.h>

namespace tarvel::testing {
namespace {

struct Display {
  Xvfb xvfb;
  bool ready = false;
  std::string why;

  Display() {
    if (xvfb.display().empty()) {
      why = xvfb.error();
      return;
    }
    setenv("DISPLAY", xvfb.display().c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    // No accessibility bus on a private display: nothing would listen.
    setenv("NO_AT_BRIDGE", "1", 1);
    ready = gtk_init_check(nullptr, nullptr) != FALSE;
    if (!ready) why = "GTK could not open " + xvfb.display();
  }
};

gboolean tick(gpointer data) {
  auto* step = static_cast<std::function<bool()>*>(data);
  return (*step)() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

}  // namespace

bool start_gtk(std::string* why) {
  // Lives until the process ends: GTK cannot be set up twice.
  static auto* display = new Display();
  if (why != nullptr) *why = display->why;
  return display->ready;
}

std::string ruffle_directory() { return TARVEL_TEST_RUFFLE_DIR; }
std::string source_directory() { return TARVEL_TEST_SOURCE_DIR "/"; }
std::string sample_movies_directory() { return TARVEL_TEST_SOURCE_DIR "/web/movies/"; }
std::string built_test_movies_directory() { return TARVEL_TEST_BINARY_DIR "/test_movies/"; }
std::string screenshots_directory() { return TARVEL_TEST_BINARY_DIR "/screenshots/"; }

namespace {

Picture picture_of(GdkWindow* gdk_window, const std::string& name) {
  Picture picture;
  const int width = gdk_window_get_width(gdk_window);
  const int height = gdk_window_get_height(gdk_window);
  GdkPixbuf* pixels = gdk_pixbuf_get_from_window(gdk_window, 0, 0, width, height);
  if (pixels == nullptr) return picture;
  picture.width = gdk_pixbuf_get_width(pixels);
  picture.height = gdk_pixbuf_get_height(pixels);
  const int stride = gdk_pixbuf_get_rowstride(pixels);
  const int channels = gdk_pixbuf_get_n_channels(pixels);
  const guchar* data = gdk_pixbuf_read_pixels(pixels);
  const auto colour = [&](int x, int y) {
    const guchar* p = data + y * stride + x * channels;
    return (p[0] << 16) | (p[1] << 8) | p[2];
  };
  std::set<int> colours;
  long off = 0;
  const int background = colour(0, 0);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const int c = colour(x, y);
      if (colours.size() < 4096) colours.insert(c);
      if (c != background) ++off;
      picture.checksum = picture.checksum * 1099511628211u + static_cast<std::uint64_t>(c);
    }
  }
  picture.colours = static_cast<int>(colours.size());
  picture.off_background = static_cast<double>(off) / (picture.width * picture.height);
  if (!name.empty()) {
    std::filesystem::create_directories(screenshots_directory());
    gdk_pixbuf_save(pixels, (screenshots_directory() + name + ".png").c_str(), "png", nullptr,
                    nullptr);
  }
  g_object_unref(pixels);
  return picture;
}

std::string role_of(::Display* x, ::Window window) {
  static const Atom role = XInternAtom(x, "WM_WINDOW_ROLE", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long left = 0;
  unsigned char* value = nullptr;
  std::string text;
  if (XGetWindowProperty(x, window, role, 0, 256, False, XA_STRING, &type, &format, &count, &left,
                         &value) == Success &&
      value != nullptr) {
    if (type == XA_STRING && format == 8) text.assign(reinterpret_cast<char*>(value), count);
    XFree(value);
  }
  return text;
}

// Top-level windows are the root's children, lowest first; without a window
// manager they are the programs' own windows.
::Window find_shown(::Display* x, const std::string& role) {
  ::Window root = 0;
  ::Window parent = 0;
  ::Window* children = nullptr;
  unsigned count = 0;
  ::Window found = 0;
  if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count) == 0) return 0;
  for (unsigned i = count; i-- > 0 && found == 0;) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(x, children[i], &attributes) == 0) continue;
    if (attributes.map_state == IsViewable && role_of(x, children[i]) == role) found = children[i];
  }
  if (children != nullptr) XFree(children);
  return found;
}

}  // namespace

Picture screenshot(GtkUi& ui, WindowId window, const std::string& name) {
  GtkWidget* widget = ui.native(window);
  if (widget == nullptr || gtk_widget_get_window(widget) == nullptr) return {};
  return picture_of(gtk_widget_get_window(widget), name);
}

Picture screenshot_of(const std::string& role, const std::string& name) {
  GdkDisplay* display = gdk_display_get_default();
  // The other program may take its window away at any moment.
  gdk_x11_display_error_trap_push(display);
  Picture picture;
  if (const ::Window shown = find_shown(GDK_DISPLAY_XDISPLAY(display), role)) {
    GdkWindow* window = gdk_x11_window_foreign_new_for_display(display, shown);
    if (window != nullptr) {
      picture = picture_of(window, name);
      g_object_unref(window);
    }
  }
  gdk_x11_display_error_trap_pop_ignored(display);
  return picture;
}

Picture settled_screenshot_of(const std::string& role, const std::string& name) {
  constexpr auto kStill = std::chrono::milliseconds(300);
  constexpr auto kLook = std::chrono::milliseconds(20);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
  auto changed = std::chrono::steady_clock::now();
  std::uint64_t last = 0;
  // The other program draws on its own: looking again a little later is
  // all there is to do here.
  while (std::chrono::steady_clock::now() < give_up) {
    const Picture now = screenshot_of(role);
    if (now.checksum != last || now.blank()) {
      last = now.checksum;
      changed = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - changed >= kStill) {
      break;
    }
    std::this_thread::sleep_for(kLook);
  }
  return screenshot_of(role, name);
}

Picture settled_screenshot(GtkUi& ui, WindowId window, const std::string& name) {
  constexpr auto kStill = std::chrono::milliseconds(300);
  auto changed = std::chrono::steady_clock::now();
  std::uint64_t last = 0;
  // A tick keeps the loop turning while nothing else happens.
  const guint tick = g_timeout_add(
      20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  (void)ui.run_until(
      [&] {
        const Picture now = screenshot(ui, window);
        if (now.checksum != last || now.blank()) {
          last = now.checksum;
          changed = std::chrono::steady_clock::now();
          return false;
        }
        return std::chrono::steady_clock::now() - changed >= kStill;
      },
      kPatienceMs);
  g_source_remove(tick);
  return screenshot(ui, window, name);
}

std::string run_in_page(GtkUi& ui, WindowId window, const std::string& script) {
  GtkWidget* toplevel = ui.native(window);
  GtkWidget* view = toplevel != nullptr ? gtk_bin_get_child(GTK_BIN(toplevel)) : nullptr;
  if (view == nullptr || !WEBKIT_IS_WEB_VIEW(view)) return "";
  struct Answer {
    bool done = false;
    std::string text;
  } answer;
  webkit_web_view_evaluate_javascript(
      WEBKIT_WEB_VIEW(view), script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* answer = static_cast<Answer*>(data);
        JSCValue* value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
        if (value != nullptr) {
          gchar* text = jsc_value_to_string(value);
          answer->text = text;
          g_free(text);
          g_object_unref(value);
        }
        answer->done = true;
      },
      &answer);
  // The answer must come before the frame goes: the callback writes into it.
  while (!answer.done) g_main_context_iteration(nullptr, TRUE);
  return answer.text;
}

void copy_tree(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(to);
  std::filesystem::copy(
      from, to,
      std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
}

namespace {

GtkUiOptions options_for(TestApp& base, Transcript& transcript) {
  GtkUiOptions options;
  options.application_directory = base.dir.path() + "/";
  options.ruffle_directory = ruffle_directory();
  options.transcript = &transcript;
  options.page_console = true;
  return options;
}

}  // namespace

GtkTestApp::GtkTestApp()
    : ui(options_for(base, transcript)), app(base.services_with([this](Services& s) {
        s.ui = &ui;
        s.message_box = &ui.message_boxes();
      })) {
  app.settings().set_application_directory(base.dir.path() + "/");
}

GtkTestApp::~GtkTestApp() {
  if (give_up_source_ != 0) g_source_remove(give_up_source_);
  ui.close();
}

void GtkTestApp::every_tick(std::function<bool()> step) {
  g_timeout_add_full(G_PRIORITY_DEFAULT, 20, tick, new std::function<bool()>(std::move(step)),
                     [](gpointer p) { delete static_cast<std::function<bool()>*>(p); });
}

bool GtkTestApp::wait_until(const std::function<bool()>& done, int timeout_ms) {
  return ui.run_until(done, timeout_ms);
}

bool GtkTestApp::saw(TranscriptEntry::Kind kind, const std::string& text,
                     const std::string& screen) const {
  const std::vector<std::string> texts = transcript.texts(kind, screen);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

void GtkTestApp::give_up_after(int timeout_ms) {
  give_up_source_ = g_timeout_add(
      static_cast<guint>(timeout_ms),
      [](gpointer self) -> gboolean {
        auto* t = static_cast<GtkTestApp*>(self);
        t->give_up_source_ = 0;
        t->gave_up = true;
        ADD_FAILURE() << "gave up waiting; transcript:\n" << t->transcript.dump();
        // Closing every window ends every modal loop.
        for (WindowId id = 1; id < 1000; ++id) t->ui.destroy(id);
        return G_SOURCE_REMOVE;
      },
      this);
}

}  // namespace tarvel::testing
