#include "server/request_channel.hpp"

#include "core/app.hpp"
#include "core/failure_words.hpp"
#include "core/settings_readers.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Length of the UTF-8 sequence a lead byte starts, 0 for a byte that cannot lead.
int sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The code point of the sequence at i, or nothing when it is malformed,
// overlong, a surrogate or beyond U+10FFFF.
std::optional<char32_t> decode_at(std::string_view bytes, std::size_t i, int length) {
  if (length == 0 || i + length > bytes.size()) return std::nullopt;
  const auto lead = static_cast<unsigned char>(bytes[i]);
  char32_t point = length == 1 ? lead : lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(bytes[i + k]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    point = (point << 6) | (next & 0x3F);
  }
  constexpr char32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kLowest[length] || point > 0x10FFFF) return std::nullopt;
  if (point >= 0xD800 && point <= 0xDFFF) return std::nullopt;
  return point;
}

void append_unit_or_pair(WideText& out, char32_t point) {
  if (point < 0x10000) {
    out.push_back(static_cast<char16_t>(point));
    return;
  }
  point -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
}

std::optional<WideText> decode_utf8(std::string_view bytes) {
  WideText out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const int length = sequence_length(static_cast<unsigned char>(bytes[i]));
    const auto point = decode_at(bytes, i, length);
    if (!point) return std::nullopt;
    append_unit_or_pair(out, *point);
    i += static_cast<std::size_t>(length);
  }
  return out;
}

}  // namespace

std::string xml_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string to_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

WideText decode_response(std::string_view bytes) {
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  if (auto decoded = decode_utf8(bytes)) return std::move(*decoded);
  return widen(bytes);
}

std::optional<WideText> post_request(App& app, std::string_view request_text) {
  const std::string address = read_config_value(app, kServerUrlName);
  const PostAnswer answer = app.http_post().exchange(address, to_utf8(request_text));
  if (!answer.body) {
    app.log().cause(address == kConfigNotFound
                        ? std::string(kConfigFileName) + " names no " + kServerUrlName +
                              ": the request service cannot be reached"
                        : failure_line(address, answer.cause));
    return std::nullopt;
  }
  app.log().note("POST " + address + ": " + status_words(answer.status) + ", " +
                 counted(answer.body->size(), "byte"));
  return decode_response(*answer.body);
}

}  // namespace tarvel
