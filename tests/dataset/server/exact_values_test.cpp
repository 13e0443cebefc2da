// Exact numbers (numeric, decimal, money, smallmoney) travel from the row to the SQL text digit
// for digit: a live edit or delete finds its row by them, a changed value reaches the server
// as typed, and a parameter of an exact type keeps every digit. Everything is read back
// through a second connection.
#include "access/QorixExceptions.h"
#include "dataset/server/QxQuery.h"
#include "dataset/server/QxSqlLiterals.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

namespace {
// Each row holds one value of interest in every exact column type; the extremes of each type
// and the prices a shop keeps.
struct ExactRow {
  int id;
  const char* money;
  const char* smallmoney;
  const char* dec;   // decimal(19,4)
  const char* num;   // numeric(38,0)
  const char* price; // numeric(10,2)
};
const ExactRow kRows[] = {
    {1, "19.99", "19.99", "19.99", "1999", "19.99"},
    {2, "922337203685477.5807", "214748.3647", "123456789012345.6789", "99999999999999999999999999999999999999",
     "99999999.99"},
    {3, "-922337203685477.5808", "-214748.3648", "-123456789012345.6789", "-99999999999999999999999999999999999999",
     "-99999999.99"},
    {4, "0.0001", "0.0001", "0.0001", "1", "0.01"},
    {5, "24.95", "9.99", "5000", "0", "0.1"},
    {6, "0.3", "14.5", "0.7", "12345678901234567890", "12.99"},
};

QString Canonical(const char* text) { return CanonicalDecimal(QString::fromUtf8(text)); }
}  // namespace

class ExactValuesTest : public ServerDataSetTest {
 protected:
  void SetUp() override {
    ServerDataSetTest::SetUp();
    if (IsSkipped()) return;
    Exec(*check_, QStringLiteral("if object_id('t_exact') is not null drop table t_exact"));
    Exec(*check_, QStringLiteral("create table t_exact (id int not null, m money null, sm smallmoney null, "
                                 "d decimal(19,4) null, n numeric(38,0) null, p numeric(10,2) null, "
                                 "note varchar(20) null, constraint t_exact_pk primary key (id))"));
    for (const ExactRow& r : kRows)
      Exec(*check_, QStringLiteral("insert t_exact values (%1, %2, %3, %4, %5, %6, 'start')")
                        .arg(r.id)
                        .arg(QString::fromUtf8(r.money), QString::fromUtf8(r.smallmoney), QString::fromUtf8(r.dec),
                             QString::fromUtf8(r.num), QString::fromUtf8(r.price)));
  }
  // The server's values of row Id, each exact column as canonical text (money through numeric:
  // its own text form keeps two decimals), then the note.
  QStringList ServerRow(int id) {
    const QStringList rows = Rows(
        *check_, QStringLiteral("select convert(varchar(60), convert(numeric(19,4), m)), "
                                "convert(varchar(60), convert(numeric(10,4), sm)), convert(varchar(60), d), "
                                "convert(varchar(60), n), convert(varchar(60), p), note from t_exact where id = %1")
                     .arg(id));
    if (rows.isEmpty()) return {};
    QStringList cols = rows.first().split(QLatin1Char('|'));
    for (int i = 0; i < 5 && i < cols.size(); ++i) cols[i] = CanonicalDecimal(cols[i]);
    return cols;
  }
  std::unique_ptr<TQxTable> Table(TUpdateMode mode) {
    auto t = std::make_unique<TQxTable>();
    t->SetName(QStringLiteral("tb_exact"));
    t->DbName = QStringLiteral("db");
    t->SetTableName(QStringLiteral("t_exact"));
    t->UpdateMode = mode;
    return t;
  }
};

TEST_F(ExactValuesTest, FieldsHoldTheServersDigits) {
  auto t = Table(upWhereAll);
  t->Open();
  EXPECT_EQ(t->FieldByName("m")->DataType(), ftCurrency);
  EXPECT_EQ(t->FieldByName("sm")->DataType(), ftCurrency);
  EXPECT_EQ(t->FieldByName("d")->DataType(), ftFloat);
  EXPECT_EQ(t->FieldByName("p")->DataType(), ftFloat);
  for (const ExactRow& r : kRows) {
    SCOPED_TRACE(r.id);
    ASSERT_TRUE(t->Locate(QStringLiteral("id"), r.id, {}));
    EXPECT_EQ(t->FieldByName("m")->AsString(), Canonical(r.money));
    EXPECT_EQ(t->FieldByName("sm")->AsString(), Canonical(r.smallmoney));
    EXPECT_EQ(t->FieldByName("d")->AsString(), Canonical(r.dec));
    EXPECT_EQ(t->FieldByName("n")->AsString(), Canonical(r.num));
    EXPECT_EQ(t->FieldByName("p")->AsString(), Canonical(r.price));
  }
}

// Every row is found by its exact values (all columns, or the changed one), its note changes,
// and nothing else moves by a digit; then every row is deleted by the same WHERE.
TEST_F(ExactValuesTest, LiveEditsAndDeletesFindEveryRow) {
  for (TUpdateMode mode : {upWhereAll, upWhereChanged}) {
    SCOPED_TRACE(int(mode));
    auto t = Table(mode);
    t->CheckDups = true;
    t->Open();
    for (const ExactRow& r : kRows) {
      SCOPED_TRACE(r.id);
      ASSERT_TRUE(t->Locate(QStringLiteral("id"), r.id, {}));
      t->Edit();
      t->FieldByName("note")->SetAsString(QStringLiteral("edited %1").arg(int(mode)));
      ASSERT_NO_THROW(t->Post()) << t->LastStatement().toStdString();
      EXPECT_EQ(ServerRow(r.id), QStringList({Canonical(r.money), Canonical(r.smallmoney), Canonical(r.dec),
                                              Canonical(r.num), Canonical(r.price),
                                              QStringLiteral("edited %1").arg(int(mode))}));
    }
  }
  auto t = Table(upWhereAll);
  t->CheckDups = true;
  t->Open();
  while (!t->IsEmpty()) {
    t->First();
    ASSERT_NO_THROW(t->Delete()) << t->LastStatement().toStdString();
  }
  EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from t_exact")), QStringList({"0"}));
}

// A value typed into an exact field reaches the server as typed, and the next edit of the row
// finds it by that value.
TEST_F(ExactValuesTest, TypedValuesReachTheServerExactly) {
  auto t = Table(upWhereAll);
  t->Open();
  ASSERT_TRUE(t->Locate(QStringLiteral("id"), 1, {}));
  t->Edit();
  t->FieldByName("m")->SetAsString(QStringLiteral("123456789012345.6789"));
  t->FieldByName("d")->SetAsString(QStringLiteral("-0.0001"));
  t->FieldByName("n")->SetAsString(QStringLiteral("98765432109876543210987654321098765432"));
  t->FieldByName("p")->SetValue(19.99);  // a double becomes its shortest text
  t->Post();
  EXPECT_EQ(ServerRow(1), QStringList({"123456789012345.6789", "19.99", "-0.0001",
                                       "98765432109876543210987654321098765432", "19.99", "start"}));
  t->Edit();
  t->FieldByName("note")->SetAsString(QStringLiteral("again"));
  ASSERT_NO_THROW(t->Post());
  EXPECT_EQ(ServerRow(1).value(5), "again");
  // A text that is no number is refused by the field, not sent.
  t->Edit();
  EXPECT_THROW(t->FieldByName("m")->SetAsString(QStringLiteral("12,5")), Exception);
  t->Cancel();
  // An insert sends its exact values as typed.
  t->Append();
  t->FieldByName("id")->SetValue(7);
  t->FieldByName("m")->SetAsString(QStringLiteral("-922337203685477.5808"));
  t->FieldByName("n")->SetAsString(QStringLiteral("1e3"));
  t->Post();
  EXPECT_EQ(ServerRow(7).mid(0, 4), QStringList({"-922337203685477.5808", "", "", "1000"}));
}

// Parameters of every exact type keep their digits: as literals (cursor, language text) and
// bound to a prepared statement.
TEST_F(ExactValuesTest, ExactParametersMatchTheirRow) {
  struct Case {
    const char* column;
    TFieldType type;
    QVariant value;
    int id;
  } cases[] = {
      {"d", ftBCD, QStringLiteral("123456789012345.6789"), 2},
      {"m", ftCurrency, QStringLiteral("922337203685477.5807"), 2},
      {"m", ftCurrency, 19.99, 1},
      {"p", ftFloat, 12.99, 6},
      {"n", ftBCD, QStringLiteral("-99999999999999999999999999999999999999"), 3},
  };
  for (const Case& c : cases) {
    for (int how = 0; how < 3; ++how) {
      const bool cursor = how == 0;
      SCOPED_TRACE(std::string(c.column) + (how == 0 ? " cursor" : how == 1 ? " language" : " prepared"));
      TQxQuery q;
      q.SetName(QStringLiteral("q_exact"));
      q.DbName = QStringLiteral("db");
      q.UseQorixCursor = cursor;
      q.SetSQL(QStringLiteral("select id from t_exact where %1 = :v").arg(QString::fromUtf8(c.column)));
      q.ParamByName(QStringLiteral("v")).DataType = c.type;
      q.ParamByName(QStringLiteral("v")).SetValue(c.value);
      if (how == 2) q.Prepare();
      q.Open();
      ASSERT_FALSE(q.IsEmpty());
      EXPECT_EQ(q.FieldByName("id")->AsInteger(), c.id);
      q.Close();
    }
  }
}

TEST(ExactDecimalText, CanonicalFormsAndRefusals) {
  struct Case {
    const char* in;
    const char* out;  // nullptr: no number
  } cases[] = {
      {"19.99", "19.99"},         {"+019.9900", "19.99"},  {"-0.000", "0"},  {" 12 ", "12"},
      {".5", "0.5"},              {"5.", "5"},             {"1e3", "1000"},  {"1.5E-3", "0.0015"},
      {"-1234.5e2", "-123450"},   {"12,5", nullptr},       {"", nullptr},    {"abc", nullptr},
      {"1e", nullptr},            {"--1", nullptr},        {"1.2.3", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const QString got = CanonicalDecimal(QString::fromUtf8(c.in));
    if (c.out)
      EXPECT_EQ(got, QString::fromUtf8(c.out));
    else
      EXPECT_TRUE(got.isNull()) << got.toStdString();
  }
  // A double's text is the shortest that reads back as it.
  EXPECT_EQ(DecimalOfDouble(19.99), "19.99");
  EXPECT_EQ(DecimalOfDouble(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(DecimalOfDouble(1e20), "100000000000000000000");
  // Literals of exact types given as text or as doubles.
  EXPECT_EQ(qxsql::Literal(ftBCD, QStringLiteral("123456789012345.6789")), "123456789012345.6789");
  EXPECT_EQ(qxsql::Literal(ftCurrency, 19.99), "19.99");
  EXPECT_EQ(qxsql::Literal(ftFloat, QStringLiteral("0.10")), "0.1");
  EXPECT_EQ(qxsql::Literal(ftCurrency, QStringLiteral("x'--")), "'x''--'");
}
