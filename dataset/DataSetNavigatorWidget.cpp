// The navigator toolbar: ten tool buttons bound to TDataSetNavigator, with the class library's
// hints, a confirmation box before a delete and guarded clicks.
#include "dataset/DataSetNavigatorWidget.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMessageBox>

#include "access/UiServices.h"

namespace {
struct ButtonText {
  const char* caption;
  const char* hint;
};
// Captions and hints in button order.
constexpr ButtonText kButtonTexts[kNavigateBtnCount] = {
    {"|<", "First record"}, {"<", "Prior record"},     {">", "Next record"}, {">|", "Last record"},
    {"+", "Insert record"}, {"-", "Delete record"},    {"^", "Edit record"}, {"\u2713", "Post edit"},
    {"x", "Cancel edit"},   {"\u21bb", "Refresh data"}};
}  // namespace

TDBNavigatorWidget::TDBNavigatorWidget(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (int i = 0; i < kNavigateBtnCount; ++i) {
    auto* b = new QToolButton(this);
    b->setText(QString::fromUtf8(kButtonTexts[i].caption));
    b->setToolTip(QString::fromLatin1(kButtonTexts[i].hint));
    b->setAutoRaise(true);
    const auto which = TNavigateBtn(i);
    QObject::connect(b, &QToolButton::clicked, this,
                     [this, which] { GuardedCall([&] { navigator_.BtnClick(which); }); });
    layout->addWidget(b);
    buttons_[size_t(i)] = b;
  }
  navigator_.OnConfirm = [this](const QString& question) {
    return QMessageBox::question(this, QString(), question, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
  };
  navigator_.OnStateChanged = [this] { UpdateButtons(); };
  UpdateButtons();
}

TDBNavigatorWidget::~TDBNavigatorWidget() {
  navigator_.OnStateChanged = nullptr;
  navigator_.SetDataSource(nullptr);
}

void TDBNavigatorWidget::SetButtonVisible(TNavigateBtn button, bool visible) {
  Button(button)->setVisible(visible);
}

void TDBNavigatorWidget::UpdateButtons() {
  for (int i = 0; i < kNavigateBtnCount; ++i)
    buttons_[size_t(i)]->setEnabled(navigator_.ButtonEnabled(TNavigateBtn(i)));
}

void TDBNavigatorWidget::changeEvent(QEvent* event) {
  // A disabled toolbar disables the navigator, so no button stays usable through it.
  if (event->type() == QEvent::EnabledChange) navigator_.SetEnabled(isEnabled());
  QWidget::changeEvent(event);
}
