// Dialog templates, their controls, and the editor's private message. Read by
// the resource compiler too: plain #defines only. Every value is fixed: the
// templates and the host rely on them, so a new id takes a free value in its
// dialog's block and none moves.
#pragma once

// The settings dialog and the settings page: one list editor behind both.
#define IDD_SETTINGS 101
#define IDD_OPTIONS_PAGE 4005
#define IDC_ADDRESS_LIST 1000
#define IDC_DELETE 1002
#define IDC_ADD 1003

// The entry dialog, which takes a new address. Its field sits in the editor's
// 1000 run, where it has always been.
#define IDD_ADD_ADDRESS 102
#define IDC_NEW_ADDRESS 1005

// Labels and group boxes in every template.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Saves the list file; the page's host sends it (2025).
#define WM_SAVELIST (WM_USER + 1001)
