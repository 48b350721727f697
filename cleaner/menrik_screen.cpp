#include "cleaner/menrik_screen.hpp"

namespace tarvel {

CMenrikDlg::CMenrikDlg(Ui& ui, std::string directory)
    : FlashWindow(ui, kClassName), directory_(std::move(directory)) {}

// The window keeps its template's size and place; only the movie is set.
void CMenrikDlg::on_init() {
  ui().set_title(window(), kTitle);
  ui().set_icon(window(), kIcon);
  ui().remove_close_command(window());
  load_movie(directory_ + kMovie);
  play();
}

void CMenrikDlg::on_command(const std::string& command, const std::string& argument) {
  (void)command;
  (void)argument;
  destroy_window();
}

bool run_menrik(Ui& ui, const std::string& directory) {
  CMenrikDlg screen(ui, directory);
  ui.set_main_window(screen.window());
  const bool closed = ui.run_modal(screen.window());
  ui.set_main_window(kNoWindow);
  return closed;
}

}  // namespace tarvel
