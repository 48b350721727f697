// The external-interface request parser and the addText builder on any text.
#include "flash/codec.hpp"
#include "fuzz/fuzz_app.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  const std::string_view text = fuzzing::text_of(data, size);
  const ParsedRequest parsed = parse_request(widen(text));
  // Every byte survives the trip to the movie and back.
  if (narrow(widen(text)) != text) std::abort();
  const ParsedRequest again = parse_request(widen(build_invoke(parsed.name, parsed.arguments)));
  (void)again;
  (void)parse_request(build_add_text_call(text));
  // Wide input with units above one byte.
  std::u16string wide(size / 2, u'\0');
  for (std::size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  (void)parse_request(wide);
  return 0;
}
