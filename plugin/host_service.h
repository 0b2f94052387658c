// The plug-in's side of the host's service: what it answers through
// ReceiveService, and the requests through which the host adapts its dialogs
// and texts.
#pragma once

#include <cstdint>

#include "plugin/host_api.h"

struct OptionsPageInfo;

// Null until the host hands its callback over (or after it hands over null).
extern HostServiceProc g_hostServiceProc;
// Built once at start-up and never freed: the host may hold it as long as it runs.
extern OptionsPageInfo* g_optionsPage;

extern "C" void* ReceiveService(const ServiceRequest* request);

// Hands a dialog that is initialising to the host, which may translate it.
void AdaptDialog(void* dialog);
// Leaves in destination the text to show for source: the host's when it answers,
// otherwise as much of source as fits. Always zero-terminated when
// destinationSize is at least 1; a null or empty destination is left alone.
void AdaptText(const char* source, char* destination, int32_t destinationSize);
