// Index descriptions: the list operations and the search for an index over given fields.
#include "dataset/IndexDefs.h"

#include "dataset/Field.h"

TIndexDef* TIndexDefs::Add(const QString& name, const QString& fields, TIndexOptions options) {
  auto def = std::make_unique<TIndexDef>();
  def->Name = name;
  def->Fields = fields;
  def->Options = options;
  defs_.push_back(std::move(def));
  return defs_.back().get();
}

int TIndexDefs::IndexOf(const QString& name) const {
  for (int i = 0; i < Count(); ++i)
    if (defs_[i]->Name.compare(name, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

TIndexDef* TIndexDefs::Find(const QString& name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : defs_[i].get();
}

TIndexDef* TIndexDefs::GetIndexForFields(const QString& fields, bool caseInsensitive) const {
  const QStringList wanted = SplitFieldNames(fields);
  if (wanted.isEmpty()) return nullptr;
  for (const auto& def : defs_) {
    if (def->Options.testFlag(TIndexOption::ixExpression)) continue;
    if (caseInsensitive && !def->Options.testFlag(TIndexOption::ixCaseInsensitive)) continue;
    const QStringList have = SplitFieldNames(def->Fields);
    if (have.size() < wanted.size()) continue;
    bool match = true;
    for (int i = 0; i < wanted.size() && match; ++i)
      match = have[i].compare(wanted[i], Qt::CaseInsensitive) == 0;
    if (match) return def.get();
  }
  return nullptr;
}

void TIndexDefs::Assign(const TIndexDefs& other) {
  if (&other == this) return;
  defs_.clear();
  for (const auto& def : other.defs_) defs_.push_back(std::make_unique<TIndexDef>(*def));
}
