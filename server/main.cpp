// tabulon-server: the local TDS 5.0 server. Usage:
//   tabulon-server --port N --data DIR [--port-file FILE] [--name NAME] [--stop-timeout MS]
// Listens on 127.0.0.1 only; port 0 picks a free port, printed as "listening on 127.0.0.1:<port>"
// and written to the port file. SIGTERM or SIGINT stops it cleanly (exit status 0): every session
// is told to end, and after --stop-timeout milliseconds (default 10000) the process exits even if
// a session's thread is still busy; committed work is already safe in SQLite's write-ahead log.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "server/exec/engine_factory.h"
#include "server/tds/server.h"
#include "server/tds/server_log.h"

namespace {

struct Options {
  int port = -1;
  std::string dataDir;
  std::string portFile;
  std::string name = "TABULON";
  int stopTimeoutMs = 10000;
};

[[noreturn]] void usage(const std::string& why) {
  std::cerr
      << "tabulon-server: " << why << "\n"
      << "usage: tabulon-server --port N --data DIR [--port-file FILE] [--name NAME] [--stop-timeout MS]\n";
  std::exit(2);
}

Options parseArguments(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage("missing value for " + arg);
      return argv[++i];
    };
    if (arg == "--port") {
      std::string v = value();
      char* end = nullptr;
      long port = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || port < 0 || port > 65535) usage("bad port " + v);
      o.port = static_cast<int>(port);
    } else if (arg == "--data") {
      o.dataDir = value();
    } else if (arg == "--port-file") {
      o.portFile = value();
    } else if (arg == "--name") {
      o.name = value();
    } else if (arg == "--stop-timeout") {
      std::string v = value();
      char* end = nullptr;
      long ms = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || ms < 0 || ms > 3600000) usage("bad stop timeout " + v);
      o.stopTimeoutMs = static_cast<int>(ms);
    } else {
      usage("unknown argument " + arg);
    }
  }
  if (o.port < 0) usage("--port is required");
  if (o.dataDir.empty()) usage("--data is required");
  return o;
}

// Writes the port through a temporary file and a rename, so a reader never sees half of it.
void writePortFile(const std::string& path, int port) {
  std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << port << "\n";
    if (!out) throw std::runtime_error("cannot write " + temp);
  }
  std::filesystem::rename(temp, path);
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parseArguments(argc, argv);

  // Every thread inherits this mask, so only sigwait() below sees the stop signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  try {
    std::filesystem::create_directories(options.dataDir);
    tabsrv::tds::ServerLog log((std::filesystem::path(options.dataDir) / "server.log").string());
    log.write("starting on data directory " + options.dataDir);
    std::unique_ptr<tabsrv::Engine> engine =
        tabsrv::createEngine(tabsrv::EngineConfig{options.dataDir, options.name, log.sink()});

    tabsrv::tds::ServerConfig config;
    config.port = options.port;
    auto server = std::make_unique<tabsrv::tds::Server>(*engine, log.sink(), config);
    server->start();
    if (!options.portFile.empty()) writePortFile(options.portFile, server->port());
    std::cout << "listening on 127.0.0.1:" << server->port() << std::endl;
    log.write("listening on 127.0.0.1:" + std::to_string(server->port()));

    int signal = 0;
    sigwait(&stopSignals, &signal);
    log.write(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    if (!server->stop(std::chrono::milliseconds(options.stopTimeoutMs))) {
      // A session's thread is still running (a statement that does not look at its cancel
      // flag). Its connection to the store is left as it is; SQLite's log keeps what was committed.
      log.write("stopped after " + std::to_string(options.stopTimeoutMs) +
                " ms with sessions still running; exiting anyway");
      std::cout.flush();
      std::_Exit(0);
    }
    server.reset();
    engine.reset();
    log.write("stopped");
  } catch (const std::exception& e) {
    std::cerr << "tabulon-server: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
