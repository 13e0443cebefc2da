// TQorixDirService: lookups of 0, 3 and 300 server entries on a context's interfaces file,
// one lookup for repeated reads, the database's connection left alone, and the failures.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <memory>

#include "access/QorixContext.h"
#include "access/QorixDirService.h"
#include "access/QorixExceptions.h"
#include "access/ctlib/RecordingLibrary.h"
#include "fake_database.h"

namespace {

class DirService : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = std::make_unique<TQorixContext>();
    ctx_->SetName("ctx");
  }
  // Points the context at an interfaces file with N server entries.
  void WriteServers(int n) {
    std::ofstream out(dir_.filePath("interfaces").toStdString(), std::ios::trunc);
    for (int i = 0; i < n; ++i)
      out << "SRV" << i << "\n\tmaster tcp ether 127.0.0.1 " << 5000 + i << "\n\tquery tcp ether 127.0.0.1 "
          << 5000 + i << "\n\n";
    out.close();
    ctx_->SetIniFile(dir_.filePath("interfaces"));
  }
  QTemporaryDir dir_;
  std::unique_ptr<TQorixContext> ctx_;
};

TEST_F(DirService, ListsEveryServerOfTheContextsInterfacesFile) {
  for (int n : {0, 3, 300}) {
    WriteServers(n);
    TQorixDirService ds;
    ds.ContextName = "default";
    const QStringList names = ds.GetServerNames();
    ASSERT_EQ(names.size(), n) << "more than the old 256 slots must not overrun anything";
    for (int i = 0; i < n; ++i) EXPECT_EQ(names[i], QStringLiteral("SRV%1").arg(i));
  }
}

TEST_F(DirService, ReadsOnceAndDropsItsOwnObjects) {
  WriteServers(3);
  ctlib::RecordingLibrary rec;
  {
    TQorixDirService ds;
    ds.ContextName = "default";
    EXPECT_EQ(ds.GetServerNames().size(), 3);
    EXPECT_EQ(ds.GetServerNames().size(), 3);
    EXPECT_EQ(rec.Count("ct_ds_lookup"), 1);
    EXPECT_EQ(rec.Count("ct_con_alloc"), 1);
    EXPECT_EQ(rec.Count("ct_connect"), 0) << "a lookup needs only the connection structure";
  }
  EXPECT_EQ(rec.Count("ct_ds_dropobj"), 3);
  EXPECT_EQ(rec.Count("ct_con_drop"), 1);
}

TEST_F(DirService, UsesALinkedDatabasesConnectionAndLeavesItsObjects) {
  WriteServers(2);
  FakeDatabase db;
  db.SetName("db");
  db.AllocConnection();
  ctlib::RecordingLibrary rec;
  {
    TQorixDirService ds;
    ds.DbName = "db";
    EXPECT_EQ(ds.GetServerNames(), (QStringList{"SRV0", "SRV1"}));
    EXPECT_EQ(ds.Database(), &db);
    EXPECT_EQ(rec.Count("ct_con_alloc"), 0);
  }
  EXPECT_EQ(rec.Count("ct_ds_dropobj"), 0);
  EXPECT_EQ(rec.Count("ct_con_drop"), 0);
}

TEST_F(DirService, DatabaseWithoutConnectionGetsAnOwnStructure) {
  WriteServers(1);
  FakeDatabase db;
  db.SetName("db");
  ctlib::RecordingLibrary rec;
  TQorixDirService ds;
  ds.SetDatabase(&db);
  EXPECT_EQ(ds.GetServerNames(), QStringList{"SRV0"});
  EXPECT_EQ(rec.Count("ct_con_alloc"), 1);
}

// The found objects belong to the connection they were looked up on: a database that
// reconnected (new connection structure) must not have its old, dropped objects read.
TEST_F(DirService, ADatabaseThatReconnectedIsLookedUpAgain) {
  WriteServers(2);
  FakeDatabase db;
  db.SetName("db");
  db.AllocConnection();
  TQorixDirService ds;
  ds.SetDatabase(&db);
  ASSERT_EQ(ds.GetServerNames(), (QStringList{"SRV0", "SRV1"}));
  db.DropConnection();
  db.AllocConnection();
  EXPECT_EQ(ds.GetServerNames(), (QStringList{"SRV0", "SRV1"}));
  // Disconnected: an own structure takes over.
  db.DropConnection();
  EXPECT_EQ(ds.GetServerNames(), (QStringList{"SRV0", "SRV1"}));
}

TEST_F(DirService, AChangedContextNameListsThatContextsServers) {
  WriteServers(1);
  QTemporaryDir otherDir;
  {
    std::ofstream out(otherDir.filePath("interfaces").toStdString());
    out << "OTHER_A\n\tquery tcp ether 127.0.0.1 6000\nOTHER_B\n\tquery tcp ether 127.0.0.1 6001\n";
  }
  TQorixContext other;
  other.SetName("other");
  other.SetIniFile(otherDir.filePath("interfaces"));
  const QString firstName = ctx_->ContextName();
  const QString otherName = other.ContextName();
  ASSERT_NE(firstName, otherName);
  TQorixDirService ds;
  const struct {
    QString contextName;
    QStringList names;
  } steps[] = {{firstName, {"SRV0"}}, {otherName, {"OTHER_A", "OTHER_B"}}, {firstName, {"SRV0"}}};
  for (const auto& step : steps) {
    ds.ContextName = step.contextName;
    EXPECT_EQ(ds.GetServerNames(), step.names) << step.contextName.toStdString();
  }
}

// A linked database that is not connected names its context by its ContextName: changing it
// lists the new context's servers, whether the database holds no connection structure or one
// allocated on the old context.
TEST_F(DirService, ALinkedDatabasesChangedContextListsThatContextsServers) {
  WriteServers(1);
  QTemporaryDir otherDir;
  {
    std::ofstream out(otherDir.filePath("interfaces").toStdString());
    out << "OTHER_A\n\tquery tcp ether 127.0.0.1 6000\n";
  }
  TQorixContext other;
  other.SetName("other");
  other.SetIniFile(otherDir.filePath("interfaces"));
  for (bool structure : {false, true}) {
    SCOPED_TRACE(structure ? "an unconnected structure on the old context" : "no connection structure");
    FakeDatabase db;
    db.SetName("db");
    db.contextName_ = ctx_->ContextName();
    if (structure) db.AllocConnection();
    TQorixDirService ds;
    ds.SetDatabase(&db);
    EXPECT_EQ(ds.GetServerNames(), QStringList{"SRV0"});
    db.contextName_ = other.ContextName();
    EXPECT_EQ(ds.GetServerNames(), QStringList{"OTHER_A"});
    db.contextName_ = ctx_->ContextName();
    EXPECT_EQ(ds.GetServerNames(), QStringList{"SRV0"});
  }
}

TEST_F(DirService, Failures) {
  WriteServers(1);
  const struct {
    const char* name;
    const char* contextName;
    const char* failCall;
    const char* text;
    bool missing;  // EQxMissingException rather than EDatabaseError
  } rows[] = {{"no_names", "", nullptr, "A DbName and/or ContextName must be supplied", true},
              {"unknown_context", "Default", nullptr, "Error allocating a Context", false},
              {"con_alloc", "default", "ct_con_alloc", "ct_con_alloc Failed", false},
              {"callback", "default", "ct_callback", "ct_callback Failed for CS_SERVERMSG_CB", false},
              {"lookup", "default", "ct_ds_lookup", "ct_ds_lookup Failed", false}};
  for (const auto& row : rows) {
    ctlib::RecordingLibrary rec;
    if (row.failCall) rec.FailOn(row.failCall);
    TQorixDirService ds;
    ds.ContextName = row.contextName;
    try {
      ds.Lookup();
      ADD_FAILURE() << row.name;
    } catch (const EQxMissingException& e) {
      EXPECT_TRUE(row.missing) << row.name;
      EXPECT_EQ(e.Message(), row.text) << row.name;
    } catch (const EDatabaseError& e) {
      EXPECT_FALSE(row.missing) << row.name;
      EXPECT_EQ(e.Message(), row.text) << row.name;
    }
    if (std::string(row.name) == "lookup") {
      EXPECT_EQ(rec.Count("ct_callback"), 3) << "previous callback restored";
    }
  }
}

}  // namespace
