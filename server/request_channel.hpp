#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "flash/codec.hpp"

namespace tarvel {

class App;

// The configuration value that holds the request service's address.
inline constexpr const char* kServerUrlName = "ServerURL";

// Closes every property of the request service's documents, ours and its own.
inline constexpr std::string_view kPropertiesClose = "</properties>";
// Names the ticket property in the service's answers.
inline constexpr std::string_view kTicketWord = "ticket";

// Posts a complete XML document to the request service at the ServerURL
// configuration value, read afresh for every exchange, and returns the whole
// response body, whatever its HTTP status. Nothing when the exchange failed
// (no or unusable ServerURL, transport error, time-out).
//
// The launcher's narrow text holds one character per byte; it goes on the
// wire as UTF-8, the encoding of an XML document without a declaration, and
// the answer comes back decoded from UTF-8 (or byte for byte when it is not
// UTF-8).
[[nodiscard]] std::optional<WideText> post_request(App& app, std::string_view request_text);

// The text with &, <, >, " and ' written as character references, for
// putting player input inside a request document.
[[nodiscard]] std::string xml_escape(std::string_view text);

// Each byte as the character of the same value, encoded in UTF-8.
[[nodiscard]] std::string to_utf8(std::string_view text);

// The text decoded from UTF-8 into 16-bit units (a leading byte-order mark
// dropped), or each byte as one unit when it is not valid UTF-8.
[[nodiscard]] WideText decode_response(std::string_view bytes);

}  // namespace tarvel
