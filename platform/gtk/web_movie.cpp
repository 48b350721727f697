#include "platform/gtk/web_movie.hpp"

#include <gtk/gtk.h>
#include <sys/stat.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flash/codec.hpp"
#include "platform/gtk/app_files.hpp"
#include "platform/gtk/gtk_ui.hpp"
#include "platform/gtk/web_assets.hpp"
#include "platform/gtk/web_text.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

constexpr const char* kChannel = "tarvel";
constexpr const char* kPlayerPage = "player.html";
constexpr const char* kRuffleFolder = "ruffle/";
// Texts held for a movie that is not ready yet. Past this many the newest
// are dropped: the screens repeat what matters, and the first lines (the
// language) must survive.
constexpr std::size_t kMaxWaiting = 1000;

std::string escape_path(const std::string& path) {
  gchar* escaped = g_uri_escape_string(path.c_str(), "/", FALSE);
  std::string out(escaped);
  g_free(escaped);
  return out;
}

std::string escape_value(const std::string& value) {
  gchar* escaped = g_uri_escape_string(value.c_str(), nullptr, FALSE);
  std::string out(escaped);
  g_free(escaped);
  return out;
}

std::string property(JSCValue* object, const char* name) {
  JSCValue* value = jsc_value_object_get_property(object, name);
  std::string text;
  if (value != nullptr && jsc_value_is_string(value)) {
    gchar* utf8 = jsc_value_to_string(value);
    text = utf8;
    g_free(utf8);
  }
  if (value != nullptr) g_object_unref(value);
  return text;
}

// The launcher's narrow text as the page sees it: one character per byte.
std::u16string page_text(const std::string& utf8) { return utf8_to_utf16(utf8); }

// The languages pages are told the user reads: the emulator refuses to run
// under a locale name like "C", so those fall back to English.
std::vector<std::string> preferred_languages() {
  std::vector<std::string> languages;
  for (const gchar* const* name = g_get_language_names(); *name != nullptr; ++name) {
    std::string language(*name);
    if (language.find_first_of(".@") != std::string::npos) continue;
    if (language == "C" || language == "POSIX" || language.size() < 2) continue;
    std::replace(language.begin(), language.end(), '_', '-');
    if (std::find(languages.begin(), languages.end(), language) == languages.end()) {
      languages.push_back(language);
    }
  }
  if (languages.empty()) languages.emplace_back("en-US");
  return languages;
}

void set_languages(WebKitWebContext* context) {
  const std::vector<std::string> languages = preferred_languages();
  std::vector<const gchar*> names;
  for (const std::string& language : languages) names.push_back(language.c_str());
  names.push_back(nullptr);
  webkit_web_context_set_preferred_languages(context, names.data());
}

bool starts_with_lower(const std::string& text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (g_ascii_tolower(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool is_web_address(const std::string& address) {
  return starts_with_lower(address, "http://") || starts_with_lower(address, "https://");
}

// A movie page's one job is the movie: it may not wander off to the web or
// open windows.
gboolean movie_policy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                      gpointer) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const std::string uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (uri.starts_with(WebMovieHost::kOrigin) || uri.starts_with("about:")) return FALSE;
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

// A browser page stays on the web; links that would open a window open here.
gboolean browser_policy(WebKitWebView* view, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const std::string uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  const bool allowed = is_web_address(uri) || uri == "about:blank";
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    webkit_policy_decision_ignore(decision);
    if (allowed) webkit_web_view_load_uri(view, uri.c_str());
    return TRUE;
  }
  if (allowed) return FALSE;
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

// One screen's movie in a web view: an HTML5 page, or a .swf in the emulator's
// page. Lines for the movie wait until the movie says it can take them.
class WebMovie final : public MovieControl {
 public:
  WebMovie(GtkUi& ui, WebMovieHost& host, WindowId window, MovieEvents& events);
  ~WebMovie() override;
  WebMovie(const WebMovie&) = delete;
  WebMovie& operator=(const WebMovie&) = delete;

  void load_movie(int layer, const std::u16string& path) override;
  // The movie starts by itself once loaded, as the control's "playing" asks.
  void play() override {}
  // The page answers later; the launcher never needs the answer, so it is
  // not waited for.
  std::u16string call_function(const std::u16string& request) override;

 private:
  struct Call {
    std::string name;
    std::vector<std::string> arguments;
  };

  static void on_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self);
  static void on_load_changed(WebKitWebView*, WebKitLoadEvent event, gpointer self);
  void received(JSCValue* message);
  void deliver(const Call& call);
  void load_blank(const std::string& why, const std::string& file);

  GtkUi& ui_;
  WebMovieHost& host_;
  WindowId window_;
  MovieEvents& events_;
  WebKitUserContentManager* content_;
  WebKitWebView* view_;
  bool ready_ = false;
  std::deque<Call> waiting_;
};

WebMovie::WebMovie(GtkUi& ui, WebMovieHost& host, WindowId window, MovieEvents& events)
    : ui_(ui),
      host_(host),
      window_(window),
      events_(events),
      content_(webkit_user_content_manager_new()) {
  WebKitUserScript* bridge = webkit_user_script_new(
      std::string(bridge_script()).c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content_, bridge);
  webkit_user_script_unref(bridge);
  webkit_user_content_manager_register_script_message_handler(content_, kChannel);
  g_signal_connect(content_, "script-message-received::tarvel", G_CALLBACK(on_message), this);
  view_ = host_.new_view(content_);
  WebKitSettings* settings = webkit_web_view_get_settings(view_);
  webkit_settings_set_enable_write_console_messages_to_stdout(
      settings, ui.options().page_console ? TRUE : FALSE);
  g_signal_connect(view_, "load-changed", G_CALLBACK(on_load_changed), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(movie_policy), nullptr);
  host_.add_movie_view(view_, window_);
  ui_.attach(window_, GTK_WIDGET(view_));
  ui_.record(window_, Kind::movie, "web movie control created");
}

WebMovie::~WebMovie() {
  host_.remove_movie_view(view_);
  g_signal_handlers_disconnect_by_data(view_, this);
  g_signal_handlers_disconnect_by_data(content_, this);
  webkit_user_content_manager_unregister_script_message_handler(content_, kChannel);
  if (ui_.exists(window_)) gtk_widget_destroy(GTK_WIDGET(view_));
  g_object_unref(view_);
  g_object_unref(content_);
}

void WebMovie::load_movie(int layer, const std::u16string& path) {
  const std::string file = narrow(path);
  ui_.record(window_, Kind::movie, "load layer " + std::to_string(layer), file);
  if (!ui_.exists(window_)) return;
  ready_ = false;
  const MovieChoice choice = choose_movie(ui_.options().application_directory, file);
  const std::string address = WebMovieHost::kOrigin + escape_path(choice.relative);
  switch (choice.kind) {
    case MovieChoice::Kind::missing:
      load_blank("missing: the screen stays blank", file);
      return;
    case MovieChoice::Kind::html:
      ui_.record(window_, Kind::movie, "plays the page", choice.relative);
      webkit_web_view_load_uri(view_, address.c_str());
      return;
    case MovieChoice::Kind::flash:
      if (ui_.options().ruffle_directory.empty()) {
        load_blank("no Flash player: the screen stays blank", file);
        return;
      }
      ui_.record(window_, Kind::movie, "plays the Flash movie", choice.relative);
      const std::string player = std::string(WebMovieHost::kOrigin) + WebMovieHost::kOwnFolder +
                                 kPlayerPage + "?movie=" + escape_value(address);
      webkit_web_view_load_uri(view_, player.c_str());
      return;
  }
}

void WebMovie::load_blank(const std::string& why, const std::string& file) {
  ui_.record(window_, Kind::movie, why, file);
  webkit_web_view_load_uri(view_, "about:blank");
}

std::u16string WebMovie::call_function(const std::u16string& request) {
  Call call;
  if (std::optional<std::string> text = add_text_of(request)) {
    call = {"addText", {std::move(*text)}};
  } else {
    ParsedRequest parsed = parse_request(request);
    call = {std::move(parsed.name), std::move(parsed.arguments)};
  }
  if (ready_) {
    deliver(call);
  } else if (waiting_.size() < kMaxWaiting) {
    waiting_.push_back(std::move(call));
  }
  return {};
}

void WebMovie::deliver(const Call& call) {
  if (!ui_.exists(window_)) return;
  if (call.name == "addText" && call.arguments.size() == 1) {
    ui_.record(window_, Kind::received, call.arguments[0]);
  } else {
    ui_.record(window_, Kind::received, build_invoke(call.name, call.arguments), "a call");
  }
  // Every text goes in as values of its own, never inside the script:
  // nothing in it needs escaping. A value cannot hold a NUL, so a text goes
  // in pieces that the script joins with one.
  GVariantDict values;
  g_variant_dict_init(&values, nullptr);
  g_variant_dict_insert(&values, "name", "s", latin1_to_utf8(call.name).c_str());
  std::string body = "return tarvel.deliver(name, [";
  for (std::size_t i = 0; i < call.arguments.size(); ++i) {
    body += i == 0 ? "[" : ", [";
    std::string_view rest = call.arguments[i];
    for (std::size_t piece = 0;; ++piece) {
      const auto nul = rest.find('\0');
      const std::string key = "a" + std::to_string(i) + "_" + std::to_string(piece);
      g_variant_dict_insert(&values, key.c_str(), "s", latin1_to_utf8(rest.substr(0, nul)).c_str());
      body += (piece == 0 ? "" : ", ") + key;
      if (nul == std::string_view::npos) break;
      rest.remove_prefix(nul + 1);
    }
    body += "].join(\"\\u0000\")";
  }
  body += "]);";
  webkit_web_view_call_async_javascript_function(view_, body.c_str(), -1,
                                                 g_variant_dict_end(&values), nullptr, nullptr,
                                                 nullptr, nullptr, nullptr);
}

void WebMovie::on_message(WebKitUserContentManager*, WebKitJavascriptResult* result,
                          gpointer self) {
  static_cast<WebMovie*>(self)->received(webkit_javascript_result_get_js_value(result));
}

// What the movie sends reaches the screen from the message loop, after this
// signal has returned, as a player's events arrive.
void WebMovie::received(JSCValue* message) {
  if (!jsc_value_is_object(message) || !ui_.exists(window_)) return;
  const std::string kind = property(message, "kind");
  if (kind == "ready") {
    ready_ = true;
    ui_.record(window_, Kind::movie, "ready for texts");
    while (ready_ && !waiting_.empty()) {
      const Call call = std::move(waiting_.front());
      waiting_.pop_front();
      deliver(call);
    }
  } else if (kind == "command") {
    const std::u16string command = page_text(property(message, "command"));
    const std::u16string arguments = page_text(property(message, "args"));
    ui_.record(window_, Kind::command, narrow(command), narrow(arguments));
    MovieEvents* events = &events_;
    ui_.post(window_, [events, command, arguments] { events->on_fs_command(command, arguments); });
  } else if (kind == "call") {
    const std::u16string request = page_text(property(message, "request"));
    ui_.record(window_, Kind::call, narrow(request));
    MovieEvents* events = &events_;
    ui_.post(window_, [events, request] { events->on_flash_call(request); });
  }
}

void WebMovie::on_load_changed(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  // A new page has to say again that it is ready.
  if (event == WEBKIT_LOAD_STARTED) static_cast<WebMovie*>(self)->ready_ = false;
}

// A browser window's page.
class WebBrowser final : public BrowserControl {
 public:
  WebBrowser(GtkUi& ui, WebMovieHost& host, WindowId window) : ui_(ui), window_(window) {
    view_ = host.new_view(nullptr);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(browser_policy), nullptr);
    ui_.attach(window_, GTK_WIDGET(view_));
  }
  ~WebBrowser() override {
    if (ui_.exists(window_)) gtk_widget_destroy(GTK_WIDGET(view_));
    g_object_unref(view_);
  }
  WebBrowser(const WebBrowser&) = delete;
  WebBrowser& operator=(const WebBrowser&) = delete;

  void navigate(const std::string& address) override {
    if (!is_web_address(address)) {
      ui_.record(window_, Kind::browser, "refused: not an http or https address", address);
      return;
    }
    ui_.record(window_, Kind::browser, "navigate " + address);
    webkit_web_view_load_uri(view_, address.c_str());
  }

 private:
  GtkUi& ui_;
  WindowId window_;
  WebKitWebView* view_;
};

struct Served {
  GInputStream* stream = nullptr;
  gint64 length = -1;
  std::string type;
};

Served serve_file(const std::string& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  GFileInputStream* stream = g_file_read(file, nullptr, nullptr);
  g_object_unref(file);
  if (stream == nullptr) return {};
  struct stat info {};
  const gint64 length = stat(path.c_str(), &info) == 0 ? info.st_size : -1;
  return {G_INPUT_STREAM(stream), length, content_type_of(path)};
}

}  // namespace

WebMovieHost::WebMovieHost(GtkUi& ui) : ui_(ui), context_(webkit_web_context_new_ephemeral()) {
  webkit_web_context_register_uri_scheme(context_, kScheme, serve, this, nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context_);
  webkit_security_manager_register_uri_scheme_as_secure(security, kScheme);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kScheme);
  set_languages(context_);
  // A blank page of the host's own, in no window: its web process starts
  // while the launcher starts up, and it outlives every screen, so each
  // later view, related to it, joins that one process.
  anchor_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_, nullptr));
  g_object_ref_sink(anchor_);
  webkit_web_view_load_uri(anchor_, "about:blank");
}

WebMovieHost::~WebMovieHost() {
  gtk_widget_destroy(GTK_WIDGET(anchor_));
  g_object_unref(anchor_);
  g_object_unref(context_);
}

std::unique_ptr<MovieControl> WebMovieHost::create_movie(WindowId window, MovieEvents& events) {
  return std::make_unique<WebMovie>(ui_, *this, window, events);
}

std::unique_ptr<BrowserControl> WebMovieHost::create_browser(WindowId window) {
  return std::make_unique<WebBrowser>(ui_, *this, window);
}

WebKitWebView* WebMovieHost::new_view(WebKitUserContentManager* content) {
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", anchor_,
                                            "user-content-manager", content, nullptr));
  g_object_ref_sink(view);
  return view;
}

void WebMovieHost::serve(WebKitURISchemeRequest* request, void* host) {
  static_cast<WebMovieHost*>(host)->serve(request);
}

void WebMovieHost::serve(WebKitURISchemeRequest* request) {
  const std::string uri = webkit_uri_scheme_request_get_uri(request);
  gchar* decoded = g_uri_unescape_string(webkit_uri_scheme_request_get_path(request), nullptr);
  const std::string path = decoded != nullptr ? decoded : "";
  g_free(decoded);
  const auto view = movie_views_.find(webkit_uri_scheme_request_get_web_view(request));
  const WindowId window = view != movie_views_.end() ? view->second : kNoWindow;

  const std::string own = std::string("/") + kOwnFolder;
  InsideFile file;
  Served served;
  // Web pages share the context with the movies, never their files.
  if (view == movie_views_.end() || !uri.starts_with(kOrigin) || decoded == nullptr) {
    file.verdict = InsideFile::Verdict::outside;
  } else if (path == own + kPlayerPage) {
    const std::string_view page = player_page();
    served = {
        g_memory_input_stream_new_from_data(page.data(), static_cast<gssize>(page.size()), nullptr),
        static_cast<gint64>(page.size()), content_type_of(kPlayerPage)};
    file.verdict = InsideFile::Verdict::found;
  } else if (path.starts_with(own + kRuffleFolder)) {
    file = find_inside(ui_.options().ruffle_directory,
                       path.substr(own.size() + std::string_view(kRuffleFolder).size()));
  } else if (path.starts_with(own)) {
    file.verdict = InsideFile::Verdict::missing;
  } else {
    file = find_inside(ui_.options().application_directory, path);
  }
  if (file.verdict == InsideFile::Verdict::found && served.stream == nullptr) {
    served = serve_file(file.path);
    if (served.stream == nullptr) file.verdict = InsideFile::Verdict::missing;
  }
  if (file.verdict != InsideFile::Verdict::found) {
    const bool outside = file.verdict == InsideFile::Verdict::outside;
    if (outside) ui_.record(window, Kind::movie, "refused: outside the application directory", uri);
    GError* error = g_error_new_literal(
        G_IO_ERROR, outside ? G_IO_ERROR_PERMISSION_DENIED : G_IO_ERROR_NOT_FOUND,
        outside ? "outside the application directory" : "no such file");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(served.stream, served.length);
  webkit_uri_scheme_response_set_status(response, 200, "OK");
  webkit_uri_scheme_response_set_content_type(response, served.type.c_str());
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(served.stream);
}

}  // namespace tarvel
