#include "core/app.hpp"

#include <cstdio>
#include <cstdlib>

namespace tarvel {

std::string App::default_public_host() { return TARVEL_PUBLIC_HOST; }

void App::require_every_service(const Services& services) {
  const char* missing = services.missing();
  if (missing == nullptr) return;
  std::fprintf(stderr, "tarvel: the %s service was not set\n", missing);
  std::abort();
}

}  // namespace tarvel
