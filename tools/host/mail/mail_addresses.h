// The addresses a mail's headers name, as learn reads them: whole addresses
// only, never a part of a longer one, ASCII letters folded.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/host/mail/mail_parser.h"

// The folded addresses of one mail. The strings of the mail before are
// written over, so that a mail costs an allocation only for a longer address
// than was read before.
struct FoundAddresses {
    std::vector<std::string> texts;  // the first count are this mail's
    size_t count = 0;

    // text[begin, end), folded.
    void Add(const std::string& text, size_t begin, size_t end);
};

// The whole addresses (never a part of a longer one) that a mail names in its To, Cc and
// Envelope-To values and in the "for" clause of its Received values, lower-cased.
std::vector<std::string> AddressesOf(const std::vector<Header>& headers);
// The same into found: sorted, each once.
void CollectAddresses(const std::vector<Header>& headers, FoundAddresses& found);

// Every address in every header that names people, lower-cased, in no order and
// not each once: those who take them keep them in sets.
void AllAddresses(const std::vector<Header>& headers, FoundAddresses& found);
// The same but for those of To, Cc and Envelope-To.
void AddressesBesideRecipients(const std::vector<Header>& headers, FoundAddresses& found);

// Whether the header names its recipients: To, Cc or Envelope-To.
bool NamesAddresses(const std::string& name);

// The values of the headers the plug-in reads.
void AddressValues(const std::vector<Header>& headers, std::vector<const std::string*>& values);
bool HasAddressHeader(const std::vector<Header>& headers);
