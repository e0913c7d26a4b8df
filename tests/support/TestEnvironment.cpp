// Every test program starts with the build's and the sources' folders in its
// environment (the test discovery passes at most one variable), and with a
// registry that names no dispatcher, so that no program under test starts one
// that outlives the test.
#include <cstdlib>
#include <string>

#include "support/ProcessHelper.h"
#include "support/TestSupport.h"

namespace {

#ifdef _WIN32
// The build's folders are Linux paths; under Wine the Linux root is drive Z:.
void SetFolder(const char* name, const char* fallback) {
  const char* given = std::getenv(name);
  std::string path = given && *given ? given : fallback;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  setenv(name, path.c_str(), 1);
}
#else
void SetFolder(const char* name, const char* fallback) { setenv(name, fallback, 0); }
#endif

struct TestEnvironment {
  TestEnvironment() {
    SetFolder("KV_BIN_DIR", KV_TEST_BIN_DIR);
    SetFolder("KV_SOURCE_DIR", KV_TEST_SOURCE_DIR);
    setenv("KESTROVA_REGISTRY", KV_TEST_SOURCE_DIR "/tests/data/registry-no-dispatcher.reg", 0);
    testing_support::NameNoDispatcherInFreshRegistry();
  }
} gTestEnvironment;

}  // namespace
