#pragma once

#include <string>
#include <string_view>

#include "server/server_request.hpp"

namespace tarvel {

class App;
class Clock;
struct UtcTime;

// The configuration value that holds the key shared with the request
// service, which signs transfer requests: a secret.
inline constexpr const char* kKeyName = "Key";

// The current UTC date as year, two-digit month and two-digit day
// ("20170305"); the second form for a date already read.
[[nodiscard]] std::string current_date_text(const Clock& clock);
[[nodiscard]] std::string date_text(const UtcTime& time);

// MD5 in lower-case hexadecimal of the user name, the date text and the key,
// lower-cased: what signs a transfer request, and what the service checks.
[[nodiscard]] std::string transfer_sign(std::string_view user_name, std::string_view date_text,
                                        std::string_view key);

// The signature over the user name, the date text and the Key configuration
// value ("not found" when it is missing), lower-cased, as MD5 in lower-case
// hexadecimal. Stored in the record as well. The first form reads today's
// date; the second signs the date text the request will carry.
std::string compute_sign(App& app, ServerRequest& request);
std::string compute_sign(App& app, ServerRequest& request, std::string_view date_text);

// The transfer request document, user name escaped.
[[nodiscard]] std::string transfer_request_text(std::string_view user_name,
                                                std::string_view date_text, std::string_view sign);

// Asks the request service for a fresh ticket for the logged-in player.
// Stores the sign and the response body in the record; false when the
// exchange failed (the response then stays empty).
[[nodiscard]] bool send_transfer_request(App& app, ServerRequest& request);

// The address followed by "ticket=", the ticket from the record's transfer
// response ("" when it has none), "&username=", the user name, "&lang_code="
// and the selected language code; the user name and the language code are
// percent-encoded as query components. Cuts the record's transfer response
// down to what follows the ticket's opening tag.
[[nodiscard]] std::string build_game_link(App& app, ServerRequest& request,
                                          std::string_view address);

}  // namespace tarvel
