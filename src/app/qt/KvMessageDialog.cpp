#include "app/qt/KvMessageDialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "app/KvMessageLines.h"

namespace {

// Room the box needs beside its text on the screen: its frame, margins and icon.
constexpr int kBoxRoom = 120;
// Room a title bar needs beside the title: the window's icon and its buttons.
constexpr int kTitleBarRoom = 128;

}  // namespace

TKvMessageDialog::TKvMessageDialog(QWidget& parent, TIcon icon, const QString& text)
    : QDialog(&parent), FText(text), FIcon(icon) {
  setWindowTitle(QCoreApplication::applicationName());
  setFont(parent.font());
  auto* layout = new QGridLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setHorizontalSpacing(fontMetrics().height());
  if (icon == TIcon::Error) {
    auto* picture = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    picture->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, this).pixmap(size, size));
    layout->addWidget(picture, 0, 0, Qt::AlignTop);
  }
  const QScreen* screen = parent.screen();
  const int maxWidth = (screen ? screen->availableGeometry().width() : 1024) - kBoxRoom;
  const QFontMetrics metrics = fontMetrics();
  QStringList lines;
  for (const std::u16string& line : KvMessageLines(
           std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())),
           [&](std::u16string_view part) {
             return metrics.horizontalAdvance(QString::fromUtf16(part.data(), static_cast<qsizetype>(part.size())));
           },
           maxWidth))
    lines << QString::fromUtf16(line.data(), static_cast<qsizetype>(line.size()));
  auto* message = new QLabel(lines.join(u'\n'), this);
  message->setTextFormat(Qt::PlainText);
  message->setWordWrap(false);
  message->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // As wide as the title, so that the title bar does not cut it; the title
  // is drawn by the desktop, in its bold title font.
  QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  titleFont.setBold(true);
  message->setMinimumWidth(QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + kTitleBarRoom);
  layout->addWidget(message, 0, 1, Qt::AlignVCenter);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setCenterButtons(true);
  FOk = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons, 1, 0, 1, 2);
}
