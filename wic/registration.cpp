// The registry entries that make WIC find the decoder and Explorer show .g00 files as pictures
// through the system's photo thumbnail provider and preview handler. regsvr32 writes them for
// the current user (HKCU\Software\Classes); `regsvr32 /n /i:machine` for every user (HKLM,
// run elevated). Removing deletes the keys that are the decoder's own and the values it wrote
// into shared keys (only where they still hold its data), then the keys left empty.
#include <windows.h>
#include <shlobj.h>
#include <wincodec.h>

#include <array>
#include <cwchar>
#include <string>

#include "wic/decoder.h"

namespace {

#define TAVIMORE_WIDEN2(text) L##text
#define TAVIMORE_WIDEN(text) TAVIMORE_WIDEN2(text)

constexpr const wchar_t* kClasses = L"Software\\Classes\\";
constexpr const wchar_t* kKindMap =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap";
#define TAVIMORE_DECODER_KEY L"CLSID\\{91A97ED5-3C5E-481A-B378-9C5AC5498C75}"
constexpr const wchar_t* kDecoderKey = TAVIMORE_DECODER_KEY;
constexpr const wchar_t* kDecoderClsidText = L"{91A97ED5-3C5E-481A-B378-9C5AC5498C75}";
constexpr const wchar_t* kInstanceKey =
    L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\{91A97ED5-3C5E-481A-B378-"
    L"9C5AC5498C75}";
constexpr const wchar_t* kProgId = L"Tavimore.G00";
constexpr const wchar_t* kExtension = L".g00";
constexpr const wchar_t* kMimeType = L"image/x-g00";
constexpr const wchar_t* kTypeName = L"G00 image";
constexpr const wchar_t* kFriendlyName = L"Tavimore G00 Decoder";
// The shell's handler slots and the system's photo handlers that fill them.
constexpr const wchar_t* kThumbnailKey = L".g00\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
constexpr const wchar_t* kThumbnailProvider = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";
constexpr const wchar_t* kPreviewKey = L".g00\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}";
constexpr const wchar_t* kPreviewHandler = L"{FFE2A43C-56B9-4bf5-9A79-CC6D4285608A}";

enum class Kind { text, number, bytes, key };
struct Entry {
    const wchar_t* key;   // below Software\Classes, unless classes is false
    const wchar_t* name;  // nullptr: the key's default value
    Kind kind;
    const wchar_t* text;  // text values; nullptr for the DLL's own path
    DWORD number;         // numbers, or the one byte of a pattern and its mask
    bool owned;           // the decoder's own key, deleted whole; else a value in a shared key
    bool classes = true;
};

const std::array kEntries = {
    Entry{kDecoderKey, L"FriendlyName", Kind::text, kFriendlyName, 0, true},
    Entry{kDecoderKey, L"Author", Kind::text, TAVIMORE_WIDEN(TAVIMORE_MAKER), 0, true},
    Entry{kDecoderKey, L"Description", Kind::text, kTypeName, 0, true},
    Entry{kDecoderKey, L"Vendor", Kind::text, L"{33576F15-9F6E-4D6F-8674-EF4D9E03B1CE}", 0, true},
    Entry{kDecoderKey, L"ContainerFormat", Kind::text, L"{E434EB55-25A7-4F4E-B056-99F9459BDD8B}", 0,
          true},
    Entry{kDecoderKey, L"Version", Kind::text, TAVIMORE_WIDEN(TAVIMORE_VERSION), 0, true},
    Entry{kDecoderKey, L"SpecVersion", Kind::text, L"1.0.0.0", 0, true},
    Entry{kDecoderKey, L"FileExtensions", Kind::text, kExtension, 0, true},
    Entry{kDecoderKey, L"MimeTypes", Kind::text, kMimeType, 0, true},
    Entry{kDecoderKey, L"SupportAnimation", Kind::number, nullptr, 0, true},
    Entry{kDecoderKey, L"SupportChromakey", Kind::number, nullptr, 0, true},
    Entry{kDecoderKey, L"SupportLossless", Kind::number, nullptr, 1, true},
    Entry{kDecoderKey, L"SupportMultiframe", Kind::number, nullptr, 0, true},
    Entry{TAVIMORE_DECODER_KEY L"\\InprocServer32", nullptr, Kind::text, nullptr, 0, true},
    Entry{TAVIMORE_DECODER_KEY L"\\InprocServer32", L"ThreadingModel", Kind::text, L"Both", 0,
          true},
    Entry{TAVIMORE_DECODER_KEY L"\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC90F}", nullptr,
          Kind::key, nullptr, 0, true},
    Entry{TAVIMORE_DECODER_KEY L"\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC90C}", nullptr,
          Kind::key, nullptr, 0, true},
    // The first byte is the type: 0 for full frames, 2 for region-based pictures. Nothing else
    // in a G00 file is fixed, so the decoder's QueryCapability decodes the file to be sure.
    Entry{TAVIMORE_DECODER_KEY L"\\Patterns\\0", L"Position", Kind::number, nullptr, 0, true},
    Entry{TAVIMORE_DECODER_KEY L"\\Patterns\\0", L"Length", Kind::number, nullptr, 1, true},
    Entry{TAVIMORE_DECODER_KEY L"\\Patterns\\0", L"Pattern", Kind::bytes, nullptr, 0, true},
    Entry{TAVIMORE_DECODER_KEY L"\\Patterns\\0", L"Mask", Kind::bytes, nullptr, 0xFF, true},
    Entry{TAVIMORE_DECODER_KEY L"\\Patterns\\1", L"Position", Kind::number, nullptr, 0, true},
    Entry{TAVIMORE_DECODER_KEY L"\\Patterns\\1", L"Length", Kind::number, nullptr, 1, true},
    Entry{TAVIMORE_DECODER_KEY L"\\Patterns\\1", L"Pattern", Kind::bytes, nullptr, 2, true},
    Entry{TAVIMORE_DECODER_KEY L"\\Patterns\\1", L"Mask", Kind::bytes, nullptr, 0xFF, true},
    Entry{kInstanceKey, L"CLSID", Kind::text, kDecoderClsidText, 0, true},
    Entry{kInstanceKey, L"FriendlyName", Kind::text, kFriendlyName, 0, true},
    Entry{kProgId, nullptr, Kind::text, kTypeName, 0, true},
    Entry{kThumbnailKey, nullptr, Kind::text, kThumbnailProvider, 0, true},
    Entry{kPreviewKey, nullptr, Kind::text, kPreviewHandler, 0, true},
    Entry{kExtension, nullptr, Kind::text, kProgId, 0, false},
    Entry{kExtension, L"Content Type", Kind::text, kMimeType, 0, false},
    Entry{kExtension, L"PerceivedType", Kind::text, L"image", 0, false},
    Entry{kKindMap, kExtension, Kind::text, L"picture", 0, false, false},
};

// Keys that may be left empty once the decoder's keys and values are gone, innermost first.
// The last ones exist on every Windows for all users, and a per-user registration may have
// made them for the user.
constexpr std::array kPrunable = {
    L"Software\\Classes\\.g00\\ShellEx", L"Software\\Classes\\.g00",
    L"Software\\Classes\\CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance",
    L"Software\\Classes\\CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}"};
constexpr std::array kPrunableForUser = {L"Software\\Classes\\CLSID", L"Software\\Classes",
                                         kKindMap};

std::wstring fullKey(const Entry& entry) {
    return entry.classes ? std::wstring(kClasses) + entry.key : std::wstring(entry.key);
}

HRESULT fromWin32(LSTATUS status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT dllPath(std::wstring& path) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&dllPath), &module))
        return HRESULT_FROM_WIN32(GetLastError());
    path.assign(32768, L'\0');
    const DWORD length = GetModuleFileNameW(module, path.data(), DWORD(path.size()));
    if (length == 0 || length >= path.size()) return HRESULT_FROM_WIN32(GetLastError());
    path.resize(length);
    return S_OK;
}

HRESULT writeEntry(HKEY root, const Entry& entry, const std::wstring& path) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, fullKey(entry).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return fromWin32(status);
    const BYTE byte = BYTE(entry.number);
    const wchar_t* text = entry.text != nullptr ? entry.text : path.c_str();
    switch (entry.kind) {
    case Kind::text:
        status = RegSetValueExW(key, entry.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                DWORD((std::wcslen(text) + 1) * sizeof(wchar_t)));
        break;
    case Kind::number:
        status = RegSetValueExW(key, entry.name, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&entry.number), sizeof(DWORD));
        break;
    case Kind::bytes: status = RegSetValueExW(key, entry.name, 0, REG_BINARY, &byte, 1); break;
    case Kind::key: break;
    }
    RegCloseKey(key);
    return fromWin32(status);
}

// A value of a shared key goes only while it still holds the decoder's text.
void removeSharedValue(HKEY root, const Entry& entry) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, fullKey(entry).c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    wchar_t held[64] = {};
    DWORD size = sizeof(held) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, entry.name, nullptr, &type, reinterpret_cast<BYTE*>(held), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ && std::wcscmp(held, entry.text) == 0)
        RegDeleteValueW(key, entry.name);
    RegCloseKey(key);
}

void removeIfEmpty(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    DWORD subkeys = 0, values = 0;
    const bool empty =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0;
    RegCloseKey(key);
    if (empty) RegDeleteKeyW(root, path);
}

HRESULT registerIn(HKEY root) {
    std::wstring path;
    HRESULT hr = dllPath(path);
    for (const Entry& entry : kEntries)
        if (SUCCEEDED(hr)) hr = writeEntry(root, entry, path);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return hr;
}

HRESULT unregisterIn(HKEY root) {
    HRESULT hr = S_OK;
    for (const Entry& entry : kEntries) {
        if (!entry.owned) {
            removeSharedValue(root, entry);
            continue;
        }
        const LSTATUS status = RegDeleteTreeW(root, fullKey(entry).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(hr))
            hr = fromWin32(status);
    }
    for (const wchar_t* key : kPrunable) removeIfEmpty(root, key);
    if (root == HKEY_CURRENT_USER)
        for (const wchar_t* key : kPrunableForUser) removeIfEmpty(root, key);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return hr;
}

}  // namespace

STDAPI DllRegisterServer() { return registerIn(HKEY_CURRENT_USER); }
STDAPI DllUnregisterServer() { return unregisterIn(HKEY_CURRENT_USER); }

// regsvr32 /n /i:machine (or /i:user) registers for every user (or the current one);
// with /u it removes that registration.
STDAPI DllInstall(BOOL install, LPCWSTR where) {
    HKEY root = nullptr;
    if (where == nullptr || where[0] == L'\0' || _wcsicmp(where, L"user") == 0)
        root = HKEY_CURRENT_USER;
    else if (_wcsicmp(where, L"machine") == 0)
        root = HKEY_LOCAL_MACHINE;
    else
        return E_INVALIDARG;
    return install ? registerIn(root) : unregisterIn(root);
}
