// The fixture every FreeTDS test file shares: the listener runs in-process on a free loopback
// port over the stub engine, and a freetds.conf entry [TEST] points at it; plus a log capture.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/tds/server.h"
#include "tests/server/tds/stub_engine.h"
#include "tests/support/ct_client.h"

namespace tabtest {

namespace fs = std::filesystem;

// Collects log lines from every session thread.
class LogCapture {
 public:
  tabsrv::tds::LogFn sink() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
  }
  // True once a line containing `text` was logged, waiting up to ten seconds for it.
  bool waitFor(const std::string& text) {
    for (int i = 0; i < 1000; ++i) {
      {
        std::lock_guard lock(mutex_);
        for (const auto& l : lines_)
          if (l.find(text) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Writes a freetds.conf with the entry [TEST] for a port and points FREETDSCONF at it.
inline void writeConfig(const fs::path& dir, int port) {
  fs::create_directories(dir);
  std::ofstream conf(dir / "freetds.conf", std::ios::trunc);
  conf << "[global]\n\tdate format = %Y-%m-%d %H:%M:%S.%z\n\n"
       << "[TEST]\n\thost = 127.0.0.1\n\tport = " << port
       << "\n\ttds version = 5.0\n\tclient charset = UTF-8\n";
  conf.close();
  setenv("FREETDSCONF", (dir / "freetds.conf").c_str(), 1);
}

class FreeTdsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = new StubEngine;
    log_ = new LogCapture;
    server_ = new tabsrv::tds::Server(*engine_, log_->sink());
    server_->start();
    dir_ = fs::temp_directory_path() / ("tds-freetds-" + std::to_string(getpid()));
    writeConfig(dir_, server_->port());
  }
  static void TearDownTestSuite() {
    server_->stop();
    delete server_;
    delete log_;
    delete engine_;
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // A connected client as sa.
  static std::unique_ptr<CtClient> connected() {
    auto client = std::make_unique<CtClient>();
    std::string error;
    EXPECT_TRUE(client->connect("TEST", "sa", "secret", &error)) << error;
    return client;
  }

  inline static StubEngine* engine_ = nullptr;
  inline static LogCapture* log_ = nullptr;
  inline static tabsrv::tds::Server* server_ = nullptr;
  inline static fs::path dir_;
};

}  // namespace tabtest
