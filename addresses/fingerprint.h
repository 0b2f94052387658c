// FNV-1a over a file's bytes and their count: how a save tells whether the
// file changed since it read it, and whether a backup already holds it.
#pragma once

#include <cstddef>

struct Fingerprint {
    unsigned long long hash = 14695981039346656037ull;
    unsigned long long size = 0;
    void Add(const char* data, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            hash = (hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
        }
        size += count;
    }
    bool operator==(const Fingerprint& other) const {
        return hash == other.hash && size == other.size;
    }
};
