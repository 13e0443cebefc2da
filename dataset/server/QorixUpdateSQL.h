// TQorixUpdateSQL: the update object of cached updates: three statement lists (modify,
// insert, delete) with parameters named after the dataset's fields (OLD_ names take the
// value before the change), run through three private queries, or three stored procedures.
#pragma once

#include <QStringList>
#include <memory>

#include "access/QorixBase.h"
#include "dataset/server/QxQuery.h"

// The stored procedures that apply the changes instead of the statement lists.
class TQxUpdateStoredProcs {
 public:
  bool UseStoredProcs = false;
  bool ParamByName = true;
  QString ModifyStoredProc;
  QString InsertStoredProc;
  QString DeleteStoredProc;
};

class TQorixUpdateSQL : public TComponent {
 public:
  explicit TQorixUpdateSQL(TComponent* owner = nullptr);
  ~TQorixUpdateSQL() override;

  QStringList ModifySQL, InsertSQL, DeleteSQL;
  TQxUpdateStoredProcs UpdateStoredProcs;
  QString DbName;
  TQorixDatabase* Database() const { return database_; }
  void SetDatabase(TQorixDatabase* database);
  bool Monitor = false;
  TMsgDialogs MsgDialogs;
  TShowDbMessages ShowDbMessages{smDbMsg, smDbErr};

  // ModifySQL for 0, InsertSQL for 1, DeleteSQL for 2.
  const QStringList& GetSQL(int kind) const;
  // The query of a kind (0 modify, 1 insert, 2 delete).
  TQxQuery& Query(int kind);
  // Gives each query the update object's connection and message settings.
  void PrepareQueries();
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TQorixDatabase* database_ = nullptr;
  std::unique_ptr<TQxQuery> queries_[3];
};
