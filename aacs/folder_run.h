// Verifying a disc copied to a folder of the host.
#pragma once

// Returns the exit status: mismatched clips, or 0/1 in the failure cases.
int runFolder(const char* root);
