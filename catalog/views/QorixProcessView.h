// TQorixProcessView: the server's activity in eight views (processes, blocking, clients,
// client programs, engine activity, loading, status, locks), each with its own SQL over the
// master database and its own column layout.
#pragma once

#include <QString>

#include "catalog/views/QorixListView.h"

// The server-process view.
class TQorixProcessView : public TQorixCustomListView {
 public:
  // Column mode 2 (BuildColumns lays the columns out); ProcessInfoType pitProcesses.
  explicit TQorixProcessView(TComponent* owner = nullptr);

  // Which view Execute shows.
  TQxProcessInfoType ProcessInfoType = pitProcesses;

  // Builds the SQL for ProcessInfoType, makes BuildColumns the BeforeExec handler and runs.
  bool Execute() override;
  // Sets the SQL text to Kind's statement.
  void BuildSQL(TQxProcessInfoType kind);
  // Adds the columns of ProcessInfoType's layout (the BeforeExec handler).
  void BuildColumns();

  // The statement of Kind, as BuildSQL sets it.
  static QString ProcessSQL(TQxProcessInfoType kind);
};
