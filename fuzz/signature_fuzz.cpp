// Update keys and signatures as Config.xml and a server give them: the
// first line is the key, the second the signature, the rest the message.
// Malformed base64 is a refusal, never a crash or an exception, and what
// decodes encodes back to the same bytes.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_app.hpp"
#include "update/sums.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  const std::string_view text = fuzzing::text_of(data, size);
  const auto first = text.find('\n');
  const std::string_view key = text.substr(0, first);
  const std::string_view rest = first == std::string_view::npos ? "" : text.substr(first + 1);
  const auto second = rest.find('\n');
  const std::string_view signature = rest.substr(0, second);
  const std::string_view message = second == std::string_view::npos ? "" : rest.substr(second + 1);
  for (const std::string_view part : {key, signature, text}) {
    if (const auto bytes = base64_decode(part)) {
      if (base64_decode(base64_encode(*bytes)) != bytes) {
        std::fprintf(stderr, "base64 does not round-trip\n");
        std::abort();
      }
    }
  }
  if (signature_valid(key, message, signature) && !public_key_valid(key)) {
    std::fprintf(stderr, "a signature valid for no key\n");
    std::abort();
  }
  return 0;
}
