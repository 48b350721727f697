#include "core/failure_words.hpp"

#include <cerrno>
#include <cctype>
#include <system_error>
#include <utility>

namespace tarvel {
namespace {

using Kind = FailureCause::Kind;

constexpr std::pair<long, const char*> kReasons[] = {
    {200, "OK"},
    {206, "Partial Content"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {304, "Not Modified"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {410, "Gone"},
    {413, "Content Too Large"},
    {416, "Range Not Satisfiable"},
    {429, "Too Many Requests"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

// The words of the errors a player meets when a file cannot be written.
std::string error_number_words(int error_number) {
  switch (error_number) {
    case 0:
      return "could not be written";
    case ENOSPC:
      return "no space left on device";
    case EROFS:
      return "read-only file system";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EDQUOT:
      return "disk quota exceeded";
    case EFBIG:
      return "file too large (a file-size limit holds)";
    case ELOOP:
      return "a symbolic link is in the way";
    case ENOTDIR:
      return "a file stands where a folder belongs";
    case EISDIR:
      return "a folder stands where the file belongs";
    case EWOULDBLOCK:
      return "another program is writing it";
    default: {
      std::string words = std::generic_category().message(error_number);
      if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
      return words;
    }
  }
}

bool is_web_address(std::string_view address) {
  const auto lower_starts = [&](std::string_view prefix) {
    if (address.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(address[i])) != prefix[i]) return false;
    }
    return true;
  };
  return lower_starts("http://") || lower_starts("https://");
}

}  // namespace

std::string status_words(long status) {
  for (const auto& [code, reason] : kReasons) {
    if (code == status) return std::to_string(status) + " " + reason;
  }
  return "HTTP status " + std::to_string(status);
}

std::string failure_words(const FailureCause& cause) {
  switch (cause.kind) {
    case Kind::none:
      return "failed";
    case Kind::status:
      return status_words(cause.status);
    case Kind::name_not_resolved:
      return "name does not resolve";
    case Kind::connection_refused:
      return "connection refused";
    case Kind::timed_out:
      return "no answer in time";
    case Kind::connection_broken:
      return "the connection broke off";
    case Kind::not_http:
      return "the answer is not HTTP";
    case Kind::secure_connection:
      return "the secure connection failed";
    case Kind::unexpected_body:
      return "not the file its sums describe (changed on the server without new sums?)";
    case Kind::too_large:
      return "larger than the launcher takes";
    case Kind::local_file:
      return error_number_words(cause.error_number);
    case Kind::proxy:
      return cause.detail;
    case Kind::not_web_address:
      return "not an http:// or https:// address";
    case Kind::other:
      return cause.detail.empty() ? "failed" : cause.detail;
  }
  return "failed";
}

std::string failure_line(std::string_view address, const FailureCause& cause) {
  const std::string shown = address.empty() ? "(no address)" : std::string(address);
  if (cause.kind == Kind::local_file && !cause.path.empty()) {
    return cause.path + ": " + failure_words(cause) + " (fetching " + shown + ")";
  }
  if (!is_web_address(address)) return shown + ": " + failure_words({Kind::not_web_address});
  std::string line = shown + ": " + failure_words(cause);
  // The library's words say which of several causes it was, where ours do not.
  if (cause.kind == Kind::secure_connection && !cause.detail.empty()) line += " (" + cause.detail + ")";
  return line;
}

std::string counted(std::size_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace tarvel
