// The fixed-layout records the host reads from the 32-bit module.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "check/mail_check.h"
#include "plugin/host_api.h"

struct PluginInfo {
    uint32_t version;  // 0x00010005
    uint32_t flags;    // 0x00000908
    char name[kPluginNameSize];
    char author[80];
    char description[80];
    uint32_t reserved;
    void (*releasePlugin)();
    int32_t (*showSettings)(HWND parent);
    int32_t (*checkMail)(uint32_t reserved, const MailRecord* mail, double* result);
};

// Some hosts read up to 276 bytes: they must find zeros past the record.
struct PluginInfoBlock {
    PluginInfo info;
    uint8_t zeros[12];
};

struct OptionsPageInfo {
    uint32_t one;        // 1
    uint32_t count;      // 36
    HINSTANCE instance;  // the plug-in's module
    uint32_t templateId;
    DLGPROC dialogProc;
    const char* caption;
    uint32_t reserved;
    uint8_t flag;
    uint8_t padding[3];
    HICON icon;  // null when quorvel.ico can't be loaded
    const char* helpDocument;
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PluginInfo) == 264, "PluginInfo is 264 bytes");
static_assert(offsetof(PluginInfo, name) == kPluginInfoName, "name at 0x08");
static_assert(sizeof(PluginInfo::name) == kPluginNameSize, "name of 80 bytes");
static_assert(offsetof(PluginInfo, author) == 0x58, "author at 0x58");
static_assert(offsetof(PluginInfo, description) == 0xA8, "description at 0xA8");
static_assert(offsetof(PluginInfo, reserved) == 0xF8, "reserved at 0xF8");
static_assert(offsetof(PluginInfo, releasePlugin) == kPluginInfoReleasePlugin,
              "ReleasePlugin at 0xFC");
static_assert(offsetof(PluginInfo, showSettings) == kPluginInfoShowSettings,
              "ShowSettings at 0x100");
static_assert(offsetof(PluginInfo, checkMail) == kPluginInfoCheckMail, "CheckMail at 0x104");
static_assert(sizeof(PluginInfoBlock) == 276, "PluginInfo and its zeros are 276 bytes");

static_assert(sizeof(OptionsPageInfo) == 40, "OptionsPageInfo is 40 bytes");
static_assert(offsetof(OptionsPageInfo, instance) == kOptionsPageInstance, "instance at 0x08");
static_assert(offsetof(OptionsPageInfo, templateId) == kOptionsPageTemplate, "template at 0x0C");
static_assert(offsetof(OptionsPageInfo, dialogProc) == kOptionsPageDialogProc,
              "dialog procedure at 0x10");
static_assert(offsetof(OptionsPageInfo, caption) == kOptionsPageCaption, "caption at 0x14");
static_assert(offsetof(OptionsPageInfo, reserved) == 0x18, "reserved at 0x18");
static_assert(offsetof(OptionsPageInfo, flag) == 0x1C, "flag at 0x1C");
static_assert(offsetof(OptionsPageInfo, icon) == kOptionsPageIcon, "icon at 0x20");
static_assert(offsetof(OptionsPageInfo, helpDocument) == kOptionsPageHelpDocument,
              "help document at 0x24");

static_assert(sizeof(ServiceRequest) == 20, "ServiceRequest is 20 bytes");
static_assert(offsetof(ServiceRequest, target) == 0x04, "target at 0x04");
static_assert(offsetof(ServiceRequest, code) == 0x08, "code at 0x08");
static_assert(offsetof(ServiceRequest, data) == 0x10, "data at 0x10");

static_assert(sizeof(TextRequest) == 16, "TextRequest is 16 bytes");
static_assert(offsetof(TextRequest, source) == 0x04, "source at 0x04");
static_assert(offsetof(TextRequest, destination) == 0x08, "destination at 0x08");
static_assert(offsetof(TextRequest, destinationSize) == 0x0C, "destination size at 0x0C");

static_assert(sizeof(HeaderField) == 16, "HeaderField is 16 bytes");
static_assert(offsetof(HeaderField, value) == 0x04, "value at 0x04");
static_assert(offsetof(HeaderField, next) == 0x0C, "next at 0x0C");
#endif
