// What learn found, as the report says it, and the proposal added to the list
// file with --write.
#pragma once

#include <cstdio>
#include <string>

#include "tools/host/commands/learner.h"

// The report, or with listOnly the entries alone, one a line.
void PrintProposal(const Proposal& proposal, bool withSpam, bool listOnly, std::FILE* out);

// Points the plug-in's list at the file at listPath and loads it as the plug-in
// does, unless it holds entries already; false when the path is too long.
bool LoadListFile(const std::string& listPath);
// Whether the loaded list lets mail that names the address through; false for an
// empty list.
bool ListLetsThrough(const std::string& address);

// Adds the entries that the list file at listPath lacks (ASCII case ignored)
// through the plug-in's own load and save, and says what it added and what of
// the file the save dropped, into which backup. False, after saying why, when
// the file could not be written or read.
bool WriteProposal(const Proposal& proposal, const std::string& listPath, std::FILE* out);
