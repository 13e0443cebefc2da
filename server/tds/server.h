// The listener: accepts loopback connections and runs each one as a Connection on its own
// thread; stop() closes the listener, shuts every session's socket and joins every thread.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/core/session.h"
#include "server/tds/connection.h"
#include "server/tds/tcp_socket.h"

namespace tabsrv::tds {

// Where to listen and how sessions behave.
struct ServerConfig {
  std::string address = "127.0.0.1";
  int port = 0;  // 0 = any free port
  ConnectionSettings connection;
};

// A running TDS listener over one Engine.
class Server {
 public:
  Server(Engine& engine, LogFn log, ServerConfig config = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts accepting; throws std::runtime_error when the port cannot be bound.
  void start();
  // The bound port (after start()).
  int port() const { return port_; }
  // Stops accepting, ends every session ("server shutdown") and joins all threads. Idempotent.
  void stop();
  // Sessions whose thread is still running.
  size_t activeConnections();

 private:
  struct Live {
    std::unique_ptr<TcpSocket> socket;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void acceptLoop();
  void reapFinished();

  Engine& engine_;
  LogFn log_;
  ServerConfig config_;
  std::unique_ptr<TcpListener> listener_;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::list<std::unique_ptr<Live>> live_;
  int port_ = 0;
  bool started_ = false;
};

}  // namespace tabsrv::tds
