#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace dovu::test {

Pty::Pty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  char name[128];
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    closeMaster();
    return;
  }
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  slave_ = QString::fromLocal8Bit(name);
}

Pty::~Pty() { closeMaster(); }

void Pty::closeMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool Pty::write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    pollfd p{master_, POLLOUT, 0};
    if (::poll(&p, 1, 5000) <= 0 || !(p.revents & POLLOUT)) return false;
  }
  return true;
}

std::string Pty::read(std::size_t n, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string out;
  char buf[4096];
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
    if (r > 0) out.append(buf, static_cast<std::size_t>(r));
    else if (r == 0 || (errno != EAGAIN && errno != EINTR)) break;
  }
  return out;
}

}  // namespace dovu::test
