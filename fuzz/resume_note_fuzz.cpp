// A resume note on disk as an earlier run (or anyone) left it: no crash, and
// a part is taken up again only for the very address its note names, with a
// version named.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_app.hpp"
#include "platform/posix/posix_file_sink.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  const std::string_view text = fuzzing::text_of(data, size);
  fuzzing::Sandbox& box = fuzzing::sandbox();
  const ResumeNote note = parse_resume_note(text);
  (void)box.files.write(".t.bin.tarvel-resume", std::string(text));
  (void)box.files.write(".t.bin.tarvel-part", "part");
  for (const std::string& address : {note.address, std::string("http://127.0.0.1/t.bin")}) {
    PosixFileSink sink(box.root + "/t.bin", box.root, address);
    const ResumePoint held = sink.resume_point();
    if (held.bytes > 0 && (address.empty() || address != note.address || held.validator.empty())) {
      std::fprintf(stderr, "a part taken up for another address or without a version\n");
      std::abort();
    }
  }
  box.check_and_reset();
  return 0;
}
