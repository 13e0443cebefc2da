// The log writes each line with one fwrite under a mutex and flushes it, so a line is on disk
// before the next statement of a session runs, even if the process is killed afterwards.
#include "server/tds/server_log.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <stdexcept>

namespace tabsrv::tds {

ServerLog::ServerLog(const std::string& path, bool echoToStderr, size_t maxBytes, int keep)
    : path_(path), echo_(echoToStderr), maxBytes_(maxBytes), keep_(keep < 1 ? 1 : keep) {
  if (!path.empty()) {
    file_ = std::fopen(path.c_str(), "a");
    if (!file_) throw std::runtime_error("cannot open the log " + path);
    std::error_code ec;
    auto existing = std::filesystem::file_size(path, ec);
    size_ = ec ? 0 : static_cast<size_t>(existing);
  }
}

void ServerLog::rotate() {
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ec;
  std::filesystem::remove(path_ + "." + std::to_string(keep_), ec);
  for (int i = keep_ - 1; i >= 1; --i)
    std::filesystem::rename(path_ + "." + std::to_string(i), path_ + "." + std::to_string(i + 1), ec);
  std::filesystem::rename(path_, path_ + ".1", ec);
  file_ = std::fopen(path_.c_str(), "a");
  size_ = 0;
}

ServerLog::~ServerLog() {
  if (file_) std::fclose(file_);
}

void ServerLog::write(const std::string& line) {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d ", static_cast<int>(millis));
  std::string text = std::string(stamp) + ms + line + "\n";
  std::lock_guard lock(mutex_);
  if (file_ && maxBytes_ > 0 && size_ > 0 && size_ + text.size() > maxBytes_) rotate();
  if (file_) {
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
    size_ += text.size();
  }
  if (echo_) std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace tabsrv::tds
