#include "core/settings.hpp"

namespace tarvel {

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
