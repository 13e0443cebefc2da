// Definition text of TQorixObjInfo: CREATE TABLE laid out column for column, CREATE INDEX, the
// stored source of procedures, views, triggers, defaults and rules, and the system-procedure
// calls that recreate a user datatype or a database user.

#include <QStringList>

#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/SysUtils.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/service/QorixObjInfoPrivate.h"
#include "catalog/service/QxSqlText.h"

namespace {

const QString kNoData = QStringLiteral("/* Data not available */");

QString TrimRight(const QString& s) {
  int n = static_cast<int>(s.size());
  while (n > 0 && s.at(n - 1).isSpace()) --n;
  return s.left(n);
}

}  // namespace

QString TQorixObjInfo::PadRight(const QString& s, QChar ch, int width) {
  if (s.size() >= width) return s;
  return s + QString(width - static_cast<int>(s.size()), ch);
}

QString TQorixObjInfo::FormatColumnDef(int i) const {
  // A column name that is not a regular identifier is bracketed so the text runs as it reads.
  QString line = QStringLiteral(" ") + PadRight(QxSql::Ident(ColumnName(i)), QLatin1Char(' '), 30) + ColumnTypeName(i);
  const QString type = ColumnTypeName(i);
  if (type == QLatin1String("char") || type == QLatin1String("varchar"))
    line += QStringLiteral("(%1)").arg(ColumnLength(i));
  if (type == QLatin1String("numeric") || type == QLatin1String("decimal"))
    line += QStringLiteral("(%1,%2)").arg(ColumnPrec(i)).arg(ColumnScale(i));
  if (ColumnIdentity(i)) line += QStringLiteral(" identity");
  line = PadRight(TrimRight(line), QLatin1Char(' '), 60);
  line += ColumnNullable(i) ? QStringLiteral("NULL") : QStringLiteral("NOT NULL");
  return line;
}

const QStringList& TQorixObjInfo::GetTableDDL(const QString& tableName) {
  LoadColumns(tableName);
  if (ColumnCount < 1) {
    resultList_ << kNoData;
  } else {
    QString owner;
    GetObjectOwner(tableName, owner);
    ownerText_ = owner;
    const QString db = PrefixDbName.trimmed().isEmpty() ? selectDb_ : PrefixDbName;
    // Names that are not regular identifiers are bracketed, so the text runs as it reads.
    const QString table = QxSql::Ident(tableName.trimmed());
    const QString header = PrefixWithDbName ? QStringLiteral("CREATE TABLE ") + QxSql::Ident(db.trimmed()) +
                                                  QLatin1Char('.') + QxSql::Ident(owner) + QLatin1Char('.') + table
                                            : QStringLiteral("CREATE TABLE ") + QxSql::Ident(owner) + QLatin1Char('.') + table;
    QStringList lines{header, QStringLiteral("(")};
    for (int i = 1; i < ColumnCount; ++i) lines << TrimRight(FormatColumnDef(i)) + QLatin1Char(',');
    lines << TrimRight(FormatColumnDef(ColumnCount)) << QStringLiteral(")");
    resultList_ = lines;
  }
  ClearColumns();
  return resultList_;
}

const QStringList& TQorixObjInfo::GetIndexDDL(const QString& indexName, const QString& tableName) {
  std::unique_ptr<TQxIndex> idx = GetIndexInfo(indexName, tableName);
  auto work = std::make_unique<QStringList>();
  if (!idx) {
    *work << kNoData;
  } else {
    QString first = QStringLiteral("CREATE ");
    if (idx->StatusFlags.test(ixUnique)) first += QStringLiteral("UNIQUE ");
    // Index id 1 is a table's clustered index whether or not its status says so.
    if (idx->StatusFlags.test(ixClustered) || (IsSybase() && idx->IndId == 1)) first += QStringLiteral("CLUSTERED ");
    // A table another user owns is named with its owner, so the text finds it when dbo runs it.
    QString table = QxSql::Ident(idx->TableName);
    if (IsSybase()) {
      QString owner;
      GetObjectOwner(idx->TableName, owner);
      if (!owner.isEmpty() && owner != QLatin1String("dbo")) table = QxSql::Ident(owner) + QLatin1Char('.') + table;
    }
    first += QStringLiteral("INDEX ") + QxSql::Ident(idx->Name) + QStringLiteral(" ON ") + table;
    const QStringList columns = GetIndexColumns(tableName.trimmed() + QLatin1Char('.') + indexName.trimmed());
    if (columns.isEmpty()) {
      *work << kNoData;
    } else {
      QStringList quoted;
      for (const QString& c : columns) quoted << QxSql::Ident(c);
      *work << first << QStringLiteral("(") + quoted.join(QLatin1Char(',')) + QStringLiteral(")");
      if (IsSybase()) {
        QString options = QStringLiteral("WITH");
        auto add = [&](bool set, const QString& option) {
          if (!set) return;
          if (options != QLatin1String("WITH")) options += QLatin1Char(',');
          options += option;
        };
        add(idx->StatusFlags.test(ixIgnoreDupKey), QStringLiteral(" IGNORE_DUP_KEY"));
        add(idx->StatusFlags.test(ixSortedData), QStringLiteral(" SORTED_DATA"));
        add(idx->StatusFlags.test(ixIgnoreDupRow), QStringLiteral(" IGNORE_DUP_ROW"));
        add(idx->StatusFlags.test(ixAllowDupRow), QStringLiteral(" ALLOW_DUP_ROW"));
        if (options != QLatin1String("WITH")) *work << options;
        *work << QStringLiteral("ON ") + QxSql::Literal(idx->SegmentName, QLatin1Char('\''));
      }
    }
  }
  resultList_ = *work;
  workList_ = std::make_unique<QStringList>();
  return resultList_;
}

void TQorixObjInfo::GetObjectText(const QString& name, QString& text) {
  SettleConnection();
  const QString object = name.trimmed();
  QString owner;
  GetObjectOwner(object, owner);
  ownerText_ = owner;
  ReadScope scope(*this);
  SetText(QStringLiteral("SELECT type FROM ") + SysTable(QStringLiteral("sysobjects")) +
          QStringLiteral(" WHERE name = ") + QxSql::Literal(object, QLatin1Char('\'')));
  const std::vector<QStringList> types = ReadAll();
  const QString type = types.empty() || types.back().isEmpty() ? QString() : types.back().front().trimmed().left(2);
  static const QStringList kTextTypes{QStringLiteral("P"), QStringLiteral("V"), QStringLiteral("R"),
                                      QStringLiteral("D"), QStringLiteral("TR")};
  if (!kTextTypes.contains(type)) DatabaseError(Format(LoadResString(QorixRes::SNotTextObject), {object}), this);
  CancelQuery();
  if (IsAnywhere())
    SetText(QStringLiteral("SELECT text FROM syscomments WHERE id=object_id(") +
            QxSql::Literal(object, QLatin1Char('\'')) + QStringLiteral(")"));
  else
    SetText(QStringLiteral("SELECT text FROM ") + SysTable(QStringLiteral("syscomments")) +
            QStringLiteral(" WHERE id=object_id(") +
            QxSql::Literal(selectDb_.trimmed() + QLatin1Char('.') + owner + QLatin1Char('.') + object, QLatin1Char('\'')) +
            QStringLiteral(")"));
  // The source is split across rows at arbitrary points: blanks and line ends at a row's edge
  // belong to the source, so rows are read untrimmed and only the whole text is trimmed.
  query_->TrimResults = false;
  QString source;
  try {
    for (const QStringList& row : ReadAll())
      if (!row.isEmpty()) source += row.front();
  } catch (...) {
    query_->TrimResults = true;
    throw;
  }
  query_->TrimResults = true;
  text = source.trimmed();
}

void TQorixObjInfo::GetUserTypeDDL(const QString& name, QString& text) {
  SettleConnection();
  text = kNoData;
  std::unique_ptr<TQxUserTypeInfo> info = GetUserTypeInfo(name);
  if (!info) return;
  const QString storage = info->StorageType.trimmed();
  QString type = storage;
  if (storage == QLatin1String("char") || storage == QLatin1String("varchar"))
    type += QStringLiteral("(%1)").arg(info->Length);
  else if (storage == QLatin1String("numeric") || storage == QLatin1String("decimal"))
    type += QStringLiteral("(%1,%2)").arg(info->Prec).arg(info->Scale);
  text = QStringLiteral("EXECUTE sp_addtype ") + QxSql::Ident(name.trimmed()) + QLatin1Char(',') +
         QxSql::Literal(type, QLatin1Char('"')) +
         (info->Identity ? QStringLiteral(",\"identity\"") : QStringLiteral(",NULL")) +
         (info->AllowNulls ? QStringLiteral(",\"NULL\"") : QStringLiteral(",\"NONULL\""));
}

void TQorixObjInfo::GetUserDDL(const QString& name, QString& text) {
  SettleConnection();
  text = kNoData;
  std::unique_ptr<TQxUser> user = GetUserInfo(name);
  if (!user) return;
  const QString n = QxSql::Literal(name.trimmed(), QLatin1Char('"'));
  text = QStringLiteral("EXECUTE sp_adduser ") + n + QLatin1Char(',') + n + QLatin1Char(',') +
         QxSql::Literal(user->GroupName, QLatin1Char('"'));
}
