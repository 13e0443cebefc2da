// Plain state of the two server windows: the configuration window's parameter rows with its
// two views, and the processes window's eight tabs over the server-process view.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "access/Qorix_Components.h"

class TQorixDatabase;
class TQorixObjInfo;
class TQorixProcessView;

// Tf_serverconfig: the configuration parameters of every group, read once.
class TServerConfigState {
 public:
  // One row of the report: its group and the five values of the parameter.
  struct TRow {
    QString Category, Name, Default, MemoryUsed, ConfigValue, RunValue;
  };
  // The two views of the report.
  enum TView { vwAll = 0, vwByCategory = 1 };

  explicit TServerConfigState(TQorixDatabase* db);
  ~TServerConfigState();

  // Reads the groups, then each group's parameters, in order. Nothing else runs meanwhile
  // (no events are processed), so the connection cannot be closed in the middle of the read.
  void LoadConfiguration();
  const std::vector<TRow>& Rows() const { return rows_; }
  const QStringList& Groups() const { return groups_; }
  TView View = vwByCategory;
  // The column captions of the current view.
  QStringList Columns() const;
  // The cells of Row in the current view's column order.
  QStringList Cells(const TRow& row) const;
  // The report as text lines (a heading line, then one line per row; in the category view a
  // line per group above its rows), for printing.
  QStringList ReportLines() const;
  TQorixObjInfo& Info() const { return *info_; }

 private:
  std::unique_ptr<TQorixObjInfo> info_;
  QStringList groups_;
  std::vector<TRow> rows_;
};

// TProcessesFrm: the tab shown and the process view's contents for it.
class TProcessesState {
 public:
  explicit TProcessesState(TQorixDatabase* db);
  ~TProcessesState();
  // The tab captions, in TQxProcessInfoType order.
  static const QStringList& TabCaptions();
  // Shows tab Index: the view's kind becomes that page and its query runs.
  void RefreshProcesses(int index);
  int Page() const { return page_; }
  TQorixProcessView& View() const { return *view_; }

 private:
  std::unique_ptr<TQorixProcessView> view_;
  int page_ = 0;
};
