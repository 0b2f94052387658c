// The mail check in its plainest form: every address header, every allowed
// address, every start position. Far too slow for the host, it is kept as the
// model that the fast check's verdicts are held to by tests, fuzzing and the
// benchmark.
#pragma once

#include <cstdint>

#include "addresses/address_list.h"
#include "addresses/ascii_case.h"
#include "check/mail_check.h"

namespace reference_check {

inline bool HeaderMatches(const HeaderField* header, const char* name, int& count) {
    if (!header->name || !header->value || !EqualsNoCase(header->name, name)) return false;
    ++count;
    for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
        if (ContainsNoCase(header->value, entry->text)) return true;
    }
    return false;
}

}  // namespace reference_check

// Same contract as CheckMail: -1 and *result = 1.0 for spam, 0 otherwise. Takes
// the list's lock itself.
inline int32_t ReferenceCheckMail(const MailRecord* mail, double* result) {
    static const char* const kAddressHeaders[] = {"To", "Cc", "Envelope-To", "Received"};
    int count = 0;
    ListLock lock;
    if (!g_addressList.head || !mail || !result) return kNotSpam;
    for (const HeaderField* header = mail->headers; header; header = header->next) {
        for (const char* name : kAddressHeaders) {
            if (reference_check::HeaderMatches(header, name, count)) return kNotSpam;
        }
    }
    if (count == 0) return kNotSpam;
    *result = 1.0;
    return kSpam;
}
