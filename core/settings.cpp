#include "core/settings.hpp"

namespace tarvel {
namespace {

constexpr const char* kLanguageFolder = "language/";

}  // namespace

std::string language_base_address(const std::string& base, const std::string& code) {
  return base + kLanguageFolder + code + "/";
}

void derive_language_addresses(SettingsValues& values) {
  values.game_language_address = language_base_address(values.game_url, values.selected_language);
  values.common_language_address =
      language_base_address(values.common_url, values.selected_language);
}

void Settings::set_status(int code, std::string text) {
  std::lock_guard lock(mutex_);
  values_.status = Status{code, std::move(text)};
}

Status Settings::take_status() {
  std::lock_guard lock(mutex_);
  Status taken = std::move(values_.status);
  values_.status = Status{};
  return taken;
}

Status Settings::status() const {
  std::lock_guard lock(mutex_);
  return values_.status;
}

}  // namespace tarvel
