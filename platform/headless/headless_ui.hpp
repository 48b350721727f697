#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/headless/loop_clock.hpp"
#include "platform/headless/movie_host.hpp"
#include "platform/headless/transcript.hpp"
#include "platform/message_box.hpp"
#include "platform/ui.hpp"

namespace tarvel {

// What the kernel knows of one window; kept after the window is destroyed so
// a test can look at how it ended.
struct WindowState {
  WindowId id = kNoWindow;
  std::string class_name;
  WindowId owner = kNoWindow;
  bool alive = true;
  bool shown = false;
  bool modal = false;
  bool enabled = true;
  bool close_command = true;
  bool resizable = false;
  bool centred = false;
  Rect rect;
  Rect control;
  std::string title;
  std::string icon;
};

// The user interface without a display: windows, timers and nested modal
// loops on a clock the caller chooses, and movie controls from a MovieHost.
// Everything that happens goes into the transcript.
class HeadlessUi final : public Ui {
 public:
  // forward: where message boxes go besides the transcript (may be null).
  HeadlessUi(LoopClock& clock, MovieHost& movies, Transcript& transcript,
             MessageBox* forward = nullptr);
  ~HeadlessUi() override;
  HeadlessUi(const HeadlessUi&) = delete;
  HeadlessUi& operator=(const HeadlessUi&) = delete;

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

  // For movie hosts and tests: run fn from the loop once delay_ms have
  // passed. A task bound to a window is dropped when that window is gone by then.
  void schedule(WindowId window, std::uint64_t delay_ms, std::function<void()> fn);
  // Runs the loop until done() holds. False when it had to give up first.
  bool run_until(const std::function<bool()>& done);
  // Writes an entry stamped with the time and the window's class name.
  void record(WindowId window, TranscriptEntry::Kind kind, std::string text,
              std::string argument = "");

  // Destroys the windows of the screens this kernel keeps alive (those shown
  // with show_modeless_owned) and releases the screens. A program or test
  // calls it, outside any handler, before the App those screens work in goes.
  void close_kept_screens();

  // The user pressing the close box or its keystroke (Alt+F4).
  void press_close(WindowId window);
  // The user resizing the window to a client area of this size.
  void resize_client(WindowId window, int client_width, int client_height);

  [[nodiscard]] std::uint64_t now_ms() const { return clock_.now_ms(); }
  [[nodiscard]] WindowId active_window() const { return active_; }
  // The window's state, alive or not; null for an id never handed out.
  [[nodiscard]] const WindowState* window(WindowId window) const;
  // Every window of a class, in the order they were created.
  [[nodiscard]] std::vector<WindowId> windows_of(const std::string& class_name) const;
  // Message boxes for the App of a headless program: into the transcript,
  // and on to the forward box if there is one.
  [[nodiscard]] MessageBox& message_boxes() { return app_boxes_; }

  static constexpr int kScreenWidth = 1920;
  static constexpr int kScreenHeight = 1080;

 private:
  struct Window {
    WindowState state;
    WindowHandler* handler = nullptr;
    std::unique_ptr<WindowHandler> owned;
    int calls = 0;  // handler calls of this window still running
  };
  struct Timer {
    WindowId window;
    int id;
    std::uint64_t period;
    std::uint64_t due;
    std::uint64_t order;
  };
  struct Task {
    WindowId window;
    std::uint64_t due;
    std::uint64_t order;
    std::function<void()> fn;
  };
  class AppBoxes final : public MessageBox {
   public:
    explicit AppBoxes(HeadlessUi& ui) : ui_(ui) {}
    void show(const std::string& text, const std::string& caption) override {
      ui_.message_box(kNoWindow, text, caption);
    }

   private:
    HeadlessUi& ui_;
  };

  Window* live(WindowId window);
  [[nodiscard]] const Window* live(WindowId window) const;
  void call(WindowId window, const std::function<void(WindowHandler&)>& fn);
  void show(WindowId window, WindowId owner, bool modal);
  // Whether owner is the window itself or anywhere up its chain of owners.
  [[nodiscard]] bool owned_by(WindowId window, WindowId owner) const;
  bool pump_one();
  void release_finished_screens();
  void run_task(Task& task);
  bool run_posted();
  bool run_due();
  [[nodiscard]] std::uint64_t next_deadline() const;
  void deliver_key(KeyMessage key);

  LoopClock& clock_;
  MovieHost& movies_;
  Transcript& transcript_;
  MessageBox* forward_;
  AppBoxes app_boxes_{*this};
  std::map<WindowId, Window> windows_;
  std::vector<Timer> timers_;
  std::vector<Task> scheduled_;
  std::mutex posted_mutex_;
  std::deque<Task> posted_;
  WindowId next_id_ = 1;
  WindowId main_ = kNoWindow;
  WindowId active_ = kNoWindow;
  std::uint64_t next_order_ = 0;
};

}  // namespace tarvel
