// The mount sequence (UdfVolume::mount, in mount.cpp) and its first step, the volume recognition sequence.
#pragma once

#include "udf/udf_volume.h"

// Checks sectors 16 to 25 for an NSR descriptor and records which editions were seen in vrsFlags.
bool recognizeVolume(UdfVolume* volume);
