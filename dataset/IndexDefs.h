// TIndexDef and TIndexDefs: the class library's index descriptions. Memory datasets keep them
// for the form's description; the table dataset reads a server table's indexes into them and
// picks key fields from the unique ones.
#pragma once

#include <QFlags>
#include <QString>
#include <memory>
#include <vector>

// Properties of an index, in the class library's order.
enum class TIndexOption {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
  ixNonMaintained = 32
};
Q_DECLARE_FLAGS(TIndexOptions, TIndexOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TIndexOptions)

// One index: its name, ";"-separated fields and options.
class TIndexDef {
 public:
  QString Name;           // index name
  QString Fields;         // ";"-separated field names
  TIndexOptions Options;  // primary, unique, descending, ...
  QString DescFields;     // fields ordered descending within the index
  QString CaseInsFields;  // fields compared without case
  QString Expression;     // expression of an ixExpression index
};

// The ordered index list of a dataset.
class TIndexDefs {
 public:
  // Appends an index description.
  TIndexDef* Add(const QString& name, const QString& fields, TIndexOptions options = {});
  // Removes every description.
  void Clear() { defs_.clear(); }
  // Number of descriptions and the one at a position.
  int Count() const { return int(defs_.size()); }
  TIndexDef* Items(int index) const { return defs_.at(index).get(); }
  // Case-insensitive search by name; -1 when absent.
  int IndexOf(const QString& name) const;
  // The index named so, or nullptr.
  TIndexDef* Find(const QString& name) const;
  // The first index whose fields start with the given ";"-separated fields (case-insensitive
  // names), optionally only one that ignores case; nullptr when none does.
  TIndexDef* GetIndexForFields(const QString& fields, bool caseInsensitive) const;
  // Replaces the list by copies of other's descriptions.
  void Assign(const TIndexDefs& other);

 private:
  std::vector<std::unique_ptr<TIndexDef>> defs_;
};
