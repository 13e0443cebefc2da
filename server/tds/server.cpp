// The listener's threads: one accept thread, one thread per connection. A connection thread
// only ever touches its own Live entry (the finished flag); the accept thread reaps finished
// entries, and stop() joins the rest after the accept thread has ended.
#include "server/tds/server.h"

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
    auto live = std::make_unique<Live>();
    live->socket = std::move(socket);
    Live* entry = live.get();
    std::lock_guard lock(mutex_);
    if (stopping_) break;
    live_.push_back(std::move(live));
    entry->thread = std::thread([this, entry] {
      try {
        Connection connection(*entry->socket, engine_, log_, config_.connection, &stopping_);
        connection.run();
      } catch (...) {
        // Connection::run never throws; this guards the thread against the impossible.
      }
      entry->socket->shutdown();
      entry->finished = true;
    });
  }
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

void Server::stop() {
  if (!started_ || stopping_.exchange(true)) return;
  listener_->close();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::list<std::unique_ptr<Live>> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(live_);
  }
  for (auto& entry : all) entry->socket->shutdown();
  for (auto& entry : all)
    if (entry->thread.joinable()) entry->thread.join();
}

size_t Server::activeConnections() {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (auto& entry : live_)
    if (!entry->finished) ++n;
  return n;
}

}  // namespace tabsrv::tds
