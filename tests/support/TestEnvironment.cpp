// Every test program starts with the build's and the sources' folders in its
// environment (the test discovery passes at most one variable), and with a
// registry that names no dispatcher, so that no program under test starts one
// that outlives the test.
#include <cstdlib>

namespace {

struct TestEnvironment {
  TestEnvironment() {
    setenv("KV_BIN_DIR", KV_TEST_BIN_DIR, 0);
    setenv("KV_SOURCE_DIR", KV_TEST_SOURCE_DIR, 0);
    setenv("KESTROVA_REGISTRY", KV_TEST_SOURCE_DIR "/tests/data/registry-no-dispatcher.reg", 0);
  }
} gTestEnvironment;

}  // namespace
