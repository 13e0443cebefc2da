// The SQL parser's keyword search, clause cutting and list splitting. Positions are 1-based
// character positions in the normalised text, 0 meaning "not found", as the clause rules
// are written in those terms.
#include "dataset/QorixSQLParser.h"

namespace {
bool IsDelimiter(QChar c) {
  return c == QLatin1Char(' ') || c == QChar(0) || c == QLatin1Char('\r') || c == QLatin1Char('\n');
}
// The first position from `from` on where keyword (ASCII) stands in text, letters compared
// without regard to ASCII case only; -1 when there is none.
qsizetype IndexOfKeyword(const QString& keyword, const QString& text, qsizetype from) {
  const qsizetype n = keyword.size();
  for (qsizetype i = from; i + n <= text.size(); ++i) {
    qsizetype k = 0;
    while (k < n) {
      const char16_t a = text.at(i + k).unicode();
      const char16_t b = keyword.at(k).unicode();
      const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
      if (lower(a) != lower(b)) break;
      ++k;
    }
    if (k == n) return i;
  }
  return -1;
}
enum Slot {
  kSelect,
  kDelete,
  kUpdate,
  kInsert,
  kSet,
  kFrom,
  kSecondFrom,
  kWhere,
  kGroup,
  kBy,
  kHaving,
  kOrder,
  kOrder2
};
}  // namespace

TQorixSQLParser::TQorixSQLParser(TComponent* owner) : TComponent(owner) {}

void TQorixSQLParser::SetSQL(const QStringList& lines) {
  sql_ = lines;
  SQLChanged();
}

QString TQorixSQLParser::SQLText() const {
  QString t;
  for (const QString& line : sql_) t += line + QStringLiteral("\r\n");
  return t;
}

void TQorixSQLParser::SQLChanged() {
  // One parameter per distinct marker name, in order of first appearance.
  TParams parsed;
  parsed.ParseSQL(SQLText(), true);
  TParams fresh;
  for (int i = 0; i < parsed.Count(); ++i)
    if (!fresh.FindParam(parsed[i].Name)) fresh.CreateParam(ftUnknown, parsed[i].Name, ptInput);
  fresh.AssignValues(params_);
  params_.Assign(fresh);
  for (int i = 0; i < params_.Count(); ++i) params_[i].ParamType = ptInput;
}

void TQorixSQLParser::ClearResults() {
  for (int& s : slots_) s = 0;
  tables_.clear();
  group_.clear();
  order_.clear();
  fields_.clear();
  correlations_.clear();
  Having.clear();
  Where.clear();
  UpdateTable.clear();
  DeleteTable.clear();
  InsertTable.clear();
  // The flag describes the statement just parsed, never an earlier one.
  hasExpression_ = false;
  execFound_ = false;
}

QString TQorixSQLParser::NormalizeSQL(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text) {
    if (c.unicode() < 32) c = QLatin1Char(' ');
    if (c == QLatin1Char(' ') && out.endsWith(QLatin1Char(' '))) continue;
    out += c;
  }
  return out;
}

int TQorixSQLParser::FindKeyword(const QString& keyword, const QString& text) {
  // A match glued to other characters ("count(", "from(") does not count; the search goes on
  // after the match's first character, adding up positions as it goes. Letters are compared
  // one for one without regard to ASCII case: upper-casing the text would change its length
  // ("ß" becomes "SS") and move every position found after it.
  int offset = 0;
  qsizetype from = 0;
  while (++nesting_ < 1000) {
    const qsizetype i = IndexOfKeyword(keyword, text, from);
    if (i < 0) return 0;
    const bool before = i == 0 || IsDelimiter(text.at(i - 1));
    const bool after = i + keyword.size() >= text.size() || IsDelimiter(text.at(i + keyword.size()));
    offset = int(i + 1);
    if (before && after) return offset;
    from = i + 1;
  }
  return 0;
}

int TQorixSQLParser::ClauseEnd(int slot) const {
  // The first found keyword in slot order, not the nearest one: "select a from t where x"
  // ends its field text at from because from's slot comes before where's.
  const int length = int(SQLText().size());
  for (int k = slot; k <= kOrder2; ++k)
    if (slots_[k] > 0 && slots_[k] < length) return slots_[k];
  return length;
}

QString TQorixSQLParser::Clause(int from, int to) const {
  // Copy(text, from, to - from) with 1-based positions; a negative count is empty.
  if (to - from <= 0 || from < 1) return {};
  return text_.mid(from - 1, to - from);
}

void TQorixSQLParser::Parse() {
  ClearResults();
  text_ = NormalizeSQL(SQLText().trimmed());
  auto find = [this](const char* kw, const QString& in) {
    nesting_ = 0;
    return FindKeyword(QLatin1String(kw), in);
  };
  int exec = find("exec", text_);
  if (exec == 0) exec = find("execute", text_);
  execFound_ = exec > 0;
  const int select = find("select", text_);
  const int del = find("delete", text_);
  const int update = find("update", text_);
  const int insert = find("insert", text_);
  const int into = find("into", text_);
  const int set = find("set", text_);
  const int from = find("from", text_);
  int secondFrom = from;
  if (del > 0 && from > 0) {
    const int later = find("from", text_.mid(from + 3));
    if (later > 0) secondFrom = from + 3 + later;
  }
  const int where = find("where", text_);
  const int group = find("group", text_);
  const int by = find("by", text_);
  const int having = find("having", text_);
  const int order = find("order", text_);
  int orderBy = 0;
  if (order > 0) {
    const int b = find("by", text_.mid(order - 1));
    if (b > 0) orderBy = order - 1 + b;
  }
  slots_[kSelect] = select;
  slots_[kDelete] = del;
  slots_[kUpdate] = update;
  slots_[kInsert] = into > 0 ? into : insert;
  slots_[kSet] = set;
  slots_[kFrom] = from;
  slots_[kSecondFrom] = secondFrom;
  slots_[kWhere] = where;
  slots_[kGroup] = group;
  slots_[kBy] = by;
  slots_[kHaving] = having;
  slots_[kOrder] = order;
  slots_[kOrder2] = order > 0 ? order : 0;

  QString fieldText, fromText, groupText, orderText;
  if (select > 0) fieldText = Clause(select + 6, ClauseEnd(insert == 0 ? kDelete : kFrom));
  if (del > 0) DeleteTable = Clause(del + 6, ClauseEnd(kUpdate)).trimmed();
  if (update > 0) UpdateTable = Clause(update + 6, ClauseEnd(kInsert)).trimmed();
  if (insert > 0)
    InsertTable = LeadingName(Clause(into > 0 ? into + 4 : insert + 6, ClauseEnd(kSet)).trimmed());
  if (set > 0) fieldText = Clause(set + 3, ClauseEnd(kFrom));
  if (from > 0 && DeleteTable.trimmed().isEmpty())
    DeleteTable = Clause(from + 4, ClauseEnd(kSecondFrom)).trimmed();
  if (secondFrom > 0) fromText = Clause(secondFrom + 4, ClauseEnd(kWhere));
  if (where > 0) Where = Clause(where + 5, orderBy > where ? order : ClauseEnd(kGroup)).trimmed();
  if (by > 0) groupText = Clause(by + 2, ClauseEnd(kHaving));
  if (having > 0) Having = Clause(having + 6, ClauseEnd(kOrder)).trimmed();
  if (orderBy > 0) orderText = Clause(orderBy + 2, int(text_.size()) + 1);

  SplitList(fieldText.trimmed(), fields_);
  if (del > 0 && DeleteTable.trimmed().isEmpty())
    DeleteTable = fromText.trimmed();
  else
    SplitList(fromText.trimmed(), tables_);
  SplitList(groupText.trimmed(), group_);
  SplitList(orderText.trimmed(), order_);

  for (QString& entry : tables_) {
    const QString t = entry.trimmed();
    const int blank = t.indexOf(QLatin1Char(' '));
    if (blank >= 0) {
      entry = t.left(blank);
      correlations_ << t.mid(blank).trimmed();
    } else {
      correlations_ << QString();
    }
  }

  if (!tables_.isEmpty()) {
    QString listText;
    for (const QString& f : fields_) listText += f + QStringLiteral("\r\n");
    const bool star = fieldText.contains(QLatin1Char('*')) && listText.trimmed() != QLatin1String("*");
    hasExpression_ = fieldText.contains(QLatin1Char('=')) || fieldText.contains(QLatin1Char('+')) ||
                     fieldText.contains(QLatin1Char('-')) || star || fieldText.contains(QLatin1Char('/')) ||
                     fieldText.contains(QLatin1Char('(')) || fieldText.contains(QLatin1Char(')'));
  }
}

int TQorixSQLParser::StatementKind() const {
  if (execFound_) return 7;
  const QString t = SQLText();
  static const std::pair<const char*, int> prefixes[] = {{"insert", 4}, {"select", 1}, {"update", 2},
                                                         {"delete", 3}, {"alter", 5},  {"create", 6}};
  for (const auto& [word, kind] : prefixes)
    if (t.startsWith(QLatin1String(word), Qt::CaseInsensitive)) return kind;
  return 0;
}

void TQorixSQLParser::SplitList(const QString& text, QStringList& list) {
  const QStringList items = text.split(QLatin1Char(','));
  for (int i = 0; i < items.size(); ++i) {
    const QString p = items[i].trimmed();
    if (i + 1 < items.size() || !p.isEmpty()) list << p;
  }
}

QString TQorixSQLParser::LeadingName(const QString& text) {
  int n = 0;
  while (n < text.size()) {
    const QChar c = text.at(n);
    if (c == QLatin1Char(' ') || c == QChar(0) || c == QLatin1Char('\n') || c == QLatin1Char('\r') ||
        c == QLatin1Char('('))
      break;
    ++n;
  }
  return text.left(n);
}
