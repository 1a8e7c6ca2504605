// What the end-to-end driver needs to work another process's windows: finding them, reading
// and setting their texts, posting clicks, waiting, reading memory of the program, running the
// probe inside it. Every wait is bounded; Wine is slow to create and destroy windows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& text);

// The results of one scenario, printed as "ok - ..." and "not ok - ..." lines.
class Report {
public:
    bool check(bool passed, const std::string& name, const std::string& detail = {});
    template <class T>
    bool equal(const T& actual, const T& expected, const std::string& name);
    bool equalText(const std::wstring& actual, const std::wstring& expected,
                   const std::string& name);
    int failed() const { return failed_; }

private:
    int passed_ = 0;
    int failed_ = 0;
};

template <class T>
bool Report::equal(const T& actual, const T& expected, const std::string& name) {
    return check(actual == expected, name,
                 "got " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

// Polls until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs = 50);
void pause(DWORD ms);

struct Program {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
    ~Program();
};

// Starts the program in a working folder and waits for its main window.
bool startProgram(const std::wstring& exe, const std::wstring& folder, Program& program);
// Waits for the process to end; false when it is still running after the time.
bool waitForExit(Program& program, DWORD timeoutMs, DWORD& exitCode);

std::wstring className(HWND window);
// The text through WM_GETTEXT (answered by the window's thread, so it may wait for it).
std::wstring windowText(HWND window);
// The text the system keeps for the window, read without asking its thread.
std::wstring storedText(HWND window);
bool setText(HWND window, const std::wstring& text);
// Sends a message and waits at most the given time for the answer; -1 when none came.
LRESULT askWindow(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0,
                  DWORD timeoutMs = 15000);
void postClick(HWND button);
void postCommand(HWND window, WORD id);
// The rectangle of a child in its parent's client coordinates.
RECT childRect(HWND child);
std::vector<HWND> children(HWND parent);
HWND childById(HWND parent, int id);
HWND findDescendant(HWND parent, const std::function<bool(HWND)>& match);

// Visible top-level windows of the process, of the given class when one is named.
std::vector<HWND> topWindows(DWORD processId, const wchar_t* windowClass = nullptr);
// A dialog (class #32770) owned by the window, shown with the given title; waits for it.
HWND waitForDialog(HWND owner, const std::wstring& title, DWORD timeoutMs);
bool waitForGone(HWND window, DWORD timeoutMs);

// Memory in the program's address space, for messages whose arguments point into it.
class RemoteMemory {
public:
    RemoteMemory(HANDLE process, size_t size);
    ~RemoteMemory();
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;
    bool write(size_t offset, const void* bytes, size_t size);
    bool read(size_t offset, void* bytes, size_t size);
    void* at(size_t offset) const { return static_cast<char*>(address_) + offset; }
    bool valid() const { return address_ != nullptr; }

private:
    HANDLE process_;
    void* address_;
};

// Loads the probe DLL into the program and runs its probeWindow there; the lines it wrote.
bool runProbe(const Program& program, const std::wstring& probeDll, const std::wstring& outputFile,
              std::vector<std::string>& lines);
// The same with another of the probe's entry points.
bool runProbe(const Program& program, const std::wstring& probeDll, const char* entryName,
              const std::wstring& outputFile, std::vector<std::string>& lines);

std::vector<std::string> readLines(const std::wstring& file);
bool fileExists(const std::wstring& path);
bool folderExists(const std::wstring& path);
