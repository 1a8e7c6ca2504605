// Process entry, the main window, its controls and the message dispatch with its busy guard.
#include "app/app.h"
#include "app/texts.h"

#include <cstring>

Application app;

namespace {

constexpr int kWindowWidth = 500;
constexpr int kWindowHeight = 180;
constexpr WORD kIconResource = 500;

LRESULT handleCreate() {
    app.font =
        CreateFontA(12, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, kFontFace);

    std::memcpy(app.countText, kCountLabelTemplate, sizeof app.countText);
    app.countLabel = createControl(0, "STATIC", app.countText, 0, 290, 13, 120, 12, kIdCountLabel);
    setControlFont(app.countLabel);
    setControlFont(
        createControl(0, "STATIC", kFolderLabelText, 0, 10, 43, 100, 12, kIdFolderLabel));
    app.folderEdit = createControl(WS_EX_CLIENTEDGE, "EDIT", "", ES_AUTOHSCROLL | ES_NOHIDESEL, 80,
                                   40, 370, 18, kIdFolderEdit);
    setControlFont(app.folderEdit);
    setControlFont(createControl(0, "button", kChooseFilesText, BS_PUSHBUTTON, 10, 10, 120, 18,
                                 kCmdChooseFiles));
    app.psdCheck =
        createControl(0, "button", kPsdCheckText, BS_AUTOCHECKBOX, 410, 10, 80, 18, kIdPsdCheck);
    setControlFont(app.psdCheck);
    SendMessageA(app.psdCheck, BM_SETCHECK, BST_CHECKED, 0);
    setControlFont(createControl(0, "button", kChooseFolderText, BS_PUSHBUTTON, 460, 40, 18, 18,
                                 kCmdChooseFolder));
    app.convertButton = createConvertButton();

    if (!app.work.obtain()) {
        showMessage(kNoMemory);
        return -1;  // the system then refuses the window
    }
    return defaultHandling();
}

LRESULT handleMessage() {
    switch (app.current.message) {
    case WM_CREATE: return handleCreate();
    case WM_DESTROY:
        app.work.release();
        PostQuitMessage(0);
        return 0;
    case WM_COMMAND: return handleCommand();
    default: return defaultHandling();
    }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const CurrentMessage saved = app.current;
    app.current = {window, message, wParam, lParam};
    LRESULT result;
    if (!app.converting)
        result = handleMessage();
    else if (message == WM_CLOSE)
        result = 0;  // a batch is running: the window stays
    else
        result = defaultHandling();
    app.current = saved;
    return result;
}

}  // namespace

void showMessage(const char* text) { MessageBoxA(app.current.window, text, kTitle, MB_OK); }

void setControlFont(HWND control) {
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(app.font), FALSE);
}

// Children of the window of the message being handled: while they are created, messages to
// the main window nest and are restored, so the current window is still the parent.
HWND createControl(DWORD exStyle, const char* className, const char* text, DWORD style, int x,
                   int y, int width, int height, int id) {
    return CreateWindowExA(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width,
                           height, app.current.window, reinterpret_cast<HMENU>(INT_PTR(id)),
                           app.instance, nullptr);
}

HWND createConvertButton() {
    HWND button =
        createControl(0, "button", kConvertText, BS_PUSHBUTTON, 200, 70, 120, 18, kCmdConvert);
    setControlFont(button);
    return button;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    app.instance = GetModuleHandleA(nullptr);
    // The program carries no icon resource: the load gives nothing, and the window class then
    // shows the system's default icon, as intended.
    app.icon = LoadIconA(app.instance, MAKEINTRESOURCEA(kIconResource));

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_BYTEALIGNWINDOW;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = app.instance;
    windowClass.hIcon = app.icon;
    windowClass.hIconSm = app.icon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(INT_PTR(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = kClassName;
    RegisterClassExA(&windowClass);

    const int x = GetSystemMetrics(SM_CXSCREEN) / 2 - kWindowWidth / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2 - kWindowHeight / 2;
    app.window = CreateWindowExA(0, kClassName, kTitle, WS_SYSMENU, x, y, kWindowWidth,
                                 kWindowHeight, nullptr, nullptr, app.instance, nullptr);
    // A refused window is not tested: these calls then do nothing and the loop gets the quit
    // message that its destruction posted.
    SetMenu(app.window, LoadMenuA(app.instance, MAKEINTRESOURCEA(kIdMenu)));
    ShowWindow(app.window, SW_SHOWNORMAL);
    UpdateWindow(app.window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    ExitProcess(0);
}
