#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/app.hpp"
#include "flash/flash_window.hpp"

namespace tarvel {

// The values a screen's start sequence uses.
struct ScreenStart {
  struct Size {
    int width = 0;
    int height = 0;
  };
  struct Timer {
    int id = 0;
    int period_ms = 0;
  };
  // Window and control sizes in pixels; when set, both are placed at the
  // origin and the window is centred. Unset: the template's size stays.
  std::optional<Size> window;
  std::optional<Size> control;
  bool remove_close = false;  // no close box on the title bar
  std::string movie_path;
  std::string first_text;
  std::vector<Timer> timers;
};

// Texts the screens hand their movies: "lang=" and the language to show,
// and "progress=" before a progress line.
inline constexpr const char* kLanguagePrefix = "lang=";
inline constexpr const char* kProgressPrefix = "progress=";

// What a screen does when its window becomes active other than by a click.
enum class OnActivation { nothing, escape_to_movie };

// A Tarvel screen: a FlashWindow that runs the common start sequence (icon,
// title, sizes, movie, first text, play, timers) and filters keys so that
// every key, Escape and Enter included, goes to the movie and none closes the
// screen. Screens that ask for it send the movie one Escape key-down whenever
// their window is activated other than by a click.
class FlashScreen : public FlashWindow {
 public:
  FlashScreen(App& app, const std::string& class_name, OnActivation activation);

  // Makes the screen the application's main window and shows it modally;
  // returns once its window is gone (false: the loop gave up with it open).
  bool show_modal_as_main();
  // Shows the screen modelessly; it stays this object's to keep alive.
  void show_modeless(WindowId owner) { ui().show_modeless(window(), owner); }

  // The hand-over from one modal screen to the next: the next screen is
  // built and made the main window, this window goes, and the next runs
  // modally inside the caller's handler. Returns when the next screen (and
  // whatever it handed over to) has ended.
  template <typename Next, typename... Args>
  void hand_over(Args&&... args) {
    Next next(app_, std::forward<Args>(args)...);
    ui().set_main_window(next.window());
    destroy_window();
    (void)ui().run_modal(next.window());
  }

  // Creates a screen the user interface keeps alive until its window is
  // gone, shows it modelessly owned by owner, and gives back its window.
  template <typename Screen, typename... Args>
  static WindowId open_modeless(App& app, WindowId owner, Args&&... args) {
    auto screen = std::make_unique<Screen>(app, std::forward<Args>(args)...);
    const WindowId id = screen->window();
    app.ui().show_modeless_owned(id, owner, std::move(screen));
    return id;
  }

 protected:
  [[nodiscard]] App& app() { return app_; }
  // The application directory followed by a relative name.
  [[nodiscard]] std::string app_path(const std::string& relative) const;

  // This screen's values for the start sequence.
  [[nodiscard]] virtual ScreenStart start_values() = 0;
  // Runs after the start sequence, for what a screen starts last.
  virtual void on_started() {}

  void on_init() override;
  void on_activate(Activation how) override;
  KeyRoute pre_translate(const KeyMessage& key) override;
  // Screens that hear of their window's end call this one too.
  void on_destroyed() override;

 private:
  void place(const ScreenStart& start);

  App& app_;
  std::string class_name_;
  OnActivation activation_;
};

}  // namespace tarvel
