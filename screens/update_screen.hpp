#pragma once

#include "screens/flash_screen.hpp"

namespace tarvel {

// The update check screen, the first of every run: plays "checkUpdate.swf"
// while a worker checks connectivity, applies a launcher release when the
// server has one, and installs or updates the login package. Its status timer
// relays progress and failures to the movie; once the worker has succeeded it
// closes (a release asks for a restart, and the run ends) or hands over to
// the login screen. The movie offers "retry" and "exit".
class Update final : public FlashScreen {
 public:
  static constexpr const char* kClassName = "Update";
  // Joined to an application directory that already ends in a separator, so
  // the path holds two in a row; the platform reads that as one.
  static constexpr const char* kMovie = "\\app-popup\\checkUpdate.swf";
  static constexpr int kStatusTimerId = 1;
  static constexpr int kStatusTimerPeriodMs = 200;

  explicit Update(App& app);

  // Start-up's first screen: shown modally as the main window; every later
  // screen runs inside this call, and when it returns the run is over.
  static void show_modal(App& app);

 private:
  [[nodiscard]] ScreenStart start_values() override;
  void on_started() override;
  void on_timer(int timer_id) override;
  void on_command(const std::string& command, const std::string& argument) override;

  void retry();
};

}  // namespace tarvel
