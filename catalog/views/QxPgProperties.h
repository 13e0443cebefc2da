// TQxPgProperties: the property page. A two-column list ("Property", "Value") with the
// catalogue detail of one server object (database, group, user, login, index, table, view,
// procedure, trigger, rule, user datatype, column or device), read through a private
// catalogue service and laid out as caption/value rows, flags as "Yes"/"No". Plain model;
// TQxListPageView shows it.
#pragma once

#include <QString>

#include "catalog/views/QxListPage.h"

class TQorixObjInfo;

// The property page.
class TQxPgProperties : public TQxListPage {
 public:
  // The two columns "Property" and "Value", each Width div 2 wide.
  explicit TQxPgProperties(TComponent* owner = nullptr);

  // Adds the "RowCount" row for tables.
  bool ShowRowCount = true;

  // Replaces the rows with those of object Name of kind Kind in SelectDb. Name takes the
  // explorer's forms: a plain name for databases, groups, users, logins, user datatypes and
  // devices; owner.name or name for tables, views, procedures, triggers and rules;
  // table.index for indexes (kinds 3 and 15); table.column for a column (kind 16). An object
  // the catalogue does not hold leaves the page empty.
  void ShowProperties(TQxObjectKind kind, const QString& name);
  // SelectDb := Db, then ShowProperties.
  void Show(const QString& db, TQxObjectKind kind, const QString& name);
  // Removes every row.
  void Clear();
  // Both columns Width div 2 wide.
  void Resize(int newWidth) override;

 private:
  void AddRow(const QString& caption, const QString& value);
  void AddFlag(const QString& caption, bool set);
  void AddSeparator();
  void FillRows(TQorixObjInfo& info, TQxObjectKind kind, const QString& name);
};
