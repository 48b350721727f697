#pragma once

#include "screens/flash_screen.hpp"

namespace tarvel {

// The game installation screen: plays "transfer.swf" while a worker brings
// the client's packages up to date, then opens the lobby (after login) or
// closes (opened from a lobby).
//
// For now it shows its movie and closes on "exit"; the installation worker,
// its status timer and the lobby hand-over come next.
class TransferringForm final : public FlashScreen {
 public:
  static constexpr const char* kClassName = "TransferringForm";
  static constexpr const char* kMovie = "app-popup\\transfer.swf";
  static constexpr int kStatusTimerId = 1;
  static constexpr int kStatusTimerPeriodMs = 500;
  static constexpr int kConnectivityTimerId = 2;
  static constexpr int kConnectivityTimerPeriodMs = 10000;

  explicit TransferringForm(App& app);

 private:
  [[nodiscard]] ScreenStart start_values() override;
  void on_command(const std::string& command, const std::string& argument) override;
};

}  // namespace tarvel
