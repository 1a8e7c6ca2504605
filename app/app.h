// The application record of the window program and the operations shared by its two halves:
// the window (window.cpp) and its commands (commands.cpp).
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstdint>

#include "app/count_label.h"
#include "app/resource_ids.h"
#include "batch/selection.h"
#include "app/work_memory.h"

// Control identifiers; buttons and menu items share the command identifiers.
enum : int {
    kIdCountLabel = 100,
    kIdFolderLabel = 101,
    kIdFolderEdit = 102,
    kIdFileLabel = 501,
    kIdProgressBar = 502,
    kIdMenu = TAVIMORE_ID_MENU,
    kCmdChooseFiles = TAVIMORE_CMD_CHOOSE_FILES,
    kCmdChooseFolder = TAVIMORE_CMD_CHOOSE_FOLDER,
    kCmdConvert = TAVIMORE_CMD_CONVERT,
    kIdPsdCheck = 1004,
    kCmdExit = TAVIMORE_CMD_EXIT,
    kCmdAbout = TAVIMORE_CMD_ABOUT,
    kCmdHomepage = TAVIMORE_CMD_HOMEPAGE,
};

// The message being handled; nested messages save and restore it in the window procedure.
struct CurrentMessage {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

struct Application {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    HICON icon = nullptr;
    HFONT font = nullptr;

    HWND countLabel = nullptr;
    HWND folderEdit = nullptr;
    HWND psdCheck = nullptr;
    HWND convertButton = nullptr;
    HWND fileLabel = nullptr;    // only during a batch
    HWND progressBar = nullptr;  // only during a batch

    WorkMemory work;
    uint16_t fileCount = 0;
    char countText[sizeof kCountLabelTemplate] = {};  // a copy of the template at creation
    // Kept for the process: the dialog writes back the filter in use, which the next use keeps.
    OPENFILENAMEA openFile = {};

    CurrentMessage current;
    bool converting = false;
};

extern Application app;

inline LRESULT defaultHandling() {
    return DefWindowProcA(app.current.window, app.current.message, app.current.wParam,
                          app.current.lParam);
}

// A modal message box owned by the window of the message being handled.
void showMessage(const char* text);
void setControlFont(HWND control);
HWND createControl(DWORD exStyle, const char* className, const char* text, DWORD style, int x,
                   int y, int width, int height, int id);
HWND createConvertButton();

LRESULT handleCommand();
