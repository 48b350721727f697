#pragma once

#include <memory>
#include <string>

#include "platform/headless/movie_script.hpp"
#include "platform/movie_control.hpp"
#include "platform/ui.hpp"

namespace tarvel {

class HeadlessUi;

// A headless movie: writes down what it loads and receives, and sends its
// screen what a rule's action says, as a player would. What decides the
// actions (a script, a person) is the subclass's.
class RecordingMovie : public MovieControl {
 public:
  RecordingMovie(HeadlessUi& ui, WindowId window, MovieEvents& events)
      : ui_(ui), window_(window), events_(events) {}
  ~RecordingMovie() override { *alive_ = false; }

  void load_movie(int layer, const std::u16string& path) override;
  void play() override;
  std::u16string call_function(const std::u16string& request) override;

  // Records the command or request, then raises it on the screen.
  void send(const MovieRule& rule);
  [[nodiscard]] WindowId window() const { return window_; }

 protected:
  // After a load was recorded: path is the movie file, narrowed.
  virtual void on_load(const std::string& path) { (void)path; }
  // After a text was recorded.
  virtual void on_text(const std::string& text) { (void)text; }

  [[nodiscard]] HeadlessUi& ui() { return ui_; }
  // Sends the rule's action from the loop later (after delay_ms, or as soon
  // as the current call has returned), unless the movie is gone by then.
  void send_later(const MovieRule& rule, std::uint64_t delay_ms);
  void send_soon(const MovieRule& rule);

 private:
  HeadlessUi& ui_;
  WindowId window_;
  MovieEvents& events_;
  // Tasks the kernel runs later check this first: the control may be gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tarvel
