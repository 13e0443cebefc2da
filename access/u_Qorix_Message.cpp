// The message window's layout and its three tool-bar actions.

#include "access/u_Qorix_Message.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

QColor ToQColor(TColor color) {
  if ((color & 0xFF000000u) == 0xFF000000u) {
    // System colours: only the button face is used here.
    return QApplication::palette().color(QPalette::Button);
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

namespace {
// The tool bar's pictures, drawn so each shows what its button does on any platform and theme:
// two sheets for Copy, a sheet with its lines marked for Select all, a printer for Print.
enum class TToolPicture { Copy, SelectAll, Print };

QIcon ToolIcon(TToolPicture picture) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(0x33, 0x33, 0x33), paper(Qt::white), mark(0x30, 0x78, 0xd0);
  p.setPen(QPen(ink, 2));
  auto sheet = [&](const QRectF& r) {
    p.setBrush(paper);
    p.drawRect(r);
  };
  auto lines = [&](const QRectF& r, const QColor& color) {
    p.setPen(QPen(color, 2));
    for (double y = r.top() + 5; y < r.bottom() - 2; y += 5)
      p.drawLine(QPointF(r.left() + 4, y), QPointF(r.right() - 4, y));
    p.setPen(QPen(ink, 2));
  };
  switch (picture) {
    case TToolPicture::Copy:
      sheet(QRectF(3, 3, 17, 21));
      sheet(QRectF(12, 9, 17, 21));
      lines(QRectF(12, 9, 17, 21), ink);
      break;
    case TToolPicture::SelectAll: {
      const QRectF page(6, 3, 20, 26);
      sheet(page);
      p.fillRect(page.adjusted(3, 3, -3, -3), QColor(0x30, 0x78, 0xd0, 0x60));
      lines(page, mark);
      break;
    }
    case TToolPicture::Print:
      sheet(QRectF(9, 3, 14, 10));
      p.setBrush(QColor(0x9a, 0xa0, 0xa8));
      p.drawRoundedRect(QRectF(3, 12, 26, 11), 2, 2);
      sheet(QRectF(9, 19, 14, 10));
      lines(QRectF(9, 19, 14, 10), ink);
      break;
  }
  return QIcon(pm);
}
}  // namespace

Tf_qorix_message::Tf_qorix_message(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("f_qorix_message"));
  setWindowTitle(QStringLiteral("CT-Library message"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(393, 252);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* bar = new QToolBar(this);
  bar->setMovable(false);
  bar->setStyleSheet(QStringLiteral("QToolBar { border: 0px; }"));
  auto makeButton = [&](const char* name, const QString& text, TToolPicture picture) {
    auto* b = new QToolButton(bar);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoRaise(true);
    b->setText(text);
    b->setToolTip(text);
    b->setIcon(ToolIcon(picture));
    b->setIconSize(QSize(16, 16));
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->addWidget(b);
    return b;
  };
  btn_copy = makeButton("btn_copy", QStringLiteral("Copy"), TToolPicture::Copy);
  btn_selectall = makeButton("btn_selectall", QStringLiteral("Select all"), TToolPicture::SelectAll);
  btn_print = makeButton("btn_print", QStringLiteral("Print"), TToolPicture::Print);
  layout->addWidget(bar);

  m_message = new QTextEdit(this);
  m_message->setObjectName(QStringLiteral("m_message"));
  m_message->setReadOnly(true);
  m_message->setLineWrapMode(QTextEdit::NoWrap);
  m_message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_message->viewport()->setCursor(Qt::ArrowCursor);
  m_message->setTabChangesFocus(true);
  m_message->setFocusPolicy(Qt::ClickFocus);
  m_message->installEventFilter(this);
  layout->addWidget(m_message, 1);

  pn_bottom = new QFrame(this);
  pn_bottom->setObjectName(QStringLiteral("pn_bottom"));
  pn_bottom->setFrameShape(QFrame::NoFrame);
  pn_bottom->setFixedHeight(36);
  pn_bottom->setAutoFillBackground(true);
  auto* bottom = new QHBoxLayout(pn_bottom);
  bottom->addStretch();
  btn_close = new QPushButton(QStringLiteral("OK"), pn_bottom);
  btn_close->setObjectName(QStringLiteral("btn_close"));
  btn_close->setDefault(true);
  bottom->addWidget(btn_close);
  bottom->addStretch();
  layout->addWidget(pn_bottom);
  SetPanelColor(clBtnFace);

  connect(btn_close, &QPushButton::clicked, this, &QDialog::accept);
  connect(btn_copy, &QToolButton::clicked, this, [this] { m_message->copy(); });
  connect(btn_selectall, &QToolButton::clicked, this, [this] { m_message->selectAll(); });
  connect(btn_print, &QToolButton::clicked, this, [this] { Print(); });

  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void Tf_qorix_message::SetText(const QString& text) {
  m_message->setPlainText(text);
}

void Tf_qorix_message::SetPanelColor(TColor color) {
  QPalette p = pn_bottom->palette();
  p.setColor(QPalette::Window, ToQColor(color));
  pn_bottom->setPalette(p);
}

void Tf_qorix_message::Print() {
  QPrinter printer;
  printer.setDocName(DocumentTitle());
  m_message->print(&printer);
}

bool Tf_qorix_message::eventFilter(QObject* watched, QEvent* event) {
  // The text box never keeps the focus: it passes it on to the OK button.
  if (watched == m_message && event->type() == QEvent::FocusIn) btn_close->setFocus();
  return QDialog::eventFilter(watched, event);
}

void Tf_qorix_message::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow() &&
      QApplication::activeWindow() != nullptr)
    reject();
}
