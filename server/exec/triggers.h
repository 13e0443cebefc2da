// Firing of a table's trigger after INSERT, UPDATE or DELETE: SQLite temp triggers copy the
// affected rows into temp tables that the body reads as `inserted` and `deleted`, and the body
// runs once per statement inside the statement's transaction.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "server/exec/session_impl.h"

namespace tabsrv {

// One statement's trigger firing. Made after the statement's transaction opened and before the
// statement runs; fire() runs the trigger body before the statement commits.
class TriggerFiring {
 public:
  // The statement kinds a trigger can be defined for.
  enum class Event { Insert, Update, Delete };
  // Looks up the trigger of `table` for `event` (or takes `knownTrigger`, what triggerFor gave,
  // 0 for none); when there is one, starts capturing rows.
  TriggerFiring(SessionImpl& session, const TableInfo& table, Event event,
                std::optional<int32_t> knownTrigger = std::nullopt);
  // The id of the trigger of `table` for `event`, or 0.
  static int32_t triggerFor(SessionImpl& session, const TableInfo& table, Event event);
  // Drops what capture left behind.
  ~TriggerFiring();
  TriggerFiring(const TriggerFiring&) = delete;
  TriggerFiring& operator=(const TriggerFiring&) = delete;
  // Which columns of the table the statement set (per column; update(col) in the body reads it).
  // Without it an INSERT sets every column, a DELETE none and an UPDATE none.
  void setColumnsSet(std::vector<bool> set) { columnsSet_ = std::move(set); }
  // Runs the trigger body (if the table has a trigger for the event) with @@rowcount = `rows`.
  // True when the body rolled the transaction back (the statement changed nothing then).
  bool fire(int32_t rows);

 private:
  void stopCapture();
  // Drops the capture triggers and the pseudo-tables.
  void cleanUp();
  SessionImpl& session_;
  std::optional<TableInfo> table_;  // while a trigger fires for the statement
  Event event_;
  std::vector<bool> columnsSet_;
  int32_t triggerId_ = 0;
  std::string inserted_;  // quoted temp table names
  std::string deleted_;
  std::vector<std::string> captureTriggers_;
};

}  // namespace tabsrv
