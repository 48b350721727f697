#include "core/app.hpp"

namespace tarvel {

std::string App::default_public_host() { return TARVEL_PUBLIC_HOST; }

}  // namespace tarvel
