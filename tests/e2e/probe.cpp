// Loaded into tavimore.exe by the driver, which then runs probeWindow on a thread of that
// process: fonts, the window class and the menu can only be read from inside the process
// that owns them. It writes what it finds as UTF-8 lines into the file it is given.
// probeMemoryStart and probeMemoryReport read the program's memory during a batch.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdint>
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
                     unsigned(windowClass.style), windowClass.cbClsExtra, windowClass.cbWndExtra,
                     windowClass.hIcon != nullptr, windowClass.hIconSm != nullptr,
                     windowClass.hCursor == LoadCursorA(nullptr, IDC_ARROW),
                     int(INT_PTR(windowClass.hbrBackground)), windowClass.lpszMenuName != nullptr,
                     windowClass.lpfnWndProc != nullptr);
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
                     font == 0                                 ? "none"
                     : reinterpret_cast<HFONT>(font) == shared ? "shared"
                                                               : "other");
    }
    LOGFONTW logFont = {};
    if (shared && GetObjectW(shared, sizeof logFont, &logFont) == sizeof logFont) {
        std::fprintf(out,
                     "logfont height=%ld width=%ld escapement=%ld orientation=%ld weight=%ld "
                     "italic=%d underline=%d strikeout=%d charset=%d outprecision=%d "
                     "clipprecision=%d quality=%d pitchfamily=%d face=%s\n",
                     logFont.lfHeight, logFont.lfWidth, logFont.lfEscapement, logFont.lfOrientation,
                     logFont.lfWeight, logFont.lfItalic, logFont.lfUnderline, logFont.lfStrikeOut,
                     logFont.lfCharSet, logFont.lfOutPrecision, logFont.lfClipPrecision,
                     logFont.lfQuality, logFont.lfPitchAndFamily, utf8(logFont.lfFaceName).c_str());
    }

    HMENU menu = GetMenu(finder.window);
    if (menu)
        writeMenu(out, menu, 0);
    else
        std::fputs("menu none\n", out);
    std::fclose(out);
    return 0;
}

// Memory during a batch. The window steps its progress bar just before it converts each file
// and destroys the bar after the last; a hook on the window's thread reads the working set and
// the committed private bytes at those moments, on that thread, and keeps them here.
namespace {

struct Reading {
    uint32_t file;   // the file about to be converted, from 1; after the batch, the files done
    uint32_t after;  // 1: read as the bar was destroyed
    uint32_t workingSet;
    uint32_t privateBytes;
};

constexpr LONG kMaxReadings = 8192;
Reading readings[kMaxReadings];  // fixed, so that keeping them does not allocate
volatile LONG readingCount = 0;
HMODULE probeModule = nullptr;
DWORD hookedThread = 0;
HANDLE hookReady = nullptr;

uint32_t committedPrivateBytes() {
    uint64_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (uintptr_t at = 0;
         VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const uintptr_t next = uintptr_t(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return uint32_t(total);
}

void record(uint32_t file, uint32_t after) {
    const LONG index = InterlockedIncrement(&readingCount) - 1;
    if (index >= kMaxReadings) return;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    readings[index] = {file, after, uint32_t(counters.WorkingSetSize), committedPrivateBytes()};
}

bool isProgressBar(HWND window) {
    char name[64];
    return GetClassNameA(window, name, sizeof name) && lstrcmpiA(name, PROGRESS_CLASSA) == 0;
}

LRESULT CALLBACK onSentMessage(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && (sent->message == PBM_STEPIT || sent->message == WM_DESTROY) &&
        isProgressBar(sent->hwnd)) {
        // Called before the bar handles the message: the position is that of the files done.
        const auto done = uint32_t(SendMessageA(sent->hwnd, PBM_GETPOS, 0, 0));
        if (sent->message == PBM_STEPIT)
            record(done + 1, 0);
        else
            record(done, 1);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The hook lives as long as the thread that set it: this one stays.
DWORD WINAPI hookThread(void*) {
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, onSentMessage, probeModule, hookedThread);
    SetEvent(hookReady);
    if (!hook) return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}

}  // namespace

// Sets the hook on the window's thread once and forgets the readings so far.
extern "C" __declspec(dllexport) DWORD WINAPI probeMemoryStart(void* outputPath) {
    FILE* out = _wfopen(static_cast<const wchar_t*>(outputPath), L"wb");
    if (!out) return 2;
    if (!hookedThread) {
        Finder finder{GetCurrentProcessId(), nullptr};
        EnumWindows(findMain, reinterpret_cast<LPARAM>(&finder));
        if (!finder.window) {
            std::fclose(out);
            return 3;
        }
        hookedThread = GetWindowThreadProcessId(finder.window, nullptr);
        hookReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE thread = CreateThread(nullptr, 0, hookThread, nullptr, 0, nullptr);
        if (!thread || WaitForSingleObject(hookReady, 10000) != WAIT_OBJECT_0) {
            std::fclose(out);
            return 4;
        }
        DWORD code = STILL_ACTIVE;
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        if (code != STILL_ACTIVE) {
            std::fclose(out);
            return 5;
        }
    }
    InterlockedExchange(&readingCount, 0);
    std::fputs("hooked\n", out);
    std::fclose(out);
    return 0;
}

// Writes the readings: "memory FILE AFTER WORKINGSET PRIVATE", one a line, in bytes.
extern "C" __declspec(dllexport) DWORD WINAPI probeMemoryReport(void* outputPath) {
    FILE* out = _wfopen(static_cast<const wchar_t*>(outputPath), L"wb");
    if (!out) return 2;
    const LONG count = readingCount;
    for (LONG i = 0; i < count && i < kMaxReadings; ++i)
        std::fprintf(out, "memory %u %u %u %u\n", readings[i].file, readings[i].after,
                     readings[i].workingSet, readings[i].privateBytes);
    if (count > kMaxReadings) std::fputs("memory overflow\n", out);
    std::fclose(out);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) probeModule = module;
    return TRUE;
}
