#pragma once

#include <string>

#include "flash/flash_window.hpp"

namespace tarvel {

// Menrik's one screen: plays "clearLogin.swf" and closes on the first command
// the movie sends, whatever it says. The clearing is the movie's own work.
class CMenrikDlg final : public FlashWindow {
 public:
  static constexpr const char* kClassName = "CMenrikDlg";
  static constexpr const char* kTitle = "Menrik";
  static constexpr const char* kMovie = "app-popup\\clearLogin.swf";
  // The program's own icon, a resource rather than a file.
  static constexpr const char* kIcon = "resource 128";

  // directory: the folder the program was started in, ending in a separator.
  CMenrikDlg(Ui& ui, std::string directory);

 private:
  void on_init() override;
  void on_command(const std::string& command, const std::string& argument) override;

  std::string directory_;
};

// The program: shows the screen modally as the main window and returns when
// it has closed (false: the loop gave up with the screen still open).
bool run_menrik(Ui& ui, const std::string& directory);

}  // namespace tarvel
