// The server fixture: fork/exec of tabulon-server with --port 0 and a port file, so the port is
// known without a race; the child dies with the test process (PR_SET_PDEATHSIG).
#include "tests/support/server_fixture.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace tabtest {

std::string ServerFixture::serverPath() {
  if (const char* env = std::getenv("TABULON_SERVER")) return env;
  return TABULON_SERVER_PATH;
}

ServerFixture::ServerFixture() {
  std::string tmpl = (fs::temp_directory_path() / "tabulon-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  baseDir_ = tmpl;
  dataDir_ = baseDir_ + "/data";
  configPath_ = baseDir_ + "/freetds.conf";
  interfacesPath_ = baseDir_ + "/interfaces";
  logPath_ = baseDir_ + "/server.out";
  start();
}

ServerFixture::~ServerFixture() {
  if (pid_ > 0) stop();
  std::error_code ec;
  if (!std::getenv("TABULON_KEEP_DATA")) fs::remove_all(baseDir_, ec);
}

void ServerFixture::start() {
  if (pid_ > 0) throw std::runtime_error("server already running");
  const std::string portFile = baseDir_ + "/port";
  fs::remove(portFile);
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    FILE* out = std::freopen(logPath_.c_str(), "a", stdout);
    (void)out;
    dup2(STDOUT_FILENO, STDERR_FILENO);
    std::string path = serverPath();
    execl(path.c_str(), path.c_str(), "--port", "0", "--data", dataDir_.c_str(), "--port-file", portFile.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // First start creates the data directory and the sample database: allow it some time.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(portFile);
    int port = 0;
    if (in >> port && port > 0) {
      port_ = port;
      writeConfig();
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      std::ifstream log(logPath_);
      std::stringstream text;
      text << log.rdbuf();
      throw std::runtime_error("tabulon-server exited at start:\n" + text.str());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill();
  throw std::runtime_error("tabulon-server did not report its port in time");
}

void ServerFixture::writeConfig() {
  {
    std::ofstream conf(configPath_, std::ios::trunc);
    // ISO dates with milliseconds, so tests compare date values as plain text.
    conf << "[global]\n\tdate format = %Y-%m-%d %H:%M:%S.%z\n\n";
    for (const char* name : {"DSQUERY", "TABULON"}) {
      conf << "[" << name << "]\n"
           << "\thost = 127.0.0.1\n"
           << "\tport = " << port_ << "\n"
           << "\ttds version = 5.0\n"
           << "\tclient charset = UTF-8\n\n";
    }
  }
  {
    std::ofstream ifile(interfacesPath_, std::ios::trunc);
    for (const char* name : {"DSQUERY", "TABULON"}) {
      ifile << name << "\n\tmaster tcp ether 127.0.0.1 " << port_ << "\n\tquery tcp ether 127.0.0.1 " << port_
            << "\n\n";
    }
  }
  setenv("FREETDSCONF", configPath_.c_str(), 1);
  setenv("SYBASE", baseDir_.c_str(), 1);
}

int ServerFixture::stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  return status;
}

void ServerFixture::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool ServerFixture::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

}  // namespace tabtest
