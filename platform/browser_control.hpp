#pragma once

#include <string>

namespace tarvel {

// The web page filling a browser window: it is sent to one address and the
// page is then on its own. Nothing comes back to the launcher.
class BrowserControl {
 public:
  virtual ~BrowserControl() = default;
  virtual void navigate(const std::string& address) = 0;
};

}  // namespace tarvel
