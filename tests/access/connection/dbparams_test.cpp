// DbParams lines (every key, key and value trimming, conversion errors that stop the rest),
// AssignSettings and the context-held properties, headless (no server needed).
#include <gtest/gtest.h>

#include <functional>

#include "access/QorixContext.h"
#include "access/QorixDatabase.h"
#include "access/QorixExceptions.h"

namespace {

struct ParamCase {
  const char* name;
  QString line;
  std::function<bool(TQorixDatabase&)> check;
};

TEST(DbParamsTest, EveryKeySetsItsProperty) {
  const ParamCase cases[] = {
      {"DBNAME", "DBNAME=sample", [](auto& d) { return d.DbName() == "sample"; }},
      {"PASSWORD", "PASSWORD=secret", [](auto& d) { return d.Password == "secret"; }},
      {"USERNAME", "USERNAME=bob", [](auto& d) { return d.UserName == "bob"; }},
      {"CONTEXTNAME", "CONTEXTNAME=context2", [](auto& d) { return d.ContextName == "context2"; }},
      {"SERVERNAME", "SERVERNAME=TABULON", [](auto& d) { return d.ServerName == "TABULON"; }},
      {"DEBUGFILE", "DEBUGFILE=/tmp/x.log", [](auto& d) { return d.DebugFile == "/tmp/x.log"; }},
      {"LANGUAGE", "LANGUAGE=us_english", [](auto& d) { return d.Language() == "us_english"; }},
      {"INIFILE", "INIFILE=/etc/interfaces", [](auto& d) { return d.IniFile == "/etc/interfaces"; }},
      {"SORTORDER", "SORTORDER=binary", [](auto& d) { return d.SortOrder() == "binary"; }},
      {"CHARSET", "CHARSET=utf8", [](auto& d) { return d.CharSet() == "utf8"; }},
      {"RDBMS", "RDBMS=SQLAnywhere", [](auto& d) { return d.Rdbms == "SQLAnywhere"; }},
      {"APPNAME", "APPNAME=tabulon", [](auto& d) { return d.AppName == "tabulon"; }},
      {"HOSTNAME", "HOSTNAME=box", [](auto& d) { return d.HostName == "box"; }},
      {"MONITOR", "MONITOR=1", [](auto& d) { return d.Monitor; }},
      {"RDBMSPROMPT", "RDBMSPROMPT=0", [](auto& d) { return !d.RdbmsPrompt; }},
      {"RDBMSSHOW", "RDBMSSHOW=0", [](auto& d) { return !d.RdbmsShow; }},
      {"EMULATEASE", "EMULATEASE=1", [](auto& d) { return d.EmulateASE; }},
      {"DEBUG", "DEBUG=1", [](auto& d) { return d.Debug; }},
      {"LOGINPROMPT", "LOGINPROMPT=0", [](auto& d) { return !d.LoginPrompt; }},
      {"SERVERPROMPT", "SERVERPROMPT=0", [](auto& d) { return !d.ServerPrompt; }},
      {"SERVERSHOW", "SERVERSHOW=0", [](auto& d) { return !d.ServerShow; }},
      {"CONNECTERROR", "CONNECTERROR=0", [](auto& d) { return !d.ConnectError; }},
      {"FORCECLOSE", "FORCECLOSE=1", [](auto& d) { return d.ForceClose; }},
      {"ABORTONPWDEXP", "ABORTONPWDEXP=1", [](auto& d) { return d.AbortOnPwdExp; }},
      {"MAXCONNECT", "MAXCONNECT=7", [](auto& d) { return d.MaxConnect() == 7; }},
      {"TIMEOUT", "TIMEOUT=42", [](auto& d) { return d.TimeOut() == 42; }},
      {"PACKETSIZE", "PACKETSIZE=2048", [](auto& d) { return d.PacketSize() == 2048; }},
      {"TEXTSIZE", "TEXTSIZE=999", [](auto& d) { return d.TextSize() == 999; }},
      {"Boolean takes the lowest byte", "DEBUG=256", [](auto& d) { return !d.Debug; }},
      {"lower-case key with blanks", "  dbname =  sample  ", [](auto& d) { return d.DbName() == "sample"; }},
      {"value keeps inner blanks and later =", "password= a=b c ",
       [](auto& d) { return d.Password == "a=b c"; }},
      {"line without = is skipped", "USERNAME", [](auto& d) { return d.UserName.isEmpty(); }},
      {"unknown key is ignored", "COLOUR=blue", [](auto& d) { return d.UserName.isEmpty(); }},
  };
  for (const ParamCase& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixDatabase db;
    const QStringList params{c.line};
    TQorixDatabase::ApplyDbParams(&db, &params);
    EXPECT_TRUE(c.check(db));
  }
}

TEST(DbParamsTest, ABadNumberRaisesAndStopsTheRemainingLines) {
  TQorixDatabase db;
  const QStringList params{QStringLiteral("USERNAME=first"), QStringLiteral("TIMEOUT=soon"),
                           QStringLiteral("PASSWORD=never")};
  EXPECT_THROW(TQorixDatabase::ApplyDbParams(&db, &params), EConvertError);
  EXPECT_EQ(db.UserName, QStringLiteral("first"));
  EXPECT_TRUE(db.Password.isEmpty());
}

TEST(DbParamsTest, MissingParamsOrDatabaseRaise) {
  TQorixDatabase db;
  const QStringList params;
  try {
    TQorixDatabase::ApplyDbParams(&db, nullptr);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Missing DbParams"));
  }
  try {
    TQorixDatabase::ApplyDbParams(nullptr, &params);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Database name missing"));
  }
}

TEST(DbParamsTest, TimeOutBelowOneIsRefused) {
  TQorixDatabase db;
  EXPECT_THROW(db.SetTimeOut(0), EQorixException);
  // Without the named context the context properties read as nothing.
  db.ContextName = QStringLiteral("nowhere");
  EXPECT_EQ(db.MaxConnect(), 0);
  EXPECT_EQ(db.Language(), QString());
}

TEST(AssignSettingsTest, CopiesSettingsButNotLanguageAndRdbmsPrompt) {
  TQorixDatabase source, target;
  source.MsgDialogs = TMsgDialogs{mdEnhErr};
  source.ShowDbMessages = TShowDbMessages{};
  source.EmulateASE = true;
  source.Monitor = true;
  source.Rdbms = QStringLiteral("SQLAnywhere");
  source.AppName = QStringLiteral("app");
  source.UserName = QStringLiteral("bob");
  source.Password = QStringLiteral("pw");
  source.SetDbName(QStringLiteral("sample"));
  source.ServerName = QStringLiteral("TABULON");
  source.LoginPrompt = false;
  source.RdbmsPrompt = false;
  source.ConProps = TConProps{cpAnsiBinds};
  source.SetTransLevel(tlLevel3);
  source.ProcOptions = TProcOptions{poNoCount};
  source.SetPacketSize(4096);
  source.SetTextSize(100);
  source.SetRowCount(5);
  source.Params = QStringList{QStringLiteral("USERNAME=x")};
  source.UseParams = true;
  source.InitString = QStringLiteral("set nocount on");
  source.IdleSQL = QStringLiteral("select 1");
  source.RuntimeConfig.ConfigFile = QStringLiteral("/etc/ocs.cfg");
  source.RuntimeConfig.UseConfigFile = true;

  target.AssignSettings(source);

  EXPECT_EQ(target.MsgDialogs, TMsgDialogs{mdEnhErr});
  EXPECT_TRUE(target.ShowDbMessages.Empty());
  EXPECT_TRUE(target.EmulateASE && target.Monitor);
  EXPECT_EQ(target.Rdbms, QStringLiteral("SQLAnywhere"));
  EXPECT_EQ(target.UserName, QStringLiteral("bob"));
  EXPECT_EQ(target.Password, QStringLiteral("pw"));
  EXPECT_EQ(target.DbName(), QStringLiteral("sample"));
  EXPECT_EQ(target.ServerName, QStringLiteral("TABULON"));
  EXPECT_FALSE(target.LoginPrompt);
  EXPECT_TRUE(target.RdbmsPrompt);  // not copied
  EXPECT_EQ(target.ConProps, TConProps{cpAnsiBinds});
  EXPECT_EQ(target.TransLevel(), tlLevel3);
  EXPECT_EQ(target.ProcOptions, TProcOptions{poNoCount});
  EXPECT_EQ(target.PacketSize(), 4096);
  EXPECT_EQ(target.TextSize(), 100);
  EXPECT_EQ(target.RowCount(), 5);
  EXPECT_EQ(target.Params, source.Params);
  EXPECT_TRUE(target.UseParams);
  EXPECT_EQ(target.InitString, source.InitString);
  EXPECT_EQ(target.IdleSQL, source.IdleSQL);
  EXPECT_EQ(target.RuntimeConfig.ConfigFile, QStringLiteral("/etc/ocs.cfg"));
  EXPECT_TRUE(target.RuntimeConfig.UseConfigFile);
}

}  // namespace
