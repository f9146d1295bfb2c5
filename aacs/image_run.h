// Verifying a disc given as an image file holding a UDF file system.
#pragma once

// Returns the exit status: mismatched clips, or 0/1 in the failure cases.
int runImage(const char* path);
