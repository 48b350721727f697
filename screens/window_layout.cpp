#include "screens/window_layout.hpp"

#include "core/settings_readers.hpp"

namespace tarvel {
namespace {

constexpr const char* kIconImage = "IconImage";
constexpr const char* kLoginFormText = "LoginFormText";

}  // namespace

void set_icon_and_title(App& app, WindowId window) {
  app.ui().set_icon(window, read_config_value(app, kIconImage));
  app.ui().set_title(window, read_config_value(app, kLoginFormText));
}

void fit_control_to_client(Ui& ui, WindowId window, int client_width, int client_height) {
  if (!ui.exists(window)) return;
  const Rect control = ui.control_rect(window);
  ui.move_control(window, {control.x, control.y, client_width - 2 * control.x,
                           client_height - control.x - control.y});
}

}  // namespace tarvel
