// The only ways the tool prints or formats text, plain or in a console colour.
#pragma once

#include <cinttypes>
#include <cstdint>

constexpr uint16_t kColorGreen = 10;
constexpr uint16_t kColorRed = 12;

struct ConsoleState {
    intptr_t outputHandle;
    uint16_t savedAttributes;
};

extern ConsoleState gConsole;

// Saves the output handle and its text attributes; failures leave the attributes 0 and printing plain. No colour
// is used when NO_COLOR is set (to anything but nothing) or TERM is "dumb".
void setupConsole();

void printPlain(const char* format, ...);
void printColored(uint16_t color, const char* format, ...);
// Unbounded like sprintf: the caller sizes the buffer. Returns the characters written or -1.
int formatString(char* buffer, const char* format, ...);
void printLine(const char* text);
char* hexString(const uint8_t* bytes, int count, char* out);

// The status line: one line on standard error, drawn only when standard error is a terminal. When standard
// output shares that terminal, each message erases it first and it comes back once the message's line is complete.
bool statusLineAvailable();
// Whether it would share its terminal with standard output.
bool statusLineSharesOutput();
// Replaces its text and draws it.
void showStatusLine(const char* text);
// Erases it; nothing more is drawn until the next show.
void clearStatusLine();

// The attribute word a coloured message is shown with: the saved background and upper bits kept.
inline uint16_t coloredAttributes(uint16_t saved, uint16_t color) {
    return static_cast<uint16_t>((saved & 0xFFF0) | color);
}
