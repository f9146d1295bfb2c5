// What a test may need to know about the POSIX host it runs on.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace testsupport {

bool runningUnderWine() { return false; }

NonFilePath::NonFilePath(const TempDir& dir) {
    std::string path = dir.sub("fifo");
    if (mkfifo(path.c_str(), 0600) == 0) where = path;
}

NonFilePath::~NonFilePath() {
    if (!where.empty()) unlink(where.c_str());
}

const char* characterDevicePath() { return "/dev/null"; }

}  // namespace testsupport
