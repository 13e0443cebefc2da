// The record edit scroll box and window (see RecordEdit.h).
#include "app/RecordEdit.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "access/UiServices.h"
#include "app/DataCellEditor.h"
#include "dataset/DataSetNavigatorWidget.h"
#include "dataset/DataSource.h"
#include "dataset/Field.h"

TQorixEditScrollBox::TQorixEditScrollBox(QWidget* parent) : QScrollArea(parent) {
  setWidgetResizable(false);
  labelFont_.setPointSize(8);
  editFont_.setPointSize(8);
}

TQorixEditScrollBox::~TQorixEditScrollBox() { ClearEditors(); }

void TQorixEditScrollBox::ClearEditors() {
  // The links go before their editors: a link must not write into a freed control.
  while (!links_.empty()) links_.pop_back();
  while (!pairs_.empty()) {
    delete pairs_.back().Editor;
    delete pairs_.back().Label;
    pairs_.pop_back();
  }
  delete takeWidget();
  panel_ = nullptr;
  built_ = false;
}

void TQorixEditScrollBox::BuildEditors() {
  if (built_) ClearEditors();
  if (!DataSource || !DataSource->DataSet()) return;
  built_ = true;
  panel_ = new QWidget;
  TEditScrollLayout layout;
  layout.StartTop = StartTop;
  layout.StartLeft = StartLeft;
  layout.StartLabelLeft = StartLabelLeft;
  layout.Increment = Increment;
  layout.EditFontPointSize = editFont_.pointSize() > 0 ? editFont_.pointSize() : 8;
  int right = 0, bottom = 0;
  for (const TRecordEditorSlot& slot : layout.Layout(DataSource->DataSet()->Fields())) {
    AddEditor(slot);
    right = std::max(right, slot.Left + slot.Width);
    bottom = std::max(bottom, slot.Top + slot.Height);
  }
  panel_->resize(right + StartLabelLeft, bottom + Increment);
  setWidget(panel_);
}

void TQorixEditScrollBox::AddEditor(const TRecordEditorSlot& slot) {
  auto* label = new QLabel(slot.Caption, panel_);
  label->setFont(labelFont_);
  label->move(slot.LabelLeft, slot.Top + 3);
  label->adjustSize();
  // A caption longer than the room before the editors is cut with an ellipsis, not overlapped.
  const int room = slot.Left - slot.LabelLeft - 4;
  if (label->width() > room) {
    label->setText(label->fontMetrics().elidedText(slot.Caption, Qt::ElideRight, room));
    label->setToolTip(slot.Caption);
    label->resize(room, label->height());
  }
  auto link = std::make_unique<TFieldDataLink>();
  TFieldDataLink* l = link.get();
  QWidget* editor = nullptr;
  switch (slot.Kind) {
    case rekCheck: {
      auto* c = new QCheckBox(panel_);
      connect(c, &QCheckBox::clicked, c, [l, c] {
        // A field that cannot change shows its value again.
        const bool written = GuardedCall([&] {
          if (!l->Edit()) return;
          l->Modified();
          l->UpdateRecord();
        });
        if (!written || !l->FieldEditing()) c->setChecked(l->Field() && !l->Field()->IsNull() && l->Field()->AsBoolean());
      });
      l->OnDataChange = [c](TFieldDataLink& k) { c->setChecked(k.Field() && !k.Field()->IsNull() && k.Field()->AsBoolean()); };
      l->OnUpdateData = [c](TFieldDataLink& k) {
        if (k.Field()) k.Field()->SetAsBoolean(c->isChecked());
      };
      editor = c;
      break;
    }
    case rekMemo: {
      auto* m = new QPlainTextEdit(panel_);
      connect(m, &QPlainTextEdit::textChanged, m, [l, m] {
        if (l->IsModified()) return;
        const QString typed = m->toPlainText();
        if (GuardedCall([&] { l->Edit(); }) && l->FieldEditing()) {
          if (m->toPlainText() != typed) {
            const QSignalBlocker b(m);
            m->setPlainText(typed);
          }
          l->Modified();
        }
      });
      l->OnDataChange = [m](TFieldDataLink& k) {
        const QSignalBlocker b(m);
        m->setPlainText(k.Field() ? k.Field()->AsString() : QString());
      };
      l->OnUpdateData = [m](TFieldDataLink& k) {
        if (k.Field()) k.Field()->SetAsString(m->toPlainText());
      };
      editor = m;
      break;
    }
    case rekImage: {
      auto* img = new QLabel(panel_);
      img->setFrameShape(QFrame::Box);
      img->setAlignment(Qt::AlignCenter);
      l->OnDataChange = [img](TFieldDataLink& k) {
        QPixmap p;
        if (k.Field() && !k.Field()->IsNull() && k.Field()->IsBlob() && p.loadFromData(static_cast<TBlobField*>(k.Field())->AsBytes()))
          img->setPixmap(p.scaled(img->size(), Qt::KeepAspectRatio));
        else
          img->setText(k.Field() && !k.Field()->IsNull() ? QStringLiteral("(image)") : QString());
      };
      editor = img;
      break;
    }
    case rekEdit: {
      auto* e = new QLineEdit(panel_);
      connect(e, &QLineEdit::textEdited, e, [l, e] {
        // Starting the edit shows the record again: the typed text is put back after it.
        const QString typed = e->text();
        const int cursor = e->cursorPosition();
        if (GuardedCall([&] { l->Edit(); }) && l->FieldEditing()) {
          if (e->text() != typed) e->setText(typed), e->setCursorPosition(cursor);
          l->Modified();
        } else if (l->Field()) {
          e->setText(CellEditText(*l->Field(), l->Field()->Value()));
        }
      });
      connect(e, &QLineEdit::editingFinished, e, [l] {
        if (l->IsModified()) GuardedCall([&] { l->UpdateRecord(); });
      });
      // The whole value as text, as the Data page's grid edits it: a date-time with its
      // milliseconds, bytes as hex both shown and typed.
      l->OnDataChange = [e](TFieldDataLink& k) { e->setText(k.Field() ? CellEditText(*k.Field(), k.Field()->Value()) : QString()); };
      l->OnUpdateData = [e](TFieldDataLink& k) {
        if (k.Field()) k.Field()->SetValue(CellValueOfText(*k.Field(), e->text()));
      };
      l->OnEditingChange = [e](TFieldDataLink& k) { e->setReadOnly(!k.CanModify()); };
      editor = e;
      break;
    }
  }
  editor->setFont(editFont_);
  editor->setGeometry(slot.Left, slot.Top, slot.Width, slot.Height);
  l->SetFieldName(slot.FieldName);
  l->SetDataSource(DataSource);
  if (l->OnDataChange) l->OnDataChange(*l);
  pairs_.push_back({label, editor, slot.Kind});
  links_.push_back(std::move(link));
}

// --- Edit Record ----------------------------------------------------------------------------

TRecordEditForm::TRecordEditForm(TDataSource* source, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("RecordEditForm"));
  setWindowTitle(QStringLiteral("Edit Record"));
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  auto* bar = new QToolBar;
  QAction* close = bar->addAction(QStringLiteral("Close"));
  close->setToolTip(QStringLiteral("Close"));
  bar->addSeparator();
  nav_ = new TDBNavigatorWidget;
  nav_->SetButtonVisible(TNavigateBtn::nbRefresh, false);
  nav_->Navigator().SetDataSource(source);
  bar->addWidget(nav_);
  l->addWidget(bar);
  box_ = new TQorixEditScrollBox;
  box_->setObjectName(QStringLiteral("esb_data"));
  box_->DataSource = source;
  box_->Increment = 10;
  l->addWidget(box_);
  connect(close, &QAction::triggered, this, [this] { CloseClick(); });
  resize(520, 420);
}

TRecordEditForm::~TRecordEditForm() {
  box_->ClearEditors();
  nav_->Navigator().SetDataSource(nullptr);
}

void TRecordEditForm::FormActivate() { box_->BuildEditors(); }

void TRecordEditForm::CloseClick() {
  box_->ClearEditors();
  accept();
}

void TRecordEditForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Under the offscreen platform activation may never come: showing builds too.
  if (!box_->Built()) FormActivate();
}

void TRecordEditForm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}
