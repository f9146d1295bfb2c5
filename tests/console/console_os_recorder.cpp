// A console host for the printing tests: never a terminal, and every attribute change is recorded.
#include "tests/console/console_os_recorder.h"

#include "console/console_os.h"

std::vector<uint16_t> gRecordedAttributes;

intptr_t consoleOutputHandle() { return 1; }
bool consoleReadAttributes(intptr_t, uint16_t*) { return false; }

bool consoleWriteAttributes(intptr_t, uint16_t attributes, uint16_t) {
    gRecordedAttributes.push_back(attributes);
    return true;
}

bool consoleIsInteractive(intptr_t) { return false; }
void consoleClearToLineEnd(intptr_t) {}
bool consoleErrorIsTerminal() { return false; }
unsigned consoleErrorColumns() { return 0; }
