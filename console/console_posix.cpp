// Console colours on POSIX terminals: ANSI sequences, only when standard output is a terminal.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "console/console_os.h"

intptr_t consoleOutputHandle() { return STDOUT_FILENO; }

// A terminal reports the usual light grey on black, as a fresh console would; anything else has no attributes.
bool consoleReadAttributes(intptr_t handle, uint16_t* attributes) {
    if (!isatty(static_cast<int>(handle))) return false;
    *attributes = 0x07;
    return true;
}

bool consoleWriteAttributes(intptr_t handle, uint16_t attributes, uint16_t savedAttributes) {
    if (!isatty(static_cast<int>(handle))) return false;
    std::fflush(stdout);
    if (attributes == savedAttributes) {
        std::fputs("\x1b[0m", stdout);
    } else {
        // Console foreground bits are blue 1, green 2, red 4, intensity 8; ANSI orders them red, green, blue.
        unsigned fg = attributes & 0x0F;
        unsigned ansi = ((fg & 4) ? 1 : 0) | ((fg & 2) ? 2 : 0) | ((fg & 1) ? 4 : 0);
        std::fprintf(stdout, "\x1b[%um", ((fg & 8) ? 90 : 30) + ansi);
    }
    std::fflush(stdout);
    return true;
}

bool consoleIsInteractive(intptr_t handle) { return isatty(static_cast<int>(handle)) != 0; }

void consoleClearToLineEnd(intptr_t handle) {
    if (!isatty(static_cast<int>(handle))) return;
    std::fputs("\x1b[K", stdout);
}

bool consoleErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

unsigned consoleErrorColumns() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}
