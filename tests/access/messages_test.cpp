// The message table, the "%s" filler, EQorixException's set-up table and the raise
// procedures of the usage exceptions.

#include <gtest/gtest.h>

#include <functional>

#include "access/Classes.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"

namespace {

struct ResCase {
  const char* name;
  int id;
  const char* text;
};

// The first and last id of each run, the texts with placeholders, line breaks and typos.
const ResCase kResCases[] = {
    {"first_of_first_run", 65168, "Bookmark '%s' not found"},
    {"last_of_first_run", 65178, "DataSetField is undefined"},
    {"first_of_second_run", 65184, "ct_init Failed"},
    {"ctx_alloc_spelling", 65185, "ct_ctx_alloc Failed"},
    {"misnamed_callback", 65188, "ct_ds_lookup Failed"},
    {"packet_size", 65210, "ct_con_props CS_PACKETSIZE Failed"},
    {"comma_typo", 65222, "Object '%s' is not a Stored Procedure, View ,Trigger, Default or Rule"},
    {"db_required", 65224, "Database or DbName required"},
    {"two_placeholders", 65229, "No '%s' component named '%s' can be found"},
    {"empty_line_inside", 65237,
     "A non-cursor dataset '%s' is already open on this connection.\r\n\r\nCursor and non-cursor datasets "
     "are "
     "not allowed to be open at any one time on the same connection"},
    {"paramaters_typo", 65240,
     "The cursor and stored procedure does not have the same number of parameters. Check the stored "
     "procedure and paramaters"},
    {"last_of_second_run", 65247, "The text contains unbalanced double quotes"},
    {"first_of_third_run", 65260, "No SQL statement available"},
    {"last_of_third_run", 65263, "Cannot login to server '%s'"},
};

class MessageTable : public ::testing::TestWithParam<ResCase> {};

TEST_P(MessageTable, LoadsExactText) {
  EXPECT_EQ(LoadResString(GetParam().id), QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Entries, MessageTable, ::testing::ValuesIn(kResCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MessageTableShape, HoldsSeventyNineEntriesInThreeRuns) {
  EXPECT_EQ(ResStringCount(), 79);
  int found = 0;
  for (int id = 65100; id < 65300; ++id) {
    const bool inRun =
        (id >= 65168 && id <= 65178) || (id >= 65184 && id <= 65247) || (id >= 65260 && id <= 65263);
    EXPECT_EQ(!LoadResString(id).isEmpty(), inRun) << id;
    found += inRun;
  }
  EXPECT_EQ(found, 79);
}

TEST(MessageTableShape, NamedIdsMatchTheirTexts) {
  EXPECT_EQ(LoadResString(QorixRes::SNoSQLStatement), "No SQL statement available");
  EXPECT_EQ(LoadResString(QorixRes::SDatabaseOrDbNameRequired), "Database or DbName required");
  EXPECT_EQ(LoadResString(QorixRes::SCtConAllocFailed), "ct_con_alloc Failed");
  EXPECT_EQ(LoadResString(QorixRes::SErrorAllocatingContext), "Error allocating a Context");
}

struct FormatCase {
  const char* name;
  const char* fmt;
  QStringList args;
  const char* expected;
};

class FormatFill : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatFill, FillsInOrder) {
  EXPECT_EQ(Format(QString::fromUtf8(GetParam().fmt), GetParam().args),
            QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatFill,
    ::testing::Values(
        FormatCase{"one", "Cannot login to server '%s'", {"DSQUERY"}, "Cannot login to server 'DSQUERY'"},
        FormatCase{"two",
                   "No '%s' component named '%s' can be found",
                   {"TQorixDatabase", "db"},
                   "No 'TQorixDatabase' component named 'db' can be found"},
        FormatCase{"percent_in_argument_stays", "%s: %s", {"q1", "100%s done"}, "q1: 100%s done"},
        FormatCase{"literal_percent", "100%% of %d", {"7"}, "100% of 7"},
        FormatCase{"missing_argument", "a %s b", {}, "a  b"},
        FormatCase{"trailing_percent", "50%", {}, "50%"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SetupCase {
  const char* name;
  const char* msg;
  const char* expected;
};

class SetupTable : public ::testing::TestWithParam<SetupCase> {};

TEST_P(SetupTable, CarriesText) {
  EXPECT_EQ(EQorixException(QString::fromUtf8(GetParam().msg)).Message(),
            QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupTable,
    ::testing::Values(SetupCase{"index_zero", "0", "ctx_alloc Failed"},
                      SetupCase{"index_eight", "8", "ct_con_alloc Failed"},
                      SetupCase{"last_index", "24", "cs_locale Failed"},
                      SetupCase{"plain_text_unchanged", "ct_con_alloc Failed", "ct_con_alloc Failed"},
                      SetupCase{"number_outside_table", "25", "25"}, SetupCase{"negative", "-1", "-1"},
                      SetupCase{"digits_then_text", "8x", "8x"}, SetupCase{"empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetupTableShape, IsAnExceptionWithWhat) {
  try {
    throw EQorixException("22");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "ct_command Failed");
  }
}

struct RaiseCase {
  const char* name;
  std::function<void(const QString&, const TComponent*)> raise;
  std::function<bool(const Exception&)> isClass;
};

template <class E>
std::function<bool(const Exception&)> Is() {
  return [](const Exception& e) { return dynamic_cast<const E*>(&e) != nullptr; };
}

class RaiseProcedure : public ::testing::TestWithParam<RaiseCase> {};

TEST_P(RaiseProcedure, RaisesItsClassWithNamePrefix) {
  TComponent named;
  named.SetName("qry1");
  TComponent unnamed;
  const struct {
    const TComponent* component;
    const char* expected;
  } rows[] = {{&named, "qry1: No SQL statement available"},
              {&unnamed, "No SQL statement available"},
              {nullptr, "No SQL statement available"}};
  for (const auto& row : rows) {
    try {
      GetParam().raise("No SQL statement available", row.component);
      ADD_FAILURE() << "did not raise";
    } catch (const Exception& e) {
      EXPECT_TRUE(GetParam().isClass(e));
      EXPECT_EQ(e.Message(), row.expected);
      EXPECT_EQ(dynamic_cast<const EDatabaseError*>(&e), nullptr) << "usage errors are not database errors";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, RaiseProcedure,
    ::testing::Values(RaiseCase{"Missing", RaiseMissingError, Is<EQxMissingException>()},
                      RaiseCase{"Cursor", RaiseCursorError, Is<EQxCursorException>()},
                      RaiseCase{"ResultsPending", RaiseResultsPendingError, Is<EQxResultsPendingException>()},
                      RaiseCase{"BadSQL", RaiseBadSQLError, Is<EQxBadSQLException>()},
                      RaiseCase{"DataSet", RaiseDataSetError, Is<EQxDataSetException>()},
                      RaiseCase{"UniDir", RaiseUniDirError, Is<EQxUniDirException>()},
                      RaiseCase{"NotOpen", RaiseNotOpenError, Is<EQxNotOpenException>()},
                      RaiseCase{"NotValid", RaiseNotValidError, Is<EQxNotValidException>()},
                      RaiseCase{"NotSupported", RaiseNotSupportedError, Is<EQxNotSupportedException>()},
                      RaiseCase{"File", RaiseFileError, Is<EQxFileException>()},
                      RaiseCase{"Bookmark", RaiseBookmarkError, Is<EQxBookmarkException>()},
                      RaiseCase{"NoMode", RaiseNoModeError, Is<EQxNoModeException>()},
                      RaiseCase{"Disabled", RaiseDisabledError, Is<EQxDisabledException>()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RaiseProcedureClasses, AreDistinct) {
  // A caller that reacts by class must not catch a neighbour's exception.
  try {
    RaiseBadSQLError("x", nullptr);
  } catch (const EQxMissingException&) {
    FAIL() << "EQxBadSQLException caught as EQxMissingException";
  } catch (const EQxBadSQLException&) {
    SUCCEED();
  }
}

TEST(DatabaseErrorText, PrefixesNamedComponent) {
  TComponent db;
  db.SetName("db");
  try {
    DatabaseError("ct_con_alloc Failed", &db);
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "db: ct_con_alloc Failed");
  }
}

}  // namespace
