// The listener: accepts loopback connections and runs each one as a Connection on its own
// thread, which closes its socket when it ends; stop() closes the listener, shuts every session's
// socket and joins every thread (or, past its deadline, leaves the stuck ones behind).
#pragma once

#include <atomic>
#include <chrono>
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
  // Connections served at once, logged in or still logging in; one more is closed at accept.
  // The configured "number of user connections" limits logged-in sessions below this (its
  // highest value leaves the room of maxLoggingIn).
  size_t maxConnections = kMostSessions + kMostLoggingIn;
  // Connections still logging in: when one more arrives, the oldest of them is closed, so
  // connections that never log in can neither fill the server nor keep new logins out.
  size_t maxLoggingIn = kMostLoggingIn;
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
  // With a deadline, returns false once it has passed with threads still running (a statement
  // that never looks at its cancel flag); those threads are detached and the caller exits.
  bool stop(std::chrono::milliseconds deadline = std::chrono::milliseconds(-1));
  // Sessions whose thread is still running.
  size_t activeConnections();

 private:
  struct Live {
    std::unique_ptr<TcpSocket> socket;
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<bool> loggedIn{false};
    bool evicted = false;  // closed to make room for a newer connection still logging in
    std::chrono::steady_clock::time_point accepted = std::chrono::steady_clock::now();
  };

  void acceptLoop();
  void reapFinished();
  // Closes the oldest connection still logging in when maxLoggingIn of them are open.
  void makeRoomForLogin();

  Engine& engine_;
  LogFn log_;
  ServerConfig config_;
  std::unique_ptr<TcpListener> listener_;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::list<std::unique_ptr<Live>> live_;
  std::list<std::unique_ptr<Live>> abandoned_;  // threads stop() gave up waiting for
  int port_ = 0;
  bool started_ = false;
};

}  // namespace tabsrv::tds
