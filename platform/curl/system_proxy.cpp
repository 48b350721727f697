#include "platform/curl/system_proxy.hpp"

#include <arpa/inet.h>
#include <proxy.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>

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

// The host of an address, without credentials, port or IPv6 brackets.
std::string_view host_of(std::string_view address) {
  std::string_view host = authority_of(address);
  const auto at = host.rfind('@');
  if (at != std::string_view::npos) host.remove_prefix(at + 1);
  if (host.starts_with('[')) return host.substr(1, host.find(']') - 1);
  return host.substr(0, host.find(':'));
}

// One factory for the program: it keeps what it learnt (a PAC script, the
// desktop's settings) between lookups. Never freed, as it is needed until
// the end.
class ProxyFactory {
 public:
  std::vector<std::string> proxies_for(const std::string& address) {
    std::lock_guard lock(mutex_);
    if (factory_ == nullptr) factory_ = px_proxy_factory_new();
    std::vector<std::string> answers;
    if (factory_ == nullptr) return answers;
    char** list = px_proxy_factory_get_proxies(factory_, address.c_str());
    for (char** p = list; p != nullptr && *p != nullptr; ++p) answers.emplace_back(*p);
    if (list != nullptr) px_proxy_factory_free_proxies(list);
    return answers;
  }

 private:
  std::mutex mutex_;
  pxProxyFactory* factory_ = nullptr;
};

ProxyFactory& factory() {
  static ProxyFactory* const instance = new ProxyFactory;
  return *instance;
}

}  // namespace

bool is_loopback_address(std::string_view address) {
  const std::string host = lower(host_of(address));
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

std::string system_proxy_for(const std::string& address) {
  if (is_loopback_address(address)) return {};
  return first_usable_proxy(factory().proxies_for(address));
}

std::string use_system_proxy(CURL* curl, const std::string& address) {
  std::string proxy = system_proxy_for(address);
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
