#include "platform/headless/headless_ui.hpp"

#include <algorithm>

#include "platform/browser_control.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

std::string describe(Rect r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
         std::to_string(r.height);
}

std::string describe(KeyMessage key) {
  return std::to_string(key.key) + (key.down ? " down" : " up");
}

const char* activation_name(Activation how) {
  switch (how) {
    case Activation::inactive:
      return "deactivated";
    case Activation::plain:
      return "activated";
    case Activation::click:
      return "activated by a click";
  }
  return "?";
}

}  // namespace

HeadlessUi::HeadlessUi(LoopClock& clock, MovieHost& movies, Transcript& transcript,
                       MessageBox* forward)
    : clock_(clock), movies_(movies), transcript_(transcript), forward_(forward) {}

HeadlessUi::~HeadlessUi() { close_kept_screens(); }

// Screens the kernel keeps alive go first, each taking its window with it.
void HeadlessUi::close_kept_screens() {
  for (auto& [id, window] : windows_) {
    if (window.owned && window.state.alive) destroy(id);
  }
  for (auto& [id, window] : windows_) window.owned.reset();
}

HeadlessUi::Window* HeadlessUi::live(WindowId window) {
  const auto found = windows_.find(window);
  return found != windows_.end() && found->second.state.alive ? &found->second : nullptr;
}

const HeadlessUi::Window* HeadlessUi::live(WindowId window) const {
  const auto found = windows_.find(window);
  return found != windows_.end() && found->second.state.alive ? &found->second : nullptr;
}

void HeadlessUi::call(WindowId window, const std::function<void(WindowHandler&)>& fn) {
  const auto found = windows_.find(window);
  if (found == windows_.end()) return;
  Window& target = found->second;
  ++target.calls;
  fn(*target.handler);
  --target.calls;
}

WindowId HeadlessUi::create_window(WindowHandler& handler, const std::string& class_name) {
  const WindowId id = next_id_++;
  Window& window = windows_[id];
  window.state.id = id;
  window.state.class_name = class_name;
  window.handler = &handler;
  record(id, Kind::window, "created");
  return id;
}

std::unique_ptr<MovieControl> HeadlessUi::create_movie_control(WindowId window,
                                                               MovieEvents& events) {
  return movies_.create(*this, window, events);
}

namespace {

// A browser without a page: the address it is sent to goes into the transcript.
class RecordingBrowser final : public BrowserControl {
 public:
  RecordingBrowser(HeadlessUi& ui, WindowId window) : ui_(ui), window_(window) {}
  void navigate(const std::string& address) override {
    ui_.record(window_, TranscriptEntry::Kind::browser, "navigate " + address);
  }

 private:
  HeadlessUi& ui_;
  WindowId window_;
};

}  // namespace

std::unique_ptr<BrowserControl> HeadlessUi::create_browser_control(WindowId window) {
  return std::make_unique<RecordingBrowser>(*this, window);
}

bool HeadlessUi::run_modal(WindowId window) {
  if (!live(window)) return true;
  show(window, kNoWindow, true);
  const bool closed = run_until([&] { return !live(window); });
  if (closed) record(window, Kind::window, "modal loop returned");
  return closed;
}

void HeadlessUi::show_modeless(WindowId window, WindowId owner) { show(window, owner, false); }

void HeadlessUi::show_modeless_owned(WindowId window, WindowId owner,
                                     std::unique_ptr<WindowHandler> handler) {
  if (Window* target = live(window)) target->owned = std::move(handler);
  show(window, owner, false);
}

void HeadlessUi::show(WindowId window, WindowId owner, bool modal) {
  Window* target = live(window);
  if (target == nullptr) return;
  // An owner the window already owns, however indirectly, would close a loop
  // that neither the walk to the top-level window nor destroy could leave.
  target->state.owner = live(owner) != nullptr && !owned_by(owner, window) ? owner : kNoWindow;
  target->state.modal = modal;
  record(
      window, Kind::window,
      std::string(modal ? "shown modally" : "shown modeless") +
          (target->state.owner != kNoWindow ? ", owned by #" + std::to_string(target->state.owner)
                                            : ""));
  call(window, [](WindowHandler& h) { h.on_init(); });
  target = live(window);
  if (target == nullptr) return;
  target->state.shown = true;
  activate(window, Activation::plain);
}

void HeadlessUi::destroy(WindowId window) {
  Window* target = live(window);
  if (target == nullptr) return;
  // The front window is this one or one it owns: either way the owner of
  // this one comes to the front once all of them are gone.
  const bool was_active = owned_by(active_, window);
  // Dead before its owned windows go: a handler of theirs destroying this
  // window again must not start a second teardown inside the first, nor
  // bring a window on its way out back to the front.
  target->state.alive = false;
  std::vector<WindowId> owned_windows;
  for (const auto& [id, other] : windows_) {
    if (other.state.alive && other.state.owner == window) owned_windows.push_back(id);
  }
  for (const WindowId id : owned_windows) destroy(id);
  record(window, Kind::window, "destroyed");
  std::erase_if(timers_, [&](const Timer& t) { return t.window == window; });
  if (main_ == window) main_ = kNoWindow;
  if (active_ == window) active_ = kNoWindow;
  call(window, [](WindowHandler& h) { h.on_destroyed(); });
  // The owner comes to the front again, as a desktop would bring it.
  const WindowId owner = target->state.owner;
  if (was_active && live(owner) != nullptr && is_enabled(owner)) activate(owner, Activation::plain);
}

bool HeadlessUi::exists(WindowId window) const { return live(window) != nullptr; }

void HeadlessUi::set_main_window(WindowId window) {
  main_ = live(window) != nullptr ? window : kNoWindow;
  record(window, Kind::window, main_ == kNoWindow ? "no main window" : "made the main window");
}

bool HeadlessUi::owned_by(WindowId window, WindowId owner) const {
  for (const Window* current = live(window); current != nullptr;
       current = live(current->state.owner)) {
    if (current->state.id == owner) return true;
  }
  return false;
}

WindowId HeadlessUi::top_level_parent(WindowId window) const {
  const Window* current = live(window);
  if (current == nullptr) return kNoWindow;
  while (const Window* owner = live(current->state.owner)) current = owner;
  return current->state.id;
}

void HeadlessUi::enable(WindowId window, bool enabled) {
  Window* target = live(window);
  if (target == nullptr || target->state.enabled == enabled) return;
  target->state.enabled = enabled;
  record(window, Kind::window, enabled ? "enabled" : "disabled");
}

bool HeadlessUi::is_enabled(WindowId window) const {
  const Window* target = live(window);
  return target != nullptr && target->state.enabled;
}

void HeadlessUi::activate(WindowId window, Activation how) {
  Window* target = live(window);
  if (target == nullptr || how == Activation::inactive || active_ == window) return;
  if (how == Activation::click && !target->state.enabled) {
    record(window, Kind::window, "click ignored: window disabled");
    return;
  }
  const WindowId previous = active_;
  active_ = window;
  if (live(previous) != nullptr) {
    call(previous, [](WindowHandler& h) { h.on_activate(Activation::inactive); });
  }
  record(window, Kind::window, activation_name(how));
  call(window, [how](WindowHandler& h) { h.on_activate(how); });
}

void HeadlessUi::move_window(WindowId window, Rect rect) {
  if (Window* target = live(window)) {
    target->state.rect = rect;
    record(window, Kind::window, "moved to " + describe(rect));
  }
}

void HeadlessUi::move_control(WindowId window, Rect rect) {
  if (Window* target = live(window)) {
    target->state.control = rect;
    record(window, Kind::window, "control moved to " + describe(rect));
  }
}

Rect HeadlessUi::control_rect(WindowId window) const {
  const Window* target = live(window);
  return target != nullptr ? target->state.control : Rect{};
}

void HeadlessUi::centre(WindowId window) {
  if (Window* target = live(window)) {
    Rect& r = target->state.rect;
    r.x = (kScreenWidth - r.width) / 2;
    r.y = (kScreenHeight - r.height) / 2;
    target->state.centred = true;
    record(window, Kind::window, "centred at " + describe(r));
  }
}

void HeadlessUi::set_title(WindowId window, const std::string& title) {
  if (Window* target = live(window)) {
    target->state.title = title;
    record(window, Kind::window, "title", title);
  }
}

void HeadlessUi::set_icon(WindowId window, const std::string& path) {
  if (Window* target = live(window)) {
    target->state.icon = path;
    record(window, Kind::window, "icon", path);
  }
}

void HeadlessUi::remove_close_command(WindowId window) {
  if (Window* target = live(window)) {
    target->state.close_command = false;
    record(window, Kind::window, "close command removed");
  }
}

// Nothing to draw: kept for tests, not written to the transcript.
void HeadlessUi::set_resizable(WindowId window, bool resizable) {
  if (Window* target = live(window)) target->state.resizable = resizable;
}

void HeadlessUi::set_timer(WindowId window, int timer_id, int period_ms) {
  if (live(window) == nullptr) return;
  kill_timer(window, timer_id);
  const auto period = static_cast<std::uint64_t>(std::max(period_ms, 1));
  timers_.push_back({window, timer_id, period, now_ms() + period, next_order_++});
  record(window, Kind::window,
         "timer " + std::to_string(timer_id) + " every " + std::to_string(period) + " ms");
}

void HeadlessUi::kill_timer(WindowId window, int timer_id) {
  std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == timer_id; });
}

void HeadlessUi::synthesize_key(KeyMessage key) {
  record(active_, Kind::key, describe(key) + " synthesized");
  post(kNoWindow, [this, key] { deliver_key(key); });
}

void HeadlessUi::message_box(WindowId owner, const std::string& text, const std::string& caption) {
  record(owner, Kind::message_box, text, caption);
  if (forward_ != nullptr) forward_->show(text, caption);
}

void HeadlessUi::schedule(WindowId window, std::uint64_t delay_ms, std::function<void()> fn) {
  // A delay past the clock's range is due never, not at a wrapped-round time.
  const std::uint64_t now = now_ms();
  const std::uint64_t due =
      delay_ms >= LoopClock::kNever - now ? LoopClock::kNever : now + delay_ms;
  scheduled_.push_back({window, due, next_order_++, std::move(fn)});
}

void HeadlessUi::post(WindowId window, std::function<void()> fn) {
  {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back({window, 0, 0, std::move(fn)});
  }
  clock_.wake();
}

bool HeadlessUi::run_until(const std::function<bool()>& done) {
  while (!done()) {
    if (pump_one()) continue;
    if (!clock_.wait_until(next_deadline())) {
      record(kNoWindow, Kind::window, "message loop gave up: nothing left that could happen");
      return false;
    }
  }
  return true;
}

void HeadlessUi::record(WindowId window, Kind kind, std::string text, std::string argument) {
  std::string screen;
  if (window != kNoWindow) {
    const auto found = windows_.find(window);
    if (found != windows_.end()) screen = found->second.state.class_name;
  }
  transcript_.add({now_ms(), screen.empty() ? kNoWindow : window, screen, kind, std::move(text),
                   std::move(argument)});
}

void HeadlessUi::press_close(WindowId window) {
  Window* target = live(window);
  if (target == nullptr) return;
  if (!target->state.close_command) {
    record(window, Kind::window, "close pressed: no close command");
    return;
  }
  record(window, Kind::window, "close pressed");
  call(window, [](WindowHandler& h) { h.on_cancel(); });
}

void HeadlessUi::resize_client(WindowId window, int client_width, int client_height) {
  if (live(window) == nullptr) return;
  record(window, Kind::window,
         "client resized to " + std::to_string(client_width) + "x" + std::to_string(client_height));
  call(window, [&](WindowHandler& h) { h.on_size(client_width, client_height); });
}

const WindowState* HeadlessUi::window(WindowId window) const {
  const auto found = windows_.find(window);
  return found != windows_.end() ? &found->second.state : nullptr;
}

std::vector<WindowId> HeadlessUi::windows_of(const std::string& class_name) const {
  std::vector<WindowId> ids;
  for (const auto& [id, window] : windows_) {
    if (window.state.class_name == class_name) ids.push_back(id);
  }
  return ids;
}

bool HeadlessUi::pump_one() {
  release_finished_screens();
  return run_posted() || run_due();
}

// A screen the kernel keeps alive goes once its window is gone and none of
// its handlers is still running further up the stack.
void HeadlessUi::release_finished_screens() {
  for (auto& [id, window] : windows_) {
    if (window.owned && !window.state.alive && window.calls == 0) window.owned.reset();
  }
}

bool HeadlessUi::run_posted() {
  Task task;
  {
    std::lock_guard lock(posted_mutex_);
    if (posted_.empty()) return false;
    task = std::move(posted_.front());
    posted_.pop_front();
  }
  run_task(task);
  return true;
}

bool HeadlessUi::run_due() {
  const std::uint64_t now = now_ms();
  const auto timer = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) {
    return std::tie(a.due, a.order) < std::tie(b.due, b.order);
  });
  const auto task = std::min_element(scheduled_.begin(), scheduled_.end(), [](auto& a, auto& b) {
    return std::tie(a.due, a.order) < std::tie(b.due, b.order);
  });
  const bool timer_due = timer != timers_.end() && timer->due <= now;
  const bool task_due = task != scheduled_.end() && task->due <= now;
  if (task_due &&
      (!timer_due || std::tie(task->due, task->order) < std::tie(timer->due, timer->order))) {
    Task ready = std::move(*task);
    scheduled_.erase(task);
    run_task(ready);
    return true;
  }
  if (!timer_due) return false;
  // A timer that fell behind fires once and starts its next period now.
  timer->due = now + timer->period;
  timer->order = next_order_++;
  const WindowId window = timer->window;
  const int id = timer->id;
  call(window, [id](WindowHandler& h) { h.on_timer(id); });
  return true;
}

void HeadlessUi::run_task(Task& task) {
  if (task.window == kNoWindow) {
    task.fn();
    return;
  }
  if (live(task.window) == nullptr) return;
  const auto found = windows_.find(task.window);
  ++found->second.calls;
  task.fn();
  --found->second.calls;
}

std::uint64_t HeadlessUi::next_deadline() const {
  std::uint64_t deadline = LoopClock::kNever;
  for (const Timer& t : timers_) deadline = std::min(deadline, t.due);
  for (const Task& t : scheduled_) deadline = std::min(deadline, t.due);
  return deadline;
}

void HeadlessUi::deliver_key(KeyMessage key) {
  const WindowId target = active_;
  if (live(target) == nullptr || !is_enabled(target)) {
    record(target, Kind::key, describe(key) + " dropped: no enabled window is active");
    return;
  }
  KeyRoute route = KeyRoute::dialog;
  call(target, [&](WindowHandler& h) { route = h.pre_translate(key); });
  const bool cancel = key.key == kKeyEscape || key.key == kKeyCancel;
  if (route == KeyRoute::dialog && key.down && (cancel || key.key == kKeyEnter)) {
    record(target, Kind::key,
           describe(key) + (cancel ? " cancels the dialog" : " confirms the dialog"));
    call(target, [cancel](WindowHandler& h) { cancel ? h.on_cancel() : h.on_ok(); });
    return;
  }
  record(target, Kind::key, describe(key) + " reached the movie");
}

}  // namespace tarvel
