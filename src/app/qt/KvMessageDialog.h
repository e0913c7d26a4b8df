// The window's message box: in the window's font, so that a path in it looks
// as it does in the window (the Japanese font draws '\' as the yen sign), and
// with its lines broken only where the text breaks them or, when a line is
// wider than the screen, between whole words. The toolkit's own box takes
// its default font and breaks Japanese text between any two characters.
#pragma once

#include <QDialog>
#include <QString>

class QPushButton;

class TKvMessageDialog : public QDialog {
 public:
  enum class TIcon { None, Error };

  // The title is the program's name; the font is the parent's.
  TKvMessageDialog(QWidget& parent, TIcon icon, const QString& text);

  // The text as it was given, line breaks included.
  const QString& Text() const { return FText; }
  TIcon Icon() const { return FIcon; }
  QPushButton* OkButton() const { return FOk; }

 private:
  QString FText;
  TIcon FIcon;
  QPushButton* FOk;  // a child, owned by the dialog
};
