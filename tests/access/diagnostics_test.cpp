// ProcessDiagMessages over a real connection structure whose queue is filled through the
// facade's message callbacks: the filter, the error and message texts, the endings of an
// error (abort, database error with the name prefix, plain box, rich window with
// AfterDbError), informational text kept when an error raises, and no windows off the GUI
// thread.

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "access/QorixErrorHandling.h"
#include "access/QorixExceptions.h"
#include "access/UiServices.h"
#include "access/ctlib/ctlib.h"

namespace {

// A component the routine knows: records the order of its events.
class Target : public TComponent, public TQorixDiagTarget {
 public:
  explicit Target(bool lineAllowed = true) : lineAllowed_(lineAllowed) {
    OnDbError = [this](TComponent*) { log.push_back("OnDbError"); };
    AfterDbError = [this](TComponent*) { log.push_back("AfterDbError"); };
    OnDbMessage = [this](TComponent*) { log.push_back("OnDbMessage"); };
    AfterDbMessage = [this](TComponent*) { log.push_back("AfterDbMessage"); };
  }
  bool DiagLineAllowed() const override { return lineAllowed_; }
  std::vector<std::string> log;

 private:
  bool lineAllowed_;
};

struct Srv {
  int number;
  int severity;
  const char* text;
  int line = 1;
};

struct Cli {
  int number;
  int severity;
  const char* text;
};

class Diag : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ctlib::cs_ctx_alloc(CS_VERSION_110, &ctx_), CS_SUCCEED);
    ASSERT_EQ(ctlib::ct_init(ctx_, CS_VERSION_110), CS_SUCCEED);
    ASSERT_EQ(ctlib::ct_con_alloc(ctx_, &con_), CS_SUCCEED);
    ASSERT_EQ(ctlib::ct_diag(con_, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
  }
  void TearDown() override {
    ctlib::ct_con_drop(con_);
    ctlib::ct_exit(ctx_, CS_FORCE_EXIT);
    ctlib::cs_ctx_drop(ctx_);
  }
  void Queue(const Srv& s) {
    CS_SERVERMSG m{};
    m.msgnumber = s.number;
    m.severity = s.severity;
    m.line = s.line;
    std::snprintf(m.text, sizeof m.text, "%s", s.text);
    std::strcpy(m.svrname, "TABULON");
    ctlib::detail::DeliverServerMessage(con_, m);
  }
  void Queue(const Cli& c) {
    CS_CLIENTMSG m{};
    m.msgnumber = c.number;
    m.severity = c.severity;
    std::snprintf(m.msgstring, sizeof m.msgstring, "%s", c.text);
    ctlib::detail::DeliverClientMessage(con_, m);
  }
  // Runs the routine; returns "" or the class of what it raised.
  std::string Run(TComponent* comp, bool raise, bool enhErr, bool enhMsg, bool showMsg, bool showErr,
                  QString* raisedText = nullptr) {
    CS_SERVERMSG srv{};
    CS_CLIENTMSG cli{};
    try {
      ProcessDiagMessages(con_, srv, cli, comp, raise, enhErr, enhMsg, showMsg, showErr);
      return "";
    } catch (const EAbort&) {
      return "EAbort";
    } catch (const EDatabaseError& e) {
      if (raisedText) *raisedText = e.Message();
      return "EDatabaseError";
    }
  }
  CS_INT Pending() {
    CS_INT s = 0, c = 0;
    ctlib::ct_diag(con_, CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, &s);
    ctlib::ct_diag(con_, CS_STATUS, CS_CLIENTMSG_TYPE, CS_UNUSED, &c);
    return s + c;
  }

  CS_CONTEXT* ctx_ = nullptr;
  CS_CONNECTION* con_ = nullptr;
  TRecordingUiServices ui_;
};

// What the filter makes of a queue, without raising.
struct FilterCase {
  const char* name;
  std::vector<Srv> server;
  std::vector<Cli> client;
  bool lineAllowed;
  const char* error;    // LastError afterwards
  const char* message;  // LastMessage afterwards
};

class DiagFilter : public Diag, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(DiagFilter, SortsMessagesIntoErrorAndMessageText) {
  for (const Srv& s : GetParam().server) Queue(s);
  for (const Cli& c : GetParam().client) Queue(c);
  Target t(GetParam().lineAllowed);
  EXPECT_EQ(Run(&t, false, false, false, false, false), "");
  EXPECT_EQ(t.LastError().toStdString(), GetParam().error);
  EXPECT_EQ(t.LastMessage().toStdString(), GetParam().message);
  EXPECT_EQ(Pending(), 0) << "both queues end empty";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiagFilter,
    ::testing::Values(
        FilterCase{"print_only", {{0, 10, "hello\n"}}, {}, true, "", "Server   : TABULON\r\nhello\n"},
        FilterCase{"prints_joined_without_separator",
                   {{0, 10, "a\n"}, {0, 10, "b\n"}},
                   {},
                   true,
                   "",
                   "Server   : TABULON\r\na\nb\n"},
        // Texts that come without their line end (as the local server sends PRINT lines)
        // still get a line each; nothing is glued and nothing doubled.
        FilterCase{"print_without_line_end", {{0, 10, "hello"}}, {}, true, "", "Server   : TABULON\r\nhello"},
        FilterCase{"prints_without_line_ends_get_one_each",
                   {{0, 10, "first line"}, {0, 10, "second line"}, {0, 10, "third"}},
                   {},
                   true,
                   "",
                   "Server   : TABULON\r\nfirst line\r\nsecond line\r\nthird"},
        FilterCase{"prints_mixed_line_ends",
                   {{0, 10, "a"}, {0, 10, "b\n"}, {0, 10, "c\r\n"}, {0, 10, "d"}},
                   {},
                   true,
                   "",
                   "Server   : TABULON\r\na\r\nb\nc\r\nd"},
        FilterCase{"context_change_never_reported",
                   {{5701, 10, "Changed database context to 'x'."}},
                   {},
                   true,
                   "",
                   ""},
        FilterCase{"charset_notices_never_reported_even_severe",
                   {{2401, 16, "Character set conversion"}, {2409, 16, "Cannot find charset"}},
                   {},
                   true,
                   "",
                   ""},
        FilterCase{"low_severity_error_number_is_a_message",
                   {{1205, 2, "deadlock\n"}},
                   {},
                   true,
                   "",
                   "Server   : TABULON\r\ndeadlock\n"},
        FilterCase{"low_severity_low_number_ignored", {{500, 3, "quiet"}}, {}, true, "", ""},
        FilterCase{"blank_text_low_number_ignored", {{0, 16, "   "}}, {}, true, "", ""},
        FilterCase{
            "severity_16_with_line",
            {{2812, 16, "Stored procedure 'x' not found.", 3}},
            {},
            true,
            "Server   : TABULON\r\nMessage  : 2812\r\nSeverity : 16\r\nLine     : 3\r\n\r\nStored procedure "
            "'x' not found.",
            ""},
        FilterCase{"only_first_error_examined",
                   {{0, 10, "before\n"}, {208, 16, "first", 1}, {0, 10, "after\n"}, {207, 16, "second", 1}},
                   {},
                   true,
                   "Server   : TABULON\r\nMessage  : 208\r\nSeverity : 16\r\nLine     : 1\r\n\r\nfirst",
                   "Server   : TABULON\r\nbefore\n"},
        FilterCase{"login_failure_has_no_line",
                   {{4002, 14, "Login failed.", 1}},
                   {},
                   true,
                   "Server   : TABULON\r\nMessage  : 4002\r\nSeverity : 14\r\n\r\nLogin failed.",
                   ""},
        FilterCase{"connection_never_gets_line",
                   {{208, 16, "t not found.", 9}},
                   {},
                   false,
                   "Server   : TABULON\r\nMessage  : 208\r\nSeverity : 16\r\n\r\nt not found.",
                   ""},
        FilterCase{"client_low_severities_ignored",
                   {},
                   {{16843163, 1, "ct_send(): user api layer"}, {7, 2, "x"}},
                   true,
                   "",
                   ""},
        FilterCase{"client_error",
                   {},
                   {{-2147483000, 5, "net gone"}},
                   true,
                   "Message  : -2147483000\r\nSeverity : 5\r\n\r\nnet gone\r\n",
                   ""},
        FilterCase{"only_last_client_message_examined",
                   {},
                   {{20009, 9, "unable to connect"}, {1, 1, "api"}},
                   true,
                   "",
                   ""},
        FilterCase{"server_error_then_client_error_last_wins",
                   {{208, 16, "srv", 1}},
                   {{20004, 9, "read failed"}},
                   true,
                   "Message  : 20004\r\nSeverity : 5\r\n\r\nread failed\r\n",
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

// How an error ends the call, by the four flags.
struct EndingCase {
  const char* name;
  bool raise, enhErr, showErr;
  const char* raised;  // "", "EAbort", "EDatabaseError"
  bool window;         // rich error window with beep
  bool box;            // plain message box with the stop icon
  bool afterDbError;
};

class DiagEnding : public Diag, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(DiagEnding, EndsAsTheFlagsSay) {
  const EndingCase& c = GetParam();
  Queue(Srv{0, 10, "printed first\n"});
  Queue(Srv{2812, 16, "Stored procedure 'nope' not found.", 1});
  Target t;
  t.SetName("qry");
  QString raisedText;
  EXPECT_EQ(Run(&t, c.raise, c.enhErr, false, true, c.showErr, &raisedText), c.raised);
  const QString errorText = t.LastError();
  ASSERT_FALSE(errorText.isEmpty());
  if (std::string(c.raised) == "EDatabaseError") {
    EXPECT_EQ(raisedText, "qry: " + errorText);
  }

  const auto windows = ui_.Events(TRecordingUiServices::Event::kQorixMessage);
  const auto boxes = ui_.Events(TRecordingUiServices::Event::kMessageBox);
  int errorWindows = 0, errorBoxes = 0;
  for (const auto& w : windows) {
    if (w.caption != "CT-Library error") continue;
    ++errorWindows;
    EXPECT_EQ(w.color, clQorixErrorPanel);
    EXPECT_EQ(w.text, errorText);
  }
  for (const auto& b : boxes) {
    if (b.caption != "CT-Library error") continue;
    ++errorBoxes;
    EXPECT_EQ(b.icon, TMsgBoxIcon::Stop);
  }
  EXPECT_EQ(errorWindows, c.window ? 1 : 0);
  EXPECT_EQ(static_cast<int>(ui_.Events(TRecordingUiServices::Event::kBeep).size()), c.window ? 1 : 0);
  EXPECT_EQ(errorBoxes, c.box ? 1 : 0);
  const bool after = std::find(t.log.begin(), t.log.end(), "AfterDbError") != t.log.end();
  EXPECT_EQ(after, c.afterDbError);
  // The PRINT before the error reaches the component on every ending, raising or not.
  EXPECT_EQ(t.LastMessage(), "Server   : TABULON\r\nprinted first\n");
  EXPECT_EQ(Pending(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, DiagEnding,
    ::testing::Values(EndingCase{"raise_rich_shown", true, true, true, "EAbort", true, false, true},
                      EndingCase{"raise_rich_hidden", true, true, false, "EAbort", false, false, true},
                      EndingCase{"raise_plain_shown_is_database_error", true, false, true, "EDatabaseError",
                                 false, false, false},
                      EndingCase{"raise_plain_hidden_is_silent_abort", true, false, false, "EAbort", false,
                                 false, false},
                      EndingCase{"return_plain_box", false, false, true, "", false, true, true},
                      EndingCase{"return_rich_window", false, true, true, "", true, false, true},
                      EndingCase{"return_hidden", false, true, false, "", false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Diag, EventsFireInOrderAroundTheMessageWindow) {
  Queue(Srv{0, 10, "hi\n"});
  Queue(Srv{208, 16, "gone", 1});
  Target t;
  EXPECT_EQ(Run(&t, true, true, true, true, true), "EAbort");
  EXPECT_EQ(t.log, (std::vector<std::string>{"OnDbError", "OnDbMessage", "AfterDbMessage", "AfterDbError"}));
  const auto windows = ui_.Events(TRecordingUiServices::Event::kQorixMessage);
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0].caption, "CT-Library message");
  EXPECT_EQ(windows[0].color, clBtnFace);
  EXPECT_EQ(windows[1].caption, "CT-Library error");
  EXPECT_EQ(t.LastServerMsg().msgnumber, 208);
}

TEST_F(Diag, MessagesShowAsWindowOrBox) {
  const struct {
    bool enhMsg, showMsg;
    size_t windows, boxes;
  } rows[] = {{true, true, 1, 0}, {false, true, 0, 1}, {true, false, 0, 0}};
  for (const auto& row : rows) {
    ui_.Clear();
    Queue(Srv{0, 10, "note\n"});
    Target t;
    EXPECT_EQ(Run(&t, true, false, row.enhMsg, row.showMsg, true), "");
    EXPECT_EQ(ui_.Events(TRecordingUiServices::Event::kQorixMessage).size(), row.windows);
    const auto boxes = ui_.Events(TRecordingUiServices::Event::kMessageBox);
    ASSERT_EQ(boxes.size(), row.boxes);
    if (!boxes.empty()) {
      EXPECT_EQ(boxes[0].caption, "CT-Library message");
      EXPECT_EQ(boxes[0].icon, TMsgBoxIcon::Information);
    }
    EXPECT_EQ(t.LastMessage(), "Server   : TABULON\r\nnote\n");
  }
}

TEST_F(Diag, UnknownComponentGetsNoTextsButTheEndingStillFollowsTheFlags) {
  Queue(Srv{208, 16, "gone", 1});
  TComponent plain;
  plain.SetName("other");
  QString text;
  EXPECT_EQ(Run(&plain, true, false, false, true, true, &text), "EDatabaseError");
  EXPECT_TRUE(text.startsWith("other: Server   : TABULON")) << text.toStdString();
}

TEST_F(Diag, NeverOpensWindowsOffTheGuiThread) {
  Target t;
  std::string raised = "unset";
  std::thread worker([&] {
    Queue(Srv{0, 10, "from worker\n"});
    Queue(Srv{208, 16, "gone", 1});
    raised = Run(&t, false, true, true, true, true);
  });
  worker.join();
  EXPECT_EQ(raised, "");
  EXPECT_TRUE(ui_.Events().empty()) << "windows or beeps from a worker thread";
  EXPECT_EQ(t.LastMessage(), "Server   : TABULON\r\nfrom worker\n");
  EXPECT_FALSE(t.LastError().isEmpty());
  EXPECT_EQ(t.log, (std::vector<std::string>{"OnDbError", "AfterDbError", "OnDbMessage", "AfterDbMessage"}));
}

TEST(DiagNumbers, ErrorMessageNumbers) {
  const struct {
    int number;
    bool error;
  } rows[] = {{0, false},    {999, false},  {1000, true}, {1205, true}, {2401, false},
              {2409, false}, {5701, false}, {5702, true}, {20000, true}};
  for (const auto& row : rows) EXPECT_EQ(IsErrorMsgNumber(row.number), row.error) << row.number;
}

}  // namespace
