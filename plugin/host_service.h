// The plug-in's side of the host's service: what it answers through
// ReceiveService, and the requests through which the host adapts the dialogs
// and their texts, which ui/module_link.h declares for the dialogs.
#pragma once

#include <cstdint>

#include "plugin/host_api.h"
#include "ui/module_link.h"

struct OptionsPageInfo;

// Null until the host hands its callback over (or after it hands over null).
extern HostServiceProc g_hostServiceProc;
// Built once at start-up and never freed: the host may hold it as long as it runs.
extern OptionsPageInfo* g_optionsPage;

extern "C" void* ReceiveService(const ServiceRequest* request);
