// A small TCP proxy on a loopback port that carries connections to a target port and can cut
// them: at once, or once the target has sent a given number of bytes. Tests route a connection
// through it to see what a lost network does mid-fetch or mid-apply.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tabtest {

class TcpProxy {
 public:
  // Listens on 127.0.0.1 (a free port) and forwards every accepted connection to TargetPort.
  explicit TcpProxy(int targetPort);
  // Stops the proxy and closes every connection.
  ~TcpProxy();
  TcpProxy(const TcpProxy&) = delete;
  TcpProxy& operator=(const TcpProxy&) = delete;

  int port() const { return port_; }
  // Closes every connection carried now, both ends; new connections are still accepted.
  void CutAll();
  // Cuts every connection once the target has sent Bytes more bytes (counted over all
  // connections from now on); the bytes past that point are not passed on.
  void CutAfterTargetBytes(size_t bytes);
  // Bytes the target has sent through the proxy so far.
  size_t TargetBytes() const { return targetBytes_.load(); }

 private:
  struct Pair {
    int client = -1;
    int target = -1;
  };
  void Run();
  void CloseAll();

  int listen_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  int targetPort_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> cutNow_{false};
  std::atomic<long long> cutBudget_{-1};  // bytes still passed before the cut; -1: none planned
  std::atomic<size_t> targetBytes_{0};
  std::vector<Pair> pairs_;
  std::thread thread_;
};

// Adds a server entry Name for 127.0.0.1:Port to the test configuration and interfaces files
// that the fixture wrote (FREETDSCONF and $SYBASE/interfaces), so a connection can name it.
void AddServerEntry(const std::string& configPath, const std::string& interfacesPath, const std::string& name,
                    int port);

}  // namespace tabtest
