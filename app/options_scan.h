// The command-line scan: switches into Options, the first other argument as the path.
#pragma once

#include "aacs/options.h"

enum class ScanResult { Run, Help, Version };

// Warns about every path after the first. Stops at a help switch or --version, leaving the rest unexamined.
ScanResult scanArguments(int argc, char** argv, Options* options, const char** path);
void printUsage();

// Whether an argument beginning with this character is a switch on this host.
bool isSwitchLead(char c);
// The process exit status for a run's status, as far as the host can carry it.
int hostExitStatus(int status);
