#include "operator/request_service.hpp"

#include <charconv>
#include <cstdio>

#include "flash/codec.hpp"
#include "platform/clock.hpp"
#include "server/request_channel.hpp"
#include "server/transfer_request.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kLoginAction = "registration";
constexpr std::string_view kTransferAction = "transfer";
constexpr std::string_view kDocumentHead = "<?xml version=\"1.0\"?><response action=\"";

// Launchers read a login's result from the fifteenth piece of the answer cut
// at ">", and the ticket from the first line naming it, so the ticket comes
// first and four further properties fill the places before the result.
constexpr const char* kLoginFiller[][2] = {
    {"status", "active"}, {"balance", "1000.00"}, {"currency", "EUR"}, {"session", "stage"}};

std::string property(std::string_view name, std::string_view value) {
  std::string text = "<properties name=\"";
  text.append(name).append("\">").append(value).append(kPropertiesClose);
  return text;
}

// The value of the first property of that name, read back from its escaped
// form; nothing when the document has none.
std::optional<std::string> property_value(std::string_view document, std::string_view name) {
  const std::string opening = "name=\"" + std::string(name) + "\"";
  const auto at = document.find(opening);
  if (at == std::string_view::npos) return std::nullopt;
  const auto start = document.find('>', at + opening.size());
  if (start == std::string_view::npos) return std::nullopt;
  const auto end = document.find(kPropertiesClose, start + 1);
  if (end == std::string_view::npos) return std::nullopt;
  return xml_unescape(document.substr(start + 1, end - start - 1));
}

std::string action_of(std::string_view document) {
  const auto at = document.find("action");
  if (at == std::string_view::npos) return {};
  const auto open = document.find('"', at);
  const auto close = open == std::string_view::npos ? open : document.find('"', open + 1);
  if (close == std::string_view::npos) return {};
  return std::string(document.substr(open + 1, close - open - 1));
}

std::string date_text_of(std::chrono::sys_days day) {
  const std::chrono::year_month_day date{day};
  UtcTime time;
  time.year = static_cast<int>(date.year());
  time.month = static_cast<int>(static_cast<unsigned>(date.month()));
  time.day = static_cast<int>(static_cast<unsigned>(date.day()));
  return date_text(time);
}

std::chrono::sys_days system_today() {
  return std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
}

std::string login_answer(std::string_view ticket, std::string_view result) {
  std::string body(kDocumentHead);
  body.append(kLoginAction).append("\"><element id=\"id001\">");
  body += property("ticket", ticket);
  for (const auto& filler : kLoginFiller) body += property(filler[0], filler[1]);
  body += property("result", result);
  return body + "</element></response>";
}

std::string transfer_answer(std::string_view ticket, std::string_view result) {
  std::string body(kDocumentHead);
  body.append(kTransferAction).append("\"><element>");
  if (!ticket.empty()) body += property("ticket", ticket);
  body += property("result", result);
  return body + "</element></response>";
}

}  // namespace

std::optional<Accounts> parse_accounts(std::string_view text, std::string& error) {
  Accounts accounts;
  int number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      error = "line " + std::to_string(number) + ": not name:password";
      return std::nullopt;
    }
    accounts[std::string(line.substr(0, colon))] = std::string(line.substr(colon + 1));
  }
  return accounts;
}

RequestService::RequestService(Accounts accounts, std::string key, Today today)
    : accounts_(std::move(accounts)),
      key_(std::move(key)),
      today_(today ? std::move(today) : Today(system_today)),
      random_(std::random_device{}()) {}

ServiceReply RequestService::answer(std::string_view posted) {
  // Launchers send their one-byte text as UTF-8; names and signs are over
  // the bytes, so read it back to them.
  const std::string document = narrow(decode_response(posted));
  const std::string action = action_of(document);
  if (action == kLoginAction) return login(document);
  if (action == kTransferAction) return transfer(document);
  return {400, "not a request document", "not a login or transfer document"};
}

ServiceReply RequestService::login(std::string_view document) {
  const std::string name = property_value(document, "username").value_or("");
  const std::string password = property_value(document, "password").value_or("");
  const auto account = accounts_.find(name);
  if (account == accounts_.end() || account->second != password) {
    const char* why = account == accounts_.end() ? "unknown player" : "wrong password";
    return {200, login_answer("", "1"), "login " + name + ": refused (" + why + ")"};
  }
  const std::string ticket = new_ticket();
  return {200, login_answer(ticket, "0"), "login " + name + ": accepted, ticket " + ticket};
}

ServiceReply RequestService::transfer(std::string_view document) {
  const std::string name = property_value(document, "username").value_or("");
  const std::string date = property_value(document, "date").value_or("");
  const std::string sign = property_value(document, "sign").value_or("");
  const char* refusal = nullptr;
  if (key_.empty()) {
    refusal = "the stage has no key";
  } else if (!accounts_.contains(name)) {
    refusal = "unknown player";
  } else if (!date_is_current(date)) {
    refusal = "date not current";
  } else if (sign != transfer_sign(name, date, key_)) {
    refusal = "wrong sign";
  }
  if (refusal != nullptr) {
    return {200, transfer_answer("", "1"), "transfer " + name + ": refused (" + refusal + ")"};
  }
  const std::string ticket = new_ticket();
  return {200, transfer_answer(ticket, "0"), "transfer " + name + ": ticket " + ticket};
}

// A launcher signs with its own clock's date; a day either way allows for
// time zones and a request sent at midnight.
bool RequestService::date_is_current(std::string_view date) const {
  const std::chrono::sys_days today = today_();
  for (const int offset : {-1, 0, 1}) {
    if (date == date_text_of(today + std::chrono::days(offset))) return true;
  }
  return false;
}

std::string RequestService::new_ticket() {
  std::lock_guard lock(mutex_);
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random_()));
  return text;
}

std::string xml_unescape(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool replaced = false;
    for (const auto& [entity, c] : kEntities) {
      if (text.substr(i, entity.size()) == entity) {
        out += c;
        i += entity.size() - 1;
        replaced = true;
        break;
      }
    }
    if (!replaced && text.substr(i, 2) == "&#") {
      const bool hex = text.substr(i, 3) == "&#x";
      const std::size_t digits = i + (hex ? 3 : 2);
      const auto end = text.find(';', digits);
      unsigned value = 0;
      const char* first = text.data() + digits;
      const char* last = text.data() + (end == std::string_view::npos ? digits : end);
      const auto [stop, error] = std::from_chars(first, last, value, hex ? 16 : 10);
      if (end != std::string_view::npos && stop == last && first != last && error == std::errc() &&
          value <= 0xFF) {
        out += static_cast<char>(value);
        i = end;
        replaced = true;
      }
    }
    if (!replaced) out += text[i];
  }
  return out;
}

}  // namespace tarvel
