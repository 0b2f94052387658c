// The verdict on one mail: is it addressed to one of the user's allowed addresses?
#pragma once

#include <cstdint>

// One header of a mail, as the host hands it over; owned by the host.
struct HeaderField {
    const char* name;
    const char* value;
    uint32_t unused;
    HeaderField* next;
};

// The host's mail record; the check reads only its first member.
struct MailRecord {
    HeaderField* headers;
};

constexpr int32_t kSpam = -1;
constexpr int32_t kNotSpam = 0;

// -1 and *result = 1.0 when the mail has To, Cc, Envelope-To or Received headers
// and none of them contains an allowed address; 0, result untouched, otherwise.
int32_t CheckMail(uint32_t reserved, const MailRecord* mail, double* result);

// Whether the check reads a header of this name: To, Cc, Envelope-To or
// Received, ASCII case ignored. Also what the host tool and the bench ask.
bool IsAddressHeader(const char* name);

// The first occurrence of part in text, ASCII case ignored, or null.
const char* ContainsNoCase(const char* text, const char* part);
