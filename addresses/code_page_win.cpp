#include "addresses/code_page.h"

#include <windows.h>

size_t WideToSystemText(const char16_t* units, size_t count, char* out, bool* lossy) {
    if (count == 0) return 0;
    const auto* wide = reinterpret_cast<const WCHAR*>(units);
    const int capacity = static_cast<int>(3 * count);
    // No best fit: a character that only looks like one of the code page's would
    // turn into another address without a word.
    BOOL usedDefault = FALSE;
    int made = 0;
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8 || codePage == CP_UTF7) {
        // These take neither the flag nor the question, and hold every character.
        made = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), out, capacity, nullptr,
                                   nullptr);
    } else {
        made = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(count), out,
                                   capacity, nullptr, &usedDefault);
    }
    if (usedDefault) *lossy = true;
    if (made > 0) return static_cast<size_t>(made);
    // Nothing converted: each unit stands as a '?', so the lines stay where they were.
    *lossy = true;
    for (size_t i = 0; i < count; ++i) out[i] = '?';
    return count;
}

size_t SystemTextToWide(const char* text, size_t size, char16_t* out) {
    if (size == 0) return 0;
    const int made = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size),
                                         reinterpret_cast<WCHAR*>(out), static_cast<int>(size));
    if (made > 0) return static_cast<size_t>(made);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(text[i]);
    return size;
}
