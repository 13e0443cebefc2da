// The Client-Library facade through real FreeTDS without a server: interfaces-file reading,
// kept locale and configuration values, stored connection properties, inline message queues,
// ct_debug tracing, the directory lookup, and connect failures reported as errors.

#include "access/ctlib/ctlib.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/access/env_guard.h"

namespace {

std::string WriteFile(const QTemporaryDir& dir, const char* name, const std::string& text) {
  const std::string path = dir.filePath(name).toStdString();
  std::ofstream(path, std::ios::trunc) << text;
  return path;
}

// One allocated context with Client-Library initialised, dropped afterwards.
class Ctx : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ctlib::cs_ctx_alloc(CS_VERSION_110, &ctx_), CS_SUCCEED);
    ASSERT_EQ(ctlib::ct_init(ctx_, CS_VERSION_110), CS_SUCCEED);
  }
  void TearDown() override {
    for (CS_CONNECTION* con : cons_) ctlib::ct_con_drop(con);
    ctlib::ct_exit(ctx_, CS_FORCE_EXIT);
    ctlib::cs_ctx_drop(ctx_);
  }
  CS_CONNECTION* NewConnection(bool inlineMode = true) {
    CS_CONNECTION* con = nullptr;
    EXPECT_EQ(ctlib::ct_con_alloc(ctx_, &con), CS_SUCCEED);
    if (inlineMode) {
      EXPECT_EQ(ctlib::ct_diag(con, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
    }
    cons_.push_back(con);
    return con;
  }
  void SetIfile(const std::string& path) {
    ASSERT_EQ(ctlib::ct_config(ctx_, CS_SET, CS_IFILE, const_cast<char*>(path.c_str()), CS_NULLTERM, nullptr),
              CS_SUCCEED);
  }
  static CS_INT Count(CS_CONNECTION* con, CS_INT type) {
    CS_INT n = -1;
    EXPECT_EQ(ctlib::ct_diag(con, CS_STATUS, type, CS_UNUSED, &n), CS_SUCCEED);
    return n;
  }

  CS_CONTEXT* ctx_ = nullptr;
  std::vector<CS_CONNECTION*> cons_;
  QTemporaryDir dir_;
};

struct IfileCase {
  const char* name;
  const char* text;
  std::vector<ctlib::ServerEntry> expected;
};

class InterfacesFile : public ::testing::TestWithParam<IfileCase> {};

TEST_P(InterfacesFile, ListsEntriesInOrder) {
  QTemporaryDir dir;
  const auto entries = ctlib::ReadInterfacesFile(WriteFile(dir, "interfaces", GetParam().text));
  ASSERT_EQ(entries.size(), GetParam().expected.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, GetParam().expected[i].name) << i;
    EXPECT_EQ(entries[i].host, GetParam().expected[i].host) << i;
    EXPECT_EQ(entries[i].port, GetParam().expected[i].port) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, InterfacesFile,
    ::testing::Values(
        IfileCase{"unix_layout",
                  "# local servers\nDSQUERY\n\tmaster tcp ether 127.0.0.1 5000\n\tquery tcp ether 127.0.0.1 "
                  "5001\n\n"
                  "TABULON 3 5\n  query tcp ether db.example 4100\n",
                  {{"DSQUERY", "127.0.0.1", 5001}, {"TABULON", "db.example", 4100}}},
        IfileCase{"without_network_word", "S1\n\tquery tcp host1 7000\n", {{"S1", "host1", 7000}}},
        IfileCase{"tli_hex_address",
                  "OLD\n\tquery tli tcp /dev/tcp \\x00021004c0a80102\n",
                  {{"OLD", "192.168.1.2", 4100}}},
        IfileCase{"sql_ini_layout",
                  "[ALPHA]\r\nmaster=TCP,alpha,5000\r\nquery=TCP,alpha,5000\r\n; note\r\n[BETA]\r\n"
                  "query=NLWNSCK,10.0.0.2,2638\r\n",
                  {{"ALPHA", "alpha", 5000}, {"BETA", "10.0.0.2", 2638}}},
        IfileCase{"entry_without_query_is_listed", "NOQUERY\n\tmaster tcp ether h 1\n", {{"NOQUERY", "", 0}}},
        IfileCase{"duplicate_keeps_first",
                  "A\n\tquery tcp ether h1 1\nA\n\tquery tcp ether h2 2\n",
                  {{"A", "h1", 1}}},
        IfileCase{"empty_file", "", {}}, IfileCase{"only_comments", "# none\n\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InterfacesFileMissing, GivesNothing) {
  EXPECT_TRUE(ctlib::ReadInterfacesFile("/nonexistent/interfaces").empty());
  EXPECT_TRUE(ctlib::ReadInterfacesFile("").empty());
}

TEST_F(Ctx, LocaleKeepsAllThreeValues) {
  CS_LOCALE* loc = nullptr;
  ASSERT_EQ(ctlib::cs_loc_alloc(ctx_, &loc), CS_SUCCEED);
  char buf[32] = {0};
  CS_INT len = 0;
  ASSERT_EQ(ctlib::cs_locale(ctx_, CS_GET, loc, CS_SYB_CHARSET, buf, sizeof buf, &len), CS_SUCCEED);
  EXPECT_STREQ(buf, "utf8");
  // FreeTDS refuses to set a sort order at all; the facade keeps it.
  EXPECT_EQ(ctlib::cs_locale(ctx_, CS_SET, loc, CS_SYB_SORTORDER, const_cast<char*>("nocase"), CS_NULLTERM,
                             nullptr),
            CS_SUCCEED);
  EXPECT_EQ(
      ctlib::cs_locale(ctx_, CS_SET, loc, CS_SYB_LANG, const_cast<char*>("french"), CS_NULLTERM, nullptr),
      CS_SUCCEED);
  EXPECT_EQ(
      ctlib::cs_locale(ctx_, CS_SET, loc, CS_SYB_CHARSET, const_cast<char*>("iso_1"), CS_NULLTERM, nullptr),
      CS_SUCCEED);
  ASSERT_EQ(ctlib::cs_locale(ctx_, CS_GET, loc, CS_SYB_SORTORDER, buf, sizeof buf, &len), CS_SUCCEED);
  EXPECT_STREQ(buf, "nocase");
  ASSERT_EQ(ctlib::cs_locale(ctx_, CS_GET, loc, CS_SYB_LANG, buf, sizeof buf, &len), CS_SUCCEED);
  EXPECT_STREQ(buf, "french");
  ASSERT_EQ(ctlib::cs_locale(ctx_, CS_GET, loc, CS_SYB_CHARSET, buf, sizeof buf, &len), CS_SUCCEED);
  EXPECT_STREQ(buf, "iso_1");
  // Unknown names fail and keep the old value.
  EXPECT_EQ(
      ctlib::cs_locale(ctx_, CS_SET, loc, CS_SYB_CHARSET, const_cast<char*>("bogus"), CS_NULLTERM, nullptr),
      CS_FAIL);
  EXPECT_EQ(
      ctlib::cs_locale(ctx_, CS_SET, loc, CS_SYB_LANG, const_cast<char*>("klingon"), CS_NULLTERM, nullptr),
      CS_FAIL);
  EXPECT_EQ(
      ctlib::cs_locale(ctx_, CS_SET, loc, CS_SYB_SORTORDER, const_cast<char*>("x y"), CS_NULLTERM, nullptr),
      CS_FAIL);
  ASSERT_EQ(ctlib::cs_locale(ctx_, CS_GET, loc, CS_SYB_CHARSET, buf, sizeof buf, &len), CS_SUCCEED);
  EXPECT_STREQ(buf, "iso_1");
  // A buffer too small fails and says how much is needed.
  char small[3];
  EXPECT_EQ(ctlib::cs_locale(ctx_, CS_GET, loc, CS_SYB_LANG, small, sizeof small, &len), CS_FAIL);
  EXPECT_EQ(len, 7);
  EXPECT_EQ(ctlib::cs_loc_drop(ctx_, loc), CS_SUCCEED);
}

TEST_F(Ctx, ConfigKeepsValuesFreeTdsIgnores) {
  CS_INT v = 0;
  ASSERT_EQ(ctlib::ct_config(ctx_, CS_GET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(v, 25);
  v = 40;
  ASSERT_EQ(ctlib::ct_config(ctx_, CS_SET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  v = 0;
  EXPECT_EQ(ctlib::ct_config(ctx_, CS_SET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr), CS_FAIL);
  ASSERT_EQ(ctlib::ct_config(ctx_, CS_GET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(v, 40);

  v = 0;
  ASSERT_EQ(ctlib::ct_config(ctx_, CS_SET, CS_CONFIG_9111, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  v = 7;
  ASSERT_EQ(ctlib::ct_config(ctx_, CS_GET, CS_CONFIG_9111, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(ctlib::ct_config(ctx_, CS_GET, 9199, &v, CS_UNUSED, nullptr), CS_FAIL) << "never set";

  char path[1024] = "/opt/sybase/interfaces";
  ASSERT_EQ(ctlib::ct_config(ctx_, CS_SET, CS_IFILE, path, sizeof path, nullptr), CS_SUCCEED);
  char back[1024] = {0};
  CS_INT len = 0;
  ASSERT_EQ(ctlib::ct_config(ctx_, CS_GET, CS_IFILE, back, sizeof back, &len), CS_SUCCEED);
  EXPECT_STREQ(back, "/opt/sybase/interfaces");
  EXPECT_EQ(ctlib::InterfacesFileOf(ctx_), "/opt/sybase/interfaces");

  char ver[1025] = {0};
  ASSERT_EQ(ctlib::ct_config(ctx_, CS_GET, CS_VER_STRING, ver, sizeof ver, nullptr), CS_SUCCEED);
  EXPECT_EQ(std::string(ver).rfind("Tabulon Client-Library", 0), 0u) << ver;
}

TEST_F(Ctx, ConnectionPropertiesKeepUnknownValuesAndPinTds50) {
  CS_CONNECTION* con = NewConnection();
  CS_INT v = CS_TRUE;
  ASSERT_EQ(ctlib::ct_con_props(con, CS_SET, CS_HIDDEN_KEYS, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  v = CS_FALSE;
  ASSERT_EQ(ctlib::ct_con_props(con, CS_GET, CS_HIDDEN_KEYS, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(v, CS_TRUE);
  EXPECT_EQ(ctlib::ct_con_props(con, CS_GET, CS_EXTRA_INF, &v, CS_UNUSED, nullptr), CS_FAIL) << "never set";

  v = CS_TRUE;
  ASSERT_EQ(ctlib::ct_con_props(con, CS_SET, CS_BULK_LOGIN, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  v = CS_FALSE;
  ASSERT_EQ(ctlib::ct_con_props(con, CS_GET, CS_BULK_LOGIN, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(v, CS_TRUE) << "FreeTDS answers this one inverted";

  ASSERT_EQ(ctlib::ct_con_props(con, CS_GET, CS_TDS_VERSION, &v, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(v, CS_TDS_50);
  v = CS_TDS_70;
  EXPECT_EQ(ctlib::ct_con_props(con, CS_SET, CS_TDS_VERSION, &v, CS_UNUSED, nullptr), CS_FAIL);

  ASSERT_EQ(ctlib::ct_con_props(con, CS_SET, CS_USERNAME, const_cast<char*>("sa"), CS_NULLTERM, nullptr),
            CS_SUCCEED);
  char user[31] = {0};
  ASSERT_EQ(ctlib::ct_con_props(con, CS_GET, CS_USERNAME, user, sizeof user, nullptr), CS_SUCCEED);
  EXPECT_STREQ(user, "sa");
  CS_BOOL status = CS_TRUE;
  ASSERT_EQ(ctlib::ct_con_props(con, CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(status, CS_FALSE);
}

TEST_F(Ctx, CallbacksFreeTdsIgnoresAreKept) {
  CS_CONNECTION* con = NewConnection();
  auto lookup = [](CS_CONNECTION*, CS_INT, CS_RETCODE, CS_INT, CS_DS_OBJECT*, CS_VOID*) -> CS_RETCODE {
    return CS_CONTINUE;
  };
  CS_DS_LOOKUP_FUNC fn = lookup;
  void* previous = reinterpret_cast<void*>(1);
  ASSERT_EQ(ctlib::ct_callback(nullptr, con, CS_GET, CS_DS_LOOKUP_CB, &previous), CS_SUCCEED);
  EXPECT_EQ(previous, nullptr);
  ASSERT_EQ(ctlib::ct_callback(nullptr, con, CS_SET, CS_DS_LOOKUP_CB, reinterpret_cast<void*>(fn)),
            CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_callback(nullptr, con, CS_GET, CS_DS_LOOKUP_CB, &previous), CS_SUCCEED);
  EXPECT_EQ(previous, reinterpret_cast<void*>(fn));
  // The context's completion callback is kept on the context, apart from the connection's.
  ASSERT_EQ(ctlib::ct_callback(ctx_, nullptr, CS_SET, CS_COMPLETION_CB, reinterpret_cast<void*>(fn)),
            CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_callback(ctx_, nullptr, CS_GET, CS_COMPLETION_CB, &previous), CS_SUCCEED);
  EXPECT_EQ(previous, reinterpret_cast<void*>(fn));
  EXPECT_EQ(ctlib::ct_callback(nullptr, nullptr, CS_GET, CS_COMPLETION_CB, &previous), CS_FAIL);
}

TEST_F(Ctx, DiagServesEachConnectionItsOwnQueue) {
  CS_CONNECTION* a = NewConnection();
  CS_CONNECTION* b = NewConnection();
  CS_CONNECTION* callbackMode = NewConnection(false);
  EXPECT_EQ(ctlib::ct_diag(callbackMode, CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, nullptr), CS_FAIL)
      << "no inline handling without CS_INIT";

  CS_SERVERMSG msg{};
  msg.msgnumber = 0;
  msg.severity = 10;
  std::strcpy(msg.text, "hello from a");
  ctlib::detail::DeliverServerMessage(a, msg);
  msg.msgnumber = 2812;
  msg.severity = 16;
  std::strcpy(msg.text, "second");
  ctlib::detail::DeliverServerMessage(a, msg);
  CS_CLIENTMSG cli{};
  cli.msgnumber = 20012;  // libtds: server name not found, sent with EXUSER (2)
  cli.severity = 2;
  ctlib::detail::DeliverClientMessage(b, cli);

  EXPECT_EQ(Count(a, CS_SERVERMSG_TYPE), 2);
  EXPECT_EQ(Count(a, CS_CLIENTMSG_TYPE), 0);
  EXPECT_EQ(Count(b, CS_SERVERMSG_TYPE), 0);
  EXPECT_EQ(Count(b, CS_CLIENTMSG_TYPE), 1);
  EXPECT_EQ(Count(a, CS_ALLMSG_TYPE), 2);

  CS_SERVERMSG got{};
  ASSERT_EQ(ctlib::ct_diag(a, CS_GET, CS_SERVERMSG_TYPE, 1, &got), CS_SUCCEED);
  EXPECT_STREQ(got.text, "hello from a");
  ASSERT_EQ(ctlib::ct_diag(a, CS_GET, CS_SERVERMSG_TYPE, 2, &got), CS_SUCCEED);
  EXPECT_EQ(got.msgnumber, 2812);
  EXPECT_EQ(ctlib::ct_diag(a, CS_GET, CS_SERVERMSG_TYPE, 3, &got), CS_NOMSG);
  CS_CLIENTMSG gotc{};
  ASSERT_EQ(ctlib::ct_diag(b, CS_GET, CS_CLIENTMSG_TYPE, 1, &gotc), CS_SUCCEED);
  EXPECT_EQ(gotc.severity, CS_SV_CONFIG_FAIL) << "a bad server name is an error, not a notice";

  ASSERT_EQ(ctlib::ct_diag(a, CS_CLEAR, CS_SERVERMSG_TYPE, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(Count(a, CS_SERVERMSG_TYPE), 0);
  EXPECT_EQ(Count(b, CS_CLIENTMSG_TYPE), 1);

  CS_INT limit = 1;
  ASSERT_EQ(ctlib::ct_diag(a, CS_MSGLIMIT, CS_SERVERMSG_TYPE, CS_UNUSED, &limit), CS_SUCCEED);
  ctlib::detail::DeliverServerMessage(a, msg);
  ctlib::detail::DeliverServerMessage(a, msg);
  EXPECT_EQ(Count(a, CS_SERVERMSG_TYPE), 1);
}

TEST_F(Ctx, FailedConnectIsReportedAsAnError) {
  // A listening socket nobody answers on is avoided: port 1 on loopback refuses at once.
  SetIfile(WriteFile(dir_, "interfaces", "DEAD\n\tquery tcp ether 127.0.0.1 1\n"));
  const struct { const char* server; } rows[] = {{"DEAD"}, {"NO_SUCH_SERVER_ANYWHERE"}};
  for (const auto& row : rows) {
    CS_CONNECTION* con = NewConnection();
    CS_INT t = 2;
    ctlib::ct_con_props(con, CS_SET, CS_LOGIN_TIMEOUT, &t, CS_UNUSED, nullptr);
    EXPECT_NE(ctlib::ct_connect(con, const_cast<char*>(row.server), CS_NULLTERM), CS_SUCCEED) << row.server;
    const CS_INT n = Count(con, CS_CLIENTMSG_TYPE);
    ASSERT_GT(n, 0) << row.server;
    CS_CLIENTMSG last{};
    ASSERT_EQ(ctlib::ct_diag(con, CS_GET, CS_CLIENTMSG_TYPE, n, &last), CS_SUCCEED);
    EXPECT_GT(last.severity, CS_SV_RETRY_FAIL) << row.server << ": " << last.msgstring;
  }
}

TEST_F(Ctx, DebugTracesFacadeCallsWhileAFlagIsSet) {
  const std::string path = dir_.filePath("ct.log").toStdString();
  ASSERT_EQ(ctlib::ct_debug(ctx_, nullptr, CS_SET_DBG_FILE, CS_UNUSED, const_cast<char*>(path.c_str()),
                            CS_NULLTERM),
            CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_debug(ctx_, nullptr, CS_SET_FLAG, CS_DBG_API_STATES, nullptr, CS_UNUSED), CS_SUCCEED);
  CS_INT v = 0;
  ctlib::ct_config(ctx_, CS_GET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr);
  ASSERT_EQ(ctlib::ct_debug(ctx_, nullptr, CS_CLEAR_FLAG, CS_DBG_API_STATES, nullptr, CS_UNUSED), CS_SUCCEED);
  CS_CONNECTION* con = nullptr;
  ctlib::ct_con_alloc(ctx_, &con);
  cons_.push_back(con);
  EXPECT_EQ(ctlib::ct_debug(ctx_, nullptr, CS_SET_FLAG, 0x40000000, nullptr, CS_UNUSED), CS_FAIL);
  ctlib::ct_debug(ctx_, nullptr, CS_SET_DBG_FILE, CS_UNUSED, nullptr, 0);

  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString log = QString::fromUtf8(f.readAll());
  EXPECT_TRUE(log.contains("ct_config")) << log.toStdString();
  EXPECT_FALSE(log.contains("ct_con_alloc")) << "traced after the flag was cleared";
}

// A file name passed in a fixed-size buffer (its size as the length) ends at its NUL.
TEST_F(Ctx, DebugFileNameInABufferEndsAtItsNul) {
  const std::string path = dir_.filePath("fixed.log").toStdString();
  char buffer[1025];
  std::memset(buffer, 'x', sizeof buffer);
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  ASSERT_EQ(ctlib::ct_debug(ctx_, nullptr, CS_SET_DBG_FILE, CS_UNUSED, buffer, sizeof buffer), CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_debug(ctx_, nullptr, CS_SET_FLAG, CS_DBG_ALL, nullptr, CS_UNUSED), CS_SUCCEED);
  CS_INT v = 0;
  ctlib::ct_config(ctx_, CS_GET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr);
  ctlib::ct_debug(ctx_, nullptr, CS_CLEAR_FLAG, CS_DBG_ALL, nullptr, CS_UNUSED);
  ctlib::ct_debug(ctx_, nullptr, CS_SET_DBG_FILE, CS_UNUSED, nullptr, 0);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(path)));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{"fixed.log"});
}

// The lookup callback collects into a growing list of found objects.
CS_RETCODE Collect(CS_CONNECTION*, CS_INT, CS_RETCODE, CS_INT, CS_DS_OBJECT* obj, CS_VOID* user) {
  static_cast<std::vector<CS_DS_OBJECT*>*>(user)->push_back(obj);
  return CS_CONTINUE;
}

CS_RETCODE TakeTwo(CS_CONNECTION*, CS_INT, CS_RETCODE, CS_INT, CS_DS_OBJECT* obj, CS_VOID* user) {
  auto* found = static_cast<std::vector<CS_DS_OBJECT*>*>(user);
  found->push_back(obj);
  return found->size() < 2 ? CS_CONTINUE : CS_SUCCEED;
}

TEST_F(Ctx, DirectoryLookupListsServerEntries) {
  for (int n : {0, 3, 300}) {
    std::string text;
    for (int i = 0; i < n; ++i)
      text += "SRV" + std::to_string(i) + "\n\tquery tcp ether 127.0.0.1 " + std::to_string(5000 + i) + "\n";
    SetIfile(WriteFile(dir_, ("if" + std::to_string(n)).c_str(), text));
    CS_CONNECTION* con = NewConnection();
    ASSERT_EQ(ctlib::ct_callback(nullptr, con, CS_SET, CS_DS_LOOKUP_CB, reinterpret_cast<void*>(&Collect)),
              CS_SUCCEED);
    CS_OID oid{};
    oid.oid_length = static_cast<CS_INT>(std::strlen(CS_OID_OBJSERVER));
    std::memcpy(oid.oid_buffer, CS_OID_OBJSERVER, oid.oid_length);
    CS_DS_LOOKUP_INFO info{&oid, nullptr, 0, nullptr, nullptr};
    std::vector<CS_DS_OBJECT*> found;
    CS_INT reqid = 0;
    ASSERT_EQ(ctlib::ct_ds_lookup(con, CS_SET, &reqid, &info, &found), CS_SUCCEED) << n;
    ASSERT_EQ(found.size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      char name[512];
      CS_INT len = 0;
      ASSERT_EQ(ctlib::ct_ds_objinfo(found[i], CS_GET, CS_DS_DIST_NAME, CS_UNUSED, name, 511, &len),
                CS_SUCCEED);
      EXPECT_EQ(std::string(name), "SRV" + std::to_string(i));
    }
    for (CS_DS_OBJECT* obj : found) EXPECT_EQ(ctlib::ct_ds_dropobj(con, obj), CS_SUCCEED);
    if (!found.empty()) {
      EXPECT_EQ(ctlib::ct_ds_dropobj(con, found[0]), CS_FAIL) << "dropped twice";
    }
  }
}

TEST_F(Ctx, DirectoryLookupStopsWhenTheCallbackSaysSo) {
  SetIfile(WriteFile(dir_, "if",
                     "A\n\tquery tcp ether h 1\nB\n\tquery tcp ether h 2\nC\n\tquery tcp ether h 3\n"));
  CS_CONNECTION* con = NewConnection();
  CS_OID oid{};
  oid.oid_length = static_cast<CS_INT>(std::strlen(CS_OID_OBJSERVER));
  std::memcpy(oid.oid_buffer, CS_OID_OBJSERVER, oid.oid_length);
  CS_DS_LOOKUP_INFO info{&oid, nullptr, 0, nullptr, nullptr};
  std::vector<CS_DS_OBJECT*> found;
  CS_INT reqid = 0;
  EXPECT_EQ(ctlib::ct_ds_lookup(con, CS_SET, &reqid, &info, &found), CS_FAIL) << "no callback installed";
  ASSERT_EQ(ctlib::ct_callback(nullptr, con, CS_SET, CS_DS_LOOKUP_CB, reinterpret_cast<void*>(&TakeTwo)),
            CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_ds_lookup(con, CS_SET, &reqid, &info, &found), CS_SUCCEED);
  EXPECT_EQ(found.size(), 2u);
  // Objects left undropped are released with the connection (the fixture drops it).
}

}  // namespace

namespace {

TEST(FreeTdsConf, SectionNamesAreTheServers) {
  QTemporaryDir dir;
  const struct {
    const char* name;
    const char* text;
    std::vector<std::string> servers;
  } cases[] = {
      {"global is no server", "[global]\n\ttds version = auto\n[TABULON]\n\thost = 127.0.0.1\n\tport = 5000\n",
       {"TABULON"}},
      {"comments and options skipped",
       "# [COMMENTED]\n; [ALSO]\n[A]\nhost = h ; [NOT_A_SECTION]\n  [B]  \n\tport = 1\n", {"A", "B"}},
      {"one name per case-insensitive spelling", "[Alpha]\n[alpha]\n[ALPHA]\n[beta]\n", {"Alpha", "beta"}},
      {"blanks inside a name collapse", "[  my   server ]\n", {"my server"}},
      {"unclosed and empty brackets", "[open\n[]\n[ok]\n", {"ok"}},
      {"no sections", "\ttds version = 5.0\n", {}},
  };
  for (const auto& c : cases) {
    const std::string path = WriteFile(dir, "freetds.conf", c.text);
    EXPECT_EQ(ctlib::ReadFreeTdsConfSections(path), c.servers) << c.name;
  }
  EXPECT_TRUE(ctlib::ReadFreeTdsConfSections(dir.filePath("missing.conf").toStdString()).empty());
}

TEST(FreeTdsConf, FilesFollowFreeTdsSearchOrder) {
  {
    EnvGuard conf("FREETDSCONF", "/somewhere/named.conf");
    EXPECT_EQ(ctlib::FreeTdsConfFiles(), std::vector<std::string>{"/somewhere/named.conf"});
  }
  EnvGuard conf("FREETDSCONF", nullptr);
  EnvGuard root("FREETDS", "/opt/ftds");
  EnvGuard home("HOME", "/home/someone");
  const std::vector<std::string> files = ctlib::FreeTdsConfFiles();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0], "/opt/ftds/etc/freetds.conf");
  EXPECT_EQ(files[1], "/home/someone/.freetds.conf");
  EXPECT_EQ(files[2].substr(files[2].size() - std::strlen("freetds.conf")), "freetds.conf");
}

// Without an interfaces file (no CS_IFILE, no SYBASE) the lookup lists FreeTDS's servers.
TEST_F(Ctx, DirectoryLookupWithoutInterfacesFileListsFreeTdsServers) {
  const std::string conf = WriteFile(dir_, "freetds.conf", "[global]\n[TABULON]\n\tport = 5000\n[second]\n");
  EnvGuard sybase("SYBASE", nullptr);
  EnvGuard named("FREETDSCONF", conf.c_str());
  ASSERT_EQ(ctlib::InterfacesFileOf(ctx_), "");
  CS_CONNECTION* con = NewConnection();
  ASSERT_EQ(ctlib::ct_callback(nullptr, con, CS_SET, CS_DS_LOOKUP_CB, reinterpret_cast<void*>(&Collect)),
            CS_SUCCEED);
  CS_OID oid{};
  oid.oid_length = static_cast<CS_INT>(std::strlen(CS_OID_OBJSERVER));
  std::memcpy(oid.oid_buffer, CS_OID_OBJSERVER, oid.oid_length);
  CS_DS_LOOKUP_INFO info{&oid, nullptr, 0, nullptr, nullptr};
  std::vector<CS_DS_OBJECT*> found;
  CS_INT reqid = 0;
  ASSERT_EQ(ctlib::ct_ds_lookup(con, CS_SET, &reqid, &info, &found), CS_SUCCEED);
  std::vector<std::string> names;
  for (CS_DS_OBJECT* obj : found) {
    char name[512] = {0};
    CS_INT len = 0;
    EXPECT_EQ(ctlib::ct_ds_objinfo(obj, CS_GET, CS_DS_DIST_NAME, CS_UNUSED, name, 511, &len), CS_SUCCEED);
    names.emplace_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"TABULON", "second"}));
  // An interfaces file named for the context wins over FreeTDS's configuration.
  SetIfile(WriteFile(dir_, "interfaces", "ONLY\n\tquery tcp ether 127.0.0.1 5000\n"));
  found.clear();
  ASSERT_EQ(ctlib::ct_ds_lookup(con, CS_SET, &reqid, &info, &found), CS_SUCCEED);
  EXPECT_EQ(found.size(), 1u);
}

}  // namespace

namespace {

// The ORDER BY columns the facade derives from a statement's text for a row result.
TEST(OrderByColumns, SelectListNumbersOfTheOrderByItems) {
  const std::vector<std::string> abc = {"a", "b", "c"};
  const struct {
    const char* sql;
    std::vector<std::string> names;
    std::vector<CS_INT> columns;
  } cases[] = {
      {"select a, b, c from t order by c, a", abc, {3, 1}},
      {"SELECT a, b, c FROM t ORDER BY B DESC, 1 ASC", abc, {2, 1}},
      {"select a, b, c from t order by t.b, dbo.t.c", abc, {2, 3}},
      {"select x as a, b, c from t order by 4, 0, 3", abc, {3}},        // out of range numbers
      {"select a, b, c from t order by a + 1, upper(b), c", abc, {3}},  // expressions left out
      {"select a, b, c from t order by d", abc, {}},                    // not in the select list
      {"select a, b, c from t", abc, {}},
      {"select a, b, c from t order by b compute sum(a) by b", abc, {2}},
      {"select a, b, c from t order by c for read only", abc, {3}},
      {"select a from (select a from u order by a) d", {"a"}, {}},  // nested ORDER BY only
      {"select a from t union all select b from u order by 1", {"a"}, {1}},
      {"select \"my col\", [other] from t order by \"my col\", [other]", {"my col", "other"}, {1, 2}},
      {"select a, b from t -- order by a\n", {"a", "b"}, {}},
      {"select a, b from t where b = 'order by a'", {"a", "b"}, {}},
      {"/* lead */ select a, b from t order by b", {"a", "b"}, {2}},
      {"select a from t order by a\nselect b from u order by b", {"a"}, {}},  // two statements
      {"select a from t order by a; select b from u", {"a"}, {}},
      {"insert u select a from t order by a", {"a"}, {}},
      {"exec p", {"a"}, {}},
      {"", {"a"}, {}},
      // Qualified names tell same-named columns of two tables apart.
      {"select a.id, b.id from a, b where a.id = b.id order by b.id", {"id", "id"}, {2}},
      {"select a.id, b.id from a, b order by a.id desc, b.id", {"id", "id"}, {1, 2}},
      {"select x.id, y.id from dbo.t x, dbo.t y order by y.id", {"id", "id"}, {2}},
      {"select a.id, b.name from a, b order by b.id", {"id", "name"}, {}},  // b.id is not selected
      // A column named by its alias or by the column the alias names.
      {"select id as k from t order by id", {"k"}, {1}},
      {"select id as k from t order by k", {"k"}, {1}},
      {"select id k, name from t order by name, id", {"k", "name"}, {2, 1}},
      {"select k = id, name from t order by t.id", {"k", "name"}, {1}},
      {"select distinct top 5 t.id as k, n from t order by id", {"k", "n"}, {1}},
      {"select upper(name) as u, id from t order by name", {"u", "id"}, {}},  // an expression's column
  };
  for (const auto& c : cases) EXPECT_EQ(ctlib::OrderByColumnsOf(c.sql, c.names), c.columns) << c.sql;
}

}  // namespace

namespace {

// The COMPUTE clauses the facade foresees for each result set of a language text.
TEST(ComputeClauses, OneCountPerResultSetOfTheBatch) {
  const struct {
    const char* sql;
    std::vector<int> counts;
  } cases[] = {
      {"select a from t", {0}},
      {"select a from t compute sum(a)", {1}},
      {"select a, b from t order by a compute sum(b) by a compute max(b)", {2}},
      {"select a from t compute sum(a)\nselect a, b from t order by a compute sum(b) by a compute max(b)", {1, 2}},
      {"select a from t compute sum(a); select b from u; select c from v compute count(c) compute max(c)", {1, 0, 2}},
      {"-- compute\nselect a from t /* compute */ where b = 'compute'", {0}},
      {"select a from t where exists (select 1 from u compute sum(x))\nselect b from u compute sum(b)", {0, 1}},
      {"select a from t union all select b from u compute count(a)", {1}},
      {"select case when a = 1 then 'x' else 'y' end from t compute count(a)\nselect b from u", {1, 0}},
      {"select @@version\nselect @x", {0, 0}},
      {"select a from t for update\nselect b from u compute sum(b)", {0, 1}},
      // Statements that send no result set.
      {"declare @n int\nselect @n = count(*) from t\nset nocount on\nselect a from t compute sum(a)", {1}},
      {"select a into #t from u\nselect a from #t compute sum(a)", {1}},
      {"insert t select a from u\nselect a from t compute count(a)", {1}},
      {"insert t (a) select a from u", {}},
      {"insert t values (1)\nselect a from t compute sum(a)", {1}},
      {"update t set a = 1 where b = 2\ndelete u\nselect a from t compute sum(a)", {1}},
      {"declare c cursor for select a from t\nselect b from u compute sum(b)", {1}},
      {"begin tran\nbegin select a from t compute sum(a) end\nselect b from u\ncommit tran", {1, 0}},
      {"print 'select a from t'\nselect 1", {0}},
      // Nothing is foreseen past a statement whose results the text does not tell.
      {"select a from t compute sum(a)\nif 1 = 1 select b from u compute sum(b)\nselect c from v", {1}},
      {"select a from t compute sum(a)\nexec p\nselect b from u", {1}},
      {"exec p\nselect a from t compute sum(a)", {}},
      {"sp_help t", {}},
      {"while 1 = 0 select 1", {}},
      {"create procedure p as select a from t compute sum(a)", {}},
      {"select 1\nreturn\nselect 2", {0}},
      {"select a from t) select b from u", {}},  // the server runs no part of a broken text
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ctlib::ComputeClausesOfResultSets(c.sql), c.counts) << c.sql;
}

}  // namespace
