// TQorixProcessView: the eight statements and their column layouts.

#include "catalog/views/QorixProcessView.h"

#include <utility>
#include <vector>

namespace {

// The five aggregates the per-group views share.
QStringList ActivityPieces() {
  return {" Users = count(*),", " Cpu = sum(cpu),", " IO = sum(physical_io),", " Mem = sum(memusage)",
          " FROM master..sysprocesses", " WHERE spid <> @@spid"};
}

QStringList Pieces(TQxProcessInfoType kind) {
  switch (kind) {
    case pitProcesses:
      return {"SELECT SPID=sp.spid,", " \"User Name\" = sl.name,", " Command = sp.cmd,", " Status = sp.status,",
              " \"Database\" = sd.name,", " Cpu=convert(char(5),sp.cpu),", " IO=convert(char(8),sp.physical_io),",
              " Mem=convert(char(8),sp.memusage),", " Blk=convert(varchar(3),sp.blocked),", " Host = sp.hostname,",
              " Program = sp.program_name,", " Eng = enginenum", " FROM master..sysprocesses sp,",
              " master..syslogins sl,", " master..sysdatabases sd", " WHERE sp.suid*=sl.suid",
              " AND sd.dbid = sp.dbid", " AND sp.spid <> @@spid", " ORDER BY sp.spid"};
    case pitBlocking:
      return {"SELECT SPID = sp.spid,", "'User Name' = convert(char(20), suser_name(sp.suid)),",
              "'Host' = sp.hostname,", "'Host Process' = sp.hostprocess,", "Blk = sp.blocked,",
              "Program = sp.program_name ", "FROM master..sysprocesses sp ", "WHERE sp.blocked > 0 ",
              "OR exists (select * ", "FROM master..sysprocesses sp2 ", "WHERE sp.spid=sp2.blocked) ",
              "ORDER BY sp.blocked"};
    case pitClients:
      return QStringList{"SELECT Client = hostname,"} + ActivityPieces() + QStringList{" GROUP BY hostname"};
    case pitClientPrograms:
      return QStringList{"SELECT Program = program_name,"} + ActivityPieces() +
             QStringList{" GROUP BY program_name"};
    case pitEngineActivity:
      return QStringList{"SELECT Eng = convert(char(3),enginenum),", " Host = convert(char(10),hostname),",
                         " Program = program_name,", " Command = cmd,"} +
             ActivityPieces() +
             QStringList{" GROUP BY enginenum,", " hostname,", " program_name,", " cmd", " ORDER BY enginenum"};
    case pitLoading:
      return QStringList{"SELECT Engine = enginenum,"} + ActivityPieces() + QStringList{" GROUP BY enginenum"};
    case pitStatus:
      return QStringList{"SELECT Command = cmd,", " Status = status,"} + ActivityPieces() +
             QStringList{" GROUP BY cmd,", " status"};
    case pitLocks:
      return {"SELECT \"Spid\" = spid,", " \"Lock Type\" = name,", " \"Table Id\" = id,", " \"Page\" = page,",
              " \"Database\" = convert(char(15), db_name(dbid)),", " \"Class\" = class",
              " from master..syslocks l,", " master..spt_values v", " where l.type = v.number",
              " and v.type = \"L\"", " order by spid, convert(char(15), db_name(dbid)), id, name, page"};
  }
  return {};
}

// Caption and width in multiples of the font size; 0 keeps the default width of a new column.
using Layout = std::vector<std::pair<const char*, int>>;

Layout ColumnsOf(TQxProcessInfoType kind) {
  switch (kind) {
    case pitProcesses:
      return {{"SPID", 6},   {"User Name", 10}, {"Command", 18}, {"Status", 12}, {"Database", 12}, {"CPU", 10},
              {"I/O", 10},   {"Memory", 10},    {"Block", 0},    {"Host", 10},   {"Program", 15},  {"Engine", 0}};
    case pitBlocking:
      return {{"SPID", 6}, {"User Name", 10}, {"Host", 10}, {"Host Process", 20}, {"Block", 0}, {"Program", 15}};
    case pitClients:
      return {{"Client", 15}, {"Users", 10}, {"CPU", 10}, {"I/O", 10}, {"Memory", 10}};
    case pitClientPrograms:
      return {{"Program", 15}, {"Users", 10}, {"CPU", 10}, {"I/O", 10}, {"Memory", 10}};
    case pitEngineActivity:
      return {{"Engine", 0},  {"Host", 10}, {"Program", 15}, {"Command", 18},
              {"Users", 10}, {"CPU", 10},  {"I/O", 10},     {"Memory", 10}};
    case pitLoading:
      return {{"Engine", 0}, {"Users", 10}, {"CPU", 10}, {"I/O", 10}, {"Memory", 10}};
    case pitStatus:
      return {{"Command", 18}, {"Status", 12}, {"Users", 10}, {"CPU", 10}, {"I/O", 10}, {"Memory", 10}};
    case pitLocks:
      return {{"SPID", 6}, {"Lock Type", 15}, {"Table Id", 10}, {"Page", 10}, {"Database", 12}, {"Class", 15}};
  }
  return {};
}

}  // namespace

TQorixProcessView::TQorixProcessView(TComponent* owner) : TQorixCustomListView(owner) { columnMode_ = 2; }

QString TQorixProcessView::ProcessSQL(TQxProcessInfoType kind) { return Pieces(kind).join(QString()); }

void TQorixProcessView::BuildSQL(TQxProcessInfoType kind) {
  const QStringList pieces = Pieces(kind);
  ClearSQL();
  for (const QString& piece : pieces) AddSQL(piece);
}

void TQorixProcessView::BuildColumns() {
  for (const auto& [caption, width] : ColumnsOf(ProcessInfoType))
    Contents().AddColumn(QString::fromLatin1(caption),
                         width > 0 ? width * FontSize : TQxListContents::kDefaultColumnWidth);
}

bool TQorixProcessView::Execute() {
  BuildSQL(ProcessInfoType);
  BeforeExec = [this](TComponent*) { BuildColumns(); };
  return TQorixCustomListView::Execute();
}
