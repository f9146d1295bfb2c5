// Printing for the whole tool: plain and coloured messages, formatting, hex text, and the status line kept
// clear of them.
#include "console/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "console/console_os.h"

ConsoleState gConsole = {-1, 0};

namespace {

// Messages come from more than one thread (the run's and the status line's); each reaches the console whole.
std::mutex gLock;
bool gInteractive = false;
bool gColours = true;
bool gErrorIsTerminal = false;
// Standard output's current line is unfinished (a progress line ending in a carriage return, say).
bool gLineOpen = false;
std::string gStatusText;
size_t gStatusShown = 0;  // characters of the status line on the screen now

bool sameTerminal() { return gInteractive && gErrorIsTerminal; }

void writeError(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void eraseStatus() {
    if (gStatusShown == 0) return;
    writeError("\r" + std::string(gStatusShown, ' ') + "\r");
    gStatusShown = 0;
}

// Cut to the terminal's width, so that it never wraps and a carriage return always reaches its start.
void drawStatus() {
    if (gStatusText.empty() || !gErrorIsTerminal) return;
    // Sharing a terminal, it waits until standard output has finished its line.
    if (sameTerminal() && gLineOpen) return;
    const unsigned columns = consoleErrorColumns();
    const size_t width = columns > 1 ? columns - 1 : 79;
    std::string text = gStatusText.substr(0, width);
    // Never a part of a character: a cut inside a UTF-8 sequence goes back to its first byte.
    if (text.size() < gStatusText.size()) {
        while (!text.empty() && (static_cast<unsigned char>(gStatusText[text.size()]) & 0xC0) == 0x80) {
            text.pop_back();
        }
    }
    // A shorter text blanks what is left of the longer one before it.
    const size_t wipe = gStatusShown > text.size() ? gStatusShown - text.size() : 0;
    writeError("\r" + text + std::string(wipe, ' '));
    gStatusShown = text.size() + wipe;
}

void setAttributes(uint16_t attributes) {
    consoleWriteAttributes(gConsole.outputHandle, attributes, gConsole.savedAttributes);
}

std::string formatArgs(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text;
    if (length > 0) {
        text.resize(size_t(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, again);
        text.resize(size_t(length));
    }
    va_end(again);
    return text;
}

// Under the lock. Every line is pushed through when it ends, so a pipe or a log sees each result as it comes
// and an interrupted run keeps what it printed; on a console, every message.
void write(const std::string& text) {
    if (text.empty()) return;
    if (sameTerminal()) eraseStatus();
    // A message after a progress line starts over it, and may be shorter: clear what the progress line showed.
    if (gLineOpen && gInteractive && text.back() != '\r') {
        std::fflush(stdout);
        consoleClearToLineEnd(gConsole.outputHandle);
    }
    if (text.back() == '\r' && gInteractive) {
        // A line that returns to its start first clears what a longer line before it left there.
        std::fwrite(text.data(), 1, text.size() - 1, stdout);
        std::fflush(stdout);
        consoleClearToLineEnd(gConsole.outputHandle);
        std::fputc('\r', stdout);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    if (gInteractive || text.back() == '\n') std::fflush(stdout);
    gLineOpen = text.back() != '\n';
}

}  // namespace

void setupConsole() {
    gConsole.outputHandle = consoleOutputHandle();
    uint16_t attributes = 0;
    gConsole.savedAttributes = consoleReadAttributes(gConsole.outputHandle, &attributes) ? attributes : 0;
    gInteractive = consoleIsInteractive(gConsole.outputHandle);
    gErrorIsTerminal = consoleErrorIsTerminal();
    // The common conventions for "no colour, please".
    const char* noColor = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    gColours = !(noColor && *noColor) && !(term && std::strcmp(term, "dumb") == 0);
}

void printPlain(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatArgs(format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(gLock);
    write(text);
    drawStatus();
}

void printColored(uint16_t color, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatArgs(format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(gLock);
    // Erased before the colour changes, so the status line is never drawn over in colour.
    if (sameTerminal()) eraseStatus();
    if (gColours && color != 0 && color != 7) {
        setAttributes(coloredAttributes(gConsole.savedAttributes, color));
    }
    write(text);
    if (gColours && color != 0) {
        setAttributes(gConsole.savedAttributes);
    }
    drawStatus();
}

int formatString(char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = std::vsprintf(buffer, format, args);
    va_end(args);
    return written < 0 ? -1 : written;
}

void printLine(const char* text) {
    std::lock_guard<std::mutex> hold(gLock);
    write(std::string(text) + "\n");
    drawStatus();
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

bool statusLineAvailable() { return gErrorIsTerminal; }

bool statusLineSharesOutput() { return sameTerminal(); }

void showStatusLine(const char* text) {
    std::lock_guard<std::mutex> hold(gLock);
    gStatusText = text;
    drawStatus();
}

void clearStatusLine() {
    std::lock_guard<std::mutex> hold(gLock);
    eraseStatus();
    gStatusText.clear();
}
