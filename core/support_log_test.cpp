#include "core/support_log.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "core/failure_words.hpp"

namespace tarvel {
namespace {

TEST(SupportLogTest, NoSecretCredentialOrTicketSurvivesALine) {
  const std::vector<std::string> secrets = {"hunter22", "hunter22-long", "demo"};
  const struct {
    const char* line;
    const char* written;
  } cases[] = {
      {"login of player with hunter22-long", "login of player with ***"},
      {"said hunter22 twice: hunter22", "said *** twice: ***"},
      {"proxy http://user:pa@ss@proxy:3128/ in use", "proxy http://***@proxy:3128/ in use"},
      {"http://host/a@b.swf keeps its path", "http://host/a@b.swf keeps its path"},
      {"navigate http://c/cash?ticket=A1B2&user=p", "navigate http://c/cash?ticket=***&user=p"},
      {"a line\nforged: error", "a line forged: error"},
      {"/home/demo/casino: short ones stay", "/home/demo/casino: short ones stay"},
  };
  for (const auto& c : cases) EXPECT_EQ(without_secrets(c.line, secrets), c.written) << c.line;
}

TEST(SupportLogTest, ACauseIsSaidOnceOnStandardErrorAndAFactGoesToTheLogAlone) {
  struct Lines final : LogFile {
    void append(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
  } file;
  SupportLog log("tarvel", &file);
  log.keep_secret("pa55word");
  ::testing::internal::CaptureStderr();
  log.note("login with pa55word");
  log.cause("http://h/a.xml: 404 Not Found");
  log.cause("http://h/a.xml: 404 Not Found");  // the player's retry
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tarvel: http://h/a.xml: 404 Not Found\n");
  EXPECT_EQ(file.lines, (std::vector<std::string>{"login with ***",
                                                  "error: http://h/a.xml: 404 Not Found",
                                                  "error again: http://h/a.xml: 404 Not Found"}));
}

TEST(FailureWordsTest, NameTheAddressOrTheFileAndTheCause) {
  using Kind = FailureCause::Kind;
  const std::string a = "http://h/a.xml";
  const struct {
    FailureCause cause;
    std::string address;
    std::string line;
  } cases[] = {
      {{.kind = Kind::status, .status = 503}, a, a + ": 503 Service Unavailable"},
      {{.kind = Kind::status, .status = 599}, a, a + ": HTTP status 599"},
      {{.kind = Kind::name_not_resolved}, a, a + ": name does not resolve"},
      {{.kind = Kind::timed_out}, a, a + ": no answer in time"},
      {{.kind = Kind::unexpected_body}, a,
       a + ": not the file its sums describe (changed on the server without new sums?)"},
      {{.kind = Kind::local_file, .error_number = EDQUOT, .path = "/p/a.xml"}, a,
       "/p/a.xml: disk quota exceeded (fetching " + a + ")"},
      {{.kind = Kind::local_file, .error_number = ENAMETOOLONG, .path = "/p/a"}, a,
       "/p/a: file name too long (fetching " + a + ")"},
      {{.kind = Kind::connection_refused}, "not found", "not found: not an http:// or https:// address"},
      {{.kind = Kind::other, .detail = "curl 77: Problem with the CA cert"}, a,
       a + ": curl 77: Problem with the CA cert"},
  };
  for (const auto& c : cases) EXPECT_EQ(failure_line(c.address, c.cause), c.line);
  EXPECT_EQ(counted(1, "file") + ", " + counted(0, "file") + ", " + counted(2, "byte"),
            "1 file, 0 files, 2 bytes");
}

}  // namespace
}  // namespace tarvel
