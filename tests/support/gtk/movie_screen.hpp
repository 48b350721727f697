#pragma once

#include <string>
#include <utility>
#include <vector>

#include "flash/flash_window.hpp"

namespace tarvel::testing {

// A screen for tests of movies: plays one movie in a control of the given
// size, hands it lines at start, and keeps every command and request the
// movie sends. With close_on_command it closes on the first command.
class MovieScreen final : public FlashWindow {
 public:
  struct Options {
    Rect control{0, 0, 320, 200};
    std::vector<std::string> lines;
    bool close_on_command = false;
  };

  MovieScreen(Ui& ui, std::string movie, Options options)
      : FlashWindow(ui, "Movie"), movie_(std::move(movie)), options_(std::move(options)) {}
  MovieScreen(Ui& ui, std::string movie) : MovieScreen(ui, std::move(movie), Options{}) {}

  std::vector<std::pair<std::string, std::string>> commands;
  std::vector<ParsedRequest> requests;
  // Both, in order: "command argument" and "name(a,b)".
  std::vector<std::string> sent;

 private:
  void on_init() override {
    ui().move_control(window(), options_.control);
    load_movie(movie_);
    for (const std::string& line : options_.lines) send_text_to_movie(line);
  }
  void on_command(const std::string& command, const std::string& argument) override {
    commands.emplace_back(command, argument);
    sent.push_back(command + (argument.empty() ? "" : " " + argument));
    if (options_.close_on_command) destroy_window();
  }
  void on_request(const ParsedRequest& request) override {
    requests.push_back(request);
    std::string text = request.name + "(";
    for (std::size_t i = 0; i < request.arguments.size(); ++i) {
      text += (i == 0 ? "" : ",") + request.arguments[i];
    }
    sent.push_back(text + ")");
  }

  std::string movie_;
  Options options_;
};

}  // namespace tarvel::testing
