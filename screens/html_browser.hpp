#pragma once

#include <memory>
#include <string>

#include "core/app.hpp"
#include "platform/browser_control.hpp"
#include "platform/ui.hpp"

namespace tarvel {

// The cashier browser: a plain window that shows one web page. The lobby
// opens it for the cashier, the page of further games and any address its
// movie sends. It navigates once; from then on the page is on its own and
// nothing comes back to the lobby. Closing it destroys it.
class HtmlBrowser final : public WindowHandler {
 public:
  static constexpr const char* kClassName = "HtmlBrowser";
  // Window and page sizes when no size is given.
  static constexpr Rect kDefaultWindow{0, 0, 1005, 707};
  static constexpr Rect kDefaultPage{0, 0, 1000, 675};
  // What a window adds around its page: frame and title bar.
  static constexpr int kFrameWidth = 5;
  static constexpr int kFrameHeight = 32;

  // width and height: the page's size; 0 for either gives the default size.
  HtmlBrowser(App& app, std::string address, int width, int height);
  ~HtmlBrowser() override;
  HtmlBrowser(const HtmlBrowser&) = delete;
  HtmlBrowser& operator=(const HtmlBrowser&) = delete;

  // Creates a browser window owned by owner (kNoWindow: the desktop), which
  // lives until it is closed or its owner goes, and shows it.
  static WindowId open(App& app, WindowId owner, std::string address, int width, int height);

  [[nodiscard]] WindowId window() const { return window_; }

 private:
  void on_init() override;
  void on_size(int client_width, int client_height) override;
  // Keys belong to the page: Escape and Enter close nothing.
  KeyRoute pre_translate(const KeyMessage& key) override;
  // The close box: the window goes, and with it this object.
  void on_cancel() override;

  App& app_;
  Ui& ui_;
  int height_;
  int width_;
  std::string address_;
  WindowId window_;
  std::unique_ptr<BrowserControl> browser_;
};

}  // namespace tarvel
