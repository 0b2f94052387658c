#include "check/reference_check.h"

#include "addresses/address_list.h"

namespace {

const char* const kAddressHeaders[] = {"To", "Cc", "Envelope-To", "Received"};

bool ReferenceHeaderMatches(const HeaderField* header, const char* name, int& count) {
    if (!header->name || !header->value || !EqualsNoCase(header->name, name)) return false;
    ++count;
    for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
        if (ContainsNoCase(header->value, entry->text)) return true;
    }
    return false;
}

}  // namespace

int32_t ReferenceCheckMail(const MailRecord* mail, double* result) {
    int count = 0;
    ListLock lock;
    if (!g_addressList.head || !mail || !result) return kNotSpam;
    for (const HeaderField* header = mail->headers; header; header = header->next) {
        for (const char* name : kAddressHeaders) {
            if (ReferenceHeaderMatches(header, name, count)) return kNotSpam;
        }
    }
    if (count == 0) return kNotSpam;
    *result = 1.0;
    return kSpam;
}
