// The DLL's COM face: the class object of the decoder and the answer to "can it be unloaded".
#include <windows.h>

#include <atomic>
#include <new>

#include "wic/com_object.h"
#include "wic/decoder.h"

namespace {

// The one mutable global COM asks of a DLL.
std::atomic<long> liveObjects{0};

class ClassFactory final : public ComObject<ClassFactory, IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return createDecoder(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            addObject();
        else
            removeObject();
        return S_OK;
    }
};

}  // namespace

void addObject() { ++liveObjects; }
void removeObject() { --liveObjects; }
bool noObjectsLive() { return liveObjects == 0; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid != kDecoderClsid) return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new (std::nothrow) ClassFactory;
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() { return noObjectsLive() ? S_OK : S_FALSE; }
