// Dialog templates, their controls, and the editor's private message. Read by
// the resource compiler too: plain #defines only.
#pragma once

#define IDD_SETTINGS 101
#define IDD_ADD_ADDRESS 102
#define IDD_OPTIONS_PAGE 4005

#define IDC_ADDRESS_LIST 1000
#define IDC_DELETE 1002
#define IDC_ADD 1003
#define IDC_NEW_ADDRESS 1005

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Saves the list file; the page's host sends it (2025).
#define WM_SAVELIST (WM_USER + 1001)
