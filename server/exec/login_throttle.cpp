// The per-address count of failed logins and the delay it gives.
#include "server/exec/login_throttle.h"

#include <algorithm>

namespace tabsrv {

std::string LoginThrottle::host(const std::string& address) {
  // "host:port", "[v6]:port", or a bare host.
  if (!address.empty() && address.front() == '[') return address.substr(0, address.find(']') + 1);
  size_t colon = address.rfind(':');
  if (colon == std::string::npos || address.find(':') != colon) return address;
  return address.substr(0, colon);
}

std::chrono::milliseconds LoginThrottle::failed(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  // Old counts go, so the table stays small whatever the number of addresses.
  for (auto it = failures_.begin(); it != failures_.end();)
    it = now - it->second.last > kForgetAfter ? failures_.erase(it) : std::next(it);
  Failures& f = failures_[host(address)];
  f.last = now;
  const int beyond = ++f.count - kFreeFailures;
  if (beyond <= 0) return std::chrono::milliseconds(0);
  auto delay = kFirstDelay;
  for (int i = 1; i < beyond && delay < kLongestDelay; ++i) delay *= 2;
  return std::min(delay, kLongestDelay);
}

void LoginThrottle::succeeded(const std::string& address) {
  std::lock_guard lock(mutex_);
  failures_.erase(host(address));
}

}  // namespace tabsrv
