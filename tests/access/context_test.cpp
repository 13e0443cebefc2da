// TQorixContext: set-up and its failures, the naming rule of ContextList, lookup by name,
// the locale and configuration accessors, and tear-down while a database still uses it.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

#include "access/QorixContext.h"
#include "access/QorixDatabase.h"
#include "access/QorixExceptions.h"
#include "access/ctlib/RecordingLibrary.h"
#include "fake_database.h"
#include "tests/access/env_guard.h"

namespace {

// One step of a naming scenario: create context Slot (or rename it when it exists, or
// destroy it), then every live context's ContextName.
struct NamingStep {
  enum Op { kCreate, kRename, kDestroy } op;
  int slot;
  std::vector<const char*> expected;  // by slot, "" for a slot without context
};

struct NamingCase {
  const char* name;
  std::vector<NamingStep> steps;
};

class ContextNaming : public ::testing::TestWithParam<NamingCase> {};

TEST_P(ContextNaming, GivesEveryContextAUniqueName) {
  std::unique_ptr<TQorixContext> live[3];
  int serial = 0;
  for (const NamingStep& step : GetParam().steps) {
    auto& slot = live[step.slot];
    if (step.op == NamingStep::kCreate) slot = std::make_unique<TQorixContext>();
    if (step.op == NamingStep::kDestroy)
      slot.reset();
    else
      slot->SetName(QStringLiteral("ctx%1").arg(++serial));
    for (int i = 0; i < 3; ++i) {
      const QString got = live[i] ? live[i]->ContextName() : QString();
      EXPECT_EQ(got, step.expected[i]) << "after step " << serial << ", slot " << i;
    }
  }
}

using S = NamingStep;
INSTANTIATE_TEST_SUITE_P(
    Scenarios, ContextNaming,
    ::testing::Values(NamingCase{"first_is_default", {{S::kCreate, 0, {"default", "", ""}}}},
                      NamingCase{"second_gets_context2",
                                 {{S::kCreate, 0, {"default", "", ""}},
                                  {S::kCreate, 1, {"default", "context2", ""}}}},
                      // The count alone would give the renamed first context "context2", the second's name.
                      NamingCase{"renamed_first_never_duplicates",
                                 {{S::kCreate, 0, {"default", "", ""}},
                                  {S::kCreate, 1, {"default", "context2", ""}},
                                  {S::kRename, 0, {"context3", "context2", ""}}}},
                      NamingCase{"third_after_a_gap",
                                 {{S::kCreate, 0, {"default", "", ""}},
                                  {S::kCreate, 1, {"default", "context2", ""}},
                                  {S::kCreate, 2, {"default", "context2", "context3"}},
                                  {S::kDestroy, 1, {"default", "", "context3"}},
                                  {S::kCreate, 1, {"default", "context2", "context3"}}}},
                      NamingCase{"alone_again_is_default",
                                 {{S::kCreate, 0, {"default", "", ""}},
                                  {S::kCreate, 1, {"default", "context2", ""}},
                                  {S::kDestroy, 0, {"", "context2", ""}},
                                  {S::kRename, 1, {"", "default", ""}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ContextLookup, IsExactAndCaseSensitive) {
  TQorixContext unnamed;
  EXPECT_EQ(FindContext("default"), nullptr) << "an unnamed context cannot be found";
  TQorixContext ctx;
  ctx.SetName("ctx");
  EXPECT_EQ(FindContext("default"), &ctx);
  EXPECT_EQ(FindContextHandle("default"), ctx.Handle());
  EXPECT_NE(ctx.Handle(), nullptr);
  EXPECT_EQ(FindContextHandle("Default"), nullptr);
  EXPECT_EQ(FindContextHandle("ctx"), nullptr) << "found by ContextName, not by component name";
}

TEST(ContextDefaults, AfterSetUp) {
  TQorixContext ctx;
  EXPECT_EQ(ctx.ContextName(), "default");
  EXPECT_EQ(ctx.MaxConnect(), 25);
  EXPECT_EQ(ctx.TimeOut(), 60);
  EXPECT_EQ(ctx.CharSet(), "utf8");
  EXPECT_EQ(ctx.Language(), "us_english");
  EXPECT_TRUE(ctx.QorixVersion().startsWith("Tabulon Client-Library")) << ctx.QorixVersion().toStdString();
  EXPECT_EQ(ctx.IniFile(), DefaultIniFile());
}

struct RangeCase {
  const char* name;
  void (TQorixContext::*set)(int);
  int (TQorixContext::*get)() const;
  const char* text;
};

class ContextRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ContextRange, RefusesBelowOneAndKeepsTheOldValue) {
  TQorixContext ctx;
  (ctx.*GetParam().set)(7);
  EXPECT_EQ((ctx.*GetParam().get)(), 7);
  for (int bad : {0, -5}) {
    try {
      (ctx.*GetParam().set)(bad);
      ADD_FAILURE() << bad << " accepted";
    } catch (const EQorixException& e) {
      EXPECT_EQ(e.Message(), GetParam().text);
    }
    EXPECT_EQ((ctx.*GetParam().get)(), 7);
  }
}

INSTANTIATE_TEST_SUITE_P(Properties, ContextRange,
                         ::testing::Values(RangeCase{"TimeOut", &TQorixContext::SetTimeOut,
                                                     &TQorixContext::TimeOut, "Invalid TimeOut value"},
                                           RangeCase{"MaxConnect", &TQorixContext::SetMaxConnect,
                                                     &TQorixContext::MaxConnect, "Invalid MaxConnect value"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LocaleCase {
  const char* name;
  void (TQorixContext::*set)(const QString&);
  QString (*get)(TQorixContext&);
  const char* good;
  const char* bad;
  const char* text;
};

class ContextLocale : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(ContextLocale, SetsValidNamesAndRefusesOthers) {
  TQorixContext ctx;
  (ctx.*GetParam().set)(GetParam().good);
  EXPECT_EQ(GetParam().get(ctx), GetParam().good);
  try {
    (ctx.*GetParam().set)(GetParam().bad);
    ADD_FAILURE() << "accepted " << GetParam().bad;
  } catch (const EQorixException& e) {
    EXPECT_EQ(e.Message(), GetParam().text);
  }
  EXPECT_EQ(GetParam().get(ctx), GetParam().good);
}

INSTANTIATE_TEST_SUITE_P(Values, ContextLocale,
                         ::testing::Values(LocaleCase{"CharSet", &TQorixContext::SetCharSet,
                                                      [](TQorixContext& c) { return c.CharSet(); }, "iso_1",
                                                      "bogus", "cs_locale Failed. Invalid CS_SYB_CHARSET"},
                                           LocaleCase{"Language", &TQorixContext::SetLanguage,
                                                      [](TQorixContext& c) { return c.Language(); }, "french",
                                                      "klingon", "cs_locale Failed. Invalid CS_SYB_LANG"},
                                           LocaleCase{"SortOrder", &TQorixContext::SetSortOrder,
                                                      [](TQorixContext& c) { return c.SortOrder(); },
                                                      "nocase", "no such order",
                                                      "cs_locale Failed. Invalid CS_SYB_SORTORDER"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ContextIniFile, BlanksChangeNothingAndSendNothing) {
  TQorixContext ctx;
  QTemporaryDir dir;
  const QString path = dir.filePath("interfaces");
  ctx.SetIniFile(path);
  EXPECT_EQ(ctx.IniFile(), path);
  EXPECT_EQ(ctlib::InterfacesFileOf(ctx.Handle()), path.toStdString());
  ctlib::RecordingLibrary rec;
  ctx.SetIniFile("   ");
  ctx.SetIniFile("");
  EXPECT_EQ(rec.Count("ct_config"), 0);
  EXPECT_EQ(ctx.IniFile(), path);
  EXPECT_EQ(ctlib::InterfacesFileOf(ctx.Handle()), path.toStdString());
}

// What a new context and connection name as their interfaces file (the "INI file" the
// server information shows): the file that resolves server names in FreeTDS's search order.
TEST(ContextIniFile, DefaultIsTheFileThatResolvesServerNames) {
  QTemporaryDir dir;
  auto make = [&](const QString& rel) {
    const QString path = dir.filePath(rel);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[TABULON]\n\thost = 127.0.0.1\n\tport = 5000\n");
    return path.toStdString();
  };
  const std::string named = make("named.conf"), rooted = make("root/etc/freetds.conf"),
                    homeConf = make("home/.freetds.conf"), sybase = make("syb/interfaces");
  QDir().mkpath(dir.filePath("empty"));
  auto at = [&](const char* rel) { return dir.filePath(rel).toStdString(); };
  // Without any of the caller's files FreeTDS falls back to the system ones.
  std::string system;
  for (const std::string& file : {ctlib::FreeTdsConfFiles().back(), std::string("/etc/freetds/interfaces")})
    if (system.empty() && QFile::exists(QString::fromStdString(file))) system = file;
  const struct {
    const char* name;
    const char *sybase, *freetdsconf, *freetds, *home;
    std::string expected;
  } cases[] = {
      {"the SYBASE interfaces file", "syb", "named.conf", "root", "home", sybase},
      {"the file FREETDSCONF names", nullptr, "named.conf", "root", "home", named},
      {"past an unreadable FREETDSCONF, $FREETDS/etc", nullptr, "missing.conf", "root", "home", rooted},
      {"~/.freetds.conf", nullptr, nullptr, "empty", "home", homeConf},
      {"the system file", nullptr, nullptr, nullptr, "empty", system},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string syb = c.sybase ? at(c.sybase) : "", conf = c.freetdsconf ? at(c.freetdsconf) : "",
                      root = c.freetds ? at(c.freetds) : "", home = c.home ? at(c.home) : "";
    EnvGuard g1("SYBASE", c.sybase ? syb.c_str() : nullptr);
    EnvGuard g2("FREETDSCONF", c.freetdsconf ? conf.c_str() : nullptr);
    EnvGuard g3("FREETDS", c.freetds ? root.c_str() : nullptr);
    EnvGuard g4("HOME", c.home ? home.c_str() : nullptr);
    EXPECT_EQ(DefaultIniFile().toStdString(), c.expected);
    TQorixContext ctx;
    EXPECT_EQ(ctx.IniFile().toStdString(), c.expected);
    TQorixDatabase db;
    EXPECT_EQ(db.IniFile.toStdString(), c.expected);
  }
}

struct SetupFailure {
  const char* name;
  const char* call;
  const char* text;
  std::vector<const char*> released;  // tear-down calls made for what existed
  std::vector<const char*> notCalled;
};

class ContextSetupFailure : public ::testing::TestWithParam<SetupFailure> {};

TEST_P(ContextSetupFailure, RaisesAndReleasesWhatItHad) {
  ctlib::RecordingLibrary rec;
  rec.FailOn(GetParam().call);
  try {
    TQorixContext ctx;
    ADD_FAILURE() << "constructed";
  } catch (const EQorixException& e) {
    EXPECT_EQ(e.Message(), GetParam().text);
  }
  for (const char* call : GetParam().released) EXPECT_EQ(rec.Count(call), 1) << call;
  for (const char* call : GetParam().notCalled) EXPECT_EQ(rec.Count(call), 0) << call;
  EXPECT_EQ(FindContext("default"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ContextSetupFailure,
    ::testing::Values(
        SetupFailure{
            "ctx_alloc", "cs_ctx_alloc", "ct_ctx_alloc Failed", {}, {"ct_init", "cs_ctx_drop", "ct_exit"}},
        SetupFailure{"init", "ct_init", "ct_init Failed", {"cs_ctx_drop"}, {"cs_loc_alloc", "ct_exit"}},
        SetupFailure{"loc_alloc",
                     "cs_loc_alloc",
                     "cs_loc_alloc Failed",
                     {"ct_exit", "cs_ctx_drop"},
                     {"cs_locale", "cs_loc_drop"}},
        SetupFailure{"locale",
                     "cs_locale",
                     "cs_locale Failed",
                     {"cs_loc_drop", "ct_exit", "cs_ctx_drop"},
                     {"ct_callback"}},
        SetupFailure{"completion_callback",
                     "ct_callback",
                     "ct_callback Failed for CS_COMPLETION_CB",
                     {"cs_loc_drop", "ct_exit", "cs_ctx_drop"},
                     {"ct_config"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ContextTearDown, KeepsTheLibraryContextWhileADatabaseUsesIt) {
  CS_CONTEXT* handle = nullptr;
  FakeDatabase db;
  db.SetName("db");
  {
    auto ctx = std::make_unique<TQorixContext>();
    ctx->SetName("ctx");
    handle = db.GetContextHandle();
    ASSERT_EQ(handle, ctx->Handle());
    EXPECT_TRUE(IsContextInUse(ctx.get()));
    ctlib::RecordingLibrary rec;
    ctx.reset();
    EXPECT_EQ(rec.Count("cs_loc_drop"), 1);
    EXPECT_EQ(rec.Count("ct_exit"), 0);
    EXPECT_EQ(rec.Count("cs_ctx_drop"), 0);
  }
  EXPECT_EQ(FindContext("default"), nullptr);
  // The last user releases the library context itself.
  EXPECT_EQ(ctlib::ct_exit(handle, CS_FORCE_EXIT), CS_SUCCEED);
  EXPECT_EQ(ctlib::cs_ctx_drop(handle), CS_SUCCEED);
  db.SetContextHandle(nullptr);
}

TEST(ContextTearDown, ReleasesEverythingWhenUnused) {
  auto ctx = std::make_unique<TQorixContext>();
  ctx->SetName("ctx");
  ctlib::RecordingLibrary rec;
  ctx.reset();
  EXPECT_EQ(rec.Calls(), (std::vector<std::string>{"cs_loc_drop", "ct_exit", "cs_ctx_drop"}));
  EXPECT_TRUE(ContextList().empty());
}

}  // namespace
