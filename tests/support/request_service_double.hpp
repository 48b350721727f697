#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace tarvel::testing {

// A request service on 127.0.0.1 and a free port, for the launcher's POSTs.
// It records every request it receives and answers each one with the answer
// set last (200 and an empty body until told otherwise).
class RequestServiceDouble {
 public:
  struct Answer {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
  };

  struct Received {
    std::string method;
    std::string path;
    std::string body;
    std::multimap<std::string, std::string> headers;
  };

  RequestServiceDouble();
  ~RequestServiceDouble();
  RequestServiceDouble(const RequestServiceDouble&) = delete;
  RequestServiceDouble& operator=(const RequestServiceDouble&) = delete;

  [[nodiscard]] int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by the path.
  [[nodiscard]] std::string address(const std::string& path = "/request") const;

  // The answer for every later request to any path, or to this path only.
  void answer(Answer answer);
  void answer(const std::string& path, Answer answer);

  // While held, requests wait inside the service until release() (or until
  // the double goes away): a service that never answers.
  void hold();
  void release();

  [[nodiscard]] std::vector<Received> received() const;

 private:
  void wait_until_running();
  void serve(const std::string& path, const std::string& method, const std::string& body,
             const std::multimap<std::string, std::string>& headers, Answer& out);

  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  Answer default_answer_;
  std::map<std::string, Answer> path_answers_;
  std::vector<Received> received_;
};

// An http:// address on 127.0.0.1 that refuses connections: its port stays
// bound (so no one else takes it) but never listens.
class RefusingAddress {
 public:
  RefusingAddress();
  ~RefusingAddress();
  RefusingAddress(const RefusingAddress&) = delete;
  RefusingAddress& operator=(const RefusingAddress&) = delete;

  [[nodiscard]] std::string address() const;

 private:
  int socket_ = -1;
  int port_ = 0;
};

// How write_config lays the file out: each element on a line of its own,
// and with values_on_own_lines each value too, indented, as an editor's
// pretty-printer leaves it.
enum class ConfigLayout { inline_values, values_on_own_lines };

// Writes the application directory's "Config.xml" with these elements.
void write_config(const std::string& application_directory,
                  const std::vector<std::pair<std::string, std::string>>& elements,
                  ConfigLayout layout = ConfigLayout::inline_values);

// A login answer of the request service's shape: fourteen tokens up to the
// result property, then the result token, then rest.
[[nodiscard]] std::string login_answer(const std::string& result, const std::string& rest);
// What follows the result in an answer that carries the ticket A1B2.
inline constexpr const char* kTicketedRest =
    "<properties name=\"ticket\">A1B2</properties></element></response>\n";

}  // namespace tarvel::testing
