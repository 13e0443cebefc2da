// The recording sink's helpers and the engine fixture.
#include "recording_sink.h"

#include <unistd.h>

#include <atomic>

#include "server/types/convert.h"
#include "server/types/decimal.h"

namespace tabtest {

std::string show(const tabsrv::Value& v) {
  if (tabsrv::isNull(v)) return "NULL";
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (auto* d = std::get_if<tabsrv::Decimal>(&v)) return tabsrv::formatDecimal(*d);
  return tabsrv::valueToText(v, tabsrv::typeOfValue(v));
}

std::string show(const tabsrv::Value& v, const tabsrv::TypeDesc& type) {
  if (tabsrv::isNull(v)) return "NULL";
  return tabsrv::valueToText(v, type);
}

void EngineTest::SetUp() {
  static std::atomic<int> counter{0};
  dir_ = std::filesystem::temp_directory_path() /
         ("tabulon-exec-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(dir_);
  engine_ = tabsrv::createEngine(tabsrv::EngineConfig{dir_.string(), "TABULON", {}});
  session_ = login();
  ASSERT_TRUE(session_);
}

void EngineTest::TearDown() {
  session_.reset();
  engine_.reset();
  std::filesystem::remove_all(dir_);
}

std::unique_ptr<tabsrv::Session> EngineTest::login() { return loginAs("sa", ""); }

std::unique_ptr<tabsrv::Session> EngineTest::loginAs(const std::string& user, const std::string& password) {
  tabsrv::LoginRequest req;
  req.user = user;
  req.password = password;
  req.host = "testhost";
  req.appName = "exec_tests";
  return engine_->login(req).session;
}

RecordingSink EngineTest::run(const std::string& sql, tabsrv::Session* session) {
  RecordingSink sink;
  (session ? session : session_.get())->executeLanguage(sql, sink);
  return sink;
}

std::string EngineTest::scalar(const std::string& sql) {
  RecordingSink s = run(sql);
  if (!s.messages.empty() && s.errorNumbers().size())
    return "error " + std::to_string(s.errorNumbers()[0]) + ": " + s.messages[0].text;
  if (s.sets.empty() || s.sets.back().rows.empty()) return "<no rows>";
  return show(s.sets.back().rows[0][0]);
}

}  // namespace tabtest
