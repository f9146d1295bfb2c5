// The process-wide switches.
#include "aacs/options.h"

Options gOptions = {false, false, false, false};
