// The movie-script parser on any text.
#include "fuzz/fuzz_app.hpp"
#include "platform/headless/movie_script.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tarvel::MovieScript script =
      tarvel::parse_movie_script(tarvel::fuzzing::text_of(data, size));
  for (const tarvel::MovieRule& rule : script.rules) {
    if (rule.occurrence < 0) std::abort();
  }
  return 0;
}
