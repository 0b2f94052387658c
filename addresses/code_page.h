// The platform half of reading and writing lists that an editor saved as
// UTF-16: conversions between UTF-16 and the system's 8-bit code page, in which
// the plug-in keeps its addresses.
#pragma once

#include <cstddef>

// Converts count UTF-16 units, which do not end inside a surrogate pair, into
// out, which holds at least 3 * count bytes. Sets *lossy when some character
// has no form in the code page (it is written as '?'). Returns the bytes made.
size_t WideToSystemText(const char16_t* units, size_t count, char* out, bool* lossy);

// Converts size bytes of 8-bit text, which do not end inside a character, into
// out, which holds at least size units. Returns the units made.
size_t SystemTextToWide(const char* text, size_t size, char16_t* out);
