// The host's settings window around a plug-in's page: the page, with OK, Cancel
// and Help in a row under it. quorvel-host page runs it; the screenshot tool
// draws it.
#pragma once

#include <windows.h>

#include <string>

#include "tools/host/windows/plugin_binding_win.h"

// The plug-in answers WM_SAVELIST with 1 when its file holds the list.
constexpr LRESULT kListSaved = 1;

// The plug-in's list views need their window class, and it does not register it.
void RegisterListView();

struct PageFrame {
    HWND frame = nullptr;
    HWND page = nullptr;
    std::string helpPath;  // beside the plug-in; empty when the page names none
    bool closedWithOk = false;
    bool saved = false;  // what the page answered to the save OK sent it
};

// Creates the frame and the plug-in's page in it, both hidden; the frame ends
// the thread's message loop when it is destroyed. window must outlive the frame.
// False, with the reason in error, when the page has no dialog or can't be created.
bool CreatePageFrame(const Plugin& plugin, PageFrame& window, std::string& error);
