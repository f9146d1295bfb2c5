// The attribute words printing asked the console for, in order; the console tests link this host instead of
// the real one.
#pragma once

#include <cstdint>
#include <vector>

extern std::vector<uint16_t> gRecordedAttributes;
