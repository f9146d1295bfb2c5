// What a test may need to know about the POSIX host it runs on.
#include "tests/support/test_support.h"

namespace testsupport {

bool runningUnderWine() { return false; }

}  // namespace testsupport
