// Starts the built tabulon-server on a free loopback port with a fresh data directory, writes a
// freetds.conf (entries DSQUERY and TABULON, TDS 5.0, UTF-8) and an interfaces file naming it,
// points FreeTDS at them through FREETDSCONF and SYBASE, and stops the server when destroyed.
#pragma once

#include <string>
#include <sys/types.h>

namespace tabtest {

class ServerFixture {
 public:
  // Starts a server on a new, empty data directory; throws std::runtime_error when it cannot.
  ServerFixture();
  // Stops the server (SIGTERM) and removes the data directory.
  ~ServerFixture();
  ServerFixture(const ServerFixture&) = delete;
  ServerFixture& operator=(const ServerFixture&) = delete;

  int port() const { return port_; }
  const std::string& dataDir() const { return dataDir_; }
  const std::string& configPath() const { return configPath_; }
  const std::string& interfacesPath() const { return interfacesPath_; }
  const std::string& logPath() const { return logPath_; }
  pid_t pid() const { return pid_; }

  // Stops the server with SIGTERM and waits for it; returns its exit status.
  int stop();
  // Kills the server with SIGKILL (no clean shutdown) and waits for it.
  void kill();
  // Starts the server again on the same data directory (a new port, the files rewritten).
  void start();
  // True while the server process is alive.
  bool running();

  // The path of the server executable the tests were built with.
  static std::string serverPath();

 private:
  void writeConfig();

  std::string baseDir_;
  std::string dataDir_;
  std::string configPath_;
  std::string interfacesPath_;
  std::string logPath_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace tabtest
