// The in-memory socket: a mutex-guarded queue in each direction with a condition variable so a
// session thread can wait for bytes a test thread feeds later (an attention, for example).
#include "server/tds/memory_socket.h"

#include <chrono>

namespace tabsrv::tds {

void MemorySocket::feed(const Bytes& data) {
  std::lock_guard lock(mutex_);
  input_.insert(input_.end(), data.begin(), data.end());
  changed_.notify_all();
}

void MemorySocket::closeInput() {
  std::lock_guard lock(mutex_);
  inputClosed_ = true;
  changed_.notify_all();
}

Bytes MemorySocket::takeOutput() {
  std::lock_guard lock(mutex_);
  Bytes out;
  out.swap(output_);
  return out;
}

bool MemorySocket::waitForOutput(size_t n, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return output_.size() >= n; });
}

void MemorySocket::failWrites() {
  std::lock_guard lock(mutex_);
  failWrites_ = true;
}

void MemorySocket::failWritesAfter(size_t bytes) {
  std::lock_guard lock(mutex_);
  failAfter_ = bytes;
}

ReadResult MemorySocket::read(uint8_t* buffer, size_t n, int timeoutMs) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return !input_.empty() || inputClosed_ || shut_; };
  if (timeoutMs < 0) {
    changed_.wait(lock, ready);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return {ReadResult::Status::Timeout, 0};
  }
  if (shut_ || input_.empty()) return {ReadResult::Status::Eof, 0};
  size_t count = 0;
  while (count < n && !input_.empty()) {
    buffer[count++] = input_.front();
    input_.pop_front();
  }
  return {ReadResult::Status::Data, count};
}

bool MemorySocket::writeAll(const uint8_t* data, size_t n) {
  std::lock_guard lock(mutex_);
  if (failWrites_ || shut_ || written_ + n > failAfter_) return false;
  written_ += n;
  output_.insert(output_.end(), data, data + n);
  changed_.notify_all();
  return true;
}

bool MemorySocket::readable() {
  std::lock_guard lock(mutex_);
  return !input_.empty() || inputClosed_ || shut_;
}

void MemorySocket::shutdown() {
  std::lock_guard lock(mutex_);
  shut_ = true;
  changed_.notify_all();
}

}  // namespace tabsrv::tds
