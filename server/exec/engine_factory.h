// Creates the server's Engine over a data directory: opens (or, on first start, creates) the
// SQLite file with master, model, tempdb, sybsystemprocs and the sample database.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "server/core/session.h"

namespace tabsrv {

struct EngineConfig {
  std::string dataDir;                          // created when missing
  std::string serverName = "TABULON";           // @@servername and the EED server name
  std::function<void(const std::string&)> log;  // one line per call; may be empty
};

// Throws std::runtime_error when the data directory cannot be opened or created.
std::unique_ptr<Engine> createEngine(const EngineConfig& config);

}  // namespace tabsrv
