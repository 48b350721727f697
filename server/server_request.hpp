#pragma once

#include <optional>
#include <string>
#include <vector>

#include "flash/codec.hpp"

namespace tarvel {

// One user action's exchange with the request service: the caller creates it
// empty, hands it to the login or transfer request, reads the results from it
// and drops it when the action is over.
struct ServerRequest {
  // The login response cut at every ">"; empty for a transfer.
  std::vector<std::string> tokens;
  // The login response while it is being analysed; released afterwards,
  // whatever the outcome.
  std::optional<WideText> response_text;
  // Installation path of the selected language, found while the login
  // properties document is built.
  std::string language_path;
  // The signature sent with the transfer request.
  std::string sign;
  // The transfer response body (shortened by build_game_link).
  std::string transfer_response;
};

}  // namespace tarvel
