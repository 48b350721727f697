// The analysis of the request service's answer to a login, on any answer.
#include "fuzz/fuzz_app.hpp"
#include "server/login_request.hpp"

namespace {

// The request service, answering with the input.
struct AnsweringPost final : tarvel::HttpPost {
  std::string answer;
  tarvel::PostAnswer exchange(const std::string&, const std::string&) override {
    return {answer, 200, {}};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  static AnsweringPost service;
  static testing::TestApp t;
  static App app(t.services_with([](Services& s) { s.http_post = &service; }));
  static const bool ready = [] {
    app.settings().set_application_directory(t.dir.path() + "/");
    app.settings().set_selected_language("en");
    t.dir.write("app-popup/abb_language.xml",
                "<lang_menu>\n<menu name=\"en\" lang=\"lang/en/\"></menu>\n</lang_menu>\n");
    return true;
  }();
  (void)ready;
  service.answer.assign(fuzzing::text_of(data, size));
  ServerRequest request;
  (void)send_login_request(app, request);
  return 0;
}
