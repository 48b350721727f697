#include "operator/signing.hpp"

#include <openssl/evp.h>

#include <memory>

#include "update/sums.hpp"

namespace tarvel {
namespace {

constexpr std::size_t kKeySize = 32;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

Key private_key_from(std::string_view base64) {
  const std::optional<std::string> raw = base64_decode(base64);
  if (!raw || raw->size() != kKeySize) return nullptr;
  return Key(EVP_PKEY_new_raw_private_key(
      EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(raw->data()), raw->size()));
}

std::optional<std::string> raw_public(EVP_PKEY* key) {
  std::string raw(kKeySize, '\0');
  std::size_t size = raw.size();
  if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &size) != 1 ||
      size != kKeySize) {
    return std::nullopt;
  }
  return base64_encode(raw);
}

}  // namespace

std::optional<KeyPair> generate_key_pair() {
  EVP_PKEY* made = nullptr;
  const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
      EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_keygen(context.get(), &made) != 1) {
    return std::nullopt;
  }
  const Key key(made);
  std::string seed(kKeySize, '\0');
  std::size_t size = seed.size();
  if (EVP_PKEY_get_raw_private_key(key.get(), reinterpret_cast<unsigned char*>(seed.data()),
                                   &size) != 1 ||
      size != kKeySize) {
    return std::nullopt;
  }
  const std::optional<std::string> public_key = raw_public(key.get());
  if (!public_key) return std::nullopt;
  return KeyPair{base64_encode(seed), *public_key};
}

std::optional<std::string> sign_text(std::string_view private_key, std::string_view message) {
  const Key key = private_key_from(private_key);
  const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  if (!key || !context) return std::nullopt;
  std::string signature(64, '\0');
  std::size_t size = signature.size();
  // Ed25519 signs the message itself: no digest is named.
  if (EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    return std::nullopt;
  }
  signature.resize(size);
  return base64_encode(signature);
}

std::optional<std::string> public_key_of(std::string_view private_key) {
  const Key key = private_key_from(private_key);
  if (!key) return std::nullopt;
  return raw_public(key.get());
}

}  // namespace tarvel
