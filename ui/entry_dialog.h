// The dialog that takes a new address, opened by the list editor.
#pragma once

#include <windows.h>

// Template IDD_ADD_ADDRESS. The creation parameter is a 260-byte buffer that
// receives the typed address, trimmed, when the dialog ends with 1 (OK).
INT_PTR CALLBACK AddAddressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
