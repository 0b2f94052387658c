// The list file read as the plug-in reads it, for the commands that tell the
// user about it (lint's warnings, what a save drops): its bytes, the text the
// plug-in's reader makes of them, and that text cut by the plug-in's line rules.
// Each throws std::bad_alloc when memory runs out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "addresses/list_file.h"

// What the plug-in's reader makes of a file's bytes.
struct ListReading {
    std::string text;  // 8-bit, as the line rules then read it
    unsigned losses = 0;
    ListEncoding encoding = ListEncoding::Bytes;
};
ListReading ReadAsThePluginDoes(const char* data, size_t size);

// That text as the line rules cut it.
struct ListPieces {
    std::vector<std::string> entries;
    std::vector<ListFileParser::Piece> pieces;
    size_t ctrlZAt = ListFileParser::kNoCtrlZ;  // where a Ctrl-Z ended the data
    size_t line = 0;                            // the line the parser stopped in
};
ListPieces ParseListText(const char* text, size_t size);

// The bytes of the list file at path (in UTF-8), read as the plug-in reads
// them, waiting for another program's save.
enum class ListBytes { kWhole, kUnreadable, kTooLarge };
ListBytes ReadListBytes(const std::string& path, std::string& bytes);
