// Slowing a client that guesses passwords: failed logins from one address are answered after a
// delay that grows with each further failure (none for the first few), whatever login names they
// try. Once a login name has failed its free times from one address, its attempts from there,
// those still being checked included, have their passwords checked one per delay, so guesses sent
// side by side on many connections are no faster than guesses sent one after another, and a right
// password among them is not told apart sooner than a wrong one. The count is forgotten after a
// quiet minute; a successful login forgets only the failures of its own login name (the user who
// mistyped a password), so a guesser that logs in with a login of its own between guesses gains
// nothing. A correct login of a name that has not failed three times is never delayed.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
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

  // An attempt as `login` from `address` ("127.0.0.1:53422" or "127.0.0.1": the port is left
  // out) is about to have its password checked: returns how long it waits for its turn first,
  // or nothing when its turn is further off than kLongestDelay (the attempt is refused without
  // checking its password, and ends there). Every attempt given a wait is followed by failed()
  // or succeeded().
  std::optional<std::chrono::milliseconds> turn(const std::string& address, const std::string& login,
                                                Clock::time_point now = Clock::now());
  // Counts a failed login as `login` from `address` and returns how long to hold back its answer.
  std::chrono::milliseconds failed(const std::string& address, const std::string& login,
                                   Clock::time_point now = Clock::now());
  // A successful login as `login` from `address`: the failures of that login name are forgotten.
  void succeeded(const std::string& address, const std::string& login);

 private:
  struct Name {
    int failures = 0;            // this name's part of the address's count
    int checking = 0;            // attempts between turn() and failed() or succeeded()
    Clock::time_point nextTurn;  // when the next attempt beyond the free ones may be checked
  };
  struct Failures {
    int count = 0;                       // of every login name
    std::map<std::string, Name> byName;  // the names tried, at most kNamesKept of them
    Clock::time_point last;
  };
  static constexpr size_t kNamesKept = 64;
  static std::string host(const std::string& address);
  static std::chrono::milliseconds delayFor(int beyond);
  void forgetOld(Clock::time_point now);
  std::mutex mutex_;
  std::map<std::string, Failures> failures_;
};

}  // namespace tabsrv
