#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace tarvel {

// Players the stage's request service knows: name -> password.
using Accounts = std::map<std::string, std::string>;

// Reads an accounts file: one "name:password" per line (the password is
// everything after the first ":"); blank lines and lines starting with "#"
// are skipped. Nothing, with error naming the line, when a line has no ":"
// or no name.
[[nodiscard]] std::optional<Accounts> parse_accounts(std::string_view text, std::string& error);

// The answer to one posted document, and what the stage's log says of it.
struct ServiceReply {
  int status = 200;
  std::string body;
  std::string note;
};

// The operator's request service as launchers meet it: "registration"
// (login) checks the name and password against the accounts and answers
// with a fresh ticket and result 0, or result 1; "transfer" checks the sign
// (MD5 over the lower-cased name, date and shared key) and answers with a
// fresh ticket. Safe to call from several threads.
class RequestService {
 public:
  using Today = std::function<std::chrono::sys_days()>;

  // key: the shared key of transfer signs ("" refuses every transfer).
  RequestService(Accounts accounts, std::string key, Today today = {});

  [[nodiscard]] ServiceReply answer(std::string_view posted);

 private:
  ServiceReply login(std::string_view document);
  ServiceReply transfer(std::string_view document);
  [[nodiscard]] bool date_is_current(std::string_view date_text) const;
  std::string new_ticket();

  Accounts accounts_;
  std::string key_;
  Today today_;
  std::mutex mutex_;
  std::mt19937_64 random_;
};

// The text with the five predefined entities and numeric character
// references (up to 0xFF, one byte each) read back.
[[nodiscard]] std::string xml_unescape(std::string_view text);

}  // namespace tarvel
