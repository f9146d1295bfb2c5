// The console calls each host provides; only printing in console.cpp uses them.
#pragma once

#include <cstdint>

// The standard output handle, and its current text attributes in *attributes (false when unavailable).
intptr_t consoleOutputHandle();
bool consoleReadAttributes(intptr_t handle, uint16_t* attributes);
// Fails (and writes nothing) when the output is not a console.
bool consoleWriteAttributes(intptr_t handle, uint16_t attributes, uint16_t savedAttributes);
// Whether standard output is a console: text must then be pushed through after each message to keep it in step
// with colour changes.
bool consoleIsInteractive(intptr_t handle);
// Clears the output console from the cursor to the end of its line; nothing when it is no console. Text already
// written to the C stream must be flushed first.
void consoleClearToLineEnd(intptr_t handle);

// Whether standard error is a terminal, and its width in columns (0 when unknown).
bool consoleErrorIsTerminal();
unsigned consoleErrorColumns();
