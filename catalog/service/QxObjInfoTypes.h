// The detail records the catalogue service hands out: one record per database, object, group,
// user, login, index, device, permission row, column, primary key, configuration parameter and
// user datatype, with the flag sets decoded from the catalogue's status columns.
#pragma once

#include <QList>
#include <QString>
#include <bitset>
#include <cstdint>
#include <memory>

// One column loaded by LoadColumns or LoadColumn.
struct TQxColumnInfo {
  QString Name;      // at most 30 characters
  QString TypeName;  // at most 30 characters
  int32_t Prec = 0;
  int32_t Scale = 0;
  int32_t Length = 0;
  bool Nullable = false;
  bool Identity = false;
  // The column's own DEFAULT expression ("'Net 30'"); filled for the definition text only.
  QString DefaultText;
};

// One object of a database as the catalogue names it: owner, name, id, the owner's uid and the
// type code. Id 0 means no such object (Name then holds the name that was asked for).
struct TQxObjectRef {
  QString Owner;
  QString Name;
  int32_t Id = 0;
  int32_t UId = 0;
  QString Type;
  bool Found() const { return Id != 0; }
};

// One column of a table or view, or one procedure parameter.
struct TQxColumn {
  QString Name;
  int32_t Length = 0;
  int32_t Scale = 0;
  int32_t Prec = 0;
  QString TypeName;
  uint16_t Status = 0;
};
using TQxColumnList = QList<TQxColumn>;

// The permission kinds of a permission row (its action number).
enum TQxProtectAction : uint8_t {
  paNone = 0,
  paSelect,
  paInsert,
  paDelete,
  paUpdate,
  paExecute,
  paReferences,
  paCreateDatabase,
  paCreateDefault,
  paCreateProcedure,
  paCreateRule,
  paCreateTable,
  paCreateView,
  paDumpDatabase,
  paDumpTransaction
};

// The action of a catalogue action number (193 select ... 235 dump transaction; others paNone).
TQxProtectAction ProtectActionOfNumber(int number);
// The catalogue action number of an action (paSelect 193 ...; paNone and unknown codes 0).
int ActionNumberOfProtect(int action);
// The protect type of a catalogue protect type: 0 (grant with grant option) 1, 1 (grant) 2,
// 2 (revoke) 3, any other 0.
uint8_t ProtectTypeOfNumber(int number);

// One permission row.
struct TQxProtect {
  int32_t Id = 0;
  QString ObjectName;
  int32_t UId = 0;
  QString UserName;
  uint8_t Action = paNone;  // TQxProtectAction
  uint8_t ProtectType = 0;
  int32_t Grantor = 0;
  QString GrantorName;
};
using TQxProtectList = QList<TQxProtect>;

// A database (master.dbo.sysdatabases).
struct TQxDatabase {
  QString Name;
  int32_t DbId = 0;
  int32_t SuId = 0;
  QString OwnerName;
  // Flags 0-9 from status bits 4, 8, 16, 32, 256, 512, 1024, 2048, 4096, 8192: select
  // into/bulkcopy, truncate log on checkpoint, no checkpoint on recovery, created for load,
  // suspect, DDL in transactions, read only, DBO use only, single user, allow nulls by default.
  std::bitset<16> StatusFlags;
  // Flags 0-6 from status2 bits 1..64, flag 7 from bit 32768 (log without a device of its own).
  std::bitset<8> Status2Flags;
  int32_t Version = 0;
  QString CreateDate;  // at most 28 characters
};

// A table, view, procedure, trigger, rule or default (sysobjects).
struct TQxObject {
  QString Name;
  int32_t Id = 0;
  int32_t UId = 0;
  QString OwnerName;
  QString ObjType;  // at most 2 characters: "U", "S", "V", "P", "TR", "R", "D"
  std::unique_ptr<TQxColumnList> Columns;         // null unless asked for and readable
  std::unique_ptr<TQxProtectList> Permissions;    // null unless asked for and found
  int32_t DelTrigId = 0;
  QString DelTrigName;
  int32_t InsTrigId = 0;
  QString InsTrigName;
  int32_t UpdTrigId = 0;
  QString UpdTrigName;
  QString CreateDate;  // at most 28 characters
  // Flags 0-6 from sysstat2 bits 1..64, flag 7 from bit 512.
  std::bitset<8> StatusFlags;
};

// A group or a user (sysusers); GroupName is the group's own name, or the user's group.
struct TQxGroup {
  QString Name;
  int32_t SuId = 0;
  int32_t UId = 0;
  int32_t GId = 0;
  QString GroupName;
};
using TQxUser = TQxGroup;

// A login (master.dbo.syslogins).
struct TQxLogin {
  QString Name;
  int32_t SuId = 0;
  // Flag 0 password null (bit 1), 1 locked (bit 2), 2 expired (bit 4).
  std::bitset<8> StatusFlags;
  int32_t TotCpu = 0;
  int32_t TotIo = 0;
  QString DbName;
  QString Language;
  QString PwDate;  // at most 28 characters
  QString FullName;
};

// Flag numbers of TQxIndex::StatusFlags.
enum TQxIndexFlag : int {
  ixIgnoreDupKey = 0,   // status 1
  ixUnique = 1,         // status 2
  ixIgnoreDupRow = 2,   // status 4
  ixClustered = 3,      // status 16
  ixAllowDupRow = 4,    // status 64
  ixSorted = 5,         // status 128
  ixSortedData = 6,     // status 512
  ixBeingCreated = 7,   // status 1024
  ixPrimaryKey = 8,     // status 2048
  ixSuspect = 9         // status 32768
};

// An index (sysindexes).
struct TQxIndex {
  QString Name;
  int32_t Id = 0;  // the table's id
  QString TableName;
  int16_t IndId = 0;
  int16_t Segment = 0;
  QString SegmentName;
  int16_t MinLen = 0;
  int16_t MaxLen = 0;
  int16_t SoId = 0;
  std::bitset<16> StatusFlags;  // TQxIndexFlag
  // Flags 0-6 from status2 bits 1..64.
  std::bitset<8> Status2Flags;
};

// A device (master.dbo.sysdevices); StatusFlags is the status AND 16383.
struct TQxDevice {
  QString Name;
  std::bitset<16> StatusFlags;
  QString PhysName;
  QString MirrorName;
  int16_t CntrlType = 0;
};

// A table's primary key: its key columns joined with ";".
struct TQxTableKeys {
  QString TableName;
  QString RelatedObject;
  QString Keys;
};

// One server configuration parameter.
struct TQxServerConfig {
  QString ParameterName;
  QString Default;
  QString MemoryUsed;
  QString ConfigValue;
  QString RunValue;
};
using TQxServerConfigList = QList<TQxServerConfig>;

// A user datatype.
struct TQxUserTypeInfo {
  QString TypeName;     // at most 30 characters
  QString StorageType;  // at most 30 characters
  int32_t Length = 0;
  int32_t Prec = 0;
  int32_t Scale = 0;
  uint8_t AllowNulls = 0;  // non-zero: nulls allowed
  QString DefaultName;     // at most 30 characters
  QString RuleName;        // at most 30 characters
  uint8_t Identity = 0;    // non-zero: identity type
};

// Flag decoding: for every listed status bit that is set, the flag at its position.
std::bitset<16> DatabaseStatusFlags(int64_t status);
std::bitset<8> DatabaseStatus2Flags(int64_t status2);
std::bitset<8> ObjectStatusFlags(int64_t sysstat2);
std::bitset<8> LoginStatusFlags(int64_t status);
std::bitset<16> IndexStatusFlags(int64_t status);
std::bitset<8> IndexStatus2Flags(int64_t status2);
std::bitset<16> DeviceStatusFlags(int64_t status);
