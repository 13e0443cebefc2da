// TQxPgSummary: the summary page. A report-style list of the members of one explorer folder
// (the users, groups, tables, views, procedures, triggers, rules, datatypes, segments or
// indexes of a database; the databases, logins or devices of the server; the indexes, columns
// or parameters of one table or procedure), read by one catalogue query per kind and family
// through a private read-only cursor engine. A row click shows that member in a linked
// property page. Plain model; TQxListPageView shows it.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "catalog/service/QxObjInfoTypes.h"
#include "catalog/views/QxListPage.h"

class TQxPgProperties;
class TQorixObjInfo;

// The summary page.
class TQxPgSummary : public TQxListPage {
 public:
  // The three columns "Name", "Owner", "Date Created", each Width div 3 wide.
  explicit TQxPgSummary(TComponent* owner = nullptr);
  ~TQxPgSummary() override;

  // The property page a row click fills (null: none); the link clears itself when that page
  // is destroyed.
  TQxPgProperties* QxPgProperties() const { return properties_; }
  void SetQxPgProperties(TQxPgProperties* page);

  // Replaces the columns and rows with the summary of kind Kind in SelectDb. Name is the table
  // for kinds 15 and 16 and the procedure for kind 18 (owner.name or name); other kinds ignore
  // it.
  void ShowSummary(TQxObjectKind kind, const QString& name);
  // SelectDb := Db, then ShowSummary.
  void Show(const QString& db, TQxObjectKind kind, const QString& name);
  // Lays out the columns of Kind (every row and column removed first).
  void BuildColumns(TQxObjectKind kind);
  // With at least one row: removes every row and column. A page without rows keeps its columns.
  void Clear();
  // Every column Width div the number of columns wide.
  void Resize(int newWidth) override;
  // OnClick, then, with a row selected and a linked property page, shows that row's member
  // there: table.index for kinds 3 and 15, table.column for kind 16, procedure.parameter for
  // kind 18, the row's first column for the others; an object whose name another owner's
  // object shares is named with its owner (owner.name, owner.table.index).
  void Click() override;
  // The name a click on Row passes to the property page (empty for no such row).
  QString MemberName(int row) const;
  // The selected row's columns, empty when none is selected.
  QStringList SelectedRow() const;

  // The statement ShowSummary sends for Kind, object Name, database Db on family Rdbms, one
  // entry per line; empty when the kind sends nothing. Object, when found, is the table or
  // procedure Name names (kinds 15, 16 and 18 then key on its owner as well).
  static QStringList SummarySQL(TQxObjectKind kind, const QString& name, const QString& db, const QString& rdbms,
                                const TQxObjectRef* object = nullptr);

  void Notification(TComponent* component, TOperation operation) override;

 private:
  // Fills the row owners of the shown rows whose name another owner's object of SelectDb shares.
  void MarkSharedNames(TQorixObjInfo& info);

  TQxPgProperties* properties_ = nullptr;
  // Per row: the owner of the row's object (kinds 3 and 5 to 13) when its name is shared with
  // another owner's object, else empty; and for kind 3 the table's own name.
  std::vector<QString> rowOwners_;
  std::vector<QString> rowTables_;
};
