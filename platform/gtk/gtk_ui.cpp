#include "platform/gtk/gtk_ui.hpp"

#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <utility>

#include "platform/browser_control.hpp"
#include "platform/gtk/web_movie.hpp"
#include "platform/gtk/web_text.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

// A window shown without any size at all still needs one.
constexpr int kFallbackWidth = 400;
constexpr int kFallbackHeight = 300;
// A button press this close to an activation made it: the activation was a click.
constexpr std::uint64_t kClickWindowMs = 300;
// How long after an activation a click may still arrive to claim it.
constexpr unsigned kClickGraceMs = 120;

std::uint64_t steady_ms() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::string describe(Rect r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
         std::to_string(r.height);
}

int virtual_key(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Escape:
      return kKeyEscape;
    case GDK_KEY_Cancel:
      return kKeyCancel;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
      return kKeyEnter;
    default:
      return static_cast<int>(keyval);
  }
}

guint keyval_of(int key) {
  switch (key) {
    case kKeyEscape:
      return GDK_KEY_Escape;
    case kKeyCancel:
      return GDK_KEY_Cancel;
    case kKeyEnter:
      return GDK_KEY_Return;
    default:
      return static_cast<guint>(key);
  }
}

}  // namespace

struct GtkUi::Window {
  // What the widget's signals carry back to the Ui.
  struct Link {
    GtkUi* ui;
    WindowId id;
  };

  Link link;
  std::string class_name;
  WindowHandler* handler = nullptr;
  std::unique_ptr<WindowHandler> owned;
  WindowId owner = kNoWindow;
  bool alive = true;
  bool shown = false;
  bool enabled = true;
  bool close_command = true;
  bool resizable = false;
  int calls = 0;
  GtkWidget* widget = nullptr;
  GtkWidget* child = nullptr;
  std::optional<Rect> rect;
  std::optional<Rect> control;
  std::pair<int, int> reported_size{-1, -1};
  std::map<int, GSource*> timers;
  std::vector<GMainLoop*> loops;
  std::uint64_t last_press_ms = 0;
  std::uint64_t activated_ms = 0;
  guint activation_check = 0;
};

struct GtkUi::PostedTask {
  WindowId window;
  std::function<void()> fn;
};

// Work from other threads travels through this queue, under its mutex; the
// loop learns of it through a source of its own that is ready while the
// queue holds anything.
struct GtkUi::Handover {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<PostedTask> tasks;
  bool closed = false;
};

struct GtkUi::PostSource {
  GSource source;
  GtkUi* ui;
};

// The GTK signal handlers, with access to the Ui's insides.
struct GtkUiSignals {
  using Link = GtkUi::Window::Link;

  static void active_changed(GtkWidget* widget, GParamSpec*, gpointer data) {
    const auto* link = static_cast<Link*>(data);
    link->ui->on_active_changed(link->id, gtk_window_is_active(GTK_WINDOW(widget)) != FALSE);
  }
  static gboolean key_press(GtkWidget*, GdkEventKey* event, gpointer data) {
    const auto* link = static_cast<Link*>(data);
    bool handled = false;
    link->ui->on_key(link->id, virtual_key(event->keyval), handled);
    return handled ? TRUE : FALSE;
  }
  static gboolean delete_event(GtkWidget*, GdkEvent*, gpointer data) {
    const auto* link = static_cast<Link*>(data);
    link->ui->on_close_pressed(link->id);
    return TRUE;  // the window goes only when its screen destroys it
  }
  static gboolean configure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
    const auto* link = static_cast<Link*>(data);
    link->ui->on_client_size(link->id, event->width, event->height);
    return FALSE;
  }
  static gboolean button_press(GtkWidget*, GdkEventButton*, gpointer data) {
    const auto* link = static_cast<Link*>(data);
    link->ui->on_button_press(link->id);
    return FALSE;
  }
  static gboolean timer(gpointer data) {
    const auto* timer = static_cast<std::pair<Link, int>*>(data);
    const int id = timer->second;
    timer->first.ui->call(timer->first.id, [id](WindowHandler& h) { h.on_timer(id); });
    return G_SOURCE_CONTINUE;
  }
  static gboolean settle_activation(gpointer data) {
    const auto* link = static_cast<Link*>(data);
    GtkUi::Window* window = link->ui->live(link->id);
    if (window == nullptr) return G_SOURCE_REMOVE;
    window->activation_check = 0;
    const bool click = window->last_press_ms >= window->activated_ms;
    const Activation how = click ? Activation::click : Activation::plain;
    link->ui->record(link->id, Kind::window, click ? "activated by a click" : "activated");
    link->ui->call(link->id, [how](WindowHandler& h) { h.on_activate(how); });
    return G_SOURCE_REMOVE;
  }
  static gboolean posted_waiting(GSource* source, gint* timeout) {
    *timeout = -1;
    GtkUi* ui = reinterpret_cast<GtkUi::PostSource*>(source)->ui;
    std::lock_guard lock(ui->handover_->mutex);
    return ui->handover_->tasks.empty() ? FALSE : TRUE;
  }
  static gboolean posted_check(GSource* source) {
    gint timeout = 0;
    return posted_waiting(source, &timeout);
  }
  // One task per dispatch; a task may run a loop of its own, inside which
  // the next tasks still run (the source may recurse).
  static gboolean run_posted(GSource* source, GSourceFunc, gpointer) {
    GtkUi* ui = reinterpret_cast<GtkUi::PostSource*>(source)->ui;
    GtkUi::PostedTask task;
    {
      std::lock_guard lock(ui->handover_->mutex);
      if (ui->handover_->tasks.empty()) return G_SOURCE_CONTINUE;
      task = std::move(ui->handover_->tasks.front());
      ui->handover_->tasks.pop_front();
    }
    if (task.window == kNoWindow) {
      task.fn();
    } else {
      ui->call(task.window, [&task](WindowHandler&) { task.fn(); });
    }
    return G_SOURCE_CONTINUE;
  }
  static gboolean release(gpointer data) {
    auto* ui = static_cast<GtkUi*>(data);
    ui->release_source_ = 0;
    ui->release_finished_screens();
    return G_SOURCE_REMOVE;
  }
};

GtkUi::GtkUi(GtkUiOptions options)
    : options_(std::move(options)),
      ui_thread_(std::this_thread::get_id()),
      start_ms_(steady_ms()),
      handover_(std::make_shared<Handover>()) {
  static GSourceFuncs posted{GtkUiSignals::posted_waiting,
                             GtkUiSignals::posted_check,
                             GtkUiSignals::run_posted,
                             nullptr,
                             nullptr,
                             nullptr};
  post_source_ = reinterpret_cast<PostSource*>(g_source_new(&posted, sizeof(PostSource)));
  post_source_->ui = this;
  g_source_set_can_recurse(&post_source_->source, TRUE);
  g_source_attach(&post_source_->source, nullptr);
  movies_ = std::make_unique<WebMovieHost>(*this);
}

GtkUi::~GtkUi() {
  close();
  g_source_destroy(&post_source_->source);
  g_source_unref(&post_source_->source);
  // Tasks nobody will run now; a waiting message box holds the queue itself.
  std::deque<PostedTask> dropped;
  {
    std::lock_guard lock(handover_->mutex);
    dropped.swap(handover_->tasks);
  }
  close_kept_screens();
  for (auto& [id, window] : windows_) {
    if (window->alive) destroy(id);
  }
  if (release_source_ != 0) g_source_remove(release_source_);
  movies_.reset();
}

// Screens the Ui keeps alive go first, each taking its window with it.
void GtkUi::close_kept_screens() {
  for (auto& [id, window] : windows_) {
    if (window->owned && window->alive) destroy(id);
  }
  for (auto& [id, window] : windows_) {
    if (!window->owned || window->calls > 0) continue;
    window->handler = nullptr;
    window->owned.reset();
  }
}

GtkUi::Window* GtkUi::live(WindowId window) {
  const auto found = windows_.find(window);
  return found != windows_.end() && found->second->alive ? found->second.get() : nullptr;
}

const GtkUi::Window* GtkUi::live(WindowId window) const {
  const auto found = windows_.find(window);
  return found != windows_.end() && found->second->alive ? found->second.get() : nullptr;
}

std::uint64_t GtkUi::now_ms() const { return steady_ms() - start_ms_; }

void GtkUi::record(WindowId window, Kind kind, std::string text, std::string argument) {
  if (options_.transcript == nullptr) return;
  std::string screen;
  const auto found = windows_.find(window);
  if (found != windows_.end()) screen = found->second->class_name;
  options_.transcript->add({now_ms(), screen.empty() ? kNoWindow : window, screen, kind,
                            std::move(text), std::move(argument)});
}

void GtkUi::call(WindowId window, const std::function<void(WindowHandler&)>& fn) {
  Window* target = live(window);
  if (target == nullptr || target->handler == nullptr) return;
  ++target->calls;
  fn(*target->handler);
  --target->calls;
}

WindowId GtkUi::create_window(WindowHandler& handler, const std::string& class_name) {
  const WindowId id = next_id_++;
  auto window = std::make_unique<Window>();
  window->link = {this, id};
  window->class_name = class_name;
  window->handler = &handler;
  window->widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window->widget);
  gtk_window_set_resizable(GTK_WINDOW(window->widget), FALSE);
  gtk_window_set_title(GTK_WINDOW(window->widget), "Dialog");
  // The screen's name as the window's role: what tells the launcher's
  // windows apart to the desktop (and to tools that look at them).
  gtk_window_set_role(GTK_WINDOW(window->widget), class_name.c_str());
  gtk_widget_add_events(window->widget, GDK_STRUCTURE_MASK | GDK_BUTTON_PRESS_MASK);
  Window::Link* link = &window->link;
  g_signal_connect(window->widget, "notify::is-active", G_CALLBACK(GtkUiSignals::active_changed),
                   link);
  g_signal_connect(window->widget, "key-press-event", G_CALLBACK(GtkUiSignals::key_press), link);
  g_signal_connect(window->widget, "delete-event", G_CALLBACK(GtkUiSignals::delete_event), link);
  g_signal_connect(window->widget, "configure-event", G_CALLBACK(GtkUiSignals::configure), link);
  g_signal_connect(window->widget, "button-press-event", G_CALLBACK(GtkUiSignals::button_press),
                   link);
  windows_[id] = std::move(window);
  record(id, Kind::window, "created");
  return id;
}

std::unique_ptr<MovieControl> GtkUi::create_movie_control(WindowId window, MovieEvents& events) {
  return movies_->create_movie(window, events);
}

std::unique_ptr<BrowserControl> GtkUi::create_browser_control(WindowId window) {
  return movies_->create_browser(window);
}

void GtkUi::attach(WindowId window, GtkWidget* widget) {
  Window* target = live(window);
  if (target == nullptr) return;
  if (target->child != nullptr) gtk_container_remove(GTK_CONTAINER(target->widget), target->child);
  target->child = widget;
  gtk_container_add(GTK_CONTAINER(target->widget), widget);
  gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK);
  g_signal_connect(widget, "button-press-event", G_CALLBACK(GtkUiSignals::button_press),
                   &target->link);
  apply_size(*target);
}

GtkWidget* GtkUi::native(WindowId window) const {
  const Window* target = live(window);
  return target != nullptr ? target->widget : nullptr;
}

WindowId GtkUi::window_of(GtkWidget* toplevel) const {
  for (const auto& [id, window] : windows_) {
    if (window->alive && window->widget == toplevel) return id;
  }
  return kNoWindow;
}

bool GtkUi::run_modal(WindowId window) {
  if (live(window) == nullptr) return true;
  show(window, kNoWindow);
  Window* target = live(window);
  if (target != nullptr) {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    target->loops.push_back(loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
  }
  record(window, Kind::window, "modal loop returned");
  return true;
}

void GtkUi::show_modeless(WindowId window, WindowId owner) { show(window, owner); }

void GtkUi::show_modeless_owned(WindowId window, WindowId owner,
                                std::unique_ptr<WindowHandler> handler) {
  if (Window* target = live(window)) {
    target->owned = std::move(handler);
    target->handler = target->owned.get();
  }
  show(window, owner);
}

void GtkUi::show(WindowId window, WindowId owner) {
  Window* target = live(window);
  if (target == nullptr) return;
  target->owner = live(owner) != nullptr && !owned_by(owner, window) ? owner : kNoWindow;
  if (target->owner != kNoWindow) {
    gtk_window_set_transient_for(GTK_WINDOW(target->widget), GTK_WINDOW(native(target->owner)));
  }
  record(window, Kind::window,
         std::string("shown") +
             (target->owner != kNoWindow ? ", owned by #" + std::to_string(target->owner) : ""));
  call(window, [](WindowHandler& h) { h.on_init(); });
  target = live(window);
  if (target == nullptr) return;
  apply_size(*target);
  if (target->rect) gtk_window_move(GTK_WINDOW(target->widget), target->rect->x, target->rect->y);
  gtk_widget_show_all(target->widget);
  target->shown = true;
  gtk_window_present(GTK_WINDOW(target->widget));
}

// The client area is what the movie control needs: the window's frame is
// the desktop's, around it, as a dialog's frame is around its client area.
void GtkUi::apply_size(Window& window) {
  int width = kFallbackWidth;
  int height = kFallbackHeight;
  const auto sized = options_.template_sizes.find(window.class_name);
  if (window.control) {
    width = window.control->x + window.control->width;
    height = window.control->y + window.control->height;
  } else if (window.rect) {
    width = window.rect->width;
    height = window.rect->height;
  } else if (sized != options_.template_sizes.end()) {
    std::tie(width, height) = sized->second;
  }
  GtkWindow* gtk_window = GTK_WINDOW(window.widget);
  gtk_window_set_resizable(gtk_window, window.resizable ? TRUE : FALSE);
  if (window.child == nullptr) {
    gtk_window_set_default_size(gtk_window, width, height);
    return;
  }
  const Rect control = window.control.value_or(Rect{0, 0, width, height});
  gtk_widget_set_margin_start(window.child, control.x);
  gtk_widget_set_margin_top(window.child, control.y);
  if (window.resizable) {
    // The user may make it smaller again: only the window asks for the size.
    gtk_widget_set_size_request(window.child, 1, 1);
    gtk_window_resize(gtk_window, width, height);
  } else {
    gtk_widget_set_size_request(window.child, control.width, control.height);
    gtk_window_resize(gtk_window, width, height);
  }
}

void GtkUi::destroy(WindowId window) {
  Window* target = live(window);
  if (target == nullptr) return;
  const bool was_active = owned_by(active_, window);
  // Dead before its owned windows go, as on every desktop: their handlers
  // cannot start this teardown a second time.
  target->alive = false;
  std::vector<WindowId> owned_windows;
  for (const auto& [id, other] : windows_) {
    if (other->alive && other->owner == window) owned_windows.push_back(id);
  }
  for (const WindowId id : owned_windows) destroy(id);
  record(window, Kind::window, "destroyed");
  drop_timers(window);
  if (target->activation_check != 0) g_source_remove(target->activation_check);
  target->activation_check = 0;
  if (main_ == window) main_ = kNoWindow;
  if (active_ == window) active_ = kNoWindow;
  for (GMainLoop* loop : target->loops) g_main_loop_quit(loop);
  target->loops.clear();
  if (target->handler != nullptr) {
    ++target->calls;
    target->handler->on_destroyed();
    --target->calls;
  }
  GtkWidget* widget = std::exchange(target->widget, nullptr);
  target->child = nullptr;
  g_signal_handlers_disconnect_by_data(widget, &target->link);
  gtk_widget_destroy(widget);
  g_object_unref(widget);
  schedule_release();
  const WindowId owner = target->owner;
  if (was_active && live(owner) != nullptr && is_enabled(owner)) {
    gtk_window_present(GTK_WINDOW(native(owner)));
  }
}

bool GtkUi::exists(WindowId window) const { return live(window) != nullptr; }

void GtkUi::set_main_window(WindowId window) {
  main_ = live(window) != nullptr ? window : kNoWindow;
  record(window, Kind::window, main_ == kNoWindow ? "no main window" : "made the main window");
}

bool GtkUi::owned_by(WindowId window, WindowId owner) const {
  for (const Window* current = live(window); current != nullptr; current = live(current->owner)) {
    if (current->link.id == owner) return true;
  }
  return false;
}

WindowId GtkUi::top_level_parent(WindowId window) const {
  const Window* current = live(window);
  if (current == nullptr) return kNoWindow;
  while (const Window* owner = live(current->owner)) current = owner;
  return current->link.id;
}

void GtkUi::enable(WindowId window, bool enabled) {
  Window* target = live(window);
  if (target == nullptr || target->enabled == enabled) return;
  target->enabled = enabled;
  gtk_widget_set_sensitive(target->widget, enabled ? TRUE : FALSE);
  record(window, Kind::window, enabled ? "enabled" : "disabled");
}

bool GtkUi::is_enabled(WindowId window) const {
  const Window* target = live(window);
  return target != nullptr && target->enabled;
}

// The desktop decides what becomes active; the handler hears of it when it does.
void GtkUi::activate(WindowId window, Activation how) {
  Window* target = live(window);
  if (target == nullptr || how == Activation::inactive || !target->shown) return;
  gtk_window_present(GTK_WINDOW(target->widget));
}

void GtkUi::move_window(WindowId window, Rect rect) {
  Window* target = live(window);
  if (target == nullptr) return;
  target->rect = rect;
  record(window, Kind::window, "moved to " + describe(rect));
  if (target->shown) {
    gtk_window_move(GTK_WINDOW(target->widget), rect.x, rect.y);
    apply_size(*target);
  }
}

void GtkUi::move_control(WindowId window, Rect rect) {
  Window* target = live(window);
  if (target == nullptr) return;
  target->control = rect;
  record(window, Kind::window, "control moved to " + describe(rect));
  apply_size(*target);
}

Rect GtkUi::control_rect(WindowId window) const {
  const Window* target = live(window);
  return target != nullptr ? target->control.value_or(Rect{}) : Rect{};
}

void GtkUi::centre(WindowId window) {
  Window* target = live(window);
  if (target == nullptr) return;
  GdkDisplay* display = gtk_widget_get_display(target->widget);
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 0, 0};
  if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);
  Rect rect = target->rect.value_or(Rect{});
  rect.x = area.x + (area.width - rect.width) / 2;
  rect.y = area.y + (area.height - rect.height) / 2;
  target->rect = rect;
  gtk_window_move(GTK_WINDOW(target->widget), rect.x, rect.y);
  record(window, Kind::window, "centred at " + describe(rect));
}

void GtkUi::set_title(WindowId window, const std::string& title) {
  Window* target = live(window);
  if (target == nullptr) return;
  gtk_window_set_title(GTK_WINDOW(target->widget), latin1_to_utf8(title).c_str());
  record(window, Kind::window, "title", title);
}

void GtkUi::set_icon(WindowId window, const std::string& path) {
  Window* target = live(window);
  if (target == nullptr) return;
  record(window, Kind::window, "icon", path);
  std::string file = path;
  std::replace(file.begin(), file.end(), '\\', '/');
  if (!file.starts_with("/")) file = options_.application_directory + file;
  GdkPixbuf* icon = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
  if (icon == nullptr) return;  // an icon that will not load leaves the old one
  gtk_window_set_icon(GTK_WINDOW(target->widget), icon);
  g_object_unref(icon);
}

void GtkUi::remove_close_command(WindowId window) {
  Window* target = live(window);
  if (target == nullptr) return;
  target->close_command = false;
  gtk_window_set_deletable(GTK_WINDOW(target->widget), FALSE);
  record(window, Kind::window, "close command removed");
}

void GtkUi::set_resizable(WindowId window, bool resizable) {
  Window* target = live(window);
  if (target == nullptr) return;
  target->resizable = resizable;
  apply_size(*target);
}

void GtkUi::set_timer(WindowId window, int timer_id, int period_ms) {
  Window* target = live(window);
  if (target == nullptr) return;
  kill_timer(window, timer_id);
  GSource* source = g_timeout_source_new(static_cast<guint>(std::max(period_ms, 1)));
  auto* data = new std::pair<Window::Link, int>(target->link, timer_id);
  g_source_set_callback(source, GtkUiSignals::timer, data,
                        [](gpointer p) { delete static_cast<std::pair<Window::Link, int>*>(p); });
  g_source_attach(source, nullptr);
  target->timers[timer_id] = source;
}

void GtkUi::kill_timer(WindowId window, int timer_id) {
  const auto found = windows_.find(window);
  if (found == windows_.end()) return;
  auto& timers = found->second->timers;
  const auto timer = timers.find(timer_id);
  if (timer == timers.end()) return;
  g_source_destroy(timer->second);
  g_source_unref(timer->second);
  timers.erase(timer);
}

void GtkUi::drop_timers(WindowId window) {
  const auto found = windows_.find(window);
  if (found == windows_.end()) return;
  for (auto& [id, source] : found->second->timers) {
    g_source_destroy(source);
    g_source_unref(source);
  }
  found->second->timers.clear();
}

// The key goes into the display's event queue, addressed to the active
// window, and takes the road a typed key takes: the window's key filter
// first, then the focused control.
void GtkUi::synthesize_key(KeyMessage key) {
  record(active_, Kind::key,
         std::to_string(key.key) + (key.down ? " down" : " up") + " synthesized");
  const Window* target = live(active_);
  if (target == nullptr || !target->shown) return;
  GdkWindow* gdk_window = gtk_widget_get_window(target->widget);
  if (gdk_window == nullptr) return;
  GdkDisplay* display = gdk_window_get_display(gdk_window);
  GdkEvent* event = gdk_event_new(key.down ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
  event->key.window = GDK_WINDOW(g_object_ref(gdk_window));
  event->key.send_event = TRUE;
  event->key.time = GDK_CURRENT_TIME;
  event->key.keyval = keyval_of(key.key);
  GdkKeymapKey* keys = nullptr;
  gint count = 0;
  if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), event->key.keyval,
                                        &keys, &count) &&
      count > 0) {
    event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
  }
  g_free(keys);
  gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
  gdk_event_put(event);
  gdk_event_free(event);
}

void GtkUi::message_box(WindowId owner, const std::string& text, const std::string& caption) {
  record(owner, Kind::message_box, text, caption);
  GtkWidget* parent = native(owner);
  GtkWidget* box =
      gtk_message_dialog_new(parent != nullptr ? GTK_WINDOW(parent) : nullptr, GTK_DIALOG_MODAL,
                             GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", latin1_to_utf8(text).c_str());
  gtk_window_set_title(GTK_WINDOW(box), latin1_to_utf8(caption).c_str());
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

void GtkUi::post(WindowId window, std::function<void()> fn) {
  {
    std::lock_guard lock(handover_->mutex);
    if (handover_->closed) return;
    handover_->tasks.push_back({window, std::move(fn)});
  }
  g_main_context_wakeup(nullptr);
}

void GtkUi::AppBoxes::show(const std::string& text, const std::string& caption) {
  if (std::this_thread::get_id() == ui_.ui_thread_) {
    ui_.message_box(kNoWindow, text, caption);
    return;
  }
  const std::shared_ptr<Handover> handover = ui_.handover_;
  auto done = std::make_shared<bool>(false);
  GtkUi* ui = &ui_;
  ui_.post(kNoWindow, [ui, handover, done, text, caption] {
    ui->message_box(kNoWindow, text, caption);
    std::lock_guard lock(handover->mutex);
    *done = true;
    handover->changed.notify_all();
  });
  std::unique_lock lock(handover->mutex);
  handover->changed.wait(lock, [&] { return *done || handover->closed; });
}

void GtkUi::close() {
  std::lock_guard lock(handover_->mutex);
  handover_->closed = true;
  handover_->changed.notify_all();
}

bool GtkUi::run_until(const std::function<bool()>& done, int timeout_ms) {
  const std::uint64_t deadline = steady_ms() + static_cast<std::uint64_t>(timeout_ms);
  bool timed_out = false;
  const guint timeout = g_timeout_add(
      static_cast<guint>(timeout_ms),
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &timed_out);
  while (!done() && !timed_out && steady_ms() < deadline) g_main_context_iteration(nullptr, TRUE);
  if (!timed_out) g_source_remove(timeout);
  return done();
}

void GtkUi::schedule_release() {
  if (release_source_ == 0) release_source_ = g_idle_add(GtkUiSignals::release, this);
}

// A screen the Ui keeps alive goes once its window is gone and none of its
// handlers is still running further up the stack.
void GtkUi::release_finished_screens() {
  bool waiting = false;
  for (auto& [id, window] : windows_) {
    if (!window->owned || window->alive) continue;
    if (window->calls > 0) {
      waiting = true;
      continue;
    }
    window->handler = nullptr;
    window->owned.reset();
  }
  if (waiting) schedule_release();
}

void GtkUi::on_active_changed(WindowId window, bool active) {
  Window* target = live(window);
  if (target == nullptr) return;
  if (!active) {
    if (target->activation_check != 0) g_source_remove(target->activation_check);
    target->activation_check = 0;
    if (active_ == window) active_ = kNoWindow;
    call(window, [](WindowHandler& h) { h.on_activate(Activation::inactive); });
    return;
  }
  active_ = window;
  target->activated_ms = now_ms();
  // A click that brings a window forward may reach it just before or just
  // after the activation itself: wait a moment before telling which it was.
  const bool clicked =
      target->last_press_ms != 0 && target->activated_ms - target->last_press_ms <= kClickWindowMs;
  if (clicked) target->activated_ms = target->last_press_ms;
  if (target->activation_check == 0) {
    target->activation_check =
        g_timeout_add(kClickGraceMs, GtkUiSignals::settle_activation, &target->link);
  }
}

void GtkUi::on_button_press(WindowId window) {
  if (Window* target = live(window)) target->last_press_ms = now_ms();
}

void GtkUi::on_key(WindowId window, int key, bool& handled) {
  Window* target = live(window);
  if (target == nullptr || !target->enabled) return;
  const KeyMessage message{key, true};
  KeyRoute route = KeyRoute::dialog;
  call(window, [&](WindowHandler& h) { route = h.pre_translate(message); });
  const bool cancel = key == kKeyEscape || key == kKeyCancel;
  if (route != KeyRoute::dialog || !(cancel || key == kKeyEnter)) {
    record(window, Kind::key, std::to_string(key) + " down reached the movie");
    return;
  }
  handled = true;
  record(window, Kind::key,
         std::to_string(key) + (cancel ? " down cancels the dialog" : " down confirms the dialog"));
  call(window, [cancel](WindowHandler& h) { cancel ? h.on_cancel() : h.on_ok(); });
}

void GtkUi::on_close_pressed(WindowId window) {
  Window* target = live(window);
  if (target == nullptr) return;
  if (!target->close_command) {
    record(window, Kind::window, "close pressed: no close command");
    return;
  }
  record(window, Kind::window, "close pressed");
  call(window, [](WindowHandler& h) { h.on_cancel(); });
}

void GtkUi::on_client_size(WindowId window, int width, int height) {
  Window* target = live(window);
  if (target == nullptr || target->reported_size == std::make_pair(width, height)) return;
  target->reported_size = {width, height};
  call(window, [&](WindowHandler& h) { h.on_size(width, height); });
}

}  // namespace tarvel
