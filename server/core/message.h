// Server messages (what the protocol sends as EED tokens) and the one error type that every
// server layer throws: it carries the server's message number, severity and state.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tabsrv {

// A message as the client sees it; the writer adds the server name.
struct ServerMessage {
  int32_t number = 0;
  uint8_t state = 1;
  uint8_t severity = 10;
  std::string text;
  std::string procedure;
  uint16_t line = 1;
};

// An error with the server's message number: parse errors (102), unknown objects (208),
// conversions, duplicate keys ... The session turns it into an EED and a DONE with the error bit.
class SqlError : public std::runtime_error {
 public:
  SqlError(int32_t number, uint8_t severity, std::string text, uint8_t state = 1, uint16_t line = 1)
      : std::runtime_error(text), number_(number), severity_(severity), state_(state), line_(line) {}

  int32_t number() const { return number_; }
  uint8_t severity() const { return severity_; }
  uint8_t state() const { return state_; }
  uint16_t line() const { return line_; }
  void setLine(uint16_t line) { line_ = line; }

  ServerMessage toMessage(const std::string& procedure = {}) const {
    return ServerMessage{number_, state_, severity_, what(), procedure, line_};
  }

 private:
  int32_t number_;
  uint8_t severity_;
  uint8_t state_;
  uint16_t line_;
};

}  // namespace tabsrv
