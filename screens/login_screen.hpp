#pragma once

#include "screens/flash_screen.hpp"

namespace tarvel {

// The login screen: plays "login.swf", whose "validate" request carries the
// user name, the password and the language. It checks connectivity, posts the
// login, tells the movie "Err=" and a code when that fails, and after a
// login hands over to the game installation screen at its next tick. The
// command "exit" ends the run; any other command moves on to the game
// installation screen, logged in or not.
class CCorvaneDlg final : public FlashScreen {
 public:
  static constexpr const char* kClassName = "CCorvaneDlg";
  static constexpr const char* kMovie = "app-popup\\login.swf";
  static constexpr int kTimerId = 1;
  static constexpr int kTimerPeriodMs = 200;

  explicit CCorvaneDlg(App& app);

 private:
  [[nodiscard]] ScreenStart start_values() override;
  void on_timer(int timer_id) override;
  void on_command(const std::string& command, const std::string& argument) override;
  void on_request(const ParsedRequest& request) override;

  void validate(const std::string& user_name, const std::string& password,
                const std::string& language);

  bool login_succeeded_ = false;
};

}  // namespace tarvel
