#include "platform/posix/posix_echo.hpp"

#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace tarvel {
namespace {

class PosixEchoSocket final : public EchoSocket {
 public:
  explicit PosixEchoSocket(int fd) : fd_(fd) {}
  ~PosixEchoSocket() override { close(); }

  bool send_to(const Ipv4Address& destination, std::span<const std::uint8_t> packet) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = 0;
    std::memcpy(&to.sin_addr, destination.data(), destination.size());
    const ssize_t sent = ::sendto(fd_, packet.data(), packet.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(packet.size());
  }

  bool wait_readable(int timeout_ms) override {
    if (fd_ < 0 || fd_ >= FD_SETSIZE) return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd_, &readable);
    timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return ::select(fd_ + 1, &readable, nullptr, nullptr, &timeout) > 0;
  }

  long receive(std::span<std::uint8_t> buffer) override {
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    return ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                      &from_size);
  }

  bool close() override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<EchoSocket> PosixEchoSockets::open() {
  int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixEchoSocket>(fd);
}

}  // namespace tarvel
