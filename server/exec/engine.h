// The executor's Engine: the Store, logins, the process table and the sessions' creation.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "server/core/session.h"
#include "server/exec/engine_factory.h"
#include "server/exec/login_throttle.h"
#include "server/exec/process_table.h"
#include "server/storage/store.h"

namespace tabsrv {

class EngineImpl : public Engine {
 public:
  // Opens the store; on first creation runs the sample database script.
  explicit EngineImpl(const EngineConfig& config);

  std::string serverName() const override { return config_.serverName; }
  LoginOutcome login(const LoginRequest& request) override;

  // The live sessions, as master..sysprocesses shows them.
  ProcessTable& processes() { return processes_; }
  // Runs a script of batches separated by "go" lines as sa in `database`; returns the error
  // messages the batches produced (empty when all went well).
  std::vector<std::string> runScript(std::string_view script, const std::string& database);

 private:
  void log(const std::string& line) const;
  void clearTempdb();
  // Gives each system procedure the executor answers itself its catalogue entry in sybsystemprocs
  // (sysobjects, its parameters in syscolumns, its text in syscomments), where missing.
  void installSystemProcedures();

  EngineConfig config_;
  std::unique_ptr<Store> store_;
  ProcessTable processes_;
  // Failed logins by client address, for the delay their answers get.
  LoginThrottle throttle_;
  // Counting the sessions against "number of user connections" and adding one is one step.
  std::mutex admitMutex_;
};

}  // namespace tabsrv
