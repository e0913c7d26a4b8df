// The program entry: the one repair window and the application's event loop.
#include <QApplication>

#include "app/KvStartUp.h"
#include "app/qt/KvUpdaterWindow.h"
#include "base/Exception.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  try {
    const TKvStartUp startUp;
    TKvUpdaterWindow window;
    window.FormCreate();
    if (!window.Terminated()) window.show();
    return application.exec();
  } catch (const Exception& e) {
    platform::WriteStandard(platform::StandardStream::Error, e.Message() + "\n");
    return 1;
  }
}
