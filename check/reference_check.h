// The mail check in its plainest form: every address header, every allowed
// address, every start position. Far too slow for the host, it is kept as the
// model that the fast check's verdicts are held to by tests, fuzzing and the
// benchmark.
#pragma once

#include <cstdint>

#include "check/mail_check.h"

// Same contract as CheckMail: -1 and *result = 1.0 for spam, 0 otherwise. Takes
// the list's lock itself.
int32_t ReferenceCheckMail(const MailRecord* mail, double* result);
