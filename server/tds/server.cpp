// The listener's threads: one accept thread, one thread per connection. A connection thread
// only ever touches its own Live entry (the finished flag); the accept thread reaps finished
// entries, and stop() joins the rest after the accept thread has ended.
#include "server/tds/server.h"

#include <system_error>

namespace tabsrv::tds {

Server::Server(Engine& engine, LogFn log, ServerConfig config)
    : engine_(engine), log_(std::move(log)), config_(std::move(config)) {}

Server::~Server() {
  stop();
}

void Server::start() {
  if (started_) return;
  listener_ = std::make_unique<TcpListener>(config_.address, config_.port);
  port_ = listener_->port();
  started_ = true;
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

void Server::acceptLoop() {
  while (!stopping_) {
    std::unique_ptr<TcpSocket> socket = listener_->accept();
    if (!socket) break;
    reapFinished();
    makeRoomForLogin();
    if (activeConnections() >= config_.maxConnections) {
      log_("connection from " + socket->peerAddress() +
           " refused: " + std::to_string(config_.maxConnections) + " connections open");
      continue;
    }
    auto live = std::make_unique<Live>();
    live->socket = std::move(socket);
    Live* entry = live.get();
    std::lock_guard lock(mutex_);
    if (stopping_) break;
    live_.push_back(std::move(live));
    auto serve = [this, entry] {
      try {
        Connection connection(*entry->socket, engine_, log_, config_.connection, &stopping_);
        connection.onLoggedIn([entry] { entry->loggedIn = true; });
        connection.run();
      } catch (...) {
        // Connection::run never throws; this guards the thread against the impossible.
      }
      // The socket closes now, not when the entry is reaped at some later accept.
      std::unique_ptr<TcpSocket> closing;
      {
        std::lock_guard lock(mutex_);
        closing = std::move(entry->socket);
      }
      if (closing) closing->shutdown();
      closing.reset();
      entry->finished = true;
    };
    try {
      entry->thread = std::thread(serve);
    } catch (const std::system_error& e) {
      // No thread for it (the process's thread limit): the connection closes, the server goes on.
      log_("connection from " + entry->socket->peerAddress() + " refused: no thread (" + e.what() + ")");
      entry->socket->shutdown();
      entry->finished = true;
    }
  }
}

void Server::makeRoomForLogin() {
  std::lock_guard lock(mutex_);
  Live* oldest = nullptr;
  size_t loggingIn = 0;
  for (auto& entry : live_) {
    if (entry->finished || entry->loggedIn || entry->evicted) continue;
    ++loggingIn;
    if (!oldest || entry->accepted < oldest->accepted) oldest = entry.get();
  }
  if (loggingIn < config_.maxLoggingIn || !oldest || !oldest->socket) return;
  oldest->evicted = true;
  log_("connection from " + oldest->socket->peerAddress() + " closed: " + std::to_string(loggingIn) +
       " connections still logging in, the oldest makes room for a new one");
  oldest->socket->shutdown();
}

void Server::reapFinished() {
  std::list<std::unique_ptr<Live>> done;
  {
    std::lock_guard lock(mutex_);
    for (auto it = live_.begin(); it != live_.end();) {
      if ((*it)->finished) {
        done.push_back(std::move(*it));
        it = live_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& entry : done) entry->thread.join();
}

bool Server::stop(std::chrono::milliseconds deadline) {
  if (!started_ || stopping_.exchange(true)) return true;
  listener_->close();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::list<std::unique_ptr<Live>> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(live_);
    for (auto& entry : all)
      if (entry->socket) entry->socket->shutdown();
  }
  auto until = std::chrono::steady_clock::now() + deadline;
  bool clean = true;
  for (auto& entry : all) {
    if (!entry->thread.joinable()) continue;
    if (deadline.count() >= 0) {
      while (!entry->finished && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!entry->finished) {
        // The thread still uses its entry, which must outlive it: the caller is about to end
        // the process. The entry is kept (and freed with the Server) rather than leaked.
        entry->thread.detach();
        abandoned_.push_back(std::move(entry));
        clean = false;
        continue;
      }
    }
    entry->thread.join();
  }
  return clean;
}

size_t Server::activeConnections() {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  // A connection closed to make room is on its way out and takes no place.
  for (auto& entry : live_)
    if (!entry->finished && !entry->evicted) ++n;
  return n;
}

}  // namespace tabsrv::tds
