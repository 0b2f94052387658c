#include "check/mail_check.h"

#include <cstring>

#include "addresses/address_index.h"
#include "addresses/address_list.h"
#include "addresses/ascii_case.h"

// Their first letters differ, so one comparison tells.
bool IsAddressHeader(const char* name) {
    switch (FoldAscii(static_cast<unsigned char>(name[0]))) {
        case 't':
            return EqualsNoCase(name, "To");
        case 'c':
            return EqualsNoCase(name, "Cc");
        case 'e':
            return EqualsNoCase(name, "Envelope-To");
        case 'r':
            return EqualsNoCase(name, "Received");
        default:
            return false;
    }
}

const char* ContainsNoCase(const char* text, const char* part) {
    const size_t textLength = std::strlen(text);
    const size_t partLength = std::strlen(part);
    if (partLength > textLength) return nullptr;
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    const auto* p = reinterpret_cast<const unsigned char*>(part);
    for (size_t i = 0; i + partLength <= textLength; ++i) {
        size_t k = 0;
        while (k < partLength && FoldAscii(t[i + k]) == FoldAscii(p[k])) ++k;
        if (k == partLength) return text + i;
    }
    return nullptr;
}

namespace {

// With the lock held.
bool ContainsAllowedAddress(const char* value) {
    if (AddressIndexInStep()) return IndexFindsAddress(value);
    // The index is missing (memory ran out): the same answer, address by address.
    for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
        if (ContainsNoCase(value, entry->text)) return true;
    }
    return false;
}

}  // namespace

int32_t CheckMail(uint32_t /*reserved*/, const MailRecord* mail, double* result) {
    int count = 0;
    ListLock lock;
    if (!g_addressList.head || !mail || !result) return kNotSpam;
    // A header matches at most one of the names and the first match ends the walk,
    // so one test per header gives the same verdict as trying the names in turn.
    for (const HeaderField* header = mail->headers; header; header = header->next) {
        if (!header->name || !header->value || !IsAddressHeader(header->name)) continue;
        ++count;
        if (ContainsAllowedAddress(header->value)) return kNotSpam;
    }
    if (count == 0) return kNotSpam;
    *result = 1.0;
    return kSpam;
}
