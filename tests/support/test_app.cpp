#include "tests/support/test_app.hpp"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

namespace tarvel::testing {

std::optional<Ipv4Address> OnlineSwitch::resolve(const std::string& host) {
  (void)host;
  std::lock_guard lock(mutex_);
  ++lookups_;
  const bool online = answers_.empty() || answers_.front();
  if (answers_.size() > 1) answers_.pop_front();
  if (!online) return std::nullopt;
  return Ipv4Address{127, 0, 0, 1};
}

std::optional<Ipv4Address> LoopbackResolver::resolve(const std::string& host) {
  if (host == "localhost") return Ipv4Address{127, 0, 0, 1};
  in_addr literal{};
  if (::inet_pton(AF_INET, host.c_str(), &literal) != 1) return std::nullopt;
  Ipv4Address address{};
  std::memcpy(address.data(), &literal, address.size());
  if (address[0] != 127) return std::nullopt;
  return address;
}

void use_connections_from_environment(Settings& settings) {
  const char* count = std::getenv("TARVEL_TEST_CONNECTIONS");
  if (count != nullptr && std::atoi(count) > 0) settings.set_max_connections(std::atoi(count));
}

TransferPolicy quick_retries() {
  TransferPolicy policy;
  policy.first_pause = std::chrono::milliseconds(5);
  return policy;
}

}  // namespace tarvel::testing

// The loopback servers' HTTP library comes prebuilt, without ThreadSanitizer's
// instrumentation: what its threads share is invisible to the sanitizer, which
// then reports races between their copies of the same request data. Accesses
// made from inside that library are left out; everything of ours is checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
