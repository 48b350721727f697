#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "flash/codec.hpp"
#include "platform/movie_control.hpp"
#include "platform/ui.hpp"

namespace tarvel {

// A window whose whole client area is one movie control: the part every
// screen of both programs shares. It owns the window and the control for its
// whole life, turns the control's events into narrow text for the screen,
// and hands lines of text to the movie.
class FlashWindow : public WindowHandler, public MovieEvents {
 public:
  FlashWindow(Ui& ui, const std::string& class_name);
  ~FlashWindow() override;
  FlashWindow(const FlashWindow&) = delete;
  FlashWindow& operator=(const FlashWindow&) = delete;

  [[nodiscard]] WindowId window() const { return window_; }
  [[nodiscard]] bool window_exists() const { return ui_.exists(window_); }
  // Destroys the window (a modal display returns); nothing if already gone.
  void destroy_window() { ui_.destroy(window_); }

 protected:
  [[nodiscard]] Ui& ui() { return ui_; }

  void load_movie(const std::string& path);  // layer 0
  void play() { movie_->play(); }
  // Hands one line to the movie with an addText call; its answer is ignored.
  void send_text_to_movie(std::string_view text);

  // The movie's command channel, in narrow text.
  virtual void on_command(const std::string& command, const std::string& argument) {
    (void)command;
    (void)argument;
  }
  // The movie's external-interface requests, already parsed.
  virtual void on_request(const ParsedRequest& request) { (void)request; }

  // The dialog's own Escape and Enter end it, as a plain dialog does.
  void on_cancel() override { destroy_window(); }
  void on_ok() override { destroy_window(); }

 private:
  void on_fs_command(const std::u16string& command, const std::u16string& arguments) final;
  void on_flash_call(const std::u16string& request) final;

  Ui& ui_;
  WindowId window_;
  std::unique_ptr<MovieControl> movie_;
};

}  // namespace tarvel
