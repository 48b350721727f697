#pragma once

#include <string>

namespace tarvel {

// Codes of the status pair: the one-slot mailbox from the probe, the
// downloader and the workers to the screens' timers.
inline constexpr int kStatusNone = 0;
inline constexpr int kStatusProgress = 202;
inline constexpr int kStatusResult = 203;
inline constexpr int kStatusDownloadFailed = 401;
inline constexpr int kStatusNoConnectivity = 402;

// Codes the error screen and the login screen show.
inline constexpr int kErrorLoginUnusableAnswer = 403;  // no result in the login answer
inline constexpr int kErrorLoginFailed = 404;          // exchange failed or login refused
inline constexpr int kErrorInstallationBusy = 405;
inline constexpr int kErrorSecondInstance = 406;

inline constexpr const char* kErrorPrefix = "Err=";

// "Err=" followed by the code in decimal, as movies and the status text carry it.
inline std::string error_text(int code) { return kErrorPrefix + std::to_string(code); }

struct Status {
  int code = kStatusNone;
  std::string text;
  bool operator==(const Status&) const = default;
};

}  // namespace tarvel
