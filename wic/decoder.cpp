#include "wic/decoder.h"

#include <cstring>
#include <new>

#include "codec/g00.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "wic/com_object.h"

namespace {

HRESULT resultOf(Status status) {
    switch (status) {
    case Status::ok: return S_OK;
    case Status::notG00:
    case Status::unsupportedType: return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
    case Status::emptyPicture: return WINCODEC_ERR_BADHEADER;
    case Status::tooLarge:
    case Status::tooManyPixels: return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
    case Status::outOfMemory: return E_OUTOFMEMORY;
    case Status::truncated: return WINCODEC_ERR_STREAMREAD;
    default: return WINCODEC_ERR_BADIMAGE;
    }
}

// The whole stream from its start, leaving its position where it was.
HRESULT readStream(IStream* stream, ByteBuffer& file) {
    if (stream == nullptr) return E_INVALIDARG;
    STATSTG stat = {};
    HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    if (stat.cbSize.QuadPart == 0) return WINCODEC_ERR_STREAMREAD;
    if (stat.cbSize.QuadPart > kMaxBlockSize) return resultOf(Status::tooLarge);
    ULARGE_INTEGER position = {};
    hr = stream->Seek({}, STREAM_SEEK_CUR, &position);
    if (FAILED(hr)) return hr;
    if (Status status = obtainBlock(stat.cbSize.QuadPart, file, PagingHint::whole);
        status != Status::ok)
        return resultOf(status);
    hr = stream->Seek({}, STREAM_SEEK_SET, nullptr);
    uint32_t done = 0;
    while (SUCCEEDED(hr) && done < file.size()) {
        ULONG got = 0;
        hr = stream->Read(file.data() + done, file.size() - done, &got);
        if (SUCCEEDED(hr) && got == 0) hr = WINCODEC_ERR_STREAMREAD;
        done += got;
    }
    LARGE_INTEGER back = {};
    back.QuadPart = LONGLONG(position.QuadPart);
    const HRESULT restored = stream->Seek(back, STREAM_SEEK_SET, nullptr);
    return FAILED(hr) ? hr : restored;
}

struct Picture {
    Canvas canvas;
    bool regions = false;  // region-based: BGRA with alpha; full frame: BGR
};

Status decodeFile(const ByteBuffer& file, Picture& picture) {
    const G00Decoded decoded = decodeG00Picture(file.span(), picture.canvas, kDefaultMaxPixels);
    picture.regions = decoded.header.type == kG00Regions;
    return decoded.status;
}

// The answers of a G00 file, which has no metadata, colour contexts or thumbnail, to
// the methods that the frame and the decoder both offer.
HRESULT noMetadata(IWICMetadataQueryReader** reader) {
    if (reader != nullptr) *reader = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
}

HRESULT noColorContexts(UINT* count) {
    if (count == nullptr) return E_INVALIDARG;
    *count = 0;
    return S_OK;
}

HRESULT noThumbnail(IWICBitmapSource** thumbnail) {
    if (thumbnail != nullptr) *thumbnail = nullptr;
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
}

class Decoder;

class Frame final : public ComObject<Frame, IWICBitmapFrameDecode, IWICBitmapSource> {
public:
    Frame(Decoder* decoder, const Picture& picture);
    ~Frame() override;

    HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override {
        if (width == nullptr || height == nullptr) return E_INVALIDARG;
        *width = picture_.canvas.width;
        *height = picture_.canvas.height;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
        if (format == nullptr) return E_INVALIDARG;
        *format = picture_.regions ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override {
        if (x == nullptr || y == nullptr) return E_INVALIDARG;
        *x = *y = 96.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override {
        return WINCODEC_ERR_PALETTEUNAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT size,
                                         BYTE* out) override;
    HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
        return noMetadata(reader);
    }
    HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT* count) override {
        return noColorContexts(count);
    }
    HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override {
        return noThumbnail(thumbnail);
    }

private:
    Decoder* decoder_;  // holds a reference: the picture lives in it
    const Picture& picture_;
};

class Decoder final : public ComObject<Decoder, IWICBitmapDecoder> {
public:
    HRESULT STDMETHODCALLTYPE QueryCapability(IStream* stream, DWORD* capability) override {
        if (capability == nullptr) return E_INVALIDARG;
        *capability = 0;
        // Only the type byte marks a G00 file, so the answer is whether it decodes; a stream
        // that is no G00 picture is an answer, not a failure.
        ByteBuffer file;
        Picture probe;
        if (HRESULT hr = readStream(stream, file); FAILED(hr)) return hr;
        if (decodeFile(file, probe) == Status::ok)
            *capability = WICBitmapDecoderCapabilityCanDecodeAllImages;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, WICDecodeOptions) override {
        AcquireSRWLockExclusive(&lock_);
        HRESULT hr = WINCODEC_ERR_WRONGSTATE;
        if (!ready_) {
            ByteBuffer file;
            hr = readStream(stream, file);
            if (SUCCEEDED(hr)) hr = resultOf(decodeFile(file, picture_));
            ready_ = SUCCEEDED(hr);
            if (!ready_) picture_ = Picture{};
        }
        ReleaseSRWLockExclusive(&lock_);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID* format) override {
        if (format == nullptr) return E_INVALIDARG;
        *format = kContainerFormat;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo** info) override {
        if (info == nullptr) return E_INVALIDARG;
        *info = nullptr;
        IWICImagingFactory* factory = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(&factory));
        if (FAILED(hr)) return hr;
        IWICComponentInfo* component = nullptr;
        hr = factory->CreateComponentInfo(kDecoderClsid, &component);
        factory->Release();
        if (FAILED(hr)) return hr;
        hr = component->QueryInterface(IID_PPV_ARGS(info));
        component->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override {
        return WINCODEC_ERR_PALETTEUNAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
        return noMetadata(reader);
    }
    HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource** preview) override {
        if (preview != nullptr) *preview = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT* count) override {
        return noColorContexts(count);
    }
    HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override {
        return noThumbnail(thumbnail);
    }
    HRESULT STDMETHODCALLTYPE GetFrameCount(UINT* count) override {
        if (count == nullptr) return E_INVALIDARG;
        if (!isReady()) return WINCODEC_ERR_NOTINITIALIZED;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode** frame) override {
        if (frame == nullptr) return E_INVALIDARG;
        *frame = nullptr;
        if (!isReady()) return WINCODEC_ERR_NOTINITIALIZED;
        if (index != 0) return WINCODEC_ERR_FRAMEMISSING;
        *frame = new (std::nothrow) Frame(this, picture_);
        return *frame != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    // The picture is written once, under the lock, and only read after that.
    bool isReady() {
        AcquireSRWLockShared(&lock_);
        const bool ready = ready_;
        ReleaseSRWLockShared(&lock_);
        return ready;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    bool ready_ = false;
    Picture picture_;
};

Frame::Frame(Decoder* decoder, const Picture& picture) : decoder_(decoder), picture_(picture) {
    decoder_->AddRef();
}
Frame::~Frame() { decoder_->Release(); }

HRESULT Frame::CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* out) {
    const Canvas& canvas = picture_.canvas;
    WICRect whole = {0, 0, INT(canvas.width), INT(canvas.height)};
    const WICRect& r = rect != nullptr ? *rect : whole;
    if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0 ||
        uint64_t(r.X) + uint64_t(r.Width) > canvas.width ||
        uint64_t(r.Y) + uint64_t(r.Height) > canvas.height)
        return E_INVALIDARG;
    if (r.Width == 0 || r.Height == 0) return S_OK;
    const uint32_t pixelSize = picture_.regions ? 4 : 3;
    const uint64_t rowSize = uint64_t(r.Width) * pixelSize;
    if (out == nullptr || stride < rowSize) return E_INVALIDARG;
    if (uint64_t(stride) * uint64_t(r.Height - 1) + rowSize > size)
        return WINCODEC_ERR_INSUFFICIENTBUFFER;
    for (uint32_t y = 0; y < uint32_t(r.Height); ++y) {
        const uint8_t* from = canvas.pixels.data() + uint64_t(uint32_t(r.Y) + y) * canvas.stride() +
                              uint64_t(r.X) * 4;
        uint8_t* to = out + uint64_t(stride) * y;
        if (picture_.regions) {
            std::memcpy(to, from, size_t(rowSize));
            continue;
        }
        for (uint32_t x = 0; x < uint32_t(r.Width); ++x, from += 4, to += 3) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
        }
    }
    return S_OK;
}

}  // namespace

HRESULT createDecoder(REFIID iid, void** object) {
    Decoder* decoder = new (std::nothrow) Decoder;
    if (decoder == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = decoder->QueryInterface(iid, object);
    decoder->Release();
    return hr;
}
