#include "bench/peers.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <hs.h>
#include <pcre2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void Fail(const char* what, const char* detail) {
    std::fprintf(stderr, "quorvel_bench: %s: %s\n", what, detail);
    std::exit(2);
}

// Letters and digits stand for themselves; every other byte is written as a hex
// escape, so nothing in an address is read as pattern syntax.
std::string Escape(const std::string& text) {
    std::string escaped;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            escaped += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            escaped += hex;
        }
    }
    return escaped;
}

}  // namespace

PcreMatcher::PcreMatcher(const std::vector<std::string>& addresses) {
    Compile(addresses, 0, addresses.size());
    match_ = pcre2_match_data_create(1, nullptr);
    if (!match_) Fail("PCRE2", "no memory for match data");
}

PcreMatcher::~PcreMatcher() {
    for (pcre2_code* code : codes_) pcre2_code_free(code);
    pcre2_match_data_free(match_);
}

// Compiles addresses [begin, end) as one pattern, or in halves when PCRE2 says it
// is too large.
void PcreMatcher::Compile(const std::vector<std::string>& addresses, size_t begin, size_t end) {
    std::string pattern = "(?:";
    for (size_t i = begin; i < end; ++i) pattern += (i > begin ? "|" : "") + Escape(addresses[i]);
    pattern += ")";
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     PCRE2_CASELESS, &error, &offset, nullptr);
    if (code && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
        pcre2_code_free(code);
        code = nullptr;
        error = PCRE2_ERROR_JIT_BADOPTION;
    }
    if (!code) {
        if (end - begin < 2) {
            PCRE2_UCHAR message[256];
            pcre2_get_error_message(error, message, sizeof message);
            Fail("PCRE2", reinterpret_cast<const char*>(message));
        }
        const size_t middle = begin + (end - begin) / 2;
        Compile(addresses, begin, middle);
        Compile(addresses, middle, end);
        return;
    }
    codes_.push_back(code);
}

bool PcreMatcher::Contains(const char* value) const {
    const size_t length = std::strlen(value);
    for (pcre2_code* code : codes_) {
        if (pcre2_jit_match(code, reinterpret_cast<PCRE2_SPTR>(value), length, 0, 0, match_,
                            nullptr) >= 0) {
            return true;
        }
    }
    return false;
}

size_t PcreMatcher::bytes() const {
    size_t total = 0;
    for (pcre2_code* code : codes_) {
        size_t size = 0, jit = 0;
        pcre2_pattern_info(code, PCRE2_INFO_SIZE, &size);
        pcre2_pattern_info(code, PCRE2_INFO_JITSIZE, &jit);
        total += size + jit;
    }
    return total;
}

HyperscanMatcher::HyperscanMatcher(const std::vector<std::string>& addresses) {
    std::vector<const char*> texts;
    std::vector<size_t> lengths;
    std::vector<unsigned> flags, ids;
    for (size_t i = 0; i < addresses.size(); ++i) {
        texts.push_back(addresses[i].c_str());
        lengths.push_back(addresses[i].size());
        flags.push_back(HS_FLAG_CASELESS | HS_FLAG_SINGLEMATCH);
        ids.push_back(static_cast<unsigned>(i));
    }
    hs_compile_error_t* error = nullptr;
    if (hs_compile_lit_multi(texts.data(), flags.data(), ids.data(), lengths.data(),
                             static_cast<unsigned>(texts.size()), HS_MODE_BLOCK, nullptr,
                             &database_, &error) != HS_SUCCESS) {
        Fail("Hyperscan", error ? error->message : "compile failed");
    }
    if (hs_alloc_scratch(database_, &scratch_) != HS_SUCCESS) Fail("Hyperscan", "no scratch");
}

HyperscanMatcher::~HyperscanMatcher() {
    hs_free_scratch(scratch_);
    hs_free_database(database_);
}

bool HyperscanMatcher::Contains(const char* value) const {
    auto stop = [](unsigned, unsigned long long, unsigned long long, unsigned, void*) -> int {
        return 1;
    };
    return hs_scan(database_, value, static_cast<unsigned>(std::strlen(value)), 0, scratch_, stop,
                   nullptr) == HS_SCAN_TERMINATED;
}

size_t HyperscanMatcher::bytes() const {
    size_t database = 0, scratch = 0;
    hs_database_size(database_, &database);
    hs_scratch_size(scratch_, &scratch);
    return database + scratch;
}
