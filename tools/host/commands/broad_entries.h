// Entries that let much more mail through than the user's own: they stand in
// nearly every mail's addresses or delivery lines, spam's included, or in no
// address at all.
#pragma once

#include <string>

// Why the entry lets nearly every mail through, or empty.
std::string TooBroad(const std::string& entry);

// Why the entry, not too broad, can't be an address or a domain (a word, or a
// character no address holds) and so matches delivery lines and names instead;
// or empty.
std::string NoAddress(const std::string& entry);

// The text with the ASCII letters A to Z folded, as entries compare.
std::string Folded(const std::string& text);
