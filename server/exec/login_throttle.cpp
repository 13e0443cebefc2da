// The per-address count of failed logins, the turns of attempts at one name, and the delays they
// give.
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

std::chrono::milliseconds LoginThrottle::delayFor(int beyond) {
  if (beyond <= 0) return std::chrono::milliseconds(0);
  auto delay = kFirstDelay;
  for (int i = 1; i < beyond && delay < kLongestDelay; ++i) delay *= 2;
  return std::min(delay, kLongestDelay);
}

void LoginThrottle::forgetOld(Clock::time_point now) {
  // Old counts go, so the table stays small whatever the number of addresses.
  for (auto it = failures_.begin(); it != failures_.end();)
    it = now - it->second.last > kForgetAfter ? failures_.erase(it) : std::next(it);
}

std::optional<std::chrono::milliseconds> LoginThrottle::turn(const std::string& address,
                                                             const std::string& login,
                                                             Clock::time_point now) {
  std::lock_guard lock(mutex_);
  forgetOld(now);
  Failures& f = failures_[host(address)];
  f.last = now;
  if (f.byName.size() >= kNamesKept && !f.byName.count(login)) return std::chrono::milliseconds(0);
  Name& n = f.byName[login];
  // Once the name has failed its free times, the attempts still being checked count as failures
  // to come, so a burst of guesses is paced as a row of them would be. Before that nothing is
  // paced: many connections logging in at once with the right password (a pool) all go ahead.
  const int beyond = n.failures < kFreeFailures ? 0 : n.failures + n.checking + 1 - kFreeFailures;
  if (beyond <= 0) {
    ++n.checking;
    return std::chrono::milliseconds(0);
  }
  // A queue of guesses waiting for their turns would keep a thread each; past one longest delay
  // the attempt is turned away unchecked.
  const Clock::time_point start = std::max(now, n.nextTurn);
  if (start - now > kLongestDelay) return std::nullopt;
  ++n.checking;
  n.nextTurn = start + delayFor(beyond);
  return std::chrono::duration_cast<std::chrono::milliseconds>(start - now);
}

std::chrono::milliseconds LoginThrottle::failed(const std::string& address, const std::string& login,
                                                Clock::time_point now) {
  std::lock_guard lock(mutex_);
  forgetOld(now);
  Failures& f = failures_[host(address)];
  f.last = now;
  // The names of one address are few unless someone sprays them; the total counts them all.
  if (f.byName.size() < kNamesKept || f.byName.count(login)) {
    Name& n = f.byName[login];
    ++n.failures;
    if (n.checking > 0) --n.checking;
  }
  return delayFor(++f.count - kFreeFailures);
}

void LoginThrottle::succeeded(const std::string& address, const std::string& login) {
  std::lock_guard lock(mutex_);
  auto it = failures_.find(host(address));
  if (it == failures_.end()) return;
  Failures& f = it->second;
  auto mine = f.byName.find(login);
  if (mine == f.byName.end()) return;
  f.count -= mine->second.failures;
  mine->second.failures = 0;
  if (mine->second.checking > 0) --mine->second.checking;
  // Other attempts at the name still being checked keep its entry (and their turns).
  if (mine->second.checking == 0) f.byName.erase(mine);
  if (f.count <= 0 && f.byName.empty()) failures_.erase(it);
}

}  // namespace tabsrv
