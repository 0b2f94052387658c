// The plug-in's side of the host's service: what it answers through
// ReceiveService, and (from dialog_host.h) the requests through which the host
// adapts its dialogs and texts.
#pragma once

#include <cstdint>

#include "plugin/dialog_host.h"
#include "plugin/host_api.h"

struct OptionsPageInfo;

// Null until the host hands its callback over (or after it hands over null).
extern HostServiceProc g_hostServiceProc;
// Built once at start-up and never freed: the host may hold it as long as it runs.
extern OptionsPageInfo* g_optionsPage;

extern "C" void* ReceiveService(const ServiceRequest* request);
