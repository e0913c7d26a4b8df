// The program entry: the one repair window and the application's event loop.
#include <QApplication>

#include "app/qt/KvUpdaterWindow.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  TKvUpdaterWindow window;
  if (!window.Terminated()) window.show();
  return application.exec();
}
