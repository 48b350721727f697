// Real windows on GTK, each screen's movie in a web view.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/desktop.hpp"
#include "platform/gtk/gtk_ui.hpp"
#include "platform/headless/transcript.hpp"
#include "platform/posix/posix_files.hpp"

namespace tarvel {
namespace {

// Client sizes of the windows whose screens keep their dialog template's
// size, from the templates' dialog units at the usual dialog font (a unit
// is a quarter of its 6-pixel character width and an eighth of its 13-pixel
// height).
constexpr int dialog_x(int units) { return (units * 6 + 3) / 4; }
constexpr int dialog_y(int units) { return (units * 13 + 7) / 8; }

std::map<std::string, std::pair<int, int>> template_sizes() {
  return {
      {"CMenrikDlg", {dialog_x(163), dialog_y(97)}},
      {"IndexForm", {dialog_x(573), dialog_y(367)}},
      {"HtmlBrowser", {dialog_x(317), dialog_y(181)}},
  };
}

// The Flash player's files: beside the program when installed, else where
// this build fetched them.
std::string find_ruffle() {
  const std::string beside = executable_directory() + "/ruffle";
  if (std::filesystem::exists(beside + "/ruffle.js")) return beside;
  const std::string built = TARVEL_RUFFLE_DIR;
  if (!built.empty() && std::filesystem::exists(built + "/ruffle.js")) return built;
  return {};
}

bool display_present() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

class WindowDesktop final : public Desktop {
 public:
  explicit WindowDesktop(const std::string& directory) : ui_(options(directory)) {}
  [[nodiscard]] Ui& ui() override { return ui_; }
  [[nodiscard]] MessageBox& message_boxes() override { return ui_.message_boxes(); }
  [[nodiscard]] std::string kind() const override {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return std::string("windows on ") +
           (wayland != nullptr && *wayland != '\0' ? wayland : x11 != nullptr ? x11 : "?");
  }
  void close() override {
    ui_.close();
    ui_.close_kept_screens();
  }

 private:
  GtkUiOptions options(const std::string& directory) {
    GtkUiOptions o;
    o.application_directory = directory;
    o.ruffle_directory = find_ruffle();
    o.template_sizes = template_sizes();
    o.transcript = &transcript_;
    return o;
  }

  StreamTranscript transcript_{stdout};
  GtkUi ui_;
};

}  // namespace

std::unique_ptr<Desktop> open_window_desktop(const std::string& directory) {
  if (!display_present() || gtk_init_check(nullptr, nullptr) == FALSE) return nullptr;
  return std::make_unique<WindowDesktop>(directory);
}

}  // namespace tarvel
