#include "screens/html_browser.hpp"

#include "screens/window_layout.hpp"

namespace tarvel {

HtmlBrowser::HtmlBrowser(App& app, std::string address, int width, int height)
    : app_(app),
      ui_(app.ui()),
      height_(height),
      width_(width),
      address_(std::move(address)),
      window_(ui_.create_window(*this, kClassName)),
      browser_(ui_.create_browser_control(window_)) {
  // A page wider than the window is read by making the window wider.
  ui_.set_resizable(window_, true);
}

HtmlBrowser::~HtmlBrowser() { ui_.destroy(window_); }

WindowId HtmlBrowser::open(App& app, WindowId owner, std::string address, int width, int height) {
  auto browser = std::make_unique<HtmlBrowser>(app, std::move(address), width, height);
  const WindowId id = browser->window();
  app.ui().show_modeless_owned(id, owner, std::move(browser));
  return id;
}

// Only a size with both sides given is used; negative sides are taken as
// they come.
void HtmlBrowser::on_init() {
  set_icon_and_title(app_, window_);
  if (width_ != 0 && height_ != 0) {
    ui_.move_window(window_, {0, 0, width_ + kFrameWidth, height_ + kFrameHeight});
    ui_.move_control(window_, {0, 0, width_, height_});
  } else {
    ui_.move_window(window_, kDefaultWindow);
    ui_.move_control(window_, kDefaultPage);
  }
  ui_.centre(window_);
  app_.log().note("browser window opened at " + address_);
  browser_->navigate(address_);
}

void HtmlBrowser::on_size(int client_width, int client_height) {
  fit_control_to_client(ui_, window_, client_width, client_height);
}

KeyRoute HtmlBrowser::pre_translate(const KeyMessage& key) {
  (void)key;
  return KeyRoute::focus;
}

void HtmlBrowser::on_cancel() { ui_.destroy(window_); }

}  // namespace tarvel
