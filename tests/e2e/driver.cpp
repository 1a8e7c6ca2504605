// Drives tavimore.exe as a user would, through its windows, under Wine on a headless X screen:
// tavimore-e2e-driver SCENARIO key=value...
// Keys: exe, probe (the probe DLL), work (the scenario's folder, made by the runner), maker,
// homepage, version, folder (browse: the name of a folder on the desktop), first and fit (load:
// the size of the first batch, the names that with the shorter pad fill the selection).
// The runner lays out the input files of each scenario in the work folder and compares the
// converted files afterwards; this program checks what the windows show and do.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/ui.h"

namespace {

constexpr DWORD kDialogWait = 30000;
constexpr DWORD kBatchWait = 300000;
constexpr DWORD kExitWait = 60000;

// Control ids of the program and of Wine's open dialog (the explorer-style template ids).
enum : int {
    kCountLabel = 100,
    kFolderLabel = 101,
    kFolderEdit = 102,
    kFileLabel = 501,
    kProgressBar = 502,
    kChooseFiles = 1000,
    kChooseFolder = 1001,
    kConvert = 1002,
    kPsdCheck = 1004,
    kExit = 1010,
    kAbout = 1900,
    kHomepage = 1901,
    kDialogFileName = 1148,  // cmb13
    kDialogFilter = 1136,    // cmb1
    kDialogLookIn = 1137,    // cmb2
};

const std::wstring kOpenTitle = L"変換元ファイル";
const std::wstring kNothingToConvert = L"ファイル名が設定されていません";
const std::wstring kConversionFailed = L"変換に失敗しました";

struct Settings {
    std::wstring exe, probe, work, maker, homepage, version, folder;
    int first = 0, fit = 0;  // load: the first batch's size, the names that fill the selection
};

std::wstring countText(int count) {
    wchar_t text[32];
    swprintf(text, 32, L"%5d file(s) selected.", count);
    return text;
}

HWND control(const Program& program, int id) { return childById(program.window, id); }

// ---- open dialog ---------------------------------------------------------------------------

struct OpenDialog {
    HWND dialog = nullptr;
    HWND fileName = nullptr;
    HWND filter = nullptr;
    HWND lookIn = nullptr;
};

// The dialog makes its file list anew for every folder and filter, so it is looked up each time.
HWND fileList(const OpenDialog& open) {
    return findDescendant(open.dialog,
                          [](HWND window) { return className(window) == L"SysListView32"; });
}

bool openFileDialog(Report& report, const Program& program, bool viaMenu, OpenDialog& open) {
    if (viaMenu)
        postCommand(program.window, kChooseFiles);
    else
        postClick(control(program, kChooseFiles));
    open.dialog = waitForDialog(program.window, kOpenTitle, kDialogWait);
    if (!report.check(open.dialog != nullptr, std::string("the open dialog opens from the ") +
                                                  (viaMenu ? "menu" : "button") +
                                                  ", titled and owned by the window"))
        return false;
    open.fileName = findDescendant(open.dialog, [](HWND window) {
        return className(window) == L"Edit" && GetDlgCtrlID(window) == kDialogFileName;
    });
    open.filter = childById(open.dialog, kDialogFilter);
    open.lookIn = childById(open.dialog, kDialogLookIn);
    return report.check(open.fileName && open.filter && open.lookIn && fileList(open),
                        "the open dialog has its file name box, filter and file list");
}

std::wstring lastComponent(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool navigate(Report& report, const OpenDialog& open, const std::wstring& folder) {
    setText(open.fileName, folder + L"\\");
    postClick(childById(open.dialog, IDOK));
    const std::wstring name = lastComponent(folder);
    return report.check(waitUntil([&] { return windowText(open.lookIn) == name; }, kDialogWait),
                        "the open dialog goes into the typed folder " + narrow(name),
                        "it shows " + narrow(windowText(open.lookIn)));
}

int listCount(const OpenDialog& open) {
    HWND list = fileList(open);
    return list ? int(askWindow(list, LVM_GETITEMCOUNT, 0, 0, 2000)) : -1;
}

// Waits for the file list to hold the count, and reports it.
bool listHolds(Report& report, const OpenDialog& open, int expected, const std::string& name) {
    waitUntil([&] { return listCount(open) == expected; }, 10000);
    return report.equal(listCount(open), expected, name);
}

// What the combo box tells its dialog when the user picks an entry from its list.
void chooseFilter(const OpenDialog& open, int index) {
    askWindow(open.filter, CB_SETCURSEL, index);
    for (WORD notification : {WORD(CBN_SELCHANGE), WORD(CBN_SELENDOK)})
        PostMessageW(open.dialog, WM_COMMAND, MAKEWPARAM(kDialogFilter, notification),
                     reinterpret_cast<LPARAM>(open.filter));
}

std::wstring quotedNames(const std::vector<std::wstring>& names) {
    if (names.size() == 1) return names[0];
    std::wstring text;
    for (const std::wstring& name : names) text += L"\"" + name + L"\" ";
    return text;
}

bool finishOpen(Report& report, const Program& program, const OpenDialog& open, int button,
                int expectedCount, const std::string& what) {
    postClick(childById(open.dialog, button));
    report.check(waitForGone(open.dialog, kDialogWait), what + ": the open dialog closes");
    HWND label = control(program, kCountLabel);
    const std::wstring expected = countText(expectedCount);
    waitUntil([&] { return storedText(label) == expected; }, 10000);
    return report.equalText(storedText(label), expected, what + ": the count label");
}

// Chooses files in a folder through the dialog: goes into the folder, then types the names.
bool selectFiles(Report& report, const Program& program, const std::wstring& folder,
                 const std::vector<std::wstring>& names) {
    OpenDialog open;
    if (!openFileDialog(report, program, false, open) || !navigate(report, open, folder))
        return false;
    setText(open.fileName, quotedNames(names));
    return finishOpen(report, program, open, IDOK, int(names.size()),
                      "choosing " + std::to_string(names.size()) + " file(s)");
}

// ---- message boxes, batches ----------------------------------------------------------------

HWND waitForMessageBox(const Program& program, DWORD timeoutMs = kDialogWait) {
    return waitForDialog(program.window, L"Tavimore", timeoutMs);
}

std::wstring messageText(HWND box) {
    if (HWND text = childById(box, 0xFFFF)) return windowText(text);
    HWND text = findDescendant(box, [](HWND window) {
        return className(window) == L"Static" && !windowText(window).empty();
    });
    return text ? windowText(text) : L"";
}

bool answerMessageBox(Report& report, HWND box, const std::string& what) {
    postClick(childById(box, IDOK));
    return report.check(waitForGone(box, kDialogWait), what + ": the message closes with OK");
}

// Expects one message box with the text, owned by the main window, and closes it.
bool expectMessage(Report& report, const Program& program, const std::wstring& text,
                   const std::string& what) {
    HWND box = waitForMessageBox(program);
    if (!report.check(box != nullptr, what + ": a message box owned by the window")) return false;
    report.equalText(messageText(box), text, what + ": the message");
    return answerMessageBox(report, box, what);
}

bool idleLayout(const Program& program) {
    HWND button = control(program, kConvert);
    return button && !control(program, kProgressBar) && !control(program, kFileLabel);
}

// Clicks "convert" and waits until the button is back (a new window: it is destroyed and made
// again by every batch). A message on the way is a failure; it is answered so the run goes on.
bool convertAndWait(Report& report, const Program& program, const std::string& what) {
    HWND before = control(program, kConvert);
    postClick(before);
    HWND box = nullptr;
    const bool back = waitUntil(
        [&] {
            std::vector<HWND> boxes = topWindows(program.process.dwProcessId, L"#32770");
            if (!boxes.empty()) box = boxes[0];
            HWND now = control(program, kConvert);
            return box || (now && now != before && idleLayout(program));
        },
        kBatchWait, 100);
    if (box) {
        report.check(false, what + ": no message shows",
                     "got \"" + narrow(messageText(box)) + "\"");
        answerMessageBox(report, box, what);
        waitUntil([&] { return idleLayout(program); }, kDialogWait);
        return false;
    }
    return report.check(back, what + ": the batch ends without a message, the button is back");
}

bool closeAndExpectExit(Report& report, Program& program, const std::string& how,
                        const std::function<void()>& close) {
    close();
    DWORD code = 1234;
    if (!report.check(waitForExit(program, kExitWait, code), how + " ends the program"))
        return false;
    return report.equal(int(code), 0, how + ": exit code");
}

// ---- scenarios -----------------------------------------------------------------------------

struct ControlExpectation {
    const wchar_t* className;
    int id;
    const wchar_t* text;
    DWORD style;
    DWORD exStyle;
    RECT rect;  // left, top, right, bottom in the window's client area
};

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

std::string rectText(const RECT& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
           std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top);
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The menu template: MENUEX items (type, state, id, flags, text, padding, and for a pop-up
// its help id and then its items). Written out as the probe writes the live menu.
bool readMenuTemplate(const BYTE*& at, const BYTE* end, int depth,
                      std::vector<std::string>& lines) {
    for (;;) {
        auto align = [&] {
            while ((uintptr_t(at) & 3) != 0) ++at;
        };
        if (at + 14 > end) return false;
        DWORD type, id;
        WORD flags;
        std::memcpy(&type, at, 4);
        std::memcpy(&id, at + 8, 4);
        std::memcpy(&flags, at + 12, 2);
        at += 14;
        std::wstring text;
        for (; at + 2 <= end; at += 2) {
            wchar_t c;
            std::memcpy(&c, at, 2);
            if (c == 0) break;
            text.push_back(c);
        }
        at += 2;
        align();
        const char* kind = (type & MFT_SEPARATOR) ? "separator" : (flags & 1) ? "popup" : "item";
        std::string line = "menu " + std::to_string(depth) + " " + kind + " " + std::to_string(id) +
                           " " + narrow(text);
        while (line.back() == ' ') line.pop_back();
        lines.push_back(line);
        if (flags & 1) {
            at += 4;  // help id
            if (!readMenuTemplate(at, end, depth + 1, lines)) return false;
        }
        if (flags & 0x80) return true;
    }
}

std::vector<std::string> expectedMenu(const Settings& settings) {
    return {
        "menu 0 popup 0 ファイル(&F)",
        "menu 1 item 1000 入力元(&I)",
        "menu 1 item 1001 出力先(&O)",
        "menu 1 item 1002 変換(&C)",
        "menu 1 separator 0",
        "menu 1 item 1010 終了(&X)",
        "menu 0 popup 0 オプション(&O)",
        "menu 1 item 1900 バージョン情報(&A)",
        "menu 1 separator 0",
        "menu 1 item 1901 " + narrow(settings.maker) + "'s Homepage",
    };
}

void compareLines(Report& report, const std::vector<std::string>& actual,
                  const std::vector<std::string>& expected, const std::string& what) {
    std::string detail;
    for (size_t i = 0; i < actual.size() || i < expected.size(); ++i) {
        const std::string got = i < actual.size() ? actual[i] : "<none>";
        const std::string want = i < expected.size() ? expected[i] : "<none>";
        if (got != want)
            detail += "\n    line " + std::to_string(i) + ": got \"" + got + "\", expected \"" +
                      want + "\"";
    }
    report.check(detail.empty(), what, detail);
}

std::vector<std::string> linesStarting(const std::vector<std::string>& lines,
                                       const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    return found;
}

const char kExpectedFont[] =
    "logfont height=12 width=0 escapement=0 orientation=0 weight=0 italic=0 underline=0 "
    "strikeout=0 charset=1 outprecision=0 clipprecision=0 quality=0 pitchfamily=0 "
    "face=MS UI Gothic";

void checkMenuResource(Report& report, const Settings& settings) {
    HMODULE module = LoadLibraryExW(settings.exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!report.check(module != nullptr, "the program file loads as data")) return;
    HRSRC resource = FindResourceExW(module, MAKEINTRESOURCEW(4), MAKEINTRESOURCEW(600),
                                     MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    if (report.check(resource != nullptr, "menu resource 600 in Japanese")) {
        const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
        const DWORD size = SizeofResource(module, resource);
        WORD version = 0, offset = 0;
        std::memcpy(&version, bytes, 2);
        std::memcpy(&offset, bytes + 2, 2);
        report.check(version == 1 && offset == 4, "menu 600 is an extended menu template");
        std::vector<std::string> lines;
        const BYTE* at = bytes + 4 + offset;
        report.check(readMenuTemplate(at, bytes + size, 0, lines), "menu 600 reads to its end");
        compareLines(report, lines, expectedMenu(settings),
                     "menu 600: items, identifiers and UTF-16 texts");
    }
    FreeLibrary(module);
}

void windowScenario(Report& report, const Settings& settings) {
    Program program;
    if (!report.check(startProgram(settings.exe, settings.work, program), "the window opens"))
        return;
    HWND window = program.window;
    report.equalText(className(window), L"Project_Class", "window class name");
    report.equalText(storedText(window), L"Tavimore", "window title");
    // Created with WS_SYSMENU alone; the system adds WS_CAPTION and WS_CLIPSIBLINGS to every
    // overlapped window, and WS_VISIBLE comes from showing it.
    const DWORD style = DWORD(GetWindowLongW(window, GWL_STYLE));
    report.check(style == (WS_VISIBLE | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU),
                 "window style: system menu and caption only, no sizing, minimise or maximise",
                 "got " + hex(style));
    // The system adds WS_EX_WINDOWEDGE to windows with a caption.
    const DWORD exStyle = DWORD(GetWindowLongW(window, GWL_EXSTYLE)) & ~DWORD(WS_EX_WINDOWEDGE);
    report.check(exStyle == 0, "window extended style", "got " + hex(exStyle));
    RECT rect = {};
    GetWindowRect(window, &rect);
    report.check(sameRect(rect, RECT{262, 294, 762, 474}),
                 "window centred on 1024x768 at 262,294, 500x180 with its menu",
                 "got " + rectText(rect));
    report.check(GetParent(window) == nullptr && GetWindow(window, GW_OWNER) == nullptr,
                 "window has no parent or owner");

    const ControlExpectation expectedControls[] = {
        {L"Static", kCountLabel, L"    0 file(s) selected.", 0, 0, {290, 13, 410, 25}},
        {L"Static", kFolderLabel, L"Output folder", 0, 0, {10, 43, 110, 55}},
        {L"Edit",
         kFolderEdit,
         L"",
         ES_AUTOHSCROLL | ES_NOHIDESEL,
         WS_EX_CLIENTEDGE,
         {80, 40, 450, 58}},
        {L"Button", kChooseFiles, L"Select convert file", BS_PUSHBUTTON, 0, {10, 10, 130, 28}},
        {L"Button", kPsdCheck, L"psdで出力", BS_AUTOCHECKBOX, 0, {410, 10, 490, 28}},
        {L"Button", kChooseFolder, L"...", BS_PUSHBUTTON, 0, {460, 40, 478, 58}},
        {L"Button", kConvert, L"convert", BS_PUSHBUTTON, 0, {200, 70, 320, 88}},
    };
    const std::vector<HWND> controls = children(window);
    report.equal(int(controls.size()), 7, "seven controls");
    for (size_t i = 0; i < controls.size() && i < 7; ++i) {
        const ControlExpectation& want = expectedControls[i];
        HWND child = controls[i];
        const std::string name = "control " + std::to_string(i + 1) + " (" +
                                 narrow(want.className) + " " + std::to_string(want.id) + ")";
        report.equal(GetDlgCtrlID(child), want.id, name + ": id, in creation order");
        report.check(lstrcmpiW(className(child).c_str(), want.className) == 0, name + ": class",
                     "got " + narrow(className(child)));
        report.equalText(windowText(child), want.text, name + ": text");
        const DWORD childStyle = DWORD(GetWindowLongW(child, GWL_STYLE));
        report.check(childStyle == (WS_CHILD | WS_VISIBLE | want.style), name + ": style",
                     "got " + hex(childStyle));
        const DWORD childExStyle = DWORD(GetWindowLongW(child, GWL_EXSTYLE));
        report.check(childExStyle == want.exStyle, name + ": extended style",
                     "got " + hex(childExStyle));
        const RECT where = childRect(child);
        report.check(sameRect(where, want.rect), name + ": position and size",
                     "got " + rectText(where) + ", expected " + rectText(want.rect));
    }
    report.equal(int(askWindow(control(program, kPsdCheck), BM_GETCHECK)), int(BST_CHECKED),
                 "the PSD check box is checked at start");

    checkMenuResource(report, settings);
    std::vector<std::string> probe;
    if (report.check(runProbe(program, settings.probe, settings.work + L"\\probe.txt", probe),
                     "the probe runs inside the program")) {
        compareLines(report, linesStarting(probe, "class "),
                     {"class style=0x2003 classExtra=0 windowExtra=0 icon=0 smallIcon=0 "
                      "arrowCursor=1 background=16 menuName=0 procedure=1"},
                     "window class: styles, no extra bytes, no icon, arrow, button-face "
                     "background, no menu name");
        compareLines(report, linesStarting(probe, "font "),
                     {"font id=100 shared", "font id=101 shared", "font id=102 shared",
                      "font id=1000 shared", "font id=1004 shared", "font id=1001 shared",
                      "font id=1002 shared"},
                     "every control has the one font");
        compareLines(report, linesStarting(probe, "logfont "), {kExpectedFont},
                     "the font: MS UI Gothic, height 12, default character set");
        compareLines(report, linesStarting(probe, "menu "), expectedMenu(settings),
                     "the window's menu: items and identifiers");
    }

    // The runner takes the screenshot between these two files.
    const std::wstring ready = settings.work + L"\\screenshot.ready";
    const std::wstring done = settings.work + L"\\screenshot.done";
    CloseHandle(CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    report.check(waitUntil([&] { return fileExists(done); }, 60000, 100),
                 "the screenshot is taken");

    closeAndExpectExit(report, program, "the menu's exit", [&] { postCommand(window, kExit); });
}

void selectScenario(Report& report, const Settings& settings) {
    Program program;
    if (!report.check(startProgram(settings.exe, settings.work, program), "the window opens"))
        return;
    const std::wstring pick = settings.work + L"\\pick";

    OpenDialog open;
    if (!openFileDialog(report, program, false, open)) return;
    report.equal(int(askWindow(open.filter, CB_GETCOUNT)), 2, "the filter has two entries");
    const wchar_t* filters[] = {L"対応ファイル(*.g00)", L"全てのファイル"};
    for (int i = 0; i < 2; ++i) {
        wchar_t text[256] = {};
        askWindow(open.filter, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        report.equalText(text, filters[i], "filter entry " + std::to_string(i + 1));
    }
    report.equal(int(askWindow(open.filter, CB_GETCURSEL)), 0, "the first filter is in use");
    if (!navigate(report, open, pick)) return;
    // pick holds a.g00, b.g00, c.g00, notes.txt and the folder sub.
    listHolds(report, open, 4, "*.g00 lists the three G00 files and the folder");
    chooseFilter(open, 1);
    listHolds(report, open, 5, "*.* lists every file");
    chooseFilter(open, 0);
    listHolds(report, open, 4, "back to *.g00");
    setText(open.fileName, pick + L"\\b.g00");
    finishOpen(report, program, open, IDOK, 1, "one file by its full path");

    if (openFileDialog(report, program, true, open) && navigate(report, open, pick)) {
        setText(open.fileName, quotedNames({L"a.g00", L"b.g00", L"c.g00"}));
        finishOpen(report, program, open, IDOK, 3, "three files");
    }

    // The dialog's record lives on: the filter of the last successful choice is in use at the
    // next opening, and a cancelled dialog does not reset it. (Wine's dialog stores a changed
    // filter even when it is then cancelled, so the filter is not changed before cancelling.)
    if (openFileDialog(report, program, false, open)) {
        chooseFilter(open, 1);
        listHolds(report, open, 5, "the dialog reopens in the same folder");
        setText(open.fileName, L"c.g00");
        finishOpen(report, program, open, IDOK, 1, "one file with the second filter");
    }
    for (const char* round : {"cancelling the dialog", "cancelling again"}) {
        if (!openFileDialog(report, program, false, open)) break;
        report.equal(int(askWindow(open.filter, CB_GETCURSEL)), 1,
                     std::string(round) + ": the filter of the last choice is in use");
        finishOpen(report, program, open, IDCANCEL, 0, round);
    }

    setText(control(program, kFolderEdit), settings.work + L"\\out");
    postClick(control(program, kConvert));
    expectMessage(report, program, kNothingToConvert, "convert after a cancelled dialog");
    report.check(idleLayout(program), "the convert button stays");

    closeAndExpectExit(report, program, "WM_CLOSE",
                       [&] { PostMessageW(program.window, WM_CLOSE, 0, 0); });
}

void typeText(HWND edit, const std::wstring& text) {
    for (wchar_t c : text) PostMessageW(edit, WM_CHAR, c, 1);
}

void convertScenario(Report& report, const Settings& settings) {
    Program program;
    if (!report.check(startProgram(settings.exe, settings.work, program), "the window opens"))
        return;
    const std::wstring& work = settings.work;
    if (!selectFiles(report, program, work + L"\\in", {L"a.g00", L"b.g00", L"ソース表.g00"}))
        return;
    HWND edit = control(program, kFolderEdit);
    HWND check = control(program, kPsdCheck);

    const std::wstring typed = work + L"\\out-psd";
    typeText(edit, typed);
    report.check(waitUntil([&] { return windowText(edit) == typed; }, 10000),
                 "the folder is typed into the edit");
    convertAndWait(report, program, "PSD into a typed folder without \\");

    postClick(check);
    report.check(waitUntil([&] { return askWindow(check, BM_GETCHECK) == BST_UNCHECKED; }, 10000),
                 "a click clears the PSD check box");
    setText(edit, work + L"\\out-bmp\\");
    convertAndWait(report, program, "BMP into a folder ending in \\");

    postClick(check);
    waitUntil([&] { return askWindow(check, BM_GETCHECK) == BST_CHECKED; }, 10000);
    setText(edit, work + L"\\表");
    convertAndWait(report, program, "PSD into a folder whose last character ends in 0x5C");

    postClick(check);
    waitUntil([&] { return askWindow(check, BM_GETCHECK) == BST_UNCHECKED; }, 10000);
    setText(edit, work + L"\\ソ\\");
    convertAndWait(report, program, "BMP into a folder ending in a 0x5C character and \\");

    // The open dialog made the files' folder the current one.
    setText(edit, L"rel");
    convertAndWait(report, program, "BMP into a folder relative to the current folder");

    closeAndExpectExit(report, program, "the close box (SC_CLOSE)",
                       [&] { PostMessageW(program.window, WM_SYSCOMMAND, SC_CLOSE, 0); });
}

void failureScenario(Report& report, const Settings& settings) {
    Program program;
    if (!report.check(startProgram(settings.exe, settings.work, program), "the window opens"))
        return;
    const std::wstring& work = settings.work;
    HWND edit = control(program, kFolderEdit);
    HWND button = control(program, kConvert);

    postClick(button);
    expectMessage(report, program, kNothingToConvert, "no folder and no files");
    setText(edit, work + L"\\fail-out");
    postClick(button);
    expectMessage(report, program, kNothingToConvert, "a folder but no files");
    if (!selectFiles(report, program, work + L"\\fail",
                     {L"first.g00", L"second.g00", L"third.g00"}))
        return;
    setText(edit, L"");
    postClick(button);
    expectMessage(report, program, kNothingToConvert, "files but no folder");
    report.check(control(program, kConvert) == button, "the convert button was never replaced");

    // second.g00 has type byte 1.
    setText(edit, work + L"\\fail-out");
    for (int round = 1; round <= 2; ++round) {
        const std::string what = "failing batch, run " + std::to_string(round);
        DeleteFileW((work + L"\\fail-out\\first.psd").c_str());
        postClick(control(program, kConvert));
        HWND box = waitForMessageBox(program);
        if (!report.check(box != nullptr, what + ": a message box owned by the window")) return;
        report.equalText(messageText(box), kConversionFailed, what + ": the message");
        HWND progress = control(program, kProgressBar);
        report.check(progress && lstrcmpiW(className(progress).c_str(), L"msctls_progress32") == 0,
                     what + ": the progress bar stands in for the button");
        report.equal(int(askWindow(progress, PBM_GETPOS)), 2, what + ": progress at 2");
        report.equal(int(askWindow(progress, PBM_GETRANGE, FALSE, 0)), 3, what + ": of 3");
        report.check(sameRect(childRect(progress), RECT{50, 80, 442, 100}),
                     what + ": progress bar rectangle", "got " + rectText(childRect(progress)));
        HWND label = control(program, kFileLabel);
        report.equalText(storedText(label), work + L"\\fail\\second.g00",
                         what + ": the file label names the failed file");
        if (label)
            report.check(sameRect(childRect(label), RECT{10, 63, 500, 75}),
                         what + ": file label rectangle", "got " + rectText(childRect(label)));
        report.check(!control(program, kConvert), what + ": the convert button is gone");
        report.check(fileExists(work + L"\\fail-out\\first.psd"),
                     what + ": the first file's output is written");
        report.check(!fileExists(work + L"\\fail-out\\third.psd") &&
                         !fileExists(work + L"\\fail-out\\second.psd") &&
                         !fileExists(work + L"\\fail-out\\second.bmp"),
                     what + ": nothing for the failed and the third file");
        if (round == 1) {
            std::vector<std::string> probe;
            if (report.check(runProbe(program, settings.probe, work + L"\\probe.txt", probe),
                             "the probe runs during the message")) {
                compareLines(report, linesStarting(probe, "font "),
                             {"font id=100 shared", "font id=101 shared", "font id=102 shared",
                              "font id=1000 shared", "font id=1004 shared", "font id=1001 shared",
                              "font id=501 shared", "font id=502 none"},
                             "during a batch: the file label has the font, the bar none");
            }
        }
        PostMessageW(program.window, WM_CLOSE, 0, 0);
        PostMessageW(program.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        pause(2000);
        report.check(IsWindow(program.window) && IsWindow(box),
                     what + ": close requests while the message shows are ignored");
        answerMessageBox(report, box, what);
        report.check(waitUntil([&] { return idleLayout(program); }, kDialogWait),
                     what + ": the convert button is back, the bar and label gone");
        HWND back = control(program, kConvert);
        report.equalText(windowText(back), L"convert", what + ": the button's text");
        report.check(sameRect(childRect(back), RECT{200, 70, 320, 88}),
                     what + ": the button's rectangle", "got " + rectText(childRect(back)));
        report.check(GetWindowLongW(back, GWL_STYLE) == LONG(WS_CHILD | WS_VISIBLE),
                     what + ": the button's style");
    }
    std::vector<std::string> probe;
    if (runProbe(program, settings.probe, work + L"\\probe.txt", probe))
        compareLines(report, linesStarting(probe, "font id=1002"), {"font id=1002 shared"},
                     "the convert button made again has the font");

    // 259 bytes: the "\" fills the buffer and no name fits, so the first file fails.
    std::wstring longFolder = L"C:\\" + std::wstring(256, L'd');
    setText(edit, longFolder);
    postClick(control(program, kConvert));
    expectMessage(report, program, kConversionFailed, "a 259-byte folder");
    report.check(waitUntil([&] { return idleLayout(program); }, kDialogWait),
                 "a 259-byte folder: the convert button is back");

    closeAndExpectExit(report, program, "WM_CLOSE after failed batches",
                       [&] { PostMessageW(program.window, WM_CLOSE, 0, 0); });
}

void busyScenario(Report& report, const Settings& settings) {
    Program program;
    if (!report.check(startProgram(settings.exe, settings.work, program), "the window opens"))
        return;
    const std::wstring& work = settings.work;
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((work + L"\\long\\*.g00").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do names.push_back(found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    const int count = int(names.size());
    if (!report.check(count >= 20, "the long batch has its files") ||
        !selectFiles(report, program, work + L"\\long", names))
        return;
    HWND window = program.window;
    HWND edit = control(program, kFolderEdit);
    HWND check = control(program, kPsdCheck);
    const std::wstring folder = work + L"\\long-out";
    setText(edit, folder);
    postClick(control(program, kConvert));

    HWND progress = nullptr;
    int started = 0;
    waitUntil(
        [&] {
            progress = control(program, kProgressBar);
            started = progress ? int(askWindow(progress, PBM_GETPOS)) : 0;
            return started >= 1;
        },
        kDialogWait);
    if (!report.check(started >= 1 && started <= count - 4, "the batch is under way",
                      "position " + std::to_string(started) + " of " + std::to_string(count)))
        return;
    report.equal(int(askWindow(progress, PBM_GETRANGE, FALSE, 0)), count,
                 "the progress bar's range is the file count");
    // The bar steps before the label takes the next path: wait for the label, not the bar.
    std::wstring label;
    waitUntil(
        [&] {
            label = storedText(control(program, kFileLabel));
            return !label.empty();
        },
        kDialogWait);
    report.check(label.rfind(work + L"\\long\\long.", 0) == 0 && label.size() > 4 &&
                     label.substr(label.size() - 4) == L".g00",
                 "the file label shows the path being converted", "got " + narrow(label));

    // Everything a user might do during the batch. Only the check box and the edit respond.
    PostMessageW(window, WM_CLOSE, 0, 0);
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(window, WM_SYSKEYDOWN, VK_F4, 0x203E0001);  // Alt+F4
    PostMessageW(window, WM_SYSKEYUP, VK_F4, 0xE03E0001);
    postCommand(window, kExit);
    postClick(control(program, kChooseFiles));
    postClick(control(program, kChooseFolder));
    postCommand(window, kChooseFiles);
    postCommand(window, kChooseFolder);
    postCommand(window, kConvert);
    postCommand(window, kAbout);
    postClick(check);
    PostMessageW(edit, WM_KEYDOWN, VK_END, 1);
    PostMessageW(edit, WM_CHAR, L'x', 1);

    // Each file drains the queue until it is empty before it starts. The position read now is
    // answered by a drain that began before or after the posts; the drain after that one began
    // after them and emptied the queue, so a position two further means all of the above was
    // handled while the batch ran.
    const int posted = int(askWindow(progress, PBM_GETPOS));
    int position = posted;
    bool dialogSeen = false;
    waitUntil(
        [&] {
            dialogSeen = dialogSeen || !topWindows(program.process.dwProcessId, L"#32770").empty();
            position = int(askWindow(progress, PBM_GETPOS));
            return position >= posted + 2 || !IsWindow(progress);
        },
        kBatchWait);
    if (!report.check(IsWindow(progress) && position >= posted + 2 && position < count,
                      "the batch is still running after the posted messages were handled",
                      "position " + std::to_string(position) + " of " + std::to_string(count)))
        return;
    report.check(IsWindow(window), "close box, Alt+F4 and the menu's exit did not close it");
    report.equal(int(askWindow(check, BM_GETCHECK)), int(BST_UNCHECKED),
                 "the check box still toggles during a batch");
    report.equalText(windowText(edit), folder + L"x", "the edit still takes typing");

    const bool ended = waitUntil(
        [&] {
            dialogSeen = dialogSeen || !topWindows(program.process.dwProcessId, L"#32770").empty();
            return idleLayout(program);
        },
        kBatchWait, 100);
    report.check(ended, "the long batch ends and the convert button is back");
    pause(2000);
    dialogSeen = dialogSeen || !topWindows(program.process.dwProcessId, L"#32770").empty();
    report.check(!dialogSeen, "no dialog or message opened for the clicks during the batch");
    report.check(IsWindow(window), "the window is still open after the batch");
    report.equalText(storedText(control(program, kCountLabel)), countText(count),
                     "the selection is unchanged");

    closeAndExpectExit(report, program, "Alt+F4 after the batch", [&] {
        PostMessageW(window, WM_SYSKEYDOWN, VK_F4, 0x203E0001);
        PostMessageW(window, WM_SYSKEYUP, VK_F4, 0xE03E0001);
    });
}

// The folder browser's tree, read through memory in the program's process.
std::wstring treeItemText(HANDLE process, HWND tree, HTREEITEM item) {
    RemoteMemory memory(process, sizeof(TVITEMW) + 520);
    TVITEMW record = {};
    record.mask = TVIF_TEXT | TVIF_HANDLE;
    record.hItem = item;
    record.pszText = static_cast<wchar_t*>(memory.at(sizeof(TVITEMW)));
    record.cchTextMax = 260;
    wchar_t text[261] = {};
    if (!memory.write(0, &record, sizeof record) ||
        askWindow(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory.at(0))) <= 0 ||
        !memory.read(sizeof(TVITEMW), text, 520))
        return L"";
    return text;
}

HTREEITEM treeChild(HANDLE process, HWND tree, HTREEITEM parent, const std::wstring& name) {
    askWindow(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    for (auto item = HTREEITEM(askWindow(tree, TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(parent))); item;
         item = HTREEITEM(askWindow(tree, TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(item))))
        if (treeItemText(process, tree, item) == name) return item;
    return nullptr;
}

HWND waitForBrowser(Report& report, const Program& program) {
    HWND browser = nullptr;
    waitUntil(
        [&] {
            for (HWND window : topWindows(program.process.dwProcessId, L"#32770"))
                if (GetWindow(window, GW_OWNER) == program.window) browser = window;
            return browser != nullptr;
        },
        kDialogWait, 100);
    if (!report.check(browser != nullptr, "the folder browser opens, owned by the window"))
        return nullptr;
    HWND title = findDescendant(browser, [](HWND window) {
        return className(window) == L"Static" && windowText(window) == L"出力フォルダ選択";
    });
    report.check(title != nullptr, "the folder browser shows its title text");
    return browser;
}

void browseScenario(Report& report, const Settings& settings) {
    Program program;
    if (!report.check(startProgram(settings.exe, settings.work, program), "the window opens"))
        return;
    HWND edit = control(program, kFolderEdit);
    HANDLE process = program.process.hProcess;

    postClick(control(program, kChooseFolder));
    if (HWND browser = waitForBrowser(report, program)) {
        HWND tree = findDescendant(
            browser, [](HWND window) { return className(window) == L"SysTreeView32"; });
        auto root = HTREEITEM(askWindow(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
        HTREEITEM item = nullptr;
        waitUntil([&] { return (item = treeChild(process, tree, root, settings.folder)); }, 10000,
                  200);
        if (report.check(item != nullptr, "the desktop folder is in the browser's tree")) {
            askWindow(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
            pause(500);
            postClick(childById(browser, IDOK));
            report.check(waitForGone(browser, kDialogWait), "the browser closes with OK");
            std::wstring chosen;
            waitUntil([&] { return !(chosen = windowText(edit)).empty(); }, 10000);
            report.check(chosen.size() > settings.folder.size() &&
                             chosen.substr(chosen.size() - settings.folder.size() - 1) ==
                                 L"\\" + settings.folder &&
                             folderExists(chosen),
                         "the edit holds the chosen folder's path", "got " + narrow(chosen));
            const LRESULT selection = askWindow(edit, EM_GETSEL);
            report.check(LOWORD(selection) == chosen.size() && HIWORD(selection) == chosen.size(),
                         "the caret is at the path's end");
        }
    }
    const std::wstring before = windowText(edit);
    postClick(control(program, kChooseFolder));
    if (HWND browser = waitForBrowser(report, program)) {
        postClick(childById(browser, IDCANCEL));
        report.check(waitForGone(browser, kDialogWait), "the browser closes with Cancel");
        pause(500);
        report.equalText(windowText(edit), before, "a cancelled browser leaves the edit as it was");
    }

    postCommand(program.window, kAbout);
    if (HWND box = waitForMessageBox(program)) {
        const std::wstring text = messageText(box);
        std::vector<std::wstring> lines;
        for (size_t start = 0;;) {
            size_t end = text.find(L'\n', start);
            lines.push_back(text.substr(start, end == std::wstring::npos ? end : end - start));
            if (end == std::wstring::npos) break;
            start = end + 1;
        }
        report.check(lines.size() == 4, "About: four lines", "got " + narrow(text));
        if (lines.size() == 4) {
            // The first line has "ソ", whose second byte in code page 932 is 0x5C.
            report.equalText(lines[0], L"G00画像変換ソフト Tavimore", "About: the program");
            report.check(lines[1].find(settings.version) != std::wstring::npos,
                         "About: the version", "got " + narrow(lines[1]));
            report.check(lines[2].find(settings.maker) != std::wstring::npos, "About: the maker",
                         "got " + narrow(lines[2]));
            report.equalText(lines[3], settings.homepage, "About: the homepage, last");
        }
        answerMessageBox(report, box, "About");
    } else {
        report.check(false, "About shows a message box owned by the window");
    }

    // The runner puts a stand-in for the browser on the path; it writes what it was given.
    const std::wstring opened = settings.work + L"\\homepage.txt";
    postCommand(program.window, kHomepage);
    report.check(
        waitUntil([&] { return fileExists(opened) && !readLines(opened).empty(); }, 60000, 200),
        "the homepage command starts the browser");
    const std::vector<std::string> url = readLines(opened);
    report.equalText(widen(url.empty() ? "" : url[0]), settings.homepage,
                     "the browser is given the homepage address");

    closeAndExpectExit(report, program, "the menu's exit",
                       [&] { postCommand(program.window, kExit); });
}

// ---- load: selections that fill the open dialog's buffer -----------------------------------

constexpr size_t kSelectionDialogBytes = 65014;  // what the program tells the open dialog
constexpr size_t kSelectionBufferBytes = 65016;  // its selection buffer
constexpr size_t kSelectionOffset = 520;         // in its 64 KiB working block
constexpr size_t kWorkBlockBytes = 65536;

std::string ansi(const std::wstring& text) {
    if (text.empty()) return {};
    int size =
        WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

// What a multiple selection gives: the directory, each name, each with its NUL, then a NUL.
std::string selectionBytes(const std::string& directory, const std::vector<std::wstring>& names) {
    std::string bytes = directory + '\0';
    for (const std::wstring& name : names) bytes += ansi(name) + '\0';
    return bytes + '\0';
}

// The program's working block: a 64 KiB allocation whose selection part begins with the
// directory and its NUL. It is obtained with the window and kept as long as the window lives.
BYTE* findWorkBlock(HANDLE process, const std::string& directory) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    MEMORY_BASIC_INFORMATION region = {};
    const std::string wanted = directory + '\0';
    for (auto* at = static_cast<BYTE*>(system.lpMinimumApplicationAddress);
         at < static_cast<BYTE*>(system.lpMaximumApplicationAddress);
         at = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (VirtualQueryEx(process, at, &region, sizeof region) != sizeof region) break;
        if (region.State != MEM_COMMIT || region.Type != MEM_PRIVATE ||
            region.AllocationBase != region.BaseAddress || region.RegionSize != kWorkBlockBytes ||
            region.Protect != PAGE_READWRITE)
            continue;
        std::string start(wanted.size(), '\0');
        SIZE_T done = 0;
        if (ReadProcessMemory(process, static_cast<BYTE*>(region.BaseAddress) + kSelectionOffset,
                              start.data(), start.size(), &done) &&
            done == start.size() && start == wanted)
            return static_cast<BYTE*>(region.BaseAddress);
    }
    return nullptr;
}

std::string readSelectionBuffer(HANDLE process, BYTE* block) {
    std::string bytes(kSelectionBufferBytes, '\0');
    SIZE_T done = 0;
    if (!block ||
        !ReadProcessMemory(process, block + kSelectionOffset, bytes.data(), bytes.size(), &done) ||
        done != bytes.size())
        return {};
    return bytes;
}

// The list as the buffer holds it: the directory, then names up to an empty string.
struct SelectionList {
    std::string directory;
    std::vector<std::string> names;
    size_t bytes = 0;  // with the closing NUL; 0 when no empty string ends it in the buffer
};

SelectionList readList(const std::string& buffer) {
    SelectionList list;
    size_t end = buffer.find('\0');
    if (end == std::string::npos) return list;
    list.directory = buffer.substr(0, end);
    for (size_t at = end + 1; at < buffer.size();) {
        end = buffer.find('\0', at);
        if (end == std::string::npos) break;
        if (end == at) {
            list.bytes = at + 1;
            break;
        }
        list.names.push_back(buffer.substr(at, end - at));
        at = end + 1;
    }
    return list;
}

// The whole text of a window, however long (the file name box holds tens of thousands).
std::wstring fullText(HWND window) {
    const LRESULT length = askWindow(window, WM_GETTEXTLENGTH);
    if (length <= 0) return {};
    std::wstring text(size_t(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_NORMAL, 15000, &copied))
        return {};
    text.resize(copied);
    return text;
}

std::vector<std::wstring> quotedParts(const std::wstring& text) {
    std::vector<std::wstring> parts;
    for (size_t open = text.find(L'"'); open != std::wstring::npos;) {
        const size_t close = text.find(L'"', open + 1);
        if (close == std::wstring::npos) break;
        parts.push_back(text.substr(open + 1, close - open - 1));
        open = text.find(L'"', close + 1);
    }
    return parts;
}

// Waits until the program is back in its message loop: a message sent to its window is
// answered there, after the dialog has returned and the count label has been set.
void waitForIdleWindow(const Program& program) { askWindow(program.window, WM_NULL); }

// For the runner: the names whose outputs the folder is to hold, one a line.
void writeSources(const std::wstring& file, const std::vector<std::string>& names) {
    FILE* out = _wfopen(file.c_str(), L"wb");
    if (!out) return;
    for (const std::string& name : names) std::fprintf(out, "%s\n", name.c_str());
    std::fclose(out);
}

struct MemoryReading {
    int file = 0;        // the file about to be converted; after the batch, the files done
    bool after = false;  // read as the progress bar was destroyed, after the last file
    unsigned long workingSet = 0;
    unsigned long privateBytes = 0;
};

std::string kilobytes(unsigned long bytes) { return std::to_string(bytes / 1024) + " KB"; }

bool startMemoryReadings(Report& report, const Program& program, const Settings& settings,
                         const std::string& what) {
    std::vector<std::string> lines;
    return report.check(runProbe(program, settings.probe, "probeMemoryStart",
                                 settings.work + L"\\memory.txt", lines) &&
                            lines == std::vector<std::string>{"hooked"},
                        what + ": the probe's hook is on the window's thread");
}

std::vector<MemoryReading> memoryReadings(const Program& program, const Settings& settings) {
    std::vector<MemoryReading> readings;
    std::vector<std::string> lines;
    if (!runProbe(program, settings.probe, "probeMemoryReport", settings.work + L"\\memory.txt",
                  lines))
        return readings;
    for (const std::string& line : lines) {
        MemoryReading reading;
        int after = 0;
        if (std::sscanf(line.c_str(), "memory %d %d %lu %lu", &reading.file, &after,
                        &reading.workingSet, &reading.privateBytes) == 4) {
            reading.after = after != 0;
            readings.push_back(reading);
        }
    }
    return readings;
}

// Every file's start is read once, in order, and once more after the last; between the first
// file and the last, neither the working set nor the committed private bytes grow by 2 MB.
void checkMemory(Report& report, const std::vector<MemoryReading>& readings, int count,
                 const std::string& what) {
    std::vector<MemoryReading> starts;
    const MemoryReading* end = nullptr;
    for (const MemoryReading& reading : readings)
        if (reading.after)
            end = &reading;
        else
            starts.push_back(reading);
    bool inOrder = int(starts.size()) == count;
    for (size_t i = 0; inOrder && i < starts.size(); ++i) inOrder = starts[i].file == int(i + 1);
    if (!report.check(inOrder && end && end->file == count && readings.back().after,
                      what + ": the memory is read as each file starts and after the last",
                      std::to_string(starts.size()) + " starts read, " +
                          std::to_string(readings.size()) + " readings in all"))
        return;
    const MemoryReading& first = starts.front();
    const MemoryReading& last = starts.back();
    std::printf(
        "# %s: memory at file 1: working set %s, private %s; at file %d: working set "
        "%s, private %s; after it: working set %s, private %s\n",
        what.c_str(), kilobytes(first.workingSet).c_str(), kilobytes(first.privateBytes).c_str(),
        count, kilobytes(last.workingSet).c_str(), kilobytes(last.privateBytes).c_str(),
        kilobytes(end->workingSet).c_str(), kilobytes(end->privateBytes).c_str());
    report.check(first.workingSet > (1ul << 20) && first.privateBytes > (1ul << 20),
                 what + ": the figures are a program's",
                 kilobytes(first.workingSet) + ", " + kilobytes(first.privateBytes));
    constexpr unsigned long kAllowed = 2ul << 20;
    report.check(last.workingSet < first.workingSet + kAllowed,
                 what + ": the working set grows by less than 2 MB from the first file to the last",
                 kilobytes(first.workingSet) + " to " + kilobytes(last.workingSet));
    report.check(last.privateBytes < first.privateBytes + kAllowed,
                 what + ": private bytes grow by less than 2 MB from the first file to the last",
                 kilobytes(first.privateBytes) + " to " + kilobytes(last.privateBytes));
}

// A selection the dialog gives in full: the label, the bytes in the program's buffer, then
// the batch with the memory read at every file.
void fittingBatch(Report& report, const Program& program, const Settings& settings, BYTE*& block,
                  const std::string& directory, const std::vector<std::wstring>& names,
                  const std::wstring& outFolder, const std::string& what) {
    if (!selectFiles(report, program, settings.work + L"\\many", names)) return;
    waitForIdleWindow(program);
    if (!block) block = findWorkBlock(program.process.hProcess, directory);
    if (!report.check(block != nullptr, what + ": the program's selection buffer is found")) return;
    const std::string expected = selectionBytes(directory, names);
    const std::string buffer = readSelectionBuffer(program.process.hProcess, block);
    report.check(
        buffer.size() == kSelectionBufferBytes && buffer.compare(0, expected.size(), expected) == 0,
        what + ": the buffer holds the directory, the " + std::to_string(names.size()) +
            " names and the closing NUL (" + std::to_string(expected.size()) + " bytes)");
    report.check(buffer.size() == kSelectionBufferBytes && buffer[kSelectionDialogBytes] == 0 &&
                     buffer[kSelectionDialogBytes + 1] == 0,
                 what + ": the two bytes after the dialog's 65,014 are untouched");

    setText(control(program, kFolderEdit), settings.work + L"\\" + outFolder);
    if (!startMemoryReadings(report, program, settings, what)) return;
    const ULONGLONG started = GetTickCount64();
    convertAndWait(report, program, what);
    std::printf("# %s: %zu files converted in %.1f s\n", what.c_str(), names.size(),
                double(GetTickCount64() - started) / 1000.0);
    checkMemory(report, memoryReadings(program, settings), int(names.size()), what);
}

// Clicks Open on a selection beyond the buffer. A message the dialog shows is answered and the
// dialog then cancelled: either way the dialog is gone afterwards.
void openOverflowing(Report& report, const Program& program, const OpenDialog& open,
                     const std::string& what) {
    postClick(childById(open.dialog, IDOK));
    HWND box = nullptr;
    waitUntil(
        [&] {
            for (HWND window : topWindows(program.process.dwProcessId, L"#32770"))
                if (GetWindow(window, GW_OWNER) == open.dialog) box = window;
            return box || !IsWindow(open.dialog) || !IsWindowVisible(open.dialog);
        },
        kDialogWait, 100);
    if (box) {
        std::printf("# %s: the dialog shows \"%s\"\n", what.c_str(),
                    narrow(messageText(box)).c_str());
        answerMessageBox(report, box, what + ": the dialog's message");
        postClick(childById(open.dialog, IDCANCEL));
    }
    report.check(waitForGone(open.dialog, kDialogWait), what + ": the open dialog closes");
    waitForIdleWindow(program);
}

// What the window makes of a selection beyond the buffer, and what "convert" does with it.
// Either the dialog refused it (the count is 0 and there is nothing to convert), or it gave
// its first 65,014 bytes: the list then ends at the program's two zero bytes after them, and
// only names the dialog gave whole are converted; a name it cut fails the batch there.
void checkOverflow(Report& report, const Program& program, const Settings& settings, BYTE* block,
                   const std::string& directory, const std::vector<std::wstring>& names,
                   const std::wstring& outFolder, const std::string& what) {
    const std::string sources = narrow(settings.work) + "\\" + narrow(outFolder) + ".sources";
    writeSources(widen(sources), {});
    const std::string whole = selectionBytes(directory, names);
    const std::string buffer = readSelectionBuffer(program.process.hProcess, block);
    HWND label = control(program, kCountLabel);
    report.check(IsWindow(program.window) &&
                     WaitForSingleObject(program.process.hProcess, 0) == WAIT_TIMEOUT,
                 what + ": the program is still running");
    if (!report.check(buffer.size() == kSelectionBufferBytes, what + ": the buffer is read"))
        return;
    setText(control(program, kFolderEdit), settings.work + L"\\" + outFolder);

    if (buffer[0] == '\0') {
        std::printf("# %s (%zu bytes): the dialog failed, the program refused it\n", what.c_str(),
                    whole.size());
        report.equalText(storedText(label), countText(0), what + ": the count label");
        postClick(control(program, kConvert));
        expectMessage(report, program, kNothingToConvert, what + ": convert");
        return;
    }
    const SelectionList list = readList(buffer);
    const bool cutAtLimit =
        buffer.compare(0, kSelectionDialogBytes, whole, 0, kSelectionDialogBytes) == 0 &&
        buffer[kSelectionDialogBytes] == 0 && buffer[kSelectionDialogBytes + 1] == 0 &&
        list.bytes > 0;
    if (!report.check(cutAtLimit,
                      what + ": the buffer holds the dialog's first 65,014 bytes and two zeros",
                      "the directory \"" + list.directory + "\", " +
                          std::to_string(list.names.size()) + " names"))
        return;
    size_t given = 0;  // names the dialog gave whole
    while (given < list.names.size() && given < names.size() &&
           list.names[given] == ansi(names[given]))
        ++given;
    const bool cut = given < list.names.size();
    report.check(given + (cut ? 1 : 0) == list.names.size() &&
                     (!cut || ansi(names[given]).rfind(list.names[given], 0) == 0),
                 what + ": whole names in order, at most the last one cut short");
    std::printf(
        "# %s (%zu bytes, %zu names): the dialog returned its first 65,014 bytes; the "
        "list ends at the program's zero bytes after them: %zu names whole%s%s%s\n",
        what.c_str(), whole.size(), names.size(), given, cut ? ", then \"" : "",
        cut ? list.names[given].c_str() : "", cut ? "\" cut short" : "");
    report.equalText(storedText(label), countText(int(list.names.size())),
                     what + ": the count label counts the list in the buffer");

    const std::vector<std::string> converted(list.names.begin(), list.names.begin() + given);
    writeSources(widen(sources), converted);
    if (!cut) {
        convertAndWait(report, program, what + ": convert");
        return;
    }
    postClick(control(program, kConvert));
    HWND box = waitForMessageBox(program, kBatchWait);
    if (!report.check(box != nullptr, what + ": convert stops with a message")) return;
    report.equalText(messageText(box), kConversionFailed, what + ": the message");
    report.equalText(storedText(control(program, kFileLabel)),
                     widen(directory + "\\" + list.names[given]),
                     what + ": the file label names the cut name");
    report.equal(int(askWindow(control(program, kProgressBar), PBM_GETPOS)), int(list.names.size()),
                 what + ": the progress bar is at the cut name");
    answerMessageBox(report, box, what);
    report.check(waitUntil([&] { return idleLayout(program); }, kDialogWait),
                 what + ": the convert button is back");
}

bool cancelDialog(Report& report, const Program& program, const std::string& what) {
    OpenDialog open;
    return openFileDialog(report, program, false, open) &&
           finishOpen(report, program, open, IDCANCEL, 0, what);
}

void loadScenario(Report& report, const Settings& settings) {
    Program program;
    if (!report.check(startProgram(settings.exe, settings.work, program), "the window opens"))
        return;
    const std::wstring folder = settings.work + L"\\many";
    const std::string directory = ansi(folder);
    std::vector<std::wstring> names, pads;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.g00").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            (std::wstring(found.cFileName).rfind(L"pad", 0) == 0 ? pads : names)
                .push_back(found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::sort(pads.begin(), pads.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() < b.size(); });
    if (!report.check(settings.first > 0 && settings.fit > settings.first &&
                          int(names.size()) > settings.fit && pads.size() == 2 &&
                          pads[1].size() == pads[0].size() + 1,
                      "the folder holds the names and the two pads"))
        return;
    const std::vector<std::wstring> first(names.begin(), names.begin() + settings.first);
    std::vector<std::wstring> full(names.begin(), names.begin() + settings.fit);
    std::vector<std::wstring> over = full;
    full.push_back(pads[0]);
    over.push_back(pads[1]);
    std::printf(
        "# %zu files in %s; %zu names take %zu bytes, %zu names %zu bytes, the same with "
        "the longer pad %zu bytes\n",
        names.size() + pads.size(), directory.c_str(), first.size(),
        selectionBytes(directory, first).size(), full.size(),
        selectionBytes(directory, full).size(), selectionBytes(directory, over).size());
    report.equal(selectionBytes(directory, full).size(), kSelectionDialogBytes,
                 "the full selection takes the dialog's 65,014 bytes");
    report.equal(selectionBytes(directory, over).size(), kSelectionDialogBytes + 1,
                 "the one with the longer pad takes one byte more");

    BYTE* block = nullptr;
    fittingBatch(report, program, settings, block, directory, first, L"out-first",
                 std::to_string(first.size()) + " files");
    if (!block) return;

    // Every file of the folder, selected in its list as Ctrl+A does.
    OpenDialog open;
    if (openFileDialog(report, program, false, open) && navigate(report, open, folder)) {
        const int listed = int(names.size() + pads.size());
        listHolds(report, open, listed, "the dialog lists every file");
        RemoteMemory memory(program.process.hProcess, sizeof(LVITEMW));
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        memory.write(0, &item, sizeof item);
        // Going into the folder it already shows, the dialog replaces its list a moment
        // later: a list that is gone is looked up again. The dialog rewrites its file name box
        // at every entry selected, so selecting hundreds at once takes seconds.
        const ULONGLONG started = GetTickCount64();
        waitUntil(
            [&] {
                HWND list = fileList(open);
                return list &&
                       askWindow(list, LVM_SETITEMSTATE, WPARAM(-1),
                                 reinterpret_cast<LPARAM>(memory.at(0)), kBatchWait) == TRUE;
            },
            kDialogWait, 200);
        std::vector<std::wstring> chosen;
        const bool selected = waitUntil(
            [&] {
                chosen = quotedParts(fullText(open.fileName));
                return int(chosen.size()) == listed;
            },
            kDialogWait, 200);
        std::printf("# selecting the %d entries of the list took %.1f s\n", listed,
                    double(GetTickCount64() - started) / 1000.0);
        std::vector<std::wstring> sorted = chosen, every = names;
        every.insert(every.end(), pads.begin(), pads.end());
        std::sort(sorted.begin(), sorted.end());
        std::sort(every.begin(), every.end());
        if (report.check(selected && sorted == every,
                         "every entry of the list selected: the file name box holds every "
                         "name, quoted",
                         std::to_string(chosen.size()) + " names")) {
            openOverflowing(report, program, open, "every file");
            checkOverflow(report, program, settings, block, directory, chosen, L"out-all",
                          "every file");
        } else {
            finishOpen(report, program, open, IDCANCEL, 0, "the dialog without a selection");
        }
    }

    cancelDialog(report, program, "a cancelled dialog");
    fittingBatch(report, program, settings, block, directory, full, L"out-full",
                 std::to_string(full.size()) + " files filling the selection");

    cancelDialog(report, program, "a cancelled dialog");
    if (openFileDialog(report, program, false, open) && navigate(report, open, folder)) {
        setText(open.fileName, quotedNames(over));
        openOverflowing(report, program, open, "one byte over");
        checkOverflow(report, program, settings, block, directory, over, L"out-over",
                      "one byte over");
    }

    closeAndExpectExit(report, program, "WM_CLOSE",
                       [&] { PostMessageW(program.window, WM_CLOSE, 0, 0); });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: tavimore-e2e-driver SCENARIO key=value...\n", stderr);
        return 2;
    }
    std::map<std::wstring, std::wstring> values;
    for (int i = 2; i < argc; ++i) {
        std::wstring arg = argv[i];
        size_t equals = arg.find(L'=');
        if (equals != std::wstring::npos) values[arg.substr(0, equals)] = arg.substr(equals + 1);
    }
    Settings settings{values[L"exe"],
                      values[L"probe"],
                      values[L"work"],
                      values[L"maker"],
                      values[L"homepage"],
                      values[L"version"],
                      values[L"folder"],
                      _wtoi(values[L"first"].c_str()),
                      _wtoi(values[L"fit"].c_str())};
    const std::wstring scenario = argv[1];
    const std::map<std::wstring, void (*)(Report&, const Settings&)> scenarios = {
        {L"window", windowScenario},   {L"select", selectScenario}, {L"convert", convertScenario},
        {L"failure", failureScenario}, {L"busy", busyScenario},     {L"browse", browseScenario},
        {L"load", loadScenario},
    };
    auto found = scenarios.find(scenario);
    if (found == scenarios.end()) {
        std::fprintf(stderr, "unknown scenario %s\n", narrow(scenario).c_str());
        return 2;
    }
    Report report;
    found->second(report, settings);
    return report.failed() == 0 ? 0 : 1;
}
