#pragma once

#include "screens/flash_screen.hpp"

namespace tarvel {

// The error screen: plays "errorMsg.swf" and repeats "Err=" and its code to
// the movie ten times a second until the movie sends any command, which
// closes it and re-enables the window that owns it.
class CError final : public FlashScreen {
 public:
  static constexpr const char* kClassName = "CError";
  static constexpr const char* kMovie = "app-popup\\errorMsg.swf";
  static constexpr int kTimerId = 1;
  static constexpr int kTimerPeriodMs = 100;

  CError(App& app, int code);

  // As the application's main window, modally; returns when it has closed.
  static void show_modal(App& app, int code);
  // Over the application's main window, modelessly; the screen lives until
  // its window is gone. The caller disables its own window first.
  static WindowId show_modeless(App& app, int code);

 private:
  [[nodiscard]] ScreenStart start_values() override;
  void on_timer(int timer_id) override;
  void on_command(const std::string& command, const std::string& argument) override;

  const int code_;
};

}  // namespace tarvel
