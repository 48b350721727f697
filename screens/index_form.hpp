#pragma once

#include <string>

#include "screens/flash_screen.hpp"

namespace tarvel {

// The lobby: plays "index.swf" and turns its commands into actions: web
// pages and the cashier in browser windows, a language change, a game
// installed on request, further lobby windows, leaving. Its status timer
// relays the installation worker's progress and results to the movie.
//
// The main lobby is the application's main window once the first
// installation pass has finished; a "multi=" command opens a secondary lobby
// beside it, which keeps its template's size and tells its movie, once, the
// text it was opened with.
class IndexForm final : public FlashScreen {
 public:
  static constexpr const char* kClassName = "IndexForm";
  static constexpr const char* kMovie = "index.swf";
  static constexpr int kStatusTimerId = 1;
  static constexpr int kStatusTimerPeriodMs = 500;

  // multi_text: "" for the main lobby; a secondary lobby's text otherwise.
  explicit IndexForm(App& app, std::string multi_text = "");

 private:
  [[nodiscard]] ScreenStart start_values() override;
  void on_timer(int timer_id) override;
  void on_command(const std::string& command, const std::string& argument) override;
  void on_request(const ParsedRequest& request) override;
  void on_activate(Activation how) override;
  void on_size(int client_width, int client_height) override;

  // False when the command has to be dropped for want of a connection.
  bool connected(const std::string& command);
  void open_cashier();
  void open_more_games();
  void change_language(const std::string& command);
  void select_language(const std::string& code);
  void game_or_window_request(const std::string& command);
  void open_installation();
  void answer_left_request();
  // A second installation while one runs: the 405 error screen over this
  // lobby, which stays disabled until it is next activated.
  void refuse_while_installing();

  std::string multi_text_;
};

}  // namespace tarvel
