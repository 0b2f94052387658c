// Entries that let nearly every mail through: they stand in nearly every
// mail's addresses or delivery lines, spam's included.
#pragma once

#include <string>

// Why the entry lets nearly every mail through, or empty.
std::string TooBroad(const std::string& entry);

// The text with the ASCII letters A to Z folded, as entries compare.
std::string Folded(const std::string& text);
