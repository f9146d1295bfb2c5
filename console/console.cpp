// Printing for the whole tool: plain and coloured messages, formatting and hex text.
#include "console/console.h"

#include <cstdarg>
#include <cstdio>

#include "console/console_os.h"

ConsoleState gConsole = {-1, 0};

namespace {

bool gInteractive = false;

void setAttributes(uint16_t attributes) {
    consoleWriteAttributes(gConsole.outputHandle, attributes, gConsole.savedAttributes);
}

void printArgs(const char* format, va_list args) {
    std::vfprintf(stdout, format, args);
    // On a console each message reaches the screen before the colour changes again.
    if (gInteractive) std::fflush(stdout);
}

}  // namespace

void setupConsole() {
    gConsole.outputHandle = consoleOutputHandle();
    uint16_t attributes = 0;
    gConsole.savedAttributes = consoleReadAttributes(gConsole.outputHandle, &attributes) ? attributes : 0;
    gInteractive = consoleIsInteractive(gConsole.outputHandle);
}

void printPlain(const char* format, ...) {
    va_list args;
    va_start(args, format);
    printArgs(format, args);
    va_end(args);
}

void printColored(uint16_t color, const char* format, ...) {
    if (color != 0 && color != 7) {
        setAttributes(coloredAttributes(gConsole.savedAttributes, color));
    }
    va_list args;
    va_start(args, format);
    printArgs(format, args);
    va_end(args);
    if (color != 0) {
        setAttributes(gConsole.savedAttributes);
    }
}

int formatString(char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = std::vsprintf(buffer, format, args);
    va_end(args);
    return written < 0 ? -1 : written;
}

void printLine(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    if (gInteractive) std::fflush(stdout);
}

char* hexString(const uint8_t* bytes, int count, char* out) {
    static const char kDigits[] = "0123456789ABCDEF";
    int i = 0;
    for (; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    out[count > 0 ? 2 * count : 0] = 0;
    return out;
}
