#include "platform/curl/system_proxy.hpp"

#include <arpa/inet.h>
#include <proxy.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/curl/curl_setup.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kDirect = "direct://";
constexpr long kProxyAuthenticationRequired = 407;
// What libcurl can speak to a proxy. libproxy answers "socks://" for a SOCKS
// proxy of no stated version; version 5 is what such a setting means today.
constexpr std::array<std::string_view, 6> kUsableSchemes = {
    "http://", "https://", "socks4://", "socks4a://", "socks5://", "socks5h://"};
constexpr std::string_view kSocksOfAnyVersion = "socks://";

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// The authority of an address: what lies between "://" and the path.
std::string_view authority_of(std::string_view address) {
  const auto scheme = address.find("://");
  if (scheme != std::string_view::npos) address.remove_prefix(scheme + 3);
  return address.substr(0, address.find_first_of("/?#"));
}

// The host of an address as libcurl reads it (which is where it connects),
// without IPv6 brackets; "" when libcurl takes it for no address.
std::string host_of(const std::string& address) {
  CURLU* url = curl_url();
  if (url == nullptr) return {};
  std::string host;
  char* part = nullptr;
  if (curl_url_set(url, CURLUPART_URL, address.c_str(),
                   CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
    host = part;
    curl_free(part);
  }
  curl_url_cleanup(url);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return host;
}

// One factory for the program, asked on a thread of its own: it keeps what
// it learnt (a PAC script, the desktop's settings) between lookups, and a
// PAC script that loops or a PAC server that never answers holds that
// thread, never a download or the launcher's exit. Never freed, nor its
// thread ended, as they are needed until the end.
class ProxyFactory {
 public:
  using Clock = std::chrono::steady_clock;

  // The system's answers, or nothing when they did not come within the
  // deadline, or the caller stopped waiting (cancel).
  std::optional<std::vector<std::string>> proxies_for(const std::string& address,
                                                      std::chrono::milliseconds deadline,
                                                      const std::atomic<bool>* cancel) {
    std::unique_lock lock(mutex_);
    if (!thread_started_) {
      std::thread([this] { serve(); }).detach();
      thread_started_ = true;
    }
    // A lookup already over its time holds the factory: no use queueing.
    if (busy_ && Clock::now() - busy_since_ > deadline) return std::nullopt;
    const auto lookup = std::make_shared<Lookup>(Lookup{address, {}, false});
    queue_.push_back(lookup);
    changed_.notify_all();
    const auto until = Clock::now() + deadline;
    while (!lookup->done && Clock::now() < until && !(cancel != nullptr && cancel->load())) {
      changed_.wait_until(lock, std::min(until, Clock::now() + kCancelCheck));
    }
    if (!lookup->done) {
      std::erase(queue_, lookup);
      return std::nullopt;
    }
    return std::move(lookup->answers);
  }

  // Whether a lookup that gave no answer was told on standard error since
  // the factory last answered: once for each time it hangs.
  bool first_to_tell() {
    std::lock_guard lock(mutex_);
    return !std::exchange(told_, true);
  }

 private:
  struct Lookup {
    std::string address;
    std::vector<std::string> answers;
    bool done = false;
  };
  static constexpr auto kCancelCheck = std::chrono::milliseconds(50);

  void serve() {
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [&] { return !queue_.empty(); });
      const std::shared_ptr<Lookup> lookup = queue_.front();
      queue_.pop_front();
      busy_ = true;
      busy_since_ = Clock::now();
      lock.unlock();
      std::vector<std::string> answers = ask_the_system(lookup->address);
      lock.lock();
      lookup->answers = std::move(answers);
      lookup->done = true;
      busy_ = false;
      told_ = false;
      changed_.notify_all();
    }
  }

  // On the factory's thread only.
  std::vector<std::string> ask_the_system(const std::string& address) {
    if (factory_ == nullptr) factory_ = px_proxy_factory_new();
    std::vector<std::string> answers;
    if (factory_ == nullptr) return answers;
    char** list = px_proxy_factory_get_proxies(factory_, address.c_str());
    for (char** p = list; p != nullptr && *p != nullptr; ++p) answers.emplace_back(*p);
    if (list != nullptr) px_proxy_factory_free_proxies(list);
    return answers;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Lookup>> queue_;
  bool thread_started_ = false;
  bool busy_ = false;
  bool told_ = false;
  Clock::time_point busy_since_{};
  pxProxyFactory* factory_ = nullptr;  // the factory's thread alone touches it
};

// The system's settings failing to answer is no download's failure, so no
// cause of one carries it: it is said here, once.
void tell(const std::string& message) { std::fprintf(stderr, "tarvel: %s\n", message.c_str()); }

ProxyFactory& factory() {
  static ProxyFactory* const instance = new ProxyFactory;
  return *instance;
}

}  // namespace

bool is_loopback_address(std::string_view address) {
  const std::string host = lower(host_of(std::string(address)));
  if (host == "localhost" || host == "localhost.") return true;
  unsigned char bytes[16] = {};
  if (inet_pton(AF_INET, host.c_str(), bytes) == 1) return bytes[0] == 127;
  if (inet_pton(AF_INET6, host.c_str(), bytes) == 1) {
    const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::equal(std::begin(bytes), std::end(bytes), std::begin(loopback));
  }
  return false;
}

std::string first_usable_proxy(const std::vector<std::string>& answers) {
  for (const std::string& answer : answers) {
    if (lower(answer) == kDirect) return {};
    if (starts_with_no_case(answer, kSocksOfAnyVersion) &&
        answer.size() > kSocksOfAnyVersion.size()) {
      return "socks5://" + answer.substr(kSocksOfAnyVersion.size());
    }
    for (std::string_view scheme : kUsableSchemes) {
      if (starts_with_no_case(answer, scheme) && answer.size() > scheme.size()) return answer;
    }
  }
  return {};
}

std::string without_credentials(std::string_view proxy) {
  const std::string_view authority = authority_of(proxy);
  const auto at = authority.rfind('@');
  if (at == std::string_view::npos) return std::string(proxy);
  const auto start = static_cast<std::size_t>(authority.data() - proxy.data());
  return std::string(proxy.substr(0, start)) + std::string(proxy.substr(start + at + 1));
}

std::string system_proxy_for(const std::string& address, const std::atomic<bool>* cancel,
                             std::chrono::milliseconds deadline) {
  if (is_loopback_address(address)) return {};
  const auto answers = factory().proxies_for(address, deadline, cancel);
  if (answers) return first_usable_proxy(*answers);
  // A launcher that is ending has no one to tell.
  if (!(cancel != nullptr && cancel->load()) && factory().first_to_tell()) {
    tell("the system's proxy settings gave no answer for " + host_of(address) + " within " +
         std::to_string(deadline.count()) + " ms: going direct while they give none");
  }
  return {};
}

std::string use_system_proxy(CURL* curl, const std::string& address,
                             const std::atomic<bool>* cancel) {
  std::string proxy = system_proxy_for(address, cancel);
  // Set even when empty: an empty proxy keeps libcurl from reading the
  // environment's variables itself, past the exemptions above.
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
  return proxy;
}

bool proxy_refused_credentials(CURL* curl, const std::string& proxy) {
  if (proxy.empty()) return false;
  long status = 0;
  long tunnel_status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &tunnel_status);
  return status == kProxyAuthenticationRequired || tunnel_status == kProxyAuthenticationRequired;
}

}  // namespace tarvel
