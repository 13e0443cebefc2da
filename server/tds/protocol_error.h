// The protocol layer's one exception: why a session cannot go on (the client went away, it sent
// a packet that breaks the rules, it fell silent inside a packet, or the server is stopping).
#pragma once

#include <stdexcept>
#include <string>

namespace tabsrv::tds {

// Ends a session; the connection logs kindText() and the reason.
class ProtocolError : public std::runtime_error {
 public:
  enum class Kind { ClientClosed, BadPacket, Timeout, Shutdown };

  ProtocolError(Kind kind, const std::string& reason) : std::runtime_error(reason), kind_(kind) {}

  Kind kind() const { return kind_; }

  // The end reason as the session log writes it: "client closed", "bad packet: <why>" ...
  std::string logText() const {
    switch (kind_) {
      case Kind::ClientClosed:
        return "client closed";
      case Kind::BadPacket:
        return std::string("bad packet: ") + what();
      case Kind::Timeout:
        return std::string("timeout: ") + what();
      case Kind::Shutdown:
        return "server shutdown";
    }
    return what();
  }

 private:
  Kind kind_;
};

}  // namespace tabsrv::tds
