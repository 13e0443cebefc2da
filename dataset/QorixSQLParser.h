// TQorixSQLParser: takes one SQL statement apart by keyword search, without a grammar: the
// keyword positions cut the text into clauses, comma lists become string lists, and the
// statement's kind and whether its select list holds expressions are worked out.
#pragma once

#include <QStringList>

#include "access/Classes.h"
#include "access/QorixParams.h"

// Options kept for the form; they change nothing.
enum class TParseSQLOption { psoUseFROMInDelete = 1, psoUseINTOInInsert = 2 };
Q_DECLARE_FLAGS(TParseSQLOptions, TParseSQLOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TParseSQLOptions)

// The keyword-search SQL parser.
class TQorixSQLParser : public TComponent {
 public:
  explicit TQorixSQLParser(TComponent* owner = nullptr);

  // The statement as lines; SetSQL rebuilds the parameter list.
  const QStringList& SQL() const { return sql_; }
  void SetSQL(const QStringList& lines);
  void SetSQL(const QString& text) { SetSQL(text.split(QLatin1Char('\n'))); }
  // The statement as the class library's string list gives it: each line ends with CR LF.
  QString SQLText() const;
  const QStringList& Fields() const { return fields_; }              // select-list or SET items
  const QStringList& Tables() const { return tables_; }              // FROM tables
  const QStringList& Correlations() const { return correlations_; }  // alias per table, or empty
  const QStringList& Group() const { return group_; }                // GROUP BY items
  const QStringList& Order() const { return order_; }                // ORDER BY items
  QString Where;                                                     // WHERE clause
  QString Having;                                                    // HAVING clause
  QString UpdateTable;                                               // table of an update
  QString DeleteTable;                                               // table of a delete
  QString InsertTable;                                               // table of an insert
  TParseSQLOptions SQLOptions;                                       // stored only
  QString About;                                                     // text only
  // The select list holds expressions (set by Parse).
  bool HasExpression() const { return hasExpression_; }
  // The parameters of the statement's colon markers.
  TParams& Params() { return params_; }

  // Analyses SQL.
  void Parse();
  // 7 exec, 4 insert, 1 select, 2 update, 3 delete, 5 alter, 6 create, 0 otherwise.
  int StatementKind() const;
  // "    a,  b ,c" split at commas into trimmed items (empty ones before a comma included).
  static void SplitList(const QString& text, QStringList& list);
  // The leading name: up to the first blank, NUL, LF, CR or "(".
  static QString LeadingName(const QString& text);
  // Control characters become blanks and runs of blanks one blank.
  static QString NormalizeSQL(const QString& text);
  // 1-based position of keyword as a whole word in text (case-insensitive), 0 when absent.
  int FindKeyword(const QString& keyword, const QString& text);

 private:
  void ClearResults();
  void SQLChanged();
  int ClauseEnd(int slot) const;
  QString Clause(int from, int to) const;

  QStringList sql_;
  QStringList fields_, tables_, correlations_, group_, order_;
  TParams params_;
  QString text_;
  bool hasExpression_ = false;
  bool execFound_ = false;
  int slots_[13] = {};
  int nesting_ = 0;
};
