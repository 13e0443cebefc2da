// TQorixObjInfo: the catalogue service. Answers questions about a server's objects by running
// catalogue SQL for the connection's family ("Sybase SQL Server" or "SQLAnywhere") through a
// private read-only cursor engine, and turns catalogue rows into definition text (DDL).
// Readers return the component's own result list, a record the caller owns, or a list of
// records the caller owns.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

#include "access/QorixBase.h"
#include "catalog/service/QxObjInfoTypes.h"

class TQorixEnhQuery;
class TQorixDatabase;

// The catalogue service component.
class TQorixObjInfo : public TQorixBase {
 public:
  // PrefixObjWithOwner off; creates the two string lists and the private query with the
  // message settings the component has now.
  explicit TQorixObjInfo(TComponent* owner = nullptr);
  // Frees the private query, then the string lists.
  ~TQorixObjInfo() override;

  // ---- properties ----
  // The database whose catalogue tables are read; blank takes the connection's DbName at the
  // next read.
  const QString& SelectDb() const { return selectDb_; }
  void SetSelectDb(const QString& value) { selectDb_ = value; }
  // CREATE TABLE names database.owner.table instead of owner.table.
  bool PrefixWithDbName = false;
  // The database of that prefix; blank means SelectDb.
  QString PrefixDbName;
  // Kept with the component; no reader consults it.
  bool PrefixObjWithOwner = false;

  // ---- column array (LoadColumns / LoadColumn), entries 1..ColumnCount ----
  int ColumnCount = 0;
  // Entry I's fields; I out of 1..ColumnCount gives an empty value.
  QString ColumnName(int i) const;
  QString ColumnTypeName(int i) const;
  int ColumnPrec(int i) const;
  int ColumnScale(int i) const;
  int ColumnLength(int i) const;
  bool ColumnNullable(int i) const;
  bool ColumnIdentity(int i) const;
  // Entry I, or null out of range.
  const TQxColumnInfo* Column(int i) const;
  // Empties the array; ColumnCount 0.
  void ClearColumns();

  // ---- free operations ----
  // Null List does nothing; otherwise empties it and, with FreeList, releases it.
  static void FreeColumnList(std::unique_ptr<TQxColumnList>& list, bool freeList);
  static void FreeInfoList(std::unique_ptr<TQxServerConfigList>& list, bool freeList);

  // ---- readers ----
  // Every reader that takes a table, view or procedure name takes it as FindObject does, so
  // objects of one name and several owners, and names holding a ".", are told apart.
  // Database names (the current one only on "SQLAnywhere").
  const QStringList& GetDatabaseList();
  // The object Name of SelectDb, with its columns and permissions when asked; null when none.
  // A non-blank Owner picks that owner's object among same-named ones.
  std::unique_ptr<TQxObject> GetObjectInfo(const QString& name, bool withColumns, bool withPermissions,
                                           const QString& owner = QString());
  std::unique_ptr<TQxDatabase> GetDatabaseInfo(const QString& name);
  // Null for a name that is a user, not a group.
  std::unique_ptr<TQxGroup> GetGroupInfo(const QString& name);
  std::unique_ptr<TQxUser> GetUserInfo(const QString& name);
  std::unique_ptr<TQxIndex> GetIndexInfo(const QString& indexName, const QString& tableName);
  std::unique_ptr<TQxLogin> GetLoginInfo(const QString& name);
  std::unique_ptr<TQxDevice> GetDeviceInfo(const QString& name);
  // The key columns, in key order, of TableIndex ("table.index").
  const QStringList& GetIndexColumns(const QString& tableIndex);
  // The index names of TableName (indid 1 to 254).
  const QStringList& GetTableIndexes(const QString& tableName);
  // The columns of a table or view ("U", "S", "V": described) or the parameters of a
  // procedure ("P"); null for any other ObjType.
  std::unique_ptr<TQxColumnList> GetColumnList(const QString& name, const QString& objType);
  // Permission rows filtered by kind (1 object id, 2 object name, 3 grantee id, 4 grantee
  // name, 5 action, else none); null when no row came back.
  std::unique_ptr<TQxProtectList> GetPermissions(uint8_t filterKind, const QVariant& filterValue, uint8_t action);
  // The table's row count, or -1 (always on "SQLAnywhere"). A non-blank Owner counts that
  // owner's table only.
  int64_t GetRowCount(const QString& name, const QString& owner = QString());
  // The owner's name of object Name (empty when none); Name as FindObject takes it.
  void GetObjectOwner(const QString& name, QString& owner);
  // Object Text of SelectDb: "name" or "owner.name", a part holding a "." between brackets
  // ("dbo.[dot.ted]"). Unbracketed, "a.b" is user a's object b when there is one, else the object
  // named "a.b". Of same-named objects of several owners a plain name finds dbo's, else the one
  // of the lowest uid.
  TQxObjectRef FindObject(const QString& text);
  // The names that two or more objects of SelectDb share (objects of several owners), in name
  // order: a plain name of one of those names only dbo's object, or the lowest uid's, so
  // callers name those objects with their owner.
  const QStringList& GetSharedObjectNames();
  // "table.leaf" or "owner.table.leaf" cut at its last dot outside brackets: Container is the
  // table as FindObject takes it, Leaf the column or index name (brackets removed).
  static void SplitLeafName(const QString& text, QString& container, QString& leaf);
  // Server configuration groups ("Sybase SQL Server" only).
  const QStringList& GetConfigGroups();
  // The parameters of a configuration group (all when blank); null on "SQLAnywhere".
  std::unique_ptr<TQxServerConfigList> GetConfigValues(const QString& group);
  // Fills the column array with the columns of TableName.
  void LoadColumns(const QString& tableName);
  // Fills the column array with one column of TableName.
  void LoadColumn(const QString& tableName, const QString& columnName);
  std::unique_ptr<TQxUserTypeInfo> GetUserTypeInfo(const QString& name);
  // The primary key of TableName; null when it has none.
  std::unique_ptr<TQxTableKeys> GetPrimaryKeys(const QString& tableName);

  // ---- definition text ----
  // CREATE TABLE, one line per entry of the result list.
  const QStringList& GetTableDDL(const QString& tableName);
  // CREATE INDEX, one line per entry of the result list.
  const QStringList& GetIndexDDL(const QString& indexName, const QString& tableName);
  // The stored source of a procedure, view, trigger, default or rule.
  void GetObjectText(const QString& name, QString& text);
  // "EXECUTE sp_addtype ..." for a user datatype.
  void GetUserTypeDDL(const QString& name, QString& text);
  // "EXECUTE sp_adduser ..." for a database user.
  void GetUserDDL(const QString& name, QString& text);
  // One CREATE TABLE column line of loaded column I: name from the 2nd character, type from
  // the 32nd, the null keyword from the 61st.
  QString FormatColumnDef(int i) const;
  // S followed by Ch until it is Width long (S unchanged when already that long).
  static QString PadRight(const QString& s, QChar ch, int width);

  // The owner found by the last GetObjectOwner that GetTableDDL, GetObjectText,
  // GetTableIndexes or GetPrimaryKeys made.
  const QString& OwnerText() const { return ownerText_; }
  // The result list of the last list reader.
  const QStringList& ResultList() const { return resultList_; }
  // The private query (its SQL shows the last text sent).
  TQorixEnhQuery* Query() const { return query_; }

 private:
  class ReadScope;
  friend class ReadScope;

  // Steps 1 and 2 of every read: the connection, then SelectDb.
  void SettleConnection();
  // The connection's database name (its DbName), or empty.
  QString ConnectionDbName() const;
  // The connection's family text.
  QString Rdbms() const;
  bool IsAnywhere() const;
  bool IsSybase() const;
  // SelectDb as an identifier, + ".dbo." + Table.
  QString SysTable(const QString& table) const;
  // 'SelectDb.owner.name' as object_id and index_col take it (a part holding a "." between
  // brackets), as a string literal.
  QString ObjectIdText(const TQxObjectRef& ref) const;
  // db_id("SelectDb"), for the catalogue functions that otherwise read the current database.
  QString DbIdText() const;
  // The check constraints, column defaults and bound rules and defaults of table Ref, read into
  // the column array's DefaultText and the lists below (the definition text's additions).
  void LoadTableAdditions(const TQxObjectRef& ref, QStringList& constraints, QStringList& bindings);
  // The sp_primarykey and sp_foreignkey calls that recreate the keys syskeys holds for table Ref.
  QStringList TableKeyCalls(const TQxObjectRef& ref);
  // Points the private query at the connection and sets its SQL.
  void PrepareQuery();
  void SetText(const QString& text);
  void SetLines(const QStringList& lines);
  // Opens the query and reads every row: each row's column texts.
  std::vector<QStringList> ReadAll();
  // Opens the query and appends column 1 of every row to the result list.
  void ReadColumnOneIntoResult();
  void CancelQuery();
  void ClearResult();
  void FillColumnArray();

  QString selectDb_;
  QStringList resultList_;
  std::unique_ptr<QStringList> workList_;
  TQorixEnhQuery* query_ = nullptr;
  QString ownerText_;
  std::vector<TQxColumnInfo> columns_;  // entry 0 left empty
};
