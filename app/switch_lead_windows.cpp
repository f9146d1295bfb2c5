// Switches on Windows: a hyphen, a slash or a backslash, so a path beginning with two backslashes is a switch.
#include "app/options_scan.h"

bool isSwitchLead(char c) { return c == '-' || c == '/' || c == '\\'; }
