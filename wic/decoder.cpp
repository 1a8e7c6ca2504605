#include "wic/decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "codec/g00.h"
#include "common/byte_buffer.h"
#include "common/canvas.h"
#include "wic/com_object.h"
#include "wic/patterns.h"

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

// count bytes from the stream's start, leaving its position where it was.
HRESULT readFromStart(IStream* stream, uint8_t* to, uint64_t count) {
    ULARGE_INTEGER position = {};
    HRESULT hr = stream->Seek({}, STREAM_SEEK_CUR, &position);
    if (FAILED(hr)) return hr;
    hr = stream->Seek({}, STREAM_SEEK_SET, nullptr);
    uint64_t done = 0;
    while (SUCCEEDED(hr) && done < count) {
        ULONG got = 0;
        hr = stream->Read(to + done, ULONG(std::min<uint64_t>(count - done, 1u << 30)), &got);
        if (SUCCEEDED(hr) && got == 0) hr = WINCODEC_ERR_STREAMREAD;
        done += got;
    }
    LARGE_INTEGER back = {};
    back.QuadPart = LONGLONG(position.QuadPart);
    const HRESULT restored = stream->Seek(back, STREAM_SEEK_SET, nullptr);
    return FAILED(hr) ? hr : restored;
}

HRESULT streamSize(IStream* stream, uint64_t& size) {
    STATSTG stat = {};
    const HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    size = stat.cbSize.QuadPart;
    return hr;
}

// What the codec says of the stream from its header and size fields: at most kG00InfoReach
// bytes are read, and nothing is obtained for the picture. matched: whether a pattern WIC picks
// this decoder by holds for the stream.
HRESULT readInfo(IStream* stream, G00Info& info, bool* matched = nullptr) {
    if (stream == nullptr) return E_INVALIDARG;
    uint64_t size = 0;
    HRESULT hr = streamSize(stream, size);
    if (FAILED(hr)) return hr;
    std::array<uint8_t, kG00InfoReach> head;
    const uint32_t count = uint32_t(std::min<uint64_t>(size, head.size()));
    hr = readFromStart(stream, head.data(), count);
    if (FAILED(hr)) return hr;
    info = readG00Info(G00Head{{head.data(), count}, size}, kDefaultMaxPixels);
    if (matched != nullptr) *matched = matchesAG00Pattern({head.data(), count});
    // The file is read whole into one block to be decoded.
    if (info.status == Status::ok && size > kMaxBlockSize) info.status = Status::tooLarge;
    return S_OK;
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

// Its size and format come from the header; its pixels are decoded by the first CopyPixels.
class Frame final : public ComObject<Frame, IWICBitmapFrameDecode, IWICBitmapSource> {
public:
    Frame(Decoder* decoder, const G00Header& header);
    ~Frame() override;

    HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override {
        if (width == nullptr || height == nullptr) return E_INVALIDARG;
        *width = header_.width;
        *height = header_.height;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
        if (format == nullptr) return E_INVALIDARG;
        *format = regions() ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
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
    // Region-based: BGRA with alpha; full frame: BGR.
    bool regions() const { return header_.type == kG00Regions; }

    Decoder* decoder_;  // holds a reference: the pixels live in it
    const G00Header header_;
};

class Decoder final : public ComObject<Decoder, IWICBitmapDecoder> {
public:
    ~Decoder() override {
        if (stream_ != nullptr) stream_->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryCapability(IStream* stream, DWORD* capability) override {
        if (capability == nullptr) return E_INVALIDARG;
        *capability = 0;
        // A stream that is no G00 picture is an answer, not a failure. One that decodes but that
        // no pattern takes (an icon read as a black picture) is left to the other decoders.
        G00Info info;
        bool matched = false;
        if (HRESULT hr = readInfo(stream, info, &matched); FAILED(hr)) return hr;
        if (info.status == Status::ok && matched) *capability = WICBitmapDecoderCapabilityCanDecodeAllImages;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, WICDecodeOptions) override {
        AcquireSRWLockExclusive(&lock_);
        HRESULT hr = WINCODEC_ERR_WRONGSTATE;
        if (stream_ == nullptr) {
            G00Info info;
            hr = readInfo(stream, info);
            if (SUCCEEDED(hr)) hr = resultOf(info.status);
            if (SUCCEEDED(hr)) {
                header_ = info.header;
                stream_ = stream;
                stream_->AddRef();
            }
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
        *frame = new (std::nothrow) Frame(this, header_);
        return *frame != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    // The picture, decoded from the whole stream the first time it is asked for; the stream is
    // let go then. The Canvas is written once, under the lock, and only read after that.
    HRESULT pixels(const Canvas*& canvas) {
        AcquireSRWLockExclusive(&lock_);
        if (stream_ != nullptr && !decoded_) {
            decoded_ = true;
            uint64_t size = 0;
            ByteBuffer file;
            decodeResult_ = streamSize(stream_, size);
            // Initialize judged the stream from its header with the size it had then.
            if (SUCCEEDED(decodeResult_) && size > kMaxBlockSize)
                decodeResult_ = resultOf(Status::tooLarge);
            if (SUCCEEDED(decodeResult_))
                decodeResult_ = resultOf(obtainBlock(size, file, PagingHint::whole));
            if (SUCCEEDED(decodeResult_))
                decodeResult_ = readFromStart(stream_, file.data(), file.size());
            if (SUCCEEDED(decodeResult_)) {
                const G00Decoded decoded =
                    decodeG00Picture(file.span(), canvas_, kDefaultMaxPixels);
                decodeResult_ = resultOf(decoded.status);
                // A stream changed since Initialize must not give another size than GetSize.
                if (SUCCEEDED(decodeResult_) &&
                    (decoded.header.type != header_.type || canvas_.width != header_.width ||
                     canvas_.height != header_.height))
                    decodeResult_ = WINCODEC_ERR_BADIMAGE;
            }
            stream_->Release();
            stream_ = nullptr;
        }
        const HRESULT hr = decoded_ ? decodeResult_ : WINCODEC_ERR_NOTINITIALIZED;
        ReleaseSRWLockExclusive(&lock_);
        canvas = &canvas_;
        return hr;
    }

private:
    bool isReady() {
        AcquireSRWLockShared(&lock_);
        const bool ready = stream_ != nullptr || decoded_;
        ReleaseSRWLockShared(&lock_);
        return ready;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    IStream* stream_ = nullptr;  // from Initialize until the picture is decoded
    G00Header header_ = {};
    bool decoded_ = false;
    HRESULT decodeResult_ = S_OK;
    Canvas canvas_;
};

Frame::Frame(Decoder* decoder, const G00Header& header) : decoder_(decoder), header_(header) {
    decoder_->AddRef();
}
Frame::~Frame() { decoder_->Release(); }

HRESULT Frame::CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* out) {
    WICRect whole = {0, 0, INT(header_.width), INT(header_.height)};
    const WICRect& r = rect != nullptr ? *rect : whole;
    if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0 ||
        uint64_t(r.X) + uint64_t(r.Width) > header_.width ||
        uint64_t(r.Y) + uint64_t(r.Height) > header_.height)
        return E_INVALIDARG;
    if (r.Width == 0 || r.Height == 0) return S_OK;
    const uint32_t pixelSize = regions() ? 4 : 3;
    const uint64_t rowSize = uint64_t(r.Width) * pixelSize;
    if (out == nullptr || stride < rowSize) return E_INVALIDARG;
    if (uint64_t(stride) * uint64_t(r.Height - 1) + rowSize > size)
        return WINCODEC_ERR_INSUFFICIENTBUFFER;
    const Canvas* decoded = nullptr;
    if (HRESULT hr = decoder_->pixels(decoded); FAILED(hr)) return hr;
    const Canvas& canvas = *decoded;
    for (uint32_t y = 0; y < uint32_t(r.Height); ++y) {
        const uint8_t* from = canvas.pixels.data() + uint64_t(uint32_t(r.Y) + y) * canvas.stride() +
                              uint64_t(r.X) * 4;
        uint8_t* to = out + uint64_t(stride) * y;
        if (regions()) {
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
