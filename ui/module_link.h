// What the dialogs need from the module they are built into: its handle, which
// holds their templates, and the two requests through which the host may adapt
// each dialog and each text before the user sees it. Declared here, so that
// ui/ depends on nothing above it; plugin/ defines them (dll_main.cpp the
// handle, host_service.cpp the requests). Portable, so that the text request is
// tested and fuzzed anywhere.
#pragma once

#include <cstdint>

// The module's HINSTANCE; null before the module has started.
void* ModuleInstance();

// Hands a dialog that is initialising to the host, which may translate it.
void AdaptDialog(void* dialog);
// Leaves in destination the text to show for source: the host's when it answers,
// otherwise as much of source as fits. Always zero-terminated when
// destinationSize is at least 1; a null or empty destination is left alone.
void AdaptText(const char* source, char* destination, int32_t destinationSize);
