#include "app/qt/KvUpdaterWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/qt/KvMessageDialog.h"
#include "platform/CodePage.h"
#include "platform/Console.h"

namespace {

// How often an idle window looks for a stop signal.
constexpr int kStopSignalPollMs = 100;

// The design's font fills the 12-pixel labels exactly on Windows. The
// stand-in's line is a row taller at that size (its ascent rounds up), and
// the row below a label is cut off: descenders and underscores vanish, so
// "a_b" reads "a b". The font is taken at the largest size whose line fits.
QFont WindowFont() {
  QFont font;
  font.setFamilies({ToQString(kKvFontName), QString::fromLatin1(kKvFallbackFontName)});
  for (int pixels = kKvFontPixels; pixels > 1; --pixels) {
    font.setPixelSize(pixels);
    const QFontMetrics metrics(font);
    if (metrics.ascent() + metrics.descent() <= KvLabelHeight()) break;
  }
  return font;
}

}  // namespace

QString ToQString(const std::string& text) {
  const std::u16string wide = platform::ToWide(text);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

std::string FromQString(const QString& text) {
  return platform::FromWide(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}

TKvUpdaterWindow::TKvUpdaterWindow() {
  setWindowTitle(ToQString(kKvWindowCaption));
  setFont(WindowFont());
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);

  for (const TKvControlDesign& design : kKvControlDesigns) {
    QWidget* widget;
    if (design.isButton) {
      auto* button = new QPushButton(ToQString(design.caption), this);
      widget = button;
    } else {
      auto* label = new QLabel(ToQString(design.caption), this);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment((design.rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
      widget = label;
    }
    widget->setObjectName(QString::fromLatin1(design.name));
    widget->setVisible(design.visible);
    FControls[static_cast<int>(design.control)] = widget;
  }
  setTabOrder(Control(TKvControl::btnExecute), Control(TKvControl::btnStop));

  FForm = std::make_unique<TKvAccesslogUpdaterForm>(*this);
  connect(static_cast<QPushButton*>(Control(TKvControl::btnExecute)), &QPushButton::clicked, this,
          [this] { ExecuteClicked(); });
  connect(static_cast<QPushButton*>(Control(TKvControl::btnStop)), &QPushButton::clicked, this,
          [this] { FForm->btnStopClick(); });

  resize(kKvClientWidth, kKvClientHeight);
  // A hidden window gets its resize event only when shown.
  for (const TKvControlDesign& design : kKvControlDesigns) PlaceControl(design);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - kKvWindowWidth) / 2, area.y() + (area.height() - kKvWindowHeight) / 2);
  }
}

void TKvUpdaterWindow::FormCreate(const std::string& iniFileName) { FForm->FormCreate(iniFileName); }

void TKvUpdaterWindow::SetFolder(const std::string& folder) { FForm->SetFolder(folder); }

TKvUpdaterWindow::~TKvUpdaterWindow() {
  // The form drives this view; it goes first. Qt frees the child widgets.
  FForm->FormDestroy();
  FForm.reset();
  if (FWaitCursor) QApplication::restoreOverrideCursor();
}

std::string TKvUpdaterWindow::Caption(TKvControl control) const {
  const QWidget* widget = Control(control);
  if (const auto* label = qobject_cast<const QLabel*>(widget)) return FromQString(label->text());
  return FromQString(static_cast<const QPushButton*>(widget)->text());
}

void TKvUpdaterWindow::SetCaption(TKvControl control, const std::string& text) {
  QWidget* widget = Control(control);
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(ToQString(text));
  } else {
    static_cast<QPushButton*>(widget)->setText(ToQString(text));
  }
  PlaceControl(KvControlDesign(control));
}

void TKvUpdaterWindow::SetVisible(TKvControl control, bool visible) { Control(control)->setVisible(visible); }

void TKvUpdaterWindow::SetCursor(TKvCursor cursor) {
  const bool wait = cursor == TKvCursor::crHourGlass;
  if (wait == FWaitCursor) return;
  if (wait) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
  FWaitCursor = wait;
}

void TKvUpdaterWindow::ShowMessage(const std::string& text) {
  TKvMessageDialog(*this, TKvMessageDialog::TIcon::None, ToQString(text)).exec();
}

void TKvUpdaterWindow::ShowError(const std::string& message) {
  TKvMessageDialog(*this, TKvMessageDialog::TIcon::Error, ToQString(message)).exec();
}

void TKvUpdaterWindow::ProcessMessages() {
  QCoreApplication::processEvents();
  // Asked after each file, so that a run ends after the current one.
  if (FEndOnStopSignals && platform::StopSignalReceived()) OnStopSignal();
}

void TKvUpdaterWindow::EndOnStopSignals() {
  platform::CatchStopSignals();
  FEndOnStopSignals = true;
  auto* poll = new QTimer(this);
  connect(poll, &QTimer::timeout, this, [this] {
    if (platform::StopSignalReceived()) OnStopSignal();
  });
  poll->start(kStopSignalPollMs);
}

// As a user would: a box waiting for an answer is closed, and the window
// too, which during a run means after the current file.
void TKvUpdaterWindow::OnStopSignal() {
  if (FStopSignalled) return;
  FStopSignalled = true;
  if (auto* box = dynamic_cast<TKvMessageDialog*>(QApplication::activeModalWidget())) box->reject();
  close();
}

void TKvUpdaterWindow::Terminate() {
  FTerminated = true;
  hide();
  // Queued, so that it also ends a loop that has not started yet.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

void TKvUpdaterWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (const TKvControlDesign& design : kKvControlDesigns) PlaceControl(design);
}

void TKvUpdaterWindow::closeEvent(QCloseEvent* event) {
  // Closing during a run acts as "stop"; the window closes once the current
  // file is done and the run has ended.
  if (FForm->Running()) {
    FForm->btnStopClick();
    FCloseAfterRun = true;
    event->ignore();
    return;
  }
  event->accept();
}

void TKvUpdaterWindow::ExecuteClicked() {
  FForm->btnExecuteClick();
  if (FCloseAfterRun && !FForm->Running()) {
    FCloseAfterRun = false;
    close();
  }
}

// Anchored edges keep their distance to the window's edges; an auto-sized
// label takes its text's width and grows away from its anchored side.
void TKvUpdaterWindow::PlaceControl(const TKvControlDesign& design) {
  const int dx = width() - kKvClientWidth;
  const int dy = height() - kKvClientHeight;
  int left = design.left;
  int right = design.left + design.width;
  int top = design.top;
  int bottom = design.top + design.height;
  if (design.anchors & akRight) {
    right += dx;
    if (!(design.anchors & akLeft)) left += dx;
  }
  if (design.anchors & akBottom) {
    bottom += dy;
    if (!(design.anchors & akTop)) top += dy;
  }
  QWidget* widget = Control(design.control);
  if (design.autoSize) {
    const int textWidth = widget->fontMetrics().horizontalAdvance(static_cast<QLabel*>(widget)->text());
    if (design.rightAligned) {
      left = right - textWidth;
    } else {
      right = left + textWidth;
    }
  }
  widget->setGeometry(left, top, right - left, bottom - top);
}
