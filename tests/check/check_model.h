// Helpers for holding the fast check to the plain reference check: random lists
// and header texts made from a few bytes, so that shared prefixes, near misses
// and case changes are common, and every scan width the processor offers.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "addresses/address_index.h"

// Runs body once per scan width, then leaves the widest allowed again.
template <typename Body>
void ForEachScanWidth(Body body) {
    static const char* const kNames[] = {"bytewise scan", "SSE2 scan", "AVX2 scan"};
    for (ScanWidth width : {ScanWidth::kBytes, ScanWidth::kSse2, ScanWidth::kAvx2}) {
        LimitScanWidth(width);
        SCOPED_TRACE(kNames[static_cast<int>(width)]);
        body();
    }
    LimitScanWidth(ScanWidth::kAvx2);
}

class TextMaker {
  public:
    explicit TextMaker(unsigned seed) : random_(seed) {}

    size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    bool OneIn(size_t n) { return Below(n) == 0; }

    // Bytes that fold, bytes 0x20 apart that must not, and mail punctuation.
    std::string Word(size_t minLength, size_t maxLength) {
        static const char kBytes[] = "abqAB@`.-[{\xc0\xe0xX";
        std::string word(minLength + Below(maxLength - minLength + 1), ' ');
        for (char& c : word) c = kBytes[Below(sizeof kBytes - 1)];
        return word;
    }

    std::string MailAddress() {
        static const char* const kNames[] = {"ann", "bob", "ann.lee", "jo", "a", "annie", "b.o.b"};
        static const char* const kDomains[] = {"example.com", "example.org", "ex.io", "e.x"};
        return std::string(kNames[Below(7)]) + (OneIn(5) ? std::to_string(Below(3)) : "") + "@" +
               kDomains[Below(4)];
    }

    std::string Address() { return OneIn(2) ? MailAddress() : Word(1, 12); }

    // A copy that still matches (ASCII case changed) or most likely does not
    // (a byte dropped or changed, the end cut off).
    std::string Mangle(std::string text) {
        if (text.empty()) return text;
        switch (Below(4)) {
            case 0:
                for (char& c : text) {
                    if (OneIn(2) && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
                }
                break;
            case 1:
                text.erase(Below(text.size()), 1);
                break;
            case 2:
                text[Below(text.size())] ^= static_cast<char>(0x20);
                break;
            default:
                text.resize(Below(text.size()));
                break;
        }
        return text;
    }

    // Header text around pieces of the listed addresses, mangled or not.
    std::string Value(const std::vector<std::string>& listed) {
        std::string value;
        for (size_t pieces = Below(6); pieces > 0; --pieces) {
            if (!listed.empty() && OneIn(2)) {
                const std::string& address = listed[Below(listed.size())];
                value += OneIn(8) ? address : Mangle(address);
            } else {
                value += OneIn(2) ? Word(0, 20) : MailAddress();
            }
            if (OneIn(2)) value += OneIn(2) ? ", " : " <";
        }
        return value;
    }

  private:
    std::mt19937 random_;
};
