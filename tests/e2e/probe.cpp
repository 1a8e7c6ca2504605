// Loaded into tavimore.exe by the driver, which then runs probeWindow on a thread of that
// process: fonts, the window class and the menu can only be read from inside the process
// that owns them. It writes what it finds as UTF-8 lines into the file it is given.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

struct Finder {
    DWORD process;
    HWND window;
};

BOOL CALLBACK findMain(HWND window, LPARAM param) {
    auto* finder = reinterpret_cast<Finder*>(param);
    char name[64];
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == finder->process && GetClassNameA(window, name, sizeof name) &&
        std::string(name) == "Project_Class") {
        finder->window = window;
        return FALSE;
    }
    return TRUE;
}

void writeMenu(FILE* out, HMENU menu, int depth) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
        item.dwTypeData = text;
        item.cch = 255;
        if (!GetMenuItemInfoW(menu, i, TRUE, &item)) {
            std::fprintf(out, "menu %d unreadable\n", depth);
            continue;
        }
        const char* kind = (item.fType & MFT_SEPARATOR) ? "separator"
                           : item.hSubMenu              ? "popup"
                                                        : "item";
        std::fprintf(out, "menu %d %s %u %s\n", depth, kind, item.wID, utf8(text).c_str());
        if (item.hSubMenu) writeMenu(out, item.hSubMenu, depth + 1);
    }
}

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI probeWindow(void* outputPath) {
    FILE* out = _wfopen(static_cast<const wchar_t*>(outputPath), L"wb");
    if (!out) return 2;
    Finder finder{GetCurrentProcessId(), nullptr};
    EnumWindows(findMain, reinterpret_cast<LPARAM>(&finder));
    if (!finder.window) {
        std::fputs("no window\n", out);
        std::fclose(out);
        return 3;
    }

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    if (GetClassInfoExA(GetModuleHandleA(nullptr), "Project_Class", &windowClass)) {
        std::fprintf(out,
                     "class style=0x%04X classExtra=%d windowExtra=%d icon=%d smallIcon=%d "
                     "arrowCursor=%d background=%d menuName=%d procedure=%d\n",
                     unsigned(windowClass.style), windowClass.cbClsExtra,
                     windowClass.cbWndExtra, windowClass.hIcon != nullptr,
                     windowClass.hIconSm != nullptr,
                     windowClass.hCursor == LoadCursorA(nullptr, IDC_ARROW),
                     int(INT_PTR(windowClass.hbrBackground)),
                     windowClass.lpszMenuName != nullptr, windowClass.lpfnWndProc != nullptr);
    } else {
        std::fputs("class missing\n", out);
    }

    HFONT shared = nullptr;
    for (HWND child = GetWindow(finder.window, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        DWORD_PTR font = 0;
        SendMessageTimeoutW(child, WM_GETFONT, 0, 0, SMTO_NORMAL, 10000, &font);
        if (font && !shared) shared = reinterpret_cast<HFONT>(font);
        std::fprintf(out, "font id=%d %s\n", GetDlgCtrlID(child),
                     font == 0 ? "none"
                     : reinterpret_cast<HFONT>(font) == shared ? "shared"
                                                               : "other");
    }
    LOGFONTW logFont = {};
    if (shared && GetObjectW(shared, sizeof logFont, &logFont) == sizeof logFont) {
        std::fprintf(out,
                     "logfont height=%ld width=%ld escapement=%ld orientation=%ld weight=%ld "
                     "italic=%d underline=%d strikeout=%d charset=%d outprecision=%d "
                     "clipprecision=%d quality=%d pitchfamily=%d face=%s\n",
                     logFont.lfHeight, logFont.lfWidth, logFont.lfEscapement,
                     logFont.lfOrientation, logFont.lfWeight, logFont.lfItalic,
                     logFont.lfUnderline, logFont.lfStrikeOut, logFont.lfCharSet,
                     logFont.lfOutPrecision, logFont.lfClipPrecision, logFont.lfQuality,
                     logFont.lfPitchAndFamily, utf8(logFont.lfFaceName).c_str());
    }

    HMENU menu = GetMenu(finder.window);
    if (menu) writeMenu(out, menu, 0);
    else std::fputs("menu none\n", out);
    std::fclose(out);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
