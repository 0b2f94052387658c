// What a save of the list drops of its file: the text the plug-in's load does
// not take, which the save writes no more and keeps only in a backup.
#pragma once

#include <string>
#include <vector>

// What a save would not give back of a list file with these bytes, each a phrase
// that names it (the entries after a Ctrl-Z, the lines that do not convert, a
// zero byte's cut, a line too long); empty when a save gives back the file as
// it is.
std::vector<std::string> WhatASaveDrops(const std::string& bytes);
// The same for the file at path; empty when it can't be read whole.
std::vector<std::string> WhatASaveDropsOf(const std::string& path);
