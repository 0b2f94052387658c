// All that plugin/ takes from ui/: the settings page the host shows among its
// own, and the stand-alone settings dialog. Both run the list editor.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/resource.h"

// The settings page's template, in the module's resources.
constexpr uint32_t kOptionsPageTemplateId = IDD_OPTIONS_PAGE;

// Templates IDD_SETTINGS and IDD_OPTIONS_PAGE.
INT_PTR CALLBACK AddressListDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The host's "configure" callback: 1 after OK saved the list, 0 after Cancel,
// -1 when the dialog can't be created (as when the host has not registered the
// list view). An OK whose save fails says so and leaves the dialog open.
int32_t ShowSettings(HWND parent);
