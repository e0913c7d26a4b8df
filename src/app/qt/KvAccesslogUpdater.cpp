// The program entry: the one repair window and the application's event loop.
#include <QApplication>

#include "app/KvStartUp.h"
#include "app/qt/KvUpdaterWindow.h"
#include "base/Exception.h"
#include "platform/Console.h"

namespace {

// As the console front end ends when stopped by SIGINT or SIGTERM.
constexpr int kExitStopped = 130;

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  try {
    const TKvStartUp startUp;
    TKvUpdaterWindow window;
    window.EndOnStopSignals();
    window.FormCreate();
    if (!window.Terminated()) window.show();
    const int status = application.exec();
    return window.StopSignalled() ? kExitStopped : status;
  } catch (const Exception& e) {
    platform::WriteStandard(platform::StandardStream::Error, e.Message() + "\n");
    return 1;
  }
}
