// The identifier pool's storage as the pool test reaches it; nothing in the tool reads the pool this way.
#pragma once

#include <cstddef>
#include <cstdint>

// The pool's bytes as they stand now, for checks that entries are deciphered where they lie.
const uint8_t* identifierPoolBytes(size_t* size);
