// Small datasets the dataset tests share: a memory dataset with an integer key and a name,
// filled with a few rows, and helpers that read a whole dataset back as text.
#pragma once

#include <QStringList>

#include "dataset/QxMemDataSet.h"

// A memory dataset named "mem" with fields id (integer) and name (string of 20).
inline void DefinePeople(TQxCustomMemDataSet& ds) {
  ds.SetName(QStringLiteral("mem"));
  ds.FieldDefs().Add(QStringLiteral("id"), ftInteger);
  ds.FieldDefs().Add(QStringLiteral("name"), ftString, 20);
}

// Appends rows (id, name) in order.
inline void AddPeople(TDataSet& ds, const QList<QPair<int, QString>>& rows) {
  for (const auto& r : rows) ds.AppendRecord({r.first, r.second});
}

// The value of field across every visible record, from the first; the position is kept.
inline QStringList Column(TDataSet& ds, const QString& field) {
  QStringList out;
  const TBookmark here = ds.Bookmark();
  ds.DisableControls();
  ds.First();
  while (!ds.Eof()) {
    out << ds.FieldByName(field)->AsString();
    ds.Next();
  }
  if (!here.isEmpty()) ds.GotoBookmark(here);
  ds.EnableControls();
  return out;
}
