#include "tests/e2e/ui.h"

#include <tlhelp32.h>

#include <cstdio>

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), size);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

bool Report::check(bool passed, const std::string& name, const std::string& detail) {
    if (passed) {
        ++passed_;
        std::printf("ok - %s\n", name.c_str());
    } else {
        ++failed_;
        std::printf("not ok - %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
    std::fflush(stdout);
    return passed;
}

bool Report::equalText(const std::wstring& actual, const std::wstring& expected,
                       const std::string& name) {
    return check(actual == expected, name,
                 "got \"" + narrow(actual) + "\", expected \"" + narrow(expected) + "\"");
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(pollMs);
    }
}

void pause(DWORD ms) { Sleep(ms); }

Program::~Program() {
    if (process.hProcess) {
        // A failed scenario may leave the program running; it must not outlive the driver.
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
}

namespace {

struct MainFinder {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK findMainWindow(HWND window, LPARAM param) {
    auto* finder = reinterpret_cast<MainFinder*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == finder->processId && className(window) == L"Project_Class" &&
        IsWindowVisible(window)) {
        finder->window = window;
        return FALSE;
    }
    return TRUE;
}

struct TopFinder {
    DWORD processId;
    const wchar_t* windowClass;
    std::vector<HWND>* found;
};

BOOL CALLBACK collectTopWindows(HWND window, LPARAM param) {
    auto* finder = reinterpret_cast<TopFinder*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == finder->processId && IsWindowVisible(window) &&
        (!finder->windowClass || className(window) == finder->windowClass))
        finder->found->push_back(window);
    return TRUE;
}

}  // namespace

bool startProgram(const std::wstring& exe, const std::wstring& folder, Program& program) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &program.process))
        return false;
    MainFinder finder{program.process.dwProcessId, nullptr};
    waitUntil(
        [&] {
            EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&finder));
            return finder.window != nullptr;
        },
        60000, 100);
    program.window = finder.window;
    if (!program.window) return false;
    // The window is shown; let its first paint and the window manager settle.
    WaitForInputIdle(program.process.hProcess, 10000);
    return true;
}

bool waitForExit(Program& program, DWORD timeoutMs, DWORD& exitCode) {
    if (WaitForSingleObject(program.process.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(program.process.hProcess, &exitCode);
    return true;
}

std::wstring className(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring windowText(HWND window) {
    std::wstring text(4096, L'\0');
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_NORMAL, 15000, &length))
        return L"<no answer>";
    text.resize(length);
    return text;
}

std::wstring storedText(HWND window) {
    std::wstring text(4096, L'\0');
    int length = GetWindowTextW(window, text.data(), int(text.size()));
    text.resize(length > 0 ? length : 0);
    return text;
}

bool setText(HWND window, const std::wstring& text) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                               SMTO_NORMAL, 15000, &result) &&
           result != 0;
}

LRESULT askWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result))
        return -1;
    return LRESULT(result);
}

void postClick(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void postCommand(HWND window, WORD id) { PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

RECT childRect(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        found.push_back(child);
    return found;
}

HWND childById(HWND parent, int id) {
    for (HWND child : children(parent))
        if (GetDlgCtrlID(child) == id) return child;
    return nullptr;
}

HWND findDescendant(HWND parent, const std::function<bool(HWND)>& match) {
    for (HWND child : children(parent)) {
        if (match(child)) return child;
        if (HWND inner = findDescendant(child, match)) return inner;
    }
    return nullptr;
}

std::vector<HWND> topWindows(DWORD processId, const wchar_t* windowClass) {
    std::vector<HWND> found;
    TopFinder finder{processId, windowClass, &found};
    EnumWindows(collectTopWindows, reinterpret_cast<LPARAM>(&finder));
    return found;
}

HWND waitForDialog(HWND owner, const std::wstring& title, DWORD timeoutMs) {
    DWORD processId = 0;
    GetWindowThreadProcessId(owner, &processId);
    HWND dialog = nullptr;
    waitUntil(
        [&] {
            for (HWND window : topWindows(processId, L"#32770"))
                if (GetWindow(window, GW_OWNER) == owner && storedText(window) == title) {
                    dialog = window;
                    return true;
                }
            return false;
        },
        timeoutMs, 100);
    if (dialog) waitUntil([&] { return IsWindowEnabled(dialog) != FALSE; }, 5000);
    return dialog;
}

bool waitForGone(HWND window, DWORD timeoutMs) {
    return waitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs, 100);
}

RemoteMemory::RemoteMemory(HANDLE process, size_t size)
    : process_(process),
      address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}

RemoteMemory::~RemoteMemory() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

bool RemoteMemory::write(size_t offset, const void* bytes, size_t size) {
    SIZE_T done = 0;
    return WriteProcessMemory(process_, at(offset), bytes, size, &done) && done == size;
}

bool RemoteMemory::read(size_t offset, void* bytes, size_t size) {
    SIZE_T done = 0;
    return ReadProcessMemory(process_, at(offset), bytes, size, &done) && done == size;
}

namespace {

// Where a module of this process is loaded in the other one (system modules usually sit at
// the same address in every process, which is the fallback).
BYTE* remoteModuleBase(DWORD processId, const wchar_t* name, HMODULE local) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot != INVALID_HANDLE_VALUE) {
        MODULEENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Module32FirstW(snapshot, &entry); more;
             more = Module32NextW(snapshot, &entry)) {
            if (lstrcmpiW(entry.szModule, name) == 0) {
                CloseHandle(snapshot);
                return entry.modBaseAddr;
            }
        }
        CloseHandle(snapshot);
    }
    return reinterpret_cast<BYTE*>(local);
}

bool runRemote(HANDLE process, void* start, void* argument, DWORD& exitCode) {
    HANDLE thread = CreateRemoteThread(
        process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start), argument, 0, nullptr);
    if (!thread) return false;
    const bool done = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
    if (done) GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    return done;
}

}  // namespace

bool runProbe(const Program& program, const std::wstring& probeDll, const std::wstring& outputFile,
              std::vector<std::string>& lines) {
    return runProbe(program, probeDll, "probeWindow", outputFile, lines);
}

bool runProbe(const Program& program, const std::wstring& probeDll, const char* entryName,
              const std::wstring& outputFile, std::vector<std::string>& lines) {
    HANDLE process = program.process.hProcess;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    BYTE* remoteKernel = remoteModuleBase(program.process.dwProcessId, L"kernel32.dll", kernel);
    auto* loadLibrary = reinterpret_cast<BYTE*>(GetProcAddress(kernel, "LoadLibraryW"));
    void* remoteLoad = remoteKernel + (loadLibrary - reinterpret_cast<BYTE*>(kernel));

    const size_t pathBytes = (probeDll.size() + 1) * sizeof(wchar_t);
    const size_t outputBytes = (outputFile.size() + 1) * sizeof(wchar_t);
    RemoteMemory memory(process, pathBytes + outputBytes);
    if (!memory.valid() || !memory.write(0, probeDll.c_str(), pathBytes) ||
        !memory.write(pathBytes, outputFile.c_str(), outputBytes))
        return false;
    DWORD remoteProbe = 0;
    if (!runRemote(process, remoteLoad, memory.at(0), remoteProbe) || remoteProbe == 0)
        return false;

    // The loading thread's exit code holds only the low 32 bits of the probe's address, all of
    // it in a 32-bit program but not in a 64-bit one: the address comes from the module list.
    const std::wstring probeName = probeDll.substr(probeDll.find_last_of(L"\\/") + 1);
    BYTE* remoteBase = remoteModuleBase(program.process.dwProcessId, probeName.c_str(), nullptr);
    if (remoteBase == nullptr) return false;

    HMODULE local = LoadLibraryExW(probeDll.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!local) return false;
    auto* entry = reinterpret_cast<BYTE*>(GetProcAddress(local, entryName));
    const ptrdiff_t offset = entry - reinterpret_cast<BYTE*>(local);
    FreeLibrary(local);
    if (!entry) return false;
    DWORD result = 1;
    if (!runRemote(process, remoteBase + offset, memory.at(pathBytes), result) || result != 0)
        return false;
    lines = readLines(outputFile);
    return true;
}

std::vector<std::string> readLines(const std::wstring& file) {
    std::vector<std::string> lines;
    FILE* in = _wfopen(file.c_str(), L"rb");
    if (!in) return lines;
    std::string line;
    for (int c; (c = std::fgetc(in)) != EOF;) {
        if (c == '\n') {
            while (!line.empty() && line.back() == ' ') line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(char(c));
        }
    }
    if (!line.empty()) lines.push_back(line);
    std::fclose(in);
    return lines;
}

bool fileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
