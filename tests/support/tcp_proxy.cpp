// The loopback TCP proxy of the tests: one thread polls the listening socket, a wake-up pipe
// and both ends of every connection, copying bytes across until a cut is asked for.
#include "tests/support/tcp_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace tabtest {

namespace {
void CloseFd(int& fd) {
  if (fd >= 0) {
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
  }
  fd = -1;
}

// Writes all of Data to Fd (blocking); false when the peer is gone.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}
}  // namespace

TcpProxy::TcpProxy(int targetPort) : targetPort_(targetPort) {
  listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listen_ < 0) throw std::runtime_error("proxy: socket failed");
  const int one = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_, 16) != 0) {
    CloseFd(listen_);
    throw std::runtime_error("proxy: bind/listen failed");
  }
  socklen_t len = sizeof addr;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  if (::pipe(wake_) != 0) {
    CloseFd(listen_);
    throw std::runtime_error("proxy: pipe failed");
  }
  thread_ = std::thread([this] { Run(); });
}

TcpProxy::~TcpProxy() {
  stop_ = true;
  const char c = 's';
  (void)!::write(wake_[1], &c, 1);
  if (thread_.joinable()) thread_.join();
  CloseAll();
  CloseFd(listen_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void TcpProxy::CutAll() {
  cutNow_ = true;
  const char c = 'c';
  (void)!::write(wake_[1], &c, 1);
  // Returns once the proxy thread has closed what it carried.
  while (cutNow_.load()) std::this_thread::yield();
}

void TcpProxy::CutAfterTargetBytes(size_t bytes) {
  cutBudget_ = static_cast<long long>(bytes);
}

void TcpProxy::CloseAll() {
  for (Pair& p : pairs_) {
    CloseFd(p.client);
    CloseFd(p.target);
  }
  pairs_.clear();
}

void TcpProxy::Run() {
  std::vector<char> buffer(65536);
  while (!stop_) {
    std::vector<pollfd> fds;
    fds.push_back({wake_[0], POLLIN, 0});
    fds.push_back({listen_, POLLIN, 0});
    for (const Pair& p : pairs_) {
      fds.push_back({p.client, POLLIN, 0});
      fds.push_back({p.target, POLLIN, 0});
    }
    // A bounded wait, so a missed wake-up never stalls a stop or a cut for long.
    if (::poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      char drain[16];
      (void)!::read(wake_[0], drain, sizeof drain);
    }
    if (stop_) break;
    if (cutNow_) {
      CloseAll();
      cutNow_ = false;
      continue;
    }
    if (fds[1].revents & POLLIN) {
      const int client = ::accept(listen_, nullptr, nullptr);
      if (client >= 0) {
        const int target = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(uint16_t(targetPort_));
        if (target >= 0 && ::connect(target, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
          const int one = 1;
          ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          ::setsockopt(target, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          pairs_.push_back({client, target});
        } else {
          int c = client, t = target;
          CloseFd(c);
          CloseFd(t);
        }
      }
    }
    // Copy what arrived; a closed end closes its pair.
    bool cut = false;
    std::vector<Pair> alive;
    // Only the pairs that were polled; one accepted just now waits for the next round.
    const size_t polled = (fds.size() - 2) / 2;
    for (size_t i = polled; i < pairs_.size(); ++i) alive.push_back(pairs_[i]);
    for (size_t i = 0; i < polled; ++i) {
      Pair p = pairs_[i];
      const pollfd& fc = fds[2 + 2 * i];
      const pollfd& ft = fds[3 + 2 * i];
      bool open = true;
      if (open && (fc.revents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = ::recv(p.client, buffer.data(), buffer.size(), 0);
        open = n > 0 && WriteAll(p.target, buffer.data(), size_t(n));
      }
      if (open && (ft.revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t n = ::recv(p.target, buffer.data(), buffer.size(), 0);
        if (n > 0) {
          const long long budget = cutBudget_.load();
          if (budget >= 0 && n >= budget) {
            // Pass on what the budget allows, then cut everything.
            n = ssize_t(budget);
            cut = true;
          } else if (budget >= 0) {
            cutBudget_ = budget - n;
          }
          targetBytes_ += size_t(n);
          open = (n == 0 || WriteAll(p.client, buffer.data(), size_t(n))) && !cut;
        } else {
          open = false;
        }
      }
      if (open) {
        alive.push_back(p);
      } else {
        CloseFd(p.client);
        CloseFd(p.target);
      }
    }
    pairs_.swap(alive);
    if (cut) {
      cutBudget_ = -1;
      CloseAll();
    }
  }
}

void AddServerEntry(const std::string& configPath, const std::string& interfacesPath, const std::string& name,
                    int port) {
  {
    std::ofstream conf(configPath, std::ios::app);
    conf << "\n[" << name << "]\n"
         << "\thost = 127.0.0.1\n"
         << "\tport = " << port << "\n"
         << "\ttds version = 5.0\n"
         << "\tclient charset = UTF-8\n\n";
  }
  std::ofstream ifile(interfacesPath, std::ios::app);
  ifile << name << "\n\tmaster tcp ether 127.0.0.1 " << port << "\n\tquery tcp ether 127.0.0.1 " << port << "\n\n";
}

}  // namespace tabtest
