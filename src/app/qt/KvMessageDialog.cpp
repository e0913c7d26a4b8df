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
#include <QTextBoundaryFinder>
#include <algorithm>

namespace {

// Room the box needs beside its text on the screen: its frame, margins and icon.
constexpr int kBoxRoom = 120;
// Room a title bar needs beside the title: the window's icon and its buttons.
constexpr int kTitleBarRoom = 128;

bool IsSpace(QChar c) { return c == u' ' || c == QChar(0x3000); }

// A word wider than maxWidth on its own, broken between characters.
QStringList BreakWord(const QString& word, const QFontMetrics& metrics, int maxWidth) {
  QStringList pieces;
  QString piece;
  QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, word);
  for (qsizetype start = 0, end = characters.toNextBoundary(); end != -1;
       start = end, end = characters.toNextBoundary()) {
    const QString character = word.mid(start, end - start);
    if (!piece.isEmpty() && metrics.horizontalAdvance(piece + character) > maxWidth) {
      pieces << piece;
      piece.clear();
    }
    piece += character;
  }
  pieces << piece;
  return pieces;
}

}  // namespace

QStringList KvMessageLines(const QString& text, const QFontMetrics& metrics, int maxWidth) {
  QString normal = text;
  normal.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
  QStringList lines;
  for (const QString& line : normal.split(u'\n')) {
    if (metrics.horizontalAdvance(line) <= maxWidth) {
      lines << line;
      continue;
    }
    QString current;
    for (qsizetype at = 0; at < line.size();) {
      const qsizetype wordStart = std::find_if_not(line.begin() + at, line.end(), IsSpace) - line.begin();
      const qsizetype wordEnd = std::find_if(line.begin() + wordStart, line.end(), IsSpace) - line.begin();
      if (wordStart == wordEnd) break;  // spaces at the end of the line
      const QString spaces = line.mid(at, wordStart - at);
      const QString word = line.mid(wordStart, wordEnd - wordStart);
      at = wordEnd;
      // A break takes the place of the spaces before the word.
      if (!current.isEmpty() && metrics.horizontalAdvance(current + spaces + word) > maxWidth) {
        lines << current;
        current = word;
      } else {
        current += spaces + word;
      }
      if (metrics.horizontalAdvance(current) > maxWidth) {
        QStringList pieces = BreakWord(current, metrics, maxWidth);
        current = pieces.takeLast();
        lines << pieces;
      }
    }
    lines << current;
  }
  return lines;
}

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
  auto* message = new QLabel(KvMessageLines(text, fontMetrics(), maxWidth).join(u'\n'), this);
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
