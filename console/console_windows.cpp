// Console colours on Windows: text attributes of the standard output's screen buffer.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "console/console_os.h"

namespace {

HANDLE asHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

intptr_t consoleOutputHandle() { return reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE)); }

// Fails when standard output is redirected to a file or pipe; the caller then keeps 0 and nothing is coloured.
bool consoleReadAttributes(intptr_t handle, uint16_t* attributes) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(asHandle(handle), &info)) return false;
    *attributes = info.wAttributes;
    return true;
}

// The console keeps the attribute word itself, so restoring is just another write of the saved word.
bool consoleWriteAttributes(intptr_t handle, uint16_t attributes, uint16_t) {
    return SetConsoleTextAttribute(asHandle(handle), attributes) != 0;
}

bool consoleIsInteractive(intptr_t handle) {
    DWORD mode = 0;
    return GetConsoleMode(asHandle(handle), &mode) != 0;
}

void consoleClearToLineEnd(intptr_t handle) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(asHandle(handle), &info)) return;
    const DWORD count = info.dwSize.X > info.dwCursorPosition.X ? DWORD(info.dwSize.X - info.dwCursorPosition.X) : 0;
    DWORD written = 0;
    FillConsoleOutputCharacterA(asHandle(handle), ' ', count, info.dwCursorPosition, &written);
    FillConsoleOutputAttribute(asHandle(handle), info.wAttributes, count, info.dwCursorPosition, &written);
}

bool consoleErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

unsigned consoleErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return unsigned(info.srWindow.Right - info.srWindow.Left + 1);
}
