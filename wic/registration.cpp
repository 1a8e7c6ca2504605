// The registry entries that make WIC find the decoder and Explorer show .g00 files as pictures
// through the system's photo thumbnail provider and preview handler. regsvr32 writes them for
// the current user (HKCU\Software\Classes); `regsvr32 /n /i:machine` for every user (HKLM,
// run elevated).
//
// Other programs may own .g00 already. Registration adds the type Tavimore.G00 to the ones
// that may open .g00 files (OpenWithProgids) and fills the extension's values and handler slots
// only where they are empty; it notes in Tavimore.G00\Registered what it wrote and which keys it
// made, so that removal takes back exactly that, and only while it still holds what was written.
// The two DLLs (x64, x86) share those entries but not their class keys, which WOW64 keeps apart:
// each notes its own registration there, and the shared entries go with the last one.
#include <windows.h>
#include <shlobj.h>
#include <wincodec.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <string>
#include <vector>

#include "codec/internal/g00_layout.h"
#include "wic/decoder.h"
#include "wic/patterns.h"

namespace {

#define TAVIMORE_WIDEN2(text) L##text
#define TAVIMORE_WIDEN(text) TAVIMORE_WIDEN2(text)

#define TAVIMORE_CLASSES L"Software\\Classes\\"
#define TAVIMORE_DECODER_KEY TAVIMORE_CLASSES L"CLSID\\{91A97ED5-3C5E-481A-B378-9C5AC5498C75}"
#define TAVIMORE_PROGID_KEY TAVIMORE_CLASSES L"Tavimore.G00"
#define TAVIMORE_EXTENSION_KEY TAVIMORE_CLASSES L".g00"
constexpr const wchar_t* kDecoderKey = TAVIMORE_DECODER_KEY;
constexpr const wchar_t* kInstanceKey = TAVIMORE_CLASSES
    L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\{91A97ED5-3C5E-481A-B378-"
    L"9C5AC5498C75}";
constexpr const wchar_t* kProgIdKey = TAVIMORE_PROGID_KEY;
constexpr const wchar_t* kRegisteredKey = TAVIMORE_PROGID_KEY L"\\Registered";
constexpr const wchar_t* kMadeKeysKey = TAVIMORE_PROGID_KEY L"\\Registered\\Keys";
constexpr const wchar_t* kWrittenValuesKey = TAVIMORE_PROGID_KEY L"\\Registered\\Values";
constexpr const wchar_t* kOpenWithKey = TAVIMORE_EXTENSION_KEY L"\\OpenWithProgids";
constexpr const wchar_t* kDecoderClsidText = L"{91A97ED5-3C5E-481A-B378-9C5AC5498C75}";
constexpr const wchar_t* kProgId = L"Tavimore.G00";
constexpr const wchar_t* kMimeType = L"image/x-g00";
constexpr const wchar_t* kTypeName = L"G00 image";
constexpr const wchar_t* kFriendlyName = L"Tavimore G00 Decoder";
// The shell's handler slots and the system's photo handlers that fill them.
#define TAVIMORE_THUMBNAIL_SLOT L"\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}"
#define TAVIMORE_PREVIEW_SLOT L"\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}"
constexpr const wchar_t* kThumbnailProvider = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";
constexpr const wchar_t* kPreviewHandler = L"{FFE2A43C-56B9-4bf5-9A79-CC6D4285608A}";

// The view of the registry this DLL writes in: class keys of 32-bit DLLs live apart on 64-bit
// Windows. Keys are noted with it, so that whichever DLL goes last removes them all.
constexpr DWORD kView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

struct Value {
    const wchar_t* key;
    const wchar_t* name;  // nullptr: the key's default value
    const wchar_t* text;  // nullptr: the DLL's own path
};

// The decoder's own keys, whole: written every time, removed with the DLL they name.
struct Number {
    const wchar_t* name;
    DWORD value;
};
constexpr std::array kDecoderTexts = {
    Value{kDecoderKey, L"FriendlyName", kFriendlyName},
    Value{kDecoderKey, L"Author", TAVIMORE_WIDEN(TAVIMORE_MAKER)},
    Value{kDecoderKey, L"Description", kTypeName},
    Value{kDecoderKey, L"Vendor", L"{33576F15-9F6E-4D6F-8674-EF4D9E03B1CE}"},
    Value{kDecoderKey, L"ContainerFormat", L"{E434EB55-25A7-4F4E-B056-99F9459BDD8B}"},
    Value{kDecoderKey, L"Version", TAVIMORE_WIDEN(TAVIMORE_VERSION)},
    Value{kDecoderKey, L"SpecVersion", L"1.0.0.0"},
    Value{kDecoderKey, L"FileExtensions", L".g00"},
    Value{kDecoderKey, L"MimeTypes", kMimeType},
    Value{TAVIMORE_DECODER_KEY L"\\InprocServer32", nullptr, nullptr},
    Value{TAVIMORE_DECODER_KEY L"\\InprocServer32", L"ThreadingModel", L"Both"},
    Value{TAVIMORE_DECODER_KEY L"\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC90F}", nullptr, L""},
    Value{TAVIMORE_DECODER_KEY L"\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC90C}", nullptr, L""},
    Value{kInstanceKey, L"CLSID", kDecoderClsidText},
    Value{kInstanceKey, L"FriendlyName", kFriendlyName},
};
constexpr std::array kDecoderNumbers = {
    Number{L"SupportAnimation", 0}, Number{L"SupportChromakey", 0}, Number{L"SupportLossless", 1},
    Number{L"SupportMultiframe", 0}};

// The type Tavimore.G00: shared by both DLLs, removed with the last.
constexpr std::array kProgIdValues = {
    Value{kProgIdKey, nullptr, kTypeName},
    Value{TAVIMORE_PROGID_KEY TAVIMORE_THUMBNAIL_SLOT, nullptr, kThumbnailProvider},
    Value{TAVIMORE_PROGID_KEY TAVIMORE_PREVIEW_SLOT, nullptr, kPreviewHandler},
};

// Values of keys other programs use too: written only where absent, noted, and removed only
// while they hold what was written.
constexpr std::array kSharedValues = {
    Value{TAVIMORE_EXTENSION_KEY, nullptr, kProgId},
    Value{TAVIMORE_EXTENSION_KEY, L"Content Type", kMimeType},
    Value{TAVIMORE_EXTENSION_KEY, L"PerceivedType", L"image"},
    Value{TAVIMORE_EXTENSION_KEY TAVIMORE_THUMBNAIL_SLOT, nullptr, kThumbnailProvider},
    Value{TAVIMORE_EXTENSION_KEY TAVIMORE_PREVIEW_SLOT, nullptr, kPreviewHandler},
    Value{L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap", L".g00", L"picture"},
};

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

// The DLL's file name: each DLL notes its registration under it.
std::wstring dllName(const std::wstring& path) {
    return path.substr(path.find_last_of(L"\\/") + 1);
}

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    bool open(HKEY root, const std::wstring& path, REGSAM access, DWORD view = kView) {
        return RegOpenKeyExW(root, path.c_str(), 0, access | view, &key_) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }
    HKEY* put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

// A value's text, or false when it is absent or no text.
bool readText(HKEY key, const wchar_t* name, std::wstring& text) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    text.assign(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    text.resize(std::wcslen(text.c_str()));
    return true;
}

// Whether the value is there for whoever the registration is for: a user sees the machine's
// classes below his own.
bool valueSeen(HKEY root, const Value& value) {
    for (HKEY where : {root, HKEY_LOCAL_MACHINE}) {
        Key key;
        if (key.open(where, value.key, KEY_QUERY_VALUE) &&
            RegQueryValueExW(key.get(), value.name, nullptr, nullptr, nullptr, nullptr) ==
                ERROR_SUCCESS)
            return true;
    }
    return false;
}

LSTATUS setText(HKEY key, const wchar_t* name, const wchar_t* text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          DWORD((std::wcslen(text) + 1) * sizeof(wchar_t)));
}

// Registration's notes: the keys it made and the shared values it wrote.
std::wstring valueNote(const Value& value) {
    return std::wstring(value.key) + L"\\" + (value.name != nullptr ? value.name : L"");
}

HRESULT note(HKEY root, const wchar_t* notes, const std::wstring& name, DWORD type,
             const void* data, DWORD size) {
    Key key;
    LSTATUS status = RegCreateKeyExW(root, notes, 0, nullptr, 0, KEY_SET_VALUE | kView, nullptr,
                                     key.put(), nullptr);
    if (status == ERROR_SUCCESS)
        status =
            RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    return fromWin32(status);
}

// Whether the key is one of the decoder's or the type's own, removed whole.
bool ownKey(const std::wstring& path) {
    for (const std::wstring own : {kDecoderKey, kInstanceKey, kProgIdKey})
        if (path.compare(0, own.size(), own) == 0 &&
            (path.size() == own.size() || path[own.size()] == L'\\'))
            return true;
    return false;
}

// Opens the key at path for writing, making what is missing of it, one level at a time so that
// each key made outside the own ones is known.
class Writer {
public:
    Writer(HKEY root, std::vector<std::wstring>& made) : root_(root), made_(made) {}

    HRESULT open(const std::wstring& path, Key& key) {
        for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
            const std::wstring part = path.substr(0, end);
            Key level;
            DWORD disposition = 0;
            const LSTATUS status = RegCreateKeyExW(root_, part.c_str(), 0, nullptr, 0,
                                                   KEY_SET_VALUE | KEY_QUERY_VALUE | kView, nullptr,
                                                   level.put(), &disposition);
            if (status != ERROR_SUCCESS) return fromWin32(status);
            if (disposition == REG_CREATED_NEW_KEY && !ownKey(part)) made_.push_back(part);
            if (end == std::wstring::npos) {
                std::swap(*key.put(), *level.put());
                return S_OK;
            }
        }
    }

private:
    HKEY root_;
    std::vector<std::wstring>& made_;
};

HRESULT writeText(Writer& writer, const Value& value, const std::wstring& path) {
    Key key;
    HRESULT hr = writer.open(value.key, key);
    if (SUCCEEDED(hr))
        hr = fromWin32(
            setText(key.get(), value.name, value.text != nullptr ? value.text : path.c_str()));
    return hr;
}

HRESULT writeNumber(Key& key, const wchar_t* name, DWORD value) {
    return fromWin32(RegSetValueExW(key.get(), name, 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

// The key and all below it, in this DLL's view.
LSTATUS deleteTree(HKEY root, const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    Key parent;
    if (!parent.open(root, path.substr(0, slash), KEY_ALL_ACCESS)) return ERROR_FILE_NOT_FOUND;
    return RegDeleteTreeW(parent.get(), path.substr(slash + 1).c_str());
}

HRESULT writePatterns(HKEY root, Writer& writer) {
    const std::vector<Pattern> patterns = g00Patterns();
    const std::wstring key = std::wstring(kDecoderKey) + L"\\Patterns";
    // Those of an earlier registration go: any one left would still send streams here.
    const LSTATUS cleared = deleteTree(root, key);
    HRESULT hr = cleared == ERROR_FILE_NOT_FOUND ? S_OK : fromWin32(cleared);
    for (size_t i = 0; i < patterns.size() && SUCCEEDED(hr); ++i) {
        const Pattern& p = patterns[i];
        Key pattern;
        if (SUCCEEDED(hr)) hr = writer.open(key + L"\\" + std::to_wstring(i), pattern);
        if (SUCCEEDED(hr)) hr = writeNumber(pattern, L"Position", 0);
        if (SUCCEEDED(hr)) hr = writeNumber(pattern, L"Length", p.length);
        if (SUCCEEDED(hr))
            hr = fromWin32(
                RegSetValueExW(pattern.get(), L"Pattern", 0, REG_BINARY, p.bytes.data(), p.length));
        if (SUCCEEDED(hr))
            hr = fromWin32(
                RegSetValueExW(pattern.get(), L"Mask", 0, REG_BINARY, p.mask.data(), p.length));
    }
    return hr;
}

HRESULT registerIn(HKEY root) {
    std::wstring path;
    HRESULT hr = dllPath(path);
    if (FAILED(hr)) return hr;
    std::vector<std::wstring> made;
    Writer writer(root, made);
    std::vector<const Value*> written;

    // The type first: its key holds the notes of everything after it.
    for (const Value& value : kProgIdValues)
        if (SUCCEEDED(hr)) hr = writeText(writer, value, path);
    {
        Key key;
        if (SUCCEEDED(hr)) hr = writer.open(kOpenWithKey, key);
        if (SUCCEEDED(hr))
            hr = fromWin32(RegSetValueExW(key.get(), kProgId, 0, REG_NONE, nullptr, 0));
    }
    for (const Value& value : kSharedValues) {
        Key key;
        if (FAILED(hr) || valueSeen(root, value)) continue;
        hr = writer.open(value.key, key);
        if (FAILED(hr)) continue;
        hr = fromWin32(setText(key.get(), value.name, value.text));
        if (SUCCEEDED(hr)) written.push_back(&value);
    }
    for (const Value& value : kDecoderTexts)
        if (SUCCEEDED(hr)) hr = writeText(writer, value, path);
    {
        Key key;
        if (SUCCEEDED(hr)) hr = writer.open(kDecoderKey, key);
        for (const Number& number : kDecoderNumbers)
            if (SUCCEEDED(hr)) hr = writeNumber(key, number.name, number.value);
    }
    if (SUCCEEDED(hr)) hr = writePatterns(root, writer);

    // Noted even after a failure, so that regsvr32 /u takes back what was written.
    for (const std::wstring& key : made)
        note(root, kMadeKeysKey, key, REG_DWORD, &kView, sizeof(kView));
    for (const Value* value : written)
        note(root, kWrittenValuesKey, valueNote(*value), REG_SZ, value->text,
             DWORD((std::wcslen(value->text) + 1) * sizeof(wchar_t)));
    const HRESULT noted = note(root, kRegisteredKey, dllName(path), REG_SZ, path.c_str(),
                               DWORD((path.size() + 1) * sizeof(wchar_t)));
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return FAILED(hr) ? hr : noted;
}

// A note: a key's path and the view it was made in, or a value's key, name and text.
struct Note {
    std::wstring name;
    std::wstring text;
    DWORD view = kView;
};

std::vector<Note> readNotes(HKEY root, const wchar_t* path) {
    std::vector<Note> found;
    Key key;
    if (!key.open(root, path, KEY_QUERY_VALUE)) return found;
    std::wstring name(16384, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = DWORD(name.size()), type = 0;
        if (RegEnumValueW(key.get(), i, name.data(), &length, nullptr, &type, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Note note{name.substr(0, length), {}, kView};
        DWORD size = sizeof(note.view);
        if (type == REG_SZ) readText(key.get(), note.name.c_str(), note.text);
        if (type == REG_DWORD)
            RegQueryValueExW(key.get(), note.name.c_str(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&note.view), &size);
        found.push_back(std::move(note));
    }
    return found;
}

void removeIfEmpty(HKEY root, const std::wstring& path, DWORD view) {
    Key key;
    if (!key.open(root, path, KEY_QUERY_VALUE, view)) return;
    DWORD subkeys = 0, values = 0;
    const bool empty =
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0;
    if (empty) RegDeleteKeyExW(root, path.c_str(), view, 0);
}

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The decoder's keys go only while they name this DLL: a copy registered later elsewhere keeps
// its own.
HRESULT removeDecoder(HKEY root, const std::wstring& path) {
    Key server;
    std::wstring named;
    if (!server.open(root, std::wstring(kDecoderKey) + L"\\InprocServer32", KEY_QUERY_VALUE) ||
        !readText(server.get(), nullptr, named) || !sameText(named, path))
        return S_OK;
    HRESULT hr = S_OK;
    for (const wchar_t* key : {kDecoderKey, kInstanceKey}) {
        const LSTATUS status = deleteTree(root, key);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(hr))
            hr = fromWin32(status);
    }
    return hr;
}

// The entries both DLLs share, once neither is registered: the values written that still hold
// what was written, the type, then the keys made that are left empty, innermost first.
void removeShared(HKEY root) {
    const std::vector<Note> values = readNotes(root, kWrittenValuesKey);
    std::vector<Note> made = readNotes(root, kMadeKeysKey);
    for (const Note& value : values) {
        const std::wstring& where = value.name;
        const size_t slash = where.find_last_of(L'\\');
        Key key;
        std::wstring held;
        const std::wstring name = where.substr(slash + 1);
        const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
        if (key.open(root, where.substr(0, slash), KEY_QUERY_VALUE | KEY_SET_VALUE) &&
            readText(key.get(), valueName, held) && held == value.text)
            RegDeleteValueW(key.get(), valueName);
    }
    {
        Key key;
        if (key.open(root, kOpenWithKey, KEY_SET_VALUE)) RegDeleteValueW(key.get(), kProgId);
    }
    deleteTree(root, kProgIdKey);
    std::sort(made.begin(), made.end(),
              [](const Note& a, const Note& b) { return a.name.size() > b.name.size(); });
    for (const Note& key : made) removeIfEmpty(root, key.name, key.view);
}

HRESULT unregisterIn(HKEY root) {
    std::wstring path;
    HRESULT hr = dllPath(path);
    if (FAILED(hr)) return hr;
    bool othersLeft = false;
    {
        Key registered;
        if (registered.open(root, kRegisteredKey, KEY_QUERY_VALUE | KEY_SET_VALUE)) {
            std::wstring named;
            const std::wstring name = dllName(path);
            if (readText(registered.get(), name.c_str(), named) && sameText(named, path))
                RegDeleteValueW(registered.get(), name.c_str());
            DWORD values = 0;
            othersLeft = RegQueryInfoKeyW(registered.get(), nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                                          nullptr) == ERROR_SUCCESS &&
                         values > 0;
        }
    }
    hr = removeDecoder(root, path);
    if (!othersLeft) removeShared(root);
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
