// A ResultSink that records what a batch produced, and a fixture that opens an engine over a
// fresh data directory and logs in as sa, for the executor's tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/core/session.h"
#include "server/exec/engine_factory.h"

namespace tabtest {

// One result set: its format and its rows.
struct RecordedSet {
  std::vector<tabsrv::ColumnDesc> columns;
  std::vector<std::vector<tabsrv::Value>> rows;
};

// One DONE token.
struct RecordedDone {
  bool error = false;
  int32_t count = -1;
};

// Everything the executor wrote for one batch.
class RecordingSink : public tabsrv::ResultSink {
 public:
  std::vector<RecordedSet> sets;
  std::vector<tabsrv::ServerMessage> messages;
  std::vector<RecordedDone> dones;
  std::vector<std::pair<std::string, std::string>> databaseChanges;
  std::vector<std::string> events;  // token order: "rowfmt", "row", "done", "doneinproc", "status 5" ...
  std::vector<int32_t> statuses;
  std::vector<tabsrv::ColumnDesc> outputFormats;
  std::vector<tabsrv::Value> outputValues;
  std::vector<std::vector<tabsrv::ComputeColumn>> computeFormats;
  std::vector<std::vector<uint8_t>> computeByLists;
  std::vector<std::vector<tabsrv::Value>> computeRows;
  std::atomic<bool> cancel{false};
  int cancelAfterRows = -1;  // sets `cancel` once this many rows arrived

  RecordingSink() = default;
  RecordingSink(RecordingSink&& o) noexcept
      : sets(std::move(o.sets)),
        messages(std::move(o.messages)),
        dones(std::move(o.dones)),
        databaseChanges(std::move(o.databaseChanges)),
        events(std::move(o.events)),
        statuses(std::move(o.statuses)),
        outputFormats(std::move(o.outputFormats)),
        outputValues(std::move(o.outputValues)),
        computeFormats(std::move(o.computeFormats)),
        computeByLists(std::move(o.computeByLists)),
        computeRows(std::move(o.computeRows)),
        cancel(o.cancel.load()),
        cancelAfterRows(o.cancelAfterRows) {}

  void rowFormat(const std::vector<tabsrv::ColumnDesc>& columns) override {
    sets.push_back({columns, {}});
    events.push_back("rowfmt");
  }
  void row(const std::vector<tabsrv::Value>& values) override {
    sets.back().rows.push_back(values);
    events.push_back("row");
    if (cancelAfterRows >= 0 && static_cast<int>(sets.back().rows.size()) >= cancelAfterRows) cancel = true;
  }
  void message(const tabsrv::ServerMessage& msg) override { messages.push_back(msg); }
  void done(tabsrv::DoneKind kind, bool error, int32_t rowCount) override {
    dones.push_back({error, rowCount});
    events.push_back(kind == tabsrv::DoneKind::Done         ? "done"
                     : kind == tabsrv::DoneKind::DoneInProc ? "doneinproc"
                                                            : "doneproc");
  }
  void returnStatus(int32_t status) override {
    statuses.push_back(status);
    events.push_back("status " + std::to_string(status));
  }
  void outputParams(const std::vector<tabsrv::ColumnDesc>& formats,
                    const std::vector<tabsrv::Value>& values) override {
    outputFormats = formats;
    outputValues = values;
    events.push_back("params");
  }
  void computeFormat(uint16_t id, const std::vector<tabsrv::ComputeColumn>& columns,
                     const std::vector<uint8_t>& byList) override {
    computeFormats.push_back(columns);
    computeByLists.push_back(byList);
    events.push_back("altfmt " + std::to_string(id));
  }
  void computeRow(uint16_t id, const std::vector<tabsrv::Value>& values) override {
    computeRows.push_back(values);
    events.push_back("altrow " + std::to_string(id));
  }
  void envChange(tabsrv::EnvChange, const std::string& now, const std::string& old) override {
    databaseChanges.emplace_back(now, old);
  }
  bool cancelled() override { return cancel; }

  // The numbers of the messages with severity above 10, in order.
  std::vector<int> errorNumbers() const {
    std::vector<int> out;
    for (const auto& m : messages)
      if (m.severity > 10) out.push_back(m.number);
    return out;
  }
};

// Text of a value for assertions: integers and strings as they are, NULL as "NULL".
std::string show(const tabsrv::Value& v);
// The same with the column's type deciding the text (money with two decimals ...).
std::string show(const tabsrv::Value& v, const tabsrv::TypeDesc& type);

// An engine over a fresh temporary data directory (removed afterwards) with one sa session.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs a batch on `session` (the first session when null) and returns what it produced.
  RecordingSink run(const std::string& sql, tabsrv::Session* session = nullptr);
  // A further session as sa.
  std::unique_ptr<tabsrv::Session> login();
  // A session as `user` with `password`; null when the login is refused.
  std::unique_ptr<tabsrv::Session> loginAs(const std::string& user, const std::string& password);
  // The single value of the first row of the last result set of a batch.
  std::string scalar(const std::string& sql);

  std::filesystem::path dir_;
  std::unique_ptr<tabsrv::Engine> engine_;
  std::unique_ptr<tabsrv::Session> session_;
};

}  // namespace tabtest
