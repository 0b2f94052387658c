// What learn found, as the report says it, and the proposal added to the list
// file with --write.
#pragma once

#include <cstdio>
#include <string>

#include "tools/host/commands/learner.h"

// The report, or with listOnly the entries alone, one a line.
void PrintProposal(const Proposal& proposal, bool withSpam, bool listOnly, std::FILE* out);

// Adds the entries that the list file at listPath lacks (ASCII case ignored)
// through the plug-in's own load and save, and says what it added. False, after
// saying why, when the file could not be written or could not be read first.
bool WriteProposal(const Proposal& proposal, const std::string& listPath, std::FILE* out);
