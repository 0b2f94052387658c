#include "check/mail_check.h"

#include <cstring>

#include "addresses/address_list.h"
#include "addresses/ascii_case.h"

namespace {

const char* const kAddressHeaders[] = {"To", "Cc", "Envelope-To", "Received"};

}  // namespace

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

bool HeaderMatches(const HeaderField* header, const char* name, int& count) {
    // A header without name or value is skipped, not counted.
    if (!header->name || !header->value || !EqualsNoCase(header->name, name)) return false;
    ++count;
    for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
        if (ContainsNoCase(header->value, entry->text)) return true;
    }
    return false;
}

int32_t CheckMail(uint32_t /*reserved*/, const MailRecord* mail, double* result) {
    int count = 0;
    ListLock lock;
    if (!g_addressList.head || !mail || !result) return kNotSpam;
    for (const HeaderField* header = mail->headers; header; header = header->next) {
        for (const char* name : kAddressHeaders) {
            if (HeaderMatches(header, name, count)) return kNotSpam;
        }
    }
    if (count == 0) return kNotSpam;
    *result = 1.0;
    return kSpam;
}
