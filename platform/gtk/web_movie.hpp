#pragma once

#include <map>
#include <memory>
#include <vector>

#include "platform/browser_control.hpp"
#include "platform/movie_control.hpp"
#include "platform/ui.hpp"

using WebKitWebContext = struct _WebKitWebContext;
using WebKitWebView = struct _WebKitWebView;
using WebKitURISchemeRequest = struct _WebKitURISchemeRequest;
using WebKitUserContentManager = struct _WebKitUserContentManager;

namespace tarvel {

class GtkUi;

// The web views of a desktop: movie controls, whose pages come only from the
// application directory (and the Flash emulator) through the "tarvel" scheme,
// and browser controls, which go to http and https addresses only. Every view
// of a run lives in one web context, so that one network process serves them
// all, and each new view is made related to one already open, so that they
// share one web process: a web process costs more memory than a page does.
// The scheme answers only requests from movie views, so no web page reaches it.
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

  // A new view in the web process of the views open; content: the movie's
  // bridge, or null for a browser's view. The caller holds a reference.
  [[nodiscard]] WebKitWebView* new_view(WebKitUserContentManager* content);
  // For the movies: which window a view plays in.
  void add_movie_view(WebKitWebView* view, WindowId window) { movie_views_[view] = window; }
  void remove_movie_view(WebKitWebView* view) { movie_views_.erase(view); }

 private:
  static void serve(WebKitURISchemeRequest* request, void* host);
  void serve(WebKitURISchemeRequest* request);

  GtkUi& ui_;
  WebKitWebContext* context_;
  WebKitWebView* anchor_;
  std::map<WebKitWebView*, WindowId> movie_views_;
};

}  // namespace tarvel
