#pragma once

#include <map>
#include <memory>

#include "platform/browser_control.hpp"
#include "platform/movie_control.hpp"
#include "platform/ui.hpp"

using WebKitWebContext = struct _WebKitWebContext;
using WebKitWebView = struct _WebKitWebView;
using WebKitURISchemeRequest = struct _WebKitURISchemeRequest;

namespace tarvel {

class GtkUi;

// The web views of a desktop: movie controls, whose pages come only from the
// application directory (and the Flash emulator) through the "tarvel" scheme,
// and browser controls, which go to http and https addresses only. The two
// kinds never share a web context, so no web page can reach the scheme.
class WebMovieHost {
 public:
  static constexpr const char* kScheme = "tarvel";
  // Movie addresses: tarvel://app/<name inside the application directory>.
  static constexpr const char* kOrigin = "tarvel://app/";
  // The launcher's own pages live under this name; an application
  // directory's folder of the same name is not served.
  static constexpr const char* kOwnFolder = ".tarvel/";

  explicit WebMovieHost(GtkUi& ui);
  ~WebMovieHost();
  WebMovieHost(const WebMovieHost&) = delete;
  WebMovieHost& operator=(const WebMovieHost&) = delete;

  [[nodiscard]] std::unique_ptr<MovieControl> create_movie(WindowId window, MovieEvents& events);
  [[nodiscard]] std::unique_ptr<BrowserControl> create_browser(WindowId window);

  // For the movies: which window a view plays in.
  void add_view(WebKitWebView* view, WindowId window) { views_[view] = window; }
  void remove_view(WebKitWebView* view) { views_.erase(view); }

 private:
  static void serve(WebKitURISchemeRequest* request, void* host);
  void serve(WebKitURISchemeRequest* request);

  GtkUi& ui_;
  WebKitWebContext* movie_context_;
  WebKitWebContext* browser_context_;
  std::map<WebKitWebView*, WindowId> views_;
};

}  // namespace tarvel
