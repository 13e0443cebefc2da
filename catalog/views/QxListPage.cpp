// The shared part of the two catalogue pages.

#include "catalog/views/QxListPage.h"

#include "access/QorixDatabase.h"

void TQxListPage::EnsureSelectDb() {
  if (!selectDb_.trimmed().isEmpty()) return;
  if (auto* db = dynamic_cast<TQorixDatabase*>(Database())) selectDb_ = db->DbName();
}

bool TQxListPage::IsShown(const QString& db, TQxObjectKind kind, const QString& name) const {
  return kind == ShownKind && name == ShownObject && db.trimmed() == ShownDb.trimmed();
}

void TQxListPage::Click() {
  if (OnClick) OnClick(this);
}

void TQxListPage::StoreShown(TQxObjectKind kind, const QString& name) {
  ShownKind = kind;
  ShownObject = name;
  EnsureSelectDb();
  ShownDb = selectDb_;
}
