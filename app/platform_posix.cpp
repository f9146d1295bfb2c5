// Command-line conventions of POSIX hosts.
#include "app/options_scan.h"

// A slash starts an absolute path, so only a hyphen introduces a switch.
bool isSwitchLead(char c) { return c == '-'; }

// The parent sees only the low 8 bits: a count above 255 must not wrap to a small number or to 0.
int hostExitStatus(int status) { return status > 255 ? 255 : status; }
