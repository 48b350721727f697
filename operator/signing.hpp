#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// An Ed25519 key pair as the tools keep it: base64 of the raw bytes (the
// 32-byte private seed, the 32-byte public key), one line each.
struct KeyPair {
  std::string private_key;
  std::string public_key;
};

// A new key pair; nothing when the crypto library cannot make one.
[[nodiscard]] std::optional<KeyPair> generate_key_pair();

// The signature of message by the private key, base64 of its 64 bytes, as
// launchers read it; nothing when the key is not a private key.
[[nodiscard]] std::optional<std::string> sign_text(std::string_view private_key,
                                                   std::string_view message);

// The public key of a private key; nothing when it is not one.
[[nodiscard]] std::optional<std::string> public_key_of(std::string_view private_key);

}  // namespace tarvel
