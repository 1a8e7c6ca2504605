// The window's commands: choosing files and the output folder, converting, About, the
// homepage and exit.
#include "app/app.h"

#include <cstring>

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/texts.h"
#include "batch/batch_run.h"
#include "batch/selection.h"

namespace {

constexpr DWORD kOpenFlags =
    OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_LONGNAMES;

// What the batch shows between files: the progress bar steps and the file label names the
// file; between files the window's queue is drained so that it repaints and takes input.
class WindowBatchView final : public BatchView {
public:
    WindowBatchView(HWND progressBar, HWND fileLabel)
        : progressBar_(progressBar), fileLabel_(fileLabel) {}

    void stepProgress() override { SendMessageA(progressBar_, PBM_STEPIT, 0, 0); }

    void betweenFiles() override {
        while (PeekMessageA(&message_, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message_);
            DispatchMessageA(&message_);
        }
    }

    void showPath(const char* sourcePath) override { SetWindowTextA(fileLabel_, sourcePath); }

private:
    HWND progressBar_;
    HWND fileLabel_;
    MSG message_ = {};  // apart from the main loop's record
};

void chooseFiles() {
    char* selection = app.work.selection();
    OPENFILENAMEA& dialog = app.openFile;
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = app.current.window;
    dialog.hInstance = app.instance;
    dialog.lpstrFilter = kOpenFilter;
    selection[0] = '\0';
    dialog.lpstrFile = selection;
    dialog.nMaxFile = kSelectionDialogSize;
    dialog.lpstrTitle = kOpenTitle;
    dialog.Flags = kOpenFlags;
    const DialogOutcome outcome =
        GetOpenFileNameA(&dialog) != FALSE ? DialogOutcome::chosen : DialogOutcome::cancelled;
    // Only what lies within the size the dialog was told counts: a list that does not end there
    // was cut short (Wine then still reports success) and is refused.
    app.fileCount = parseSelection(selection, kSelectionDialogSize, outcome);
    formatCount(app.fileCount, app.countText);
    SetWindowTextA(app.countLabel, app.countText);
}

void chooseFolder() {
    // The browser writes its display name and the path into buffers of its own, so that a
    // folder whose path cannot be obtained (a virtual folder) leaves OutputPath and the edit as
    // they were.
    char displayName[kPathSize] = {};
    char chosenPath[MAX_PATH] = {};
    BROWSEINFOA browse = {};
    browse.hwndOwner = app.current.window;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = kBrowseTitle;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&browse);
    if (item == nullptr) return;
    const bool havePath = SHGetPathFromIDListA(item, chosenPath) != FALSE;
    CoTaskMemFree(item);
    if (!havePath) return;
    char* outputPath = app.work.outputPath();
    std::memcpy(outputPath, chosenPath, kPathSize);
    outputPath[kPathSize - 1] = '\0';
    SetWindowTextA(app.folderEdit, outputPath);
    SendMessageA(app.folderEdit, WM_KEYDOWN, VK_END, 0);  // bring the path's end into view
}

LRESULT convert() {
    char* outputPath = app.work.outputPath();
    GetWindowTextA(app.folderEdit, outputPath, kPathSize);
    if (outputPath[0] == '\0' || app.fileCount == 0) {
        showMessage(kNothingToConvert);
        return -1;
    }

    BatchJob job;
    job.count = app.fileCount;
    job.outputPath = outputPath;
    job.outputNamePos = prepareOutputFolder(outputPath);
    job.sourcePath = app.work.sourcePath();
    // A directory that does not fit leaves no room for a name: the first file then fails.
    prepareSourcePath(app.work.selection(), job.sourcePath, job.sourceNamePos, job.cursor);
    job.regionFormat = SendMessageA(app.psdCheck, BM_GETCHECK, 0, 0) == BST_CHECKED
                           ? BuiltInFormat::psd
                           : BuiltInFormat::bmp;

    DestroyWindow(app.convertButton);
    app.convertButton = nullptr;
    app.fileLabel = createControl(0, "STATIC", "", 0, 10, 63, 490, 12, kIdFileLabel);
    setControlFont(app.fileLabel);
    app.progressBar =
        createControl(0, PROGRESS_CLASSA, nullptr, 0, 50, 80, 392, 20, kIdProgressBar);
    SendMessageA(app.progressBar, PBM_SETRANGE32, 0, job.count);
    SendMessageA(app.progressBar, PBM_SETSTEP, 1, 0);

    app.converting = true;
    WindowBatchView view(app.progressBar, app.fileLabel);
    if (!runBatch(job, view).ok()) showMessage(kConversionFailed);
    app.converting = false;

    DestroyWindow(app.progressBar);
    app.progressBar = nullptr;
    DestroyWindow(app.fileLabel);
    app.fileLabel = nullptr;
    app.convertButton = createConvertButton();
    return defaultHandling();
}

}  // namespace

LRESULT handleCommand() {
    switch (app.current.wParam) {
    case kCmdChooseFiles: chooseFiles(); break;
    case kCmdChooseFolder: chooseFolder(); break;
    case kCmdConvert: return convert();
    case kCmdExit: SendMessageA(app.current.window, WM_SYSCOMMAND, SC_CLOSE, 0); break;
    case kCmdAbout: showMessage(kAboutText); break;
    case kCmdHomepage:
        ShellExecuteA(app.window, nullptr, kHomepage, nullptr, nullptr, SW_SHOWNORMAL);
        break;
    default: break;
    }
    return defaultHandling();
}
