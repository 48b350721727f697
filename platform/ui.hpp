#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarvel {

class BrowserControl;
class MovieControl;
class MovieEvents;

// A window of the user interface; 0 is no window.
using WindowId = std::uint32_t;
inline constexpr WindowId kNoWindow = 0;

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

// How a window became active: by the keyboard or a program, or by a mouse click.
enum class Activation { inactive, plain, click };

// Virtual key codes the screens look at.
inline constexpr int kKeyCancel = 3;
inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyEscape = 27;

struct KeyMessage {
  int key = 0;
  bool down = true;
};

// Where a key message goes after a window's pre-translation: to the dialog's
// own keyboard handling (Escape cancels, Enter confirms), or straight on to
// the focused control, the movie.
enum class KeyRoute { dialog, focus };

// What a window's owner implements to receive the window's messages. Every
// call arrives on the user-interface thread.
class WindowHandler {
 public:
  virtual ~WindowHandler() = default;
  // Before the window is first shown: the dialog's initialisation.
  virtual void on_init() {}
  virtual void on_timer(int timer_id) { (void)timer_id; }
  virtual void on_activate(Activation how) { (void)how; }
  virtual KeyRoute pre_translate(const KeyMessage& key) {
    (void)key;
    return KeyRoute::dialog;
  }
  // The dialog's keyboard handling: Escape (or the close command) and Enter.
  virtual void on_cancel() {}
  virtual void on_ok() {}
  virtual void on_size(int client_width, int client_height) {
    (void)client_width;
    (void)client_height;
  }
  // The window is gone; no further call arrives for it.
  virtual void on_destroyed() {}
};

// The dialog framework the screens run on: windows, nested modal loops,
// timers, activation, key input and message boxes. Single-threaded: every
// call is made on the user-interface thread, except post().
class Ui {
 public:
  virtual ~Ui() = default;

  // A new hidden window whose messages go to the handler. class_name names
  // the screen in what the platform records. The handler must outlive the
  // window or destroy it first.
  [[nodiscard]] virtual WindowId create_window(WindowHandler& handler,
                                               const std::string& class_name) = 0;
  // The window's movie control, raising its events on the given sink.
  [[nodiscard]] virtual std::unique_ptr<MovieControl> create_movie_control(WindowId window,
                                                                           MovieEvents& events) = 0;
  // The window's web page control, for browser windows (no movie).
  [[nodiscard]] virtual std::unique_ptr<BrowserControl> create_browser_control(WindowId window) = 0;
  // Initialises and shows the window, then runs a nested message loop that
  // returns when the window has been destroyed. False when the loop had to
  // give up with the window still open (nothing left that could ever close it).
  virtual bool run_modal(WindowId window) = 0;
  // Initialises and shows the window owned by owner (kNoWindow: none), and
  // returns at once.
  virtual void show_modeless(WindowId window, WindowId owner) = 0;
  // Like show_modeless, and the Ui keeps the handler alive until the window
  // has been destroyed: for screens that nobody else holds.
  virtual void show_modeless_owned(WindowId window, WindowId owner,
                                   std::unique_ptr<WindowHandler> handler) = 0;
  // Destroys the window and every window it owns. Nothing happens for a
  // window that is already gone.
  virtual void destroy(WindowId window) = 0;
  [[nodiscard]] virtual bool exists(WindowId window) const = 0;

  virtual void set_main_window(WindowId window) = 0;
  [[nodiscard]] virtual WindowId main_window() const = 0;
  // The end of the window's owner chain (the window itself when it has none).
  [[nodiscard]] virtual WindowId top_level_parent(WindowId window) const = 0;

  virtual void enable(WindowId window, bool enabled) = 0;
  [[nodiscard]] virtual bool is_enabled(WindowId window) const = 0;
  virtual void activate(WindowId window, Activation how) = 0;

  virtual void move_window(WindowId window, Rect rect) = 0;
  virtual void move_control(WindowId window, Rect rect) = 0;
  [[nodiscard]] virtual Rect control_rect(WindowId window) const = 0;
  virtual void centre(WindowId window) = 0;
  virtual void set_title(WindowId window, const std::string& title) = 0;
  // Loads the icon file and sets it as the large and the small icon; a file
  // that cannot be loaded leaves the icons as they are.
  virtual void set_icon(WindowId window, const std::string& path) = 0;
  // Takes the Close command off the window's system menu: no close box, and
  // the close keystroke does nothing.
  virtual void remove_close_command(WindowId window) = 0;
  // Whether the user may resize the window by its frame (dialogs: no).
  virtual void set_resizable(WindowId window, bool resizable) = 0;

  // Starts or restarts timer id of the window.
  virtual void set_timer(WindowId window, int timer_id, int period_ms) = 0;
  virtual void kill_timer(WindowId window, int timer_id) = 0;

  // Places a key event in the input queue, as if typed, for the active window.
  virtual void synthesize_key(KeyMessage key) = 0;
  // A message box with an OK button, owned by the window (or by none).
  virtual void message_box(WindowId owner, const std::string& text, const std::string& caption) = 0;

  // Runs fn on the user-interface thread from its message loop, soon, after
  // the caller has returned. Safe from any thread: how other threads hand work
  // to the windows. A task bound to a window is dropped when that window is
  // gone by then.
  virtual void post(WindowId window, std::function<void()> fn) = 0;
};

}  // namespace tarvel
