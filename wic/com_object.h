// Reference counting and QueryInterface for the DLL's COM classes.
#pragma once

#include <windows.h>

#include <atomic>

#include "wic/decoder.h"

// A class implementing Interface, which derives from Bases (IUnknown aside). Each live object
// keeps the DLL loaded.
template <typename Self, typename Interface, typename... Bases>
class ComObject : public Interface {
public:
    ComObject() { addObject(); }
    virtual ~ComObject() { removeObject(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != __uuidof(Interface) && !((iid == __uuidof(Bases)) || ...))
            return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        if (left == 0) delete static_cast<Self*>(this);
        return ULONG(left);
    }

private:
    std::atomic<long> references_{1};
};
