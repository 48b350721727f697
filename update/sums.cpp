#include "update/sums.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>

#include "core/text_lines.hpp"
#include "update/manifest.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kHeader = "tarvel-sums 1";
constexpr std::string_view kPackageKey = "package ";
constexpr std::string_view kManifestKey = "manifest ";
constexpr std::string_view kVersionKey = "version ";
constexpr std::string_view kSerialKey = "serial ";
constexpr std::string_view kFileKey = "file ";
// Launchers before compressed copies and patches skip these as comments.
constexpr std::string_view kCompressedKey = "#zst ";
constexpr std::string_view kPatchKey = "#patch ";
constexpr std::size_t kPatchNameDigits = 16;
constexpr std::size_t kSha256HexSize = 64;
constexpr std::size_t kPublicKeySize = 32;
constexpr std::size_t kSignatureSize = 64;
constexpr std::size_t kFilePiece = 256 * 1024;

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, ContextFree>;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

std::string hex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2U);
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4U];
    out += kDigits[bytes[i] & 0x0FU];
  }
  return out;
}

bool is_sha256_hex(std::string_view text) {
  return text.size() == kSha256HexSize && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

bool read_unsigned(std::string_view text, std::uint64_t& out) {
  if (text.empty() || text.front() == '+') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

// SHA-256 over pieces, through libcrypto.
class Sha256 {
 public:
  Sha256() : context_(EVP_MD_CTX_new()) { restart(); }
  void restart() {
    ok_ = context_ && EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1;
  }
  void add(const char* data, std::size_t size) {
    ok_ = ok_ && EVP_DigestUpdate(context_.get(), data, size) == 1;
  }
  // The digest, or "" when the library failed.
  std::string finish() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (!ok_ || EVP_DigestFinal_ex(context_.get(), digest.data(), &size) != 1) return {};
    ok_ = false;
    return hex(digest.data(), size);
  }

 private:
  DigestContext context_;
  bool ok_ = false;
};

class Sha256Check final : public BodyCheck {
 public:
  Sha256Check(FileSum expected, std::string name)
      : expected_(std::move(expected)), name_(std::move(name)) {}
  void restart() override {
    hash_.restart();
    size_ = 0;
  }
  void add(const char* data, std::size_t size) override {
    hash_.add(data, size);
    size_ += size;
  }
  bool matches() override {
    const std::string sha256 = hash_.finish();
    if (size_ == expected_.size && sha256 == expected_.sha256) return true;
    // Said once: the retries of the same file would only repeat it.
    if (!told_) {
      std::fprintf(stderr,
                   "tarvel: %s: arrived as %llu bytes with SHA-256 %s, but its sums give %llu "
                   "bytes with %s\n",
                   printable(name_).c_str(), static_cast<unsigned long long>(size_),
                   sha256.c_str(), static_cast<unsigned long long>(expected_.size),
                   expected_.sha256.c_str());
    }
    told_ = true;
    return false;
  }

 private:
  FileSum expected_;
  std::string name_;
  Sha256 hash_;
  std::uint64_t size_ = 0;
  bool told_ = false;
};

// The value of one base64 character, or -1.
int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool parse_file_line(std::string_view rest, Sums& sums) {
  auto fields = read_sum_fields(rest);
  return fields && sums.files.emplace(sums_key(fields->second), fields->first).second;
}

bool parse_compressed_line(std::string_view rest, Sums& sums) {
  auto fields = read_sum_fields(rest);
  return fields && sums.compressed.emplace(sums_key(fields->second), fields->first).second;
}

// "<base sha256> <sha256> <size> <source path>"
bool parse_patch_line(std::string_view rest, Sums& sums) {
  const auto space = rest.find(' ');
  if (space == std::string_view::npos || !is_sha256_hex(rest.substr(0, space))) return false;
  auto fields = read_sum_fields(rest.substr(space + 1));
  if (!fields) return false;
  auto& patches = sums.patches[sums_key(fields->second)];
  PatchSum patch{std::string(rest.substr(0, space)), std::move(fields->first)};
  const bool repeated = std::any_of(patches.begin(), patches.end(), [&](const PatchSum& p) {
    return p.base_sha256 == patch.base_sha256;
  });
  patches.push_back(std::move(patch));
  return !repeated;
}

// The lines that begin with "#" and still mean something.
bool parse_extension_line(std::string_view line, Sums& sums) {
  if (line.starts_with(kCompressedKey)) {
    return parse_compressed_line(line.substr(kCompressedKey.size()), sums);
  }
  return parse_patch_line(line.substr(kPatchKey.size()), sums);
}

bool is_extension_line(std::string_view line) {
  return line.starts_with(kCompressedKey) || line.starts_with(kPatchKey);
}

bool parse_line(std::string_view line, Sums& sums, bool& has_serial) {
  const auto value = [&](std::string_view key) { return line.substr(key.size()); };
  if (line.starts_with(kPackageKey)) {
    if (!sums.package.empty()) return false;
    sums.package = value(kPackageKey);
    return !sums.package.empty();
  }
  if (line.starts_with(kManifestKey)) {
    sums.manifest_sha256 = value(kManifestKey);
    return is_sha256_hex(sums.manifest_sha256);
  }
  if (line.starts_with(kVersionKey)) {
    sums.version = value(kVersionKey);
    return true;
  }
  if (line.starts_with(kSerialKey)) {
    has_serial = true;
    return read_unsigned(value(kSerialKey), sums.serial);
  }
  if (line.starts_with(kFileKey)) return parse_file_line(value(kFileKey), sums);
  return false;
}

std::optional<EVP_PKEY*> public_key(std::string_view base64) {
  const std::optional<std::string> raw = base64_decode(base64);
  if (!raw || raw->size() != kPublicKeySize) return std::nullopt;
  EVP_PKEY* key = EVP_PKEY_new_raw_public_key(
      EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(raw->data()), raw->size());
  if (key == nullptr) return std::nullopt;
  return key;
}

}  // namespace

std::optional<std::pair<FileSum, std::string>> read_sum_fields(std::string_view text) {
  const auto first = text.find(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const auto second = text.find(' ', first + 1);
  if (second == std::string_view::npos || second + 1 >= text.size()) return std::nullopt;
  FileSum sum{std::string(text.substr(0, first)), 0};
  if (!is_sha256_hex(sum.sha256) ||
      !read_unsigned(text.substr(first + 1, second - first - 1), sum.size)) {
    return std::nullopt;
  }
  return std::pair{std::move(sum), std::string(text.substr(second + 1))};
}

bool announces_sums(std::string_view text) {
  const auto lines = text_lines(text);
  return std::find(lines.begin(), lines.end(), kSumsAnnouncement) != lines.end();
}

std::string sums_key(std::string_view source_path) {
  std::string key(source_path);
  std::replace(key.begin(), key.end(), '\\', '/');
  return key;
}

std::optional<Sums> parse_sums(std::string_view text, std::string& error) {
  Sums sums;
  bool has_header = false;
  bool has_serial = false;
  // No value of a sums file holds a control character; a stray CR of a
  // line ending written twice would not even read back as itself.
  const auto readable = [](std::string_view line) {
    return std::none_of(line.begin(), line.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
  };
  for (const std::string_view line : text_lines(text)) {
    if (has_header && is_extension_line(line)) {
      if (!readable(line) || !parse_extension_line(line, sums)) {
        error = "cannot read the line \"" + std::string(line.substr(0, 200)) + "\"";
        return std::nullopt;
      }
      continue;
    }
    if (line.empty() || line.front() == '#') continue;
    if (!has_header) {
      if (line != kHeader) {
        error = "does not begin with \"" + std::string(kHeader) + "\"";
        return std::nullopt;
      }
      has_header = true;
    } else if (!readable(line) || !parse_line(line, sums, has_serial)) {
      error = "cannot read the line \"" + std::string(line.substr(0, 200)) + "\"";
      return std::nullopt;
    }
  }
  if (!has_header || sums.manifest_sha256.empty() || !has_serial) {
    error = "lacks its header, the manifest's sum or the serial";
    return std::nullopt;
  }
  return sums;
}

std::string sums_text(const Sums& sums) {
  std::string text = std::string(kHeader) + "\n";
  if (!sums.package.empty()) text.append(kPackageKey).append(sums.package).append("\n");
  text.append(kManifestKey).append(sums.manifest_sha256).append("\n");
  text.append(kVersionKey).append(sums.version).append("\n");
  text.append(kSerialKey).append(std::to_string(sums.serial)).append("\n");
  for (const auto& [path, sum] : sums.files) {
    text.append(kFileKey).append(sum.sha256).append(" ").append(std::to_string(sum.size));
    text.append(" ").append(path).append("\n");
  }
  const auto sum_fields = [](const FileSum& sum) {
    return sum.sha256 + " " + std::to_string(sum.size) + " ";
  };
  for (const auto& [path, sum] : sums.compressed) {
    text.append(kCompressedKey).append(sum_fields(sum)).append(path).append("\n");
  }
  for (const auto& [path, patches] : sums.patches) {
    for (const PatchSum& patch : patches) {
      text.append(kPatchKey).append(patch.base_sha256).append(" ").append(sum_fields(patch.sum));
      text.append(path).append("\n");
    }
  }
  return text;
}

std::string patch_suffix(std::string_view base_sha256) {
  return ".from-" + std::string(base_sha256.substr(0, kPatchNameDigits)) + ".zpatch";
}

std::string sha256_hex(std::string_view bytes) {
  Sha256 hash;
  hash.add(bytes.data(), bytes.size());
  return hash.finish();
}

std::optional<FileSum> file_sum(const std::string& native_path) {
  std::ifstream in(native_path, std::ios::binary);
  if (!in) return std::nullopt;
  Sha256 hash;
  std::string buffer(kFilePiece, '\0');
  FileSum sum;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    hash.add(buffer.data(), got);
    sum.size += got;
  }
  if (in.bad()) return std::nullopt;
  sum.sha256 = hash.finish();
  if (sum.sha256.empty()) return std::nullopt;
  return sum;
}

std::shared_ptr<BodyCheck> body_check(const FileSum& expected, const std::string& name) {
  return std::make_shared<Sha256Check>(expected, name);
}

std::string base64_encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

std::optional<std::string> base64_decode(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && text[text.size() - 1 - padding] == '=') ++padding;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pad = i >= text.size() - padding;
    const int value = pad ? 0 : base64_value(text[i]);
    if (value < 0) return std::nullopt;
    bits = (bits << 6U) | static_cast<std::uint32_t>(value);
    if (i % 4 != 3) continue;
    for (const unsigned shift : {16U, 8U, 0U}) out.push_back(static_cast<char>((bits >> shift) & 0xFFU));
    bits = 0;
  }
  out.resize(out.size() - padding);
  return out;
}

bool public_key_valid(std::string_view public_key_base64) {
  const auto key = public_key(public_key_base64);
  if (key) EVP_PKEY_free(*key);
  return key.has_value();
}

bool signature_valid(std::string_view public_key_base64, std::string_view message,
                     std::string_view signature_text) {
  const auto raw_key = public_key(public_key_base64);
  if (!raw_key) return false;
  const std::unique_ptr<EVP_PKEY, KeyFree> key(*raw_key);
  const std::optional<std::string> signature = base64_decode(signature_text);
  if (!signature || signature->size() != kSignatureSize) return false;
  const DigestContext context(EVP_MD_CTX_new());
  // Ed25519 signs the message itself: no digest is named.
  return context &&
         EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature->data()),
                          signature->size(), reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

}  // namespace tarvel
