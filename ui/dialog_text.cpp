#include "ui/dialog_text.h"

#include <cstring>

void TrimChars(char* text, const char* set) {
    if (!text || !set) return;
    size_t start = 0;
    while (text[start] != '\0' && std::strchr(set, text[start])) ++start;
    const size_t length = std::strlen(text + start);
    std::memmove(text, text + start, length + 1);
    size_t end = length;
    while (end > 0 && std::strchr(set, text[end - 1])) text[--end] = '\0';
}

void CleanAddress(char* text) {
    if (!text) return;
    text[std::strcspn(text, "\r\n\x1a")] = '\0';
    TrimChars(text, kTrimSet);
}

namespace {

// Appends size bytes of part to out, as far as room allows.
void Append(char* out, size_t outSize, size_t& used, const char* part, size_t size) {
    const size_t room = outSize - 1 - used;
    if (size > room) size = room;
    std::memcpy(out + used, part, size);
    used += size;
}

bool HoldsOneAddressSlot(const char* format) {
    int slots = 0;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == 's') {
            ++slots;
        } else if (*p != '%') {
            return false;
        }
    }
    return slots == 1;
}

}  // namespace

bool FillInAddress(const char* format, const char* address, char* out, size_t outSize) {
    if (!out || outSize == 0) return false;
    out[0] = '\0';
    if (!format || !address || !HoldsOneAddressSlot(format)) return false;
    size_t used = 0;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            Append(out, outSize, used, p, 1);
        } else if (*++p == 's') {
            Append(out, outSize, used, address, std::strlen(address));
        } else {
            Append(out, outSize, used, "%", 1);
        }
    }
    out[used] = '\0';
    return true;
}

bool ReplaceFileName(char* path, size_t size, const char* name) {
    if (!path || size == 0) return false;
    const char* lastBackslash = std::strrchr(path, '\\');
    const size_t nameStart = lastBackslash ? static_cast<size_t>(lastBackslash - path) + 1 : 0;
    const size_t nameLength = std::strlen(name);
    if (nameStart == 0 || nameStart + nameLength >= size) {
        path[0] = '\0';
        return false;
    }
    std::memcpy(path + nameStart, name, nameLength + 1);
    return true;
}
