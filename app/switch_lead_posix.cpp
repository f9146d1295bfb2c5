// Switches on POSIX hosts: a slash starts an absolute path, so only a hyphen introduces a switch.
#include "app/options_scan.h"

bool isSwitchLead(char c) { return c == '-'; }
