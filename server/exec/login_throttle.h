// Slowing a client that guesses passwords: failed logins from one address are answered after a
// delay that grows with each further failure (none for the first few), and the count is forgotten
// after a quiet minute or a successful login from that address. A correct login is never delayed.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace tabsrv {

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  // Failures answered at once; the next waits kFirstDelay, and each later one twice as long,
  // up to kLongestDelay. Counts older than kForgetAfter are dropped.
  static constexpr int kFreeFailures = 3;
  static constexpr std::chrono::milliseconds kFirstDelay{100};
  static constexpr std::chrono::milliseconds kLongestDelay{3000};
  static constexpr std::chrono::seconds kForgetAfter{60};

  // Counts a failed login from `address` ("127.0.0.1:53422" or "127.0.0.1": the port is left
  // out) and returns how long to hold back its answer.
  std::chrono::milliseconds failed(const std::string& address, Clock::time_point now = Clock::now());
  // A successful login from `address`: its failures are forgotten.
  void succeeded(const std::string& address);

 private:
  struct Failures {
    int count = 0;
    Clock::time_point last;
  };
  static std::string host(const std::string& address);
  std::mutex mutex_;
  std::map<std::string, Failures> failures_;
};

}  // namespace tabsrv
