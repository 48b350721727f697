#include "server/transfer_request.hpp"

#include <algorithm>
#include <cstdio>

#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "server/md5.hpp"
#include "server/request_channel.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kRequestHead =
    "<?xml version='1.0'?><request action = \"transfer\"><element><properties name=\"username\">";
constexpr std::string_view kDateOpen = "<properties name=\"date\">";
constexpr std::string_view kSignOpen = "<properties name=\"sign\">";
constexpr std::string_view kRequestTail = "</element></request>";

// Past "ticket", the closing quote of the name and the ">" of the tag.
constexpr std::size_t kTicketValueOffset = 8;

constexpr std::string_view kLinkTicket = "ticket=";
constexpr std::string_view kLinkUserName = "&username=";
constexpr std::string_view kLinkLanguage = "&lang_code=";

std::string lower_ascii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// One byte per character the system's code page can hold; a character
// outside it (a surrogate pair counting as one) becomes "?".
std::string narrow_to_code_page(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    if (unit <= 0xFF) {
      out += static_cast<char>(unit);
      continue;
    }
    out += '?';
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() &&
                      wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
    if (pair) ++i;
  }
  return out;
}

// The text as one query component: letters, digits and "-._~" stay, every
// other byte becomes "%" and two upper-case hex digits. A user name holding
// "&", "#", "+" or a space would otherwise end or change the parameter.
std::string query_component(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                            c == '~';
    if (unreserved) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

}  // namespace

std::string current_date_text(const Clock& clock) { return date_text(clock.utc_now()); }

std::string date_text(const UtcTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%d%02d%02d", time.year, time.month, time.day);
  return text;
}

std::string transfer_sign(std::string_view user_name, std::string_view date_text,
                          std::string_view key) {
  std::string signing_text(user_name);
  signing_text.append(date_text).append(key);
  return md5_hex(lower_ascii(std::move(signing_text)));
}

std::string compute_sign(App& app, ServerRequest& request) {
  return compute_sign(app, request, current_date_text(app.clock()));
}

std::string compute_sign(App& app, ServerRequest& request, std::string_view date_text) {
  request.sign =
      transfer_sign(app.settings().user_name(), date_text, read_config_value(app, kKeyName));
  return request.sign;
}

std::string transfer_request_text(std::string_view user_name, std::string_view date_text,
                                  std::string_view sign) {
  std::string text(kRequestHead);
  text.append(xml_escape(user_name)).append(kPropertiesClose);
  text.append(kDateOpen).append(date_text).append(kPropertiesClose);
  text.append(kSignOpen).append(sign).append(kPropertiesClose);
  text.append(kRequestTail);
  return text;
}

bool send_transfer_request(App& app, ServerRequest& request) {
  // One reading of the date for both the request and its sign: read twice,
  // the two could straddle midnight and the service would refuse the sign.
  const std::string date_text = current_date_text(app.clock());
  const std::string sign = compute_sign(app, request, date_text);
  const auto response =
      post_request(app, transfer_request_text(app.settings().user_name(), date_text, sign));
  if (!response) return false;
  request.transfer_response = narrow_to_code_page(*response);
  return true;
}

std::string build_game_link(App& app, ServerRequest& request, std::string_view address) {
  std::string ticket;
  std::string& response = request.transfer_response;
  const auto found = response.find(kTicketWord);
  if (found != std::string::npos) {
    response.erase(0, std::min(found + kTicketValueOffset, response.size()));
    ticket = response.substr(0, response.find(kPropertiesClose));
    app.log().keep_secret(ticket);
  }
  const SettingsValues v = app.settings().snapshot();
  std::string link(address);
  link.append(kLinkTicket).append(ticket);
  link.append(kLinkUserName).append(query_component(v.user_name));
  link.append(kLinkLanguage).append(query_component(v.selected_language));
  return link;
}

}  // namespace tarvel
