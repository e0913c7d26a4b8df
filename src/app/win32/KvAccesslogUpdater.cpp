// The program entry of the Windows window: the one repair window and the
// application's message loop. The process stays unaware of the display's
// dots per inch (no manifest says otherwise), so the design's pixels are
// pixels at 96 dpi and the system scales the window on denser displays.
#include <windows.h>

#include <exception>
#include <memory>

#include "app/KvStartUp.h"
#include "app/win32/KvNativeWindow.h"
#include "app/win32/KvWindowSelfTest.h"
#include "platform/CodePage.h"
#include "platform/ProgramEntry.h"

int ProgramMain(const std::vector<std::string>&) {
  // Before anything that may show a box, so that the test drive answers it.
  const std::unique_ptr<TKvWindowSelfTest> selfTest = TKvWindowSelfTest::FromEnvironment();
  try {
    const TKvStartUp startUp;
    TKvNativeWindow window;
    window.FormCreate();
    if (!window.Terminated()) window.Show();
    return window.Run();
  } catch (const std::exception& e) {
    // A program of the GUI subsystem has no console to write to.
    const std::u16string text = platform::ToWide(e.what());
    MessageBoxW(nullptr, std::wstring(text.begin(), text.end()).c_str(), L"KvAccesslogUpdater", MB_OK | MB_ICONSTOP);
    return 1;
  }
}
