#pragma once

#include <memory>

#include "screens/flash_screen.hpp"
#include "screens/installation_worker.hpp"

namespace tarvel {

// The game installation screen: plays "transfer.swf" while the installation
// worker brings the client's packages up to date, relays the worker's
// progress and failures to the movie, and when the work is done opens the
// lobby (after login, as the main window) or closes (opened from a lobby).
// A failure waits for the movie's "retry" or "exit". No key closes it.
class TransferringForm final : public FlashScreen {
 public:
  static constexpr const char* kClassName = "TransferringForm";
  static constexpr const char* kMovie = "app-popup\\transfer.swf";
  static constexpr int kStatusTimerId = 1;
  static constexpr int kStatusTimerPeriodMs = 500;
  static constexpr int kConnectivityTimerId = 2;
  static constexpr int kConnectivityTimerPeriodMs = 10000;

  explicit TransferringForm(App& app) : FlashScreen(app, kClassName, OnActivation::nothing) {}
  ~TransferringForm() override;
  TransferringForm(const TransferringForm&) = delete;
  TransferringForm& operator=(const TransferringForm&) = delete;

 private:
  [[nodiscard]] ScreenStart start_values() override;
  void on_init() override;
  void on_started() override { start_worker(); }
  void on_timer(int timer_id) override;
  void on_command(const std::string& command, const std::string& argument) override;
  // The screen is no longer open once its window is gone, however it went.
  void on_destroyed() override;

  void start_worker();
  void relay_status();
  void retry();
  // Whether this screen's own run (not an earlier screen's) still works, and
  // whether it finished.
  [[nodiscard]] bool own_run_working();
  [[nodiscard]] bool own_run_finished();
  // Opens the lobby the first time; from a lobby the screen just closes.
  void leave();

  // A lost connection was shown to the movie: the screen waits for "retry"
  // or "exit" and shows no further one.
  bool error_shown_ = false;
  // The worker slot was still taken by an earlier screen's worker (one that
  // went on after its screen closed); the status timer starts this screen's
  // worker as soon as that one has ended.
  bool worker_waiting_ = false;
  // The run this screen started last, shared with its worker, which may
  // outlive the screen.
  std::shared_ptr<InstallationRun> run_;
};

}  // namespace tarvel
