#include "operator/content_hash.hpp"

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <memory>

namespace tarvel {
namespace {

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string hex(const unsigned char* bytes, unsigned int size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2U);
  for (unsigned int i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4U];
    out += kDigits[bytes[i] & 0x0FU];
  }
  return out;
}

}  // namespace

std::optional<std::string> file_sha256(const std::string& native_path) {
  std::ifstream in(native_path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  std::array<char, 64 * 1024> buffer{};
  while (in) {
    in.read(buffer.data(), buffer.size());
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got > 0 && EVP_DigestUpdate(context.get(), buffer.data(), got) != 1) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) return std::nullopt;
  return hex(digest.data(), size);
}

}  // namespace tarvel
