// The settings dialogs: the address entry dialog and the list editor, which
// runs both the host's settings page and the stand-alone settings dialog.
#pragma once

#include <windows.h>

#include <cstdint>

// Template IDD_ADD_ADDRESS. The creation parameter is a 260-byte buffer that
// receives the typed address, trimmed, when the dialog ends with 1 (OK).
INT_PTR CALLBACK AddAddressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Templates IDD_SETTINGS and IDD_OPTIONS_PAGE.
INT_PTR CALLBACK AddressListDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Enables Delete exactly when the list view has a selected row.
void UpdateDeleteButton(HWND dialog);

// The host's "configure" callback: 1 after OK, 0 after Cancel, -1 when the
// dialog can't be created (as when the host has not registered the list view).
int32_t ShowSettings(HWND parent);
