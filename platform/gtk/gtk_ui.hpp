#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless/transcript.hpp"
#include "platform/message_box.hpp"
#include "platform/ui.hpp"

using GtkWidget = struct _GtkWidget;
using GMainLoop = struct _GMainLoop;
using GSource = struct _GSource;

namespace tarvel {

class WebMovieHost;

// Where a desktop's windows find their files and tell what happened.
struct GtkUiOptions {
  // The folder the movies' addresses are rooted in, ending in a separator;
  // nothing outside it is ever served to a movie.
  std::string application_directory;
  // The unpacked Flash emulator that plays .swf movies; "" when there is none.
  std::string ruffle_directory;
  // Client sizes in pixels of windows that are shown without being sized,
  // by class name: the size their dialog template gives them.
  std::map<std::string, std::pair<int, int>> template_sizes;
  // Where windows, movie texts, commands and requests are written (may be null).
  Transcript* transcript = nullptr;
  // Pages' console messages go to standard output (for finding a movie's faults).
  bool page_console = false;
};

// The user interface on GTK 3: one top-level window per screen whose whole
// client area is one web view. Every call but post() and the message boxes
// of message_boxes() belongs on the thread that built it, which must have
// initialised GTK.
class GtkUi final : public Ui {
 public:
  explicit GtkUi(GtkUiOptions options);
  ~GtkUi() override;
  GtkUi(const GtkUi&) = delete;
  GtkUi& operator=(const GtkUi&) = delete;

  // Ui
  [[nodiscard]] WindowId create_window(WindowHandler& handler,
                                       const std::string& class_name) override;
  [[nodiscard]] std::unique_ptr<MovieControl> create_movie_control(WindowId window,
                                                                   MovieEvents& events) override;
  [[nodiscard]] std::unique_ptr<BrowserControl> create_browser_control(WindowId window) override;
  bool run_modal(WindowId window) override;
  void show_modeless(WindowId window, WindowId owner) override;
  void show_modeless_owned(WindowId window, WindowId owner,
                           std::unique_ptr<WindowHandler> handler) override;
  void destroy(WindowId window) override;
  [[nodiscard]] bool exists(WindowId window) const override;
  void set_main_window(WindowId window) override;
  [[nodiscard]] WindowId main_window() const override { return main_; }
  [[nodiscard]] WindowId top_level_parent(WindowId window) const override;
  void enable(WindowId window, bool enabled) override;
  [[nodiscard]] bool is_enabled(WindowId window) const override;
  void activate(WindowId window, Activation how) override;
  void move_window(WindowId window, Rect rect) override;
  void move_control(WindowId window, Rect rect) override;
  [[nodiscard]] Rect control_rect(WindowId window) const override;
  void centre(WindowId window) override;
  void set_title(WindowId window, const std::string& title) override;
  void set_icon(WindowId window, const std::string& path) override;
  void remove_close_command(WindowId window) override;
  void set_resizable(WindowId window, bool resizable) override;
  void set_timer(WindowId window, int timer_id, int period_ms) override;
  void kill_timer(WindowId window, int timer_id) override;
  void synthesize_key(KeyMessage key) override;
  void message_box(WindowId owner, const std::string& text, const std::string& caption) override;
  void post(WindowId window, std::function<void()> fn) override;

  // Message boxes for the App: shown on the user-interface thread whichever
  // thread asks, the asking thread waiting until the user has pressed OK.
  [[nodiscard]] MessageBox& message_boxes() { return app_boxes_; }
  // From here on nothing more is handed over from other threads, and any
  // thread still waiting for a message box goes on: call it before the
  // threads that might show one are joined.
  void close();
  // Destroys the windows of the screens this Ui keeps alive (those shown
  // with show_modeless_owned) and releases the screens: a program calls it,
  // outside any handler, before the App those screens work in goes.
  void close_kept_screens();

  // Runs the loop until done() holds or timeout_ms have passed; false on
  // time-out. For tests and for waiting on a page without a window loop.
  bool run_until(const std::function<bool()>& done, int timeout_ms);
  // Runs fn for a window's handler, counting the call so that a screen the
  // Ui keeps alive is not released under it. Nothing for a window that is gone.
  void call(WindowId window, const std::function<void(WindowHandler&)>& fn);
  // Writes an entry stamped with the time and the window's class name.
  void record(WindowId window, TranscriptEntry::Kind kind, std::string text,
              std::string argument = "");
  [[nodiscard]] std::uint64_t now_ms() const;

  // The window's GTK widget (null when gone), and the widget its control sits in.
  [[nodiscard]] GtkWidget* native(WindowId window) const;
  // Puts a control's widget into the window, filling its client area.
  void attach(WindowId window, GtkWidget* widget);
  [[nodiscard]] const GtkUiOptions& options() const { return options_; }
  [[nodiscard]] WebMovieHost& movies() { return *movies_; }
  [[nodiscard]] WindowId active_window() const { return active_; }
  // The window whose toplevel is this widget, or kNoWindow.
  [[nodiscard]] WindowId window_of(GtkWidget* toplevel) const;

 private:
  struct Window;
  class AppBoxes final : public MessageBox {
   public:
    explicit AppBoxes(GtkUi& ui) : ui_(ui) {}
    void show(const std::string& text, const std::string& caption) override;

   private:
    GtkUi& ui_;
  };

  Window* live(WindowId window);
  [[nodiscard]] const Window* live(WindowId window) const;
  void show(WindowId window, WindowId owner);
  [[nodiscard]] bool owned_by(WindowId window, WindowId owner) const;
  void apply_size(Window& window);
  void release_finished_screens();
  void schedule_release();
  void on_active_changed(WindowId window, bool active);
  void on_key(WindowId window, int key, bool& handled);
  void on_close_pressed(WindowId window);
  void on_client_size(WindowId window, int width, int height);
  void on_button_press(WindowId window);
  void drop_timers(WindowId window);

  GtkUiOptions options_;
  std::thread::id ui_thread_;
  std::uint64_t start_ms_;
  std::map<WindowId, std::unique_ptr<Window>> windows_;
  WindowId next_id_ = 1;
  WindowId main_ = kNoWindow;
  WindowId active_ = kNoWindow;
  std::unique_ptr<WebMovieHost> movies_;
  AppBoxes app_boxes_{*this};
  unsigned release_source_ = 0;

  // Work handed over from other threads, and whether that still happens.
  struct Handover;
  struct PostedTask;
  struct PostSource;
  std::shared_ptr<Handover> handover_;
  PostSource* post_source_ = nullptr;

  friend struct GtkUiSignals;
};

}  // namespace tarvel
