#include "flash/flash_window.hpp"

namespace tarvel {

FlashWindow::FlashWindow(Ui& ui, const std::string& class_name)
    : ui_(ui),
      window_(ui.create_window(*this, class_name)),
      movie_(ui.create_movie_control(window_, *this)) {}

FlashWindow::~FlashWindow() { ui_.destroy(window_); }

void FlashWindow::load_movie(const std::string& path) { movie_->load_movie(0, widen(path)); }

void FlashWindow::send_text_to_movie(std::string_view text) {
  (void)movie_->call_function(build_add_text_call(text));
}

void FlashWindow::on_fs_command(const std::u16string& command, const std::u16string& arguments) {
  on_command(narrow(command), narrow(arguments));
}

void FlashWindow::on_flash_call(const std::u16string& request) {
  on_request(parse_request(request));
}

}  // namespace tarvel
