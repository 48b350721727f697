// The Content-Range header of a partial answer on any text: no crash, and a
// first byte is read only from a "bytes " range.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_app.hpp"
#include "platform/curl/curl_transfer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = tarvel::fuzzing::text_of(data, size);
  const std::int64_t first = tarvel::content_range_start(text);
  if (first != -1 && !text.starts_with("bytes ")) {
    std::fprintf(stderr, "a first byte from a header that is no byte range\n");
    std::abort();
  }
  return 0;
}
