// A WIC client: decodes G00 files through the imaging factory, as the system's viewers do, and
// compares every pixel with the converter's PNG of the same picture.
//
//   wic_check [--dll DLL] pixels PNG_DIR FILE.g00...   each file decodes, equal to PNG_DIR/NAME.png
//   wic_check [--dll DLL] hostile EXPECTED DIR          each file of the corpus's list decodes or
//                                                      fails as its expected outcome says
//   wic_check foreign DIR                               writes icons, a cursor and TGA files, which
//                                                      start as G00 files may, into DIR and says
//                                                      what WIC makes of each, one line a file
// With --dll, the decoder comes from DLL's own class object instead of the factory's search.
#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "codec/picture_reader.h"
#include "wic/decoder.h"

namespace {

template <typename T>
struct Com {
    T* p = nullptr;
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() {
        if (p != nullptr) p->Release();
    }
    T** put() { return &p; }
    T* operator->() const { return p; }
};

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::wstring wide(const std::string& text) {
    return {text.begin(), text.end()};  // the tests' paths are ASCII
}

struct Source {
    IWICImagingFactory* factory;
    HMODULE dll;  // nullptr: the factory finds the decoder
};

// The decoder's first frame, or the failing call's HRESULT.
HRESULT decodeFrame(const Source& source, const std::string& path,
                    Com<IWICBitmapFrameDecode>& frame, GUID& container) {
    Com<IWICBitmapDecoder> decoder;
    HRESULT hr = S_OK;
    if (source.dll == nullptr) {
        hr = source.factory->CreateDecoderFromFilename(wide(path).c_str(), nullptr, GENERIC_READ,
                                                       WICDecodeMetadataCacheOnDemand,
                                                       decoder.put());
    } else {
        auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(GetProcAddress(source.dll, "DllGetClassObject")));
        Com<IClassFactory> classFactory;
        Com<IWICStream> stream;
        hr = getClassObject(kDecoderClsid, IID_PPV_ARGS(classFactory.put()));
        if (SUCCEEDED(hr)) hr = classFactory->CreateInstance(nullptr, IID_PPV_ARGS(decoder.put()));
        if (SUCCEEDED(hr)) hr = source.factory->CreateStream(stream.put());
        if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(wide(path).c_str(), GENERIC_READ);
        // The capability must agree with the decoding, and leave the stream where it was.
        DWORD capability = 0;
        ULARGE_INTEGER position = {};
        if (SUCCEEDED(hr)) hr = decoder->QueryCapability(stream.p, &capability);
        if (SUCCEEDED(hr)) hr = stream->Seek({}, STREAM_SEEK_CUR, &position);
        if (SUCCEEDED(hr)) hr = decoder->Initialize(stream.p, WICDecodeMetadataCacheOnDemand);
        // Only a full frame whose compressed length is shorter than its size pair (the start of
        // an icon) decodes without being claimed: the converter reads it as a black picture.
        const std::vector<uint8_t> file = readFile(path);
        const bool unclaimed = file.size() >= 9 && file[0] == 0 &&
                               (file[5] | file[6] << 8 | file[7] << 16 | uint32_t(file[8]) << 24) < 8;
        const bool agrees = capability != 0 ? SUCCEEDED(hr) : FAILED(hr) || unclaimed;
        if (position.QuadPart != 0 || !agrees) {
            std::printf("FAIL %s: capability %lu, position %llu after QueryCapability\n",
                        path.c_str(), capability, position.QuadPart);
            hr = E_UNEXPECTED;
        }
    }
    UINT frames = 0;
    if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(&container);
    if (SUCCEEDED(hr)) hr = decoder->GetFrameCount(&frames);
    if (SUCCEEDED(hr) && frames != 1) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.put());
    return hr;
}

// The frame against the converter's PNG: size, format (BGRA for region-based pictures, BGR for
// full frames), the whole picture and a rectangle inside it through a padded stride.
bool checkPixels(const Source& source, const std::string& path, const std::string& png) {
    Com<IWICBitmapFrameDecode> frame;
    GUID container = {};
    HRESULT hr = decodeFrame(source, path, frame, container);
    if (FAILED(hr)) {
        std::printf("FAIL %s: does not decode (0x%08lx)\n", path.c_str(), hr);
        return false;
    }
    const std::vector<uint8_t> file = readFile(path), pngFile = readFile(png);
    std::vector<uint8_t> work(kPictureWorkSize);
    Canvas expected;
    if (file.empty() || !readPicture(pngFile, work, expected).ok()) {
        std::printf("FAIL %s: cannot read it or %s\n", path.c_str(), png.c_str());
        return false;
    }
    const bool regions = file[0] == 2;
    UINT width = 0, height = 0;
    WICPixelFormatGUID format = {};
    frame->GetSize(&width, &height);
    frame->GetPixelFormat(&format);
    if (container != kContainerFormat || width != expected.width || height != expected.height ||
        format != (regions ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR)) {
        std::printf("FAIL %s: %ux%u in another format or container, the PNG is %ux%u\n",
                    path.c_str(), width, height, expected.width, expected.height);
        return false;
    }
    const UINT pixelSize = regions ? 4 : 3;
    const WICRect rects[] = {{0, 0, INT(width), INT(height)},
                             {INT(width / 3), INT(height / 4), INT(width / 2), INT(height / 2)}};
    for (const WICRect& r : rects) {
        const UINT stride = UINT(r.Width) * pixelSize + 5;
        std::vector<uint8_t> got(size_t(stride) * UINT(r.Height));
        hr = frame->CopyPixels(&r, stride, UINT(got.size()), got.data());
        for (INT y = 0; SUCCEEDED(hr) && y < r.Height; ++y)
            for (INT x = 0; x < r.Width; ++x) {
                const uint8_t* want =
                    expected.pixels.data() + (size_t(r.Y + y) * width + size_t(r.X + x)) * 4;
                if (std::memcmp(got.data() + size_t(y) * stride + size_t(x) * pixelSize, want,
                                pixelSize) != 0) {
                    std::printf("FAIL %s: pixel (%d, %d) differs from the PNG\n", path.c_str(),
                                r.X + x, r.Y + y);
                    return false;
                }
            }
        if (FAILED(hr)) {
            std::printf("FAIL %s: CopyPixels 0x%08lx\n", path.c_str(), hr);
            return false;
        }
    }
    // A buffer one byte short must be refused, not written past.
    std::vector<uint8_t> small(size_t(width) * pixelSize * height - 1);
    if (frame->CopyPixels(nullptr, width * pixelSize, UINT(small.size()), small.data()) !=
        WINCODEC_ERR_INSUFFICIENTBUFFER) {
        std::printf("FAIL %s: a short buffer is not refused\n", path.c_str());
        return false;
    }
    std::printf("ok %s: %ux%u %s\n", path.c_str(), width, height,
                regions ? "32bppBGRA" : "24bppBGR");
    return true;
}

// Each line of EXPECTED: a file name and the converter's outcome ("ok", a failure's name, or
// "any" for random bytes). Files the converter takes must decode; the others must fail.
bool checkHostile(const Source& source, const std::string& list, const std::string& dir) {
    std::ifstream in(list);
    std::string name, outcome;
    bool passed = true;
    int files = 0;
    while (in >> name >> outcome) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".g00") != 0) continue;
        Com<IWICBitmapFrameDecode> frame;
        GUID container = {};
        HRESULT hr = decodeFrame(source, dir + "/" + name, frame, container);
        if (SUCCEEDED(hr)) {
            UINT width = 0, height = 0;
            frame->GetSize(&width, &height);
            std::vector<uint8_t> pixels(size_t(width) * height * 4);
            hr = frame->CopyPixels(nullptr, width * 4, UINT(pixels.size()), pixels.data());
        }
        const bool mustDecode = outcome == "ok",
                   mayDecode = mustDecode || outcome.rfind("ok-", 0) == 0 || outcome == "any";
        // The decoder's own answer to a picture beyond the limits is that, not a failed
        // allocation (through the factory's search another decoder may have the last word).
        const bool sizeRefused = outcome == "tooManyPixels" || outcome == "tooLarge";
        const bool right = SUCCEEDED(hr) ? mayDecode
                                         : !mustDecode && hr != E_UNEXPECTED &&
                                               (!sizeRefused || source.dll == nullptr ||
                                                hr == WINCODEC_ERR_IMAGESIZEOUTOFRANGE);
        std::printf("%s %s: %s, 0x%08lx\n", right ? "ok" : "FAIL", name.c_str(), outcome.c_str(),
                    hr);
        passed = passed && right;
        ++files;
    }
    return passed && files > 0;
}

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value);
    put16(out, value >> 16);
}

// An icon (type 1) or cursor (type 2) of one 32-bit picture stored as a DIB.
std::vector<uint8_t> iconFile(uint16_t type, uint32_t side) {
    std::vector<uint8_t> image;
    for (uint32_t v : {40u, side, side * 2}) put32(image, v);
    put16(image, 1);
    put16(image, 32);
    for (int i = 0; i < 6; ++i) put32(image, 0);
    for (uint32_t i = 0; i < side * side; ++i) put32(image, 0xFF000000u | (i * 2654435761u >> 8));
    image.resize(image.size() + (side + 31) / 32 * 4 * side);  // the AND mask
    std::vector<uint8_t> file;
    for (uint32_t v : {0u, uint32_t(type), 1u}) put16(file, v);
    for (uint8_t v : {uint8_t(side), uint8_t(side), uint8_t(0), uint8_t(0)}) file.push_back(v);
    put16(file, type == 1 ? 1 : side / 2);   // planes, or the hotspot's x
    put16(file, type == 1 ? 32 : side / 2);  // bits a pixel, or its y
    put32(file, uint32_t(image.size()));
    put32(file, 22);
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

// An uncompressed true-colour TGA file, or a colour-mapped one of 8-bit indices.
std::vector<uint8_t> tgaFile(uint16_t width, uint16_t height, uint8_t idLength, bool mapped) {
    std::vector<uint8_t> file = {idLength, uint8_t(mapped), uint8_t(mapped ? 1 : 2)};
    put16(file, 0);
    put16(file, mapped ? 16 : 0);
    file.push_back(mapped ? 24 : 0);
    for (uint32_t v : {0u, 0u, uint32_t(width), uint32_t(height)}) put16(file, v);
    file.push_back(mapped ? 8 : 32);
    file.push_back(mapped ? 0 : 8);
    file.resize(file.size() + idLength, 'x');
    for (uint32_t i = 0; mapped && i < 16 * 3; ++i) file.push_back(uint8_t(i * 16));
    for (uint32_t i = 0; i < uint32_t(width) * height; ++i)
        if (mapped)
            file.push_back(uint8_t(i % 16));
        else
            put32(file, 0xFF000000u | (i * 2654435761u >> 8));
    return file;
}

// Files of other formats whose first bytes a G00 file may have (type 0 or 2, then any width),
// each one a case the decoder's patterns must leave to the system's decoders.
bool checkForeign(IWICImagingFactory* factory, const std::string& dir) {
    struct Foreign {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Foreign files[] = {
        {"icon-16.ico", iconFile(1, 16)},
        {"icon-256.ico", iconFile(1, 256)},  // G00 compressed length 0
        {"cursor-32.cur", iconFile(2, 32)},
        {"tga-256x20.tga", tgaFile(256, 20, 0, false)},  // G00 byte 13 odd: a literal
        {"tga-40x8.tga", tgaFile(40, 8, 0, false)},      // G00 bytes 13 to 15: a copy of distance 0
        {"tga-id-2.tga", tgaFile(40, 10, 2, false)},     // starts with 02
        {"tga-mapped.tga", tgaFile(300, 4, 0, true)},
    };
    for (const Foreign& file : files) {
        const std::string path = dir + "/" + file.name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.bytes.data()),
                  std::streamsize(file.bytes.size()));
        out.close();
        if (!out) {
            std::printf("FAIL cannot write %s\n", path.c_str());
            return false;
        }
        Com<IWICBitmapDecoder> decoder;
        Com<IWICBitmapFrameDecode> frame;
        GUID container = {};
        UINT width = 0, height = 0;
        HRESULT hr =
            factory->CreateDecoderFromFilename(wide(path).c_str(), nullptr, GENERIC_READ,
                                               WICDecodeMetadataCacheOnDemand, decoder.put());
        if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(&container);
        if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.put());
        if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
        std::printf("%s 0x%08lx %08lx %ux%u\n", file.name, hr, container.Data1, width, height);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    HMODULE dll = nullptr;
    if (args.size() >= 2 && args[0] == "--dll") {
        dll = LoadLibraryA(args[1].c_str());
        if (dll == nullptr) {
            std::printf("FAIL cannot load %s\n", args[1].c_str());
            return 1;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    const bool foreign = args.size() == 2 && args[0] == "foreign" && dll == nullptr;
    if (!foreign && (args.size() < 3 || (args[0] != "pixels" && args[0] != "hostile"))) {
        std::fputs(
            "usage: wic_check [--dll DLL] pixels PNG_DIR FILE.g00... | hostile EXPECTED DIR\n"
            "       wic_check foreign DIR\n",
            stderr);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bool passed = false;
    {
        Com<IWICImagingFactory> factory;
        if (HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_PPV_ARGS(factory.put()));
            FAILED(hr)) {
            std::printf("FAIL no imaging factory (0x%08lx)\n", hr);
            return 1;
        }
        const Source source{factory.p, dll};
        if (foreign) {
            passed = checkForeign(factory.p, args[1]);
        } else if (args[0] == "hostile") {
            passed = checkHostile(source, args[1], args[2]);
        } else {
            passed = true;
            for (size_t i = 2; i < args.size(); ++i) {
                const std::string& path = args[i];
                const size_t slash = path.find_last_of("/\\") + 1;
                const std::string name = path.substr(slash, path.find('.', slash) - slash);
                passed = checkPixels(source, path, args[1] + "/" + name + ".png") && passed;
            }
        }
    }
    CoUninitialize();
    return passed ? 0 : 1;
}
