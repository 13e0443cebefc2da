// The Tf_qorix_message window and the Qt user-interface services on the offscreen platform:
// layout and texts, the tool-bar actions, modal display through the services, and nothing
// shown from a worker thread.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QPushButton>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <thread>

#include "access/QtUiServices.h"
#include "access/u_Qorix_Message.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "access_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

TEST(MessageWindow, LayoutAndTexts) {
  App();
  Tf_qorix_message form;
  EXPECT_EQ(form.windowTitle(), "CT-Library message");
  EXPECT_EQ(form.size(), QSize(393, 252));
  EXPECT_EQ(form.btn_copy->toolTip(), "Copy");
  EXPECT_EQ(form.btn_selectall->toolTip(), "Select all");
  EXPECT_EQ(form.btn_print->toolTip(), "Print");
  EXPECT_EQ(form.btn_close->text(), "OK");
  EXPECT_EQ(form.pn_bottom->height(), 36);
  EXPECT_EQ(form.m_message->lineWrapMode(), QTextEdit::NoWrap);
  EXPECT_TRUE(form.m_message->isReadOnly());
  EXPECT_EQ(Tf_qorix_message::DocumentTitle(), "Morvane - CT-Library message");
  form.SetPanelColor(clQorixErrorPanel);
  EXPECT_EQ(form.pn_bottom->palette().color(QPalette::Window), QColor(0x99, 0x06, 0x39));
}

// Each tool-bar button names its action and shows a picture of its own, none of the file-list
// or save pictures of the platform's style.
TEST(MessageWindow, ToolButtonsShowWhatTheyDo) {
  App();
  Tf_qorix_message form;
  auto image = [](const QIcon& icon) { return icon.pixmap(QSize(16, 16)).toImage(); };
  QStyle* style = form.style();
  const QImage foreign[] = {image(style->standardIcon(QStyle::SP_FileDialogDetailedView)),
                            image(style->standardIcon(QStyle::SP_FileDialogListView)),
                            image(style->standardIcon(QStyle::SP_DialogSaveButton))};
  const std::pair<QToolButton*, const char*> buttons[] = {
      {form.btn_copy, "Copy"}, {form.btn_selectall, "Select all"}, {form.btn_print, "Print"}};
  QList<QImage> pictures;
  for (const auto& [button, text] : buttons) {
    SCOPED_TRACE(text);
    EXPECT_EQ(button->text(), QString::fromLatin1(text));
    EXPECT_NE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
    const QImage picture = image(button->icon());
    ASSERT_FALSE(picture.isNull());
    for (const QImage& other : foreign) EXPECT_NE(picture, other);
    for (const QImage& other : pictures) EXPECT_NE(picture, other);
    pictures << picture;
  }
}

TEST(MessageWindow, SelectAllAndCopy) {
  App();
  Tf_qorix_message form;
  form.SetText("Server   : TABULON\r\nhello");
  form.btn_selectall->click();
  EXPECT_TRUE(form.m_message->textCursor().hasSelection());
  form.btn_copy->click();
  EXPECT_EQ(QApplication::clipboard()->text(),
            form.m_message->textCursor().selectedText().replace(QChar(0x2029), "\n"));
  EXPECT_TRUE(QApplication::clipboard()->text().contains("hello"));
}

TEST(QtServices, ShowsTheWindowModallyWithCaptionTextAndColour) {
  App();
  TQtUiServices services;
  QString caption, text;
  QColor color;
  // Close the modal window as soon as it is up, reading what it shows.
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* form = dynamic_cast<Tf_qorix_message*>(w);
      if (!form || !form->isVisible()) continue;
      caption = form->windowTitle();
      text = form->m_message->toPlainText();
      color = form->pn_bottom->palette().color(QPalette::Window);
      form->btn_close->click();
    }
  });
  services.ShowQorixMessage("CT-Library error", "Message  : 208", clQorixErrorPanel);
  EXPECT_EQ(caption, "CT-Library error");
  EXPECT_EQ(text, "Message  : 208");
  EXPECT_EQ(color, QColor(0x99, 0x06, 0x39));
}

TEST(QtServices, ShowNothingOffTheGuiThread) {
  App();
  TQtUiServices services;
  std::thread worker([&] {
    EXPECT_FALSE(services.IsGuiThread());
    // Would block for ever on a modal window if it opened here.
    services.ShowQorixMessage("CT-Library error", "x", clQorixErrorPanel);
    services.MessageBox("x", "CT-Library error", TMsgBoxIcon::Stop);
    services.SetScreenCursor(crSQLWait);
  });
  worker.join();
  EXPECT_TRUE(services.IsGuiThread());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtServices, CursorMapsToOverrideCursor) {
  App();
  TQtUiServices services;
  services.SetScreenCursor(crSQLWait);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
  services.SetScreenCursor(crDefault);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
