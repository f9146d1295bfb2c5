// Command-line conventions of Windows.
#include "app/options_scan.h"

// A hyphen, a slash or a backslash, so a path beginning with two backslashes is a switch.
bool isSwitchLead(char c) { return c == '-' || c == '/' || c == '\\'; }

// The exit code keeps all 32 bits.
int hostExitStatus(int status) { return status; }
