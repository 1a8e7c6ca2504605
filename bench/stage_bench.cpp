// Bytes per second of every stage of a conversion, on pictures made by the project's encoder,
// beside a memcpy of the Canvas size. Run by tools/bench.sh, which prints the ratios.
//
// Names are stage/kind/WxH. What "bytes" counts for each stage:
//   decodeLzPixels, decodeLzBytes   bytes of output (Canvas, decompressed data)
//   composeRegions                  bytes of decompressed data placed
//   packBits4                       samples read from the Canvas by the four layer channels
//   writeBmp, writePsd, writePng*, memcpy, pipeline*
//                                   bytes of Canvas
//   encodeLzPixels, encodeLzBytes   bytes of input (Canvas, decompressed data), 1920x1080 only;
//                                   the counters give the stream's size and the greedy one's
//   encodeLzPixels2, encodeLzBytes2 the same with the match search split between two threads
// writePng is the command line's setting (RGBA), on one thread.
// Stage buffers are obtained and touched once, so the stages run on resident memory. The
// pipeline benchmarks obtain fresh blocks each time, as a conversion does, page faults included.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/g00.h"
#include "codec/internal/bmp_write.h"
#include "codec/internal/g00_stream.h"
#include "codec/internal/lz.h"
#include "codec/internal/lz_encoder.h"
#include "codec/internal/packbits.h"
#include "codec/internal/png_write.h"
#include "codec/internal/psd_write.h"
#include "common/bytes.h"
#include "common/canvas.h"
#include "common/parallel.h"
#include "tools/g00_encoder.h"
#include "tools/test_pictures.h"

namespace {

struct Shape {
    uint32_t width;
    uint32_t height;
    uint64_t canvasBytes() const { return canvasByteSize(width, height); }
    std::string name() const { return std::to_string(width) + "x" + std::to_string(height); }
};

constexpr Shape kShapes[] = {{1920, 1080}, {4096, 4096}};
constexpr PictureKind kKinds[] = {PictureKind::photo, PictureKind::flat, PictureKind::lineArt,
                                  PictureKind::sprite};

void touch(ByteBuffer& block) { std::memset(block.data(), 0, block.size()); }

// Obtained as a conversion obtains the blocks it fills whole (so with large pages where the
// system has them), and touched.
ByteBuffer residentBlock(uint64_t size) {
    ByteBuffer block;
    if (obtainBlock(size, block, PagingHint::whole) != Status::ok) throw std::bad_alloc();
    touch(block);
    return block;
}

void residentCanvas(uint32_t width, uint32_t height, Canvas& canvas) {
    if (makeCanvas(width, height, canvas, PagingHint::whole) != Status::ok) throw std::bad_alloc();
    touch(canvas.pixels);
}

struct StreamSpan {
    const uint8_t* start;
    const uint8_t* end;
};

// Every stage's input and output for one picture.
struct Inputs {
    Shape shape;
    std::vector<uint8_t> fullFrame;  // type 0 of the picture's colours
    std::vector<uint8_t> regions;    // type 2, cut into parts
    StreamSpan pixelStream{};
    StreamSpan byteStream{};
    ByteBuffer data;  // the decompressed part data
    Canvas canvas;    // the decoded picture
    Canvas scratch;   // decoding and composing target
    ByteBuffer out;   // psdBound or pngBound, whichever is larger; enough for the BMP too
    ByteBuffer pngWork;

    Inputs(PictureKind kind, Shape s) : shape(s) {
        TestPicture picture = makeTestPicture(kind, s.width, s.height, 7);
        fullFrame = encodeG00FullFrame(uint16_t(s.width), uint16_t(s.height), picture.bgra,
                                       PixelLayout::bgra, LzMode::compress);
        regions = encodeG00Regions(cutIntoParts(picture), LzMode::compress);

        pixelStream = {fullFrame.data() + kFullFrameStreamStart,
                       fullFrame.data() + kFullFrameSizePairOffset +
                           loadLe32(fullFrame.data() + kFullFrameSizePairOffset)};
        const uint64_t sizes = regionSizePairOffset(
            regions[kRegionCountOffset] == 0 ? 256 : regions[kRegionCountOffset]);
        byteStream = {regions.data() + sizes + kSizePairSize,
                      regions.data() + sizes + loadLe32(regions.data() + sizes)};
        data = residentBlock(loadLe32(regions.data() + sizes + kDecompressedLengthOffset));
        if (decodeLzBytes(byteStream.start, byteStream.end, regions.data() + regions.size(),
                          data.data(), data.end()) != Status::ok)
            throw std::runtime_error("the region stream does not decode");

        residentCanvas(s.width, s.height, canvas);
        if (composeRegions(regions, data.span(), canvas) != Status::ok ||
            std::memcmp(canvas.pixels.data(), picture.bgra.data(), picture.bgra.size()) != 0)
            throw std::runtime_error("the region file does not give back its picture");
        residentCanvas(s.width, s.height, scratch);
        out = residentBlock(
            std::max(psdBound(s.width, s.height), pngBound(s.width, s.height, PngColour::rgba)));
        pngWork = residentBlock(pngWorkSize(s.width, PngColour::rgba));
    }
};

// The first half of a conversion in memory as encodeFile does it: the file copied into a
// fresh block, decoded onto a fresh Canvas, each obtained with the fill the conversion asks for.
Status decodeFresh(const Inputs& in, Canvas& canvas) {
    ByteBuffer file;
    obtainBlock(in.regions.size(), file, PagingHint::whole);
    std::memcpy(file.data(), in.regions.data(), in.regions.size());
    return decodeG00Picture(file.span(), canvas).status;
}

// Builds one picture's inputs when a benchmark first needs them and keeps only the latest:
// the benchmarks of one picture run one after another, and the large ones take a lot of memory.
class InputCache {
public:
    Inputs& get(PictureKind kind, Shape shape) {
        if (!inputs_ || kind_ != kind || inputs_->shape.width != shape.width ||
            inputs_->shape.height != shape.height) {
            inputs_.reset();
            inputs_ = std::make_unique<Inputs>(kind, shape);
            kind_ = kind;
        }
        return *inputs_;
    }

private:
    std::unique_ptr<Inputs> inputs_;
    PictureKind kind_ = PictureKind::photo;
};

struct Stage {
    const char* name;
    std::function<uint64_t(const Inputs&)> bytes;
    std::function<void(Inputs&)> run;
};

uint64_t canvasBytes(const Inputs& in) { return in.shape.canvasBytes(); }

std::vector<Stage> stages() {
    return {
        {"decodeLzPixels", canvasBytes,
         [](Inputs& in) {
             Status status = decodeLzPixels(in.pixelStream.start, in.pixelStream.end,
                                            in.fullFrame.data() + in.fullFrame.size(),
                                            in.scratch.pixels.data(), in.scratch.pixels.end());
             benchmark::DoNotOptimize(status);
             benchmark::ClobberMemory();
         }},
        {"decodeLzBytes", [](const Inputs& in) { return uint64_t(in.data.size()); },
         [](Inputs& in) {
             Status status = decodeLzBytes(in.byteStream.start, in.byteStream.end,
                                           in.regions.data() + in.regions.size(), in.data.data(),
                                           in.data.end());
             benchmark::DoNotOptimize(status);
             benchmark::ClobberMemory();
         }},
        {"composeRegions", [](const Inputs& in) { return uint64_t(in.data.size()); },
         [](Inputs& in) {
             Status status = composeRegions(in.regions, in.data.span(), in.scratch);
             benchmark::DoNotOptimize(status);
             benchmark::ClobberMemory();
         }},
        {"writeBmp", canvasBytes,
         [](Inputs& in) {
             uint32_t length = writeBmp(in.canvas, in.out.span());
             benchmark::DoNotOptimize(length);
             benchmark::ClobberMemory();
         }},
        {"packBits4", canvasBytes,
         [](Inputs& in) {
             uint8_t* o = in.out.data();
             for (uint32_t channel : {3u, 2u, 1u, 0u})
                 o += packBitsChannel(in.canvas.pixels.data() + channel, 4, in.shape.height,
                                      in.shape.width, o);
             benchmark::DoNotOptimize(o);
             benchmark::ClobberMemory();
         }},
        {"writePsd", canvasBytes,
         [](Inputs& in) {
             uint32_t length = writePsd(in.canvas, in.out.span());
             benchmark::DoNotOptimize(length);
             benchmark::ClobberMemory();
         }},
        {"writePng", canvasBytes,
         [](Inputs& in) {
             uint32_t length =
                 writePng(in.canvas, PngColour::rgba, in.pngWork.span(), in.out.span());
             benchmark::DoNotOptimize(length);
             benchmark::ClobberMemory();
         }},
        // The conversion in memory as encodeFile does it, with fresh blocks for everything,
        // each obtained with the fill the conversion asks for.
        {"pipelinePsd", canvasBytes,
         [](Inputs& in) {
             Canvas canvas;
             Status status = decodeFresh(in, canvas);
             ByteBuffer out;
             obtainBlock(psdBound(canvas.width, canvas.height), out);
             uint32_t length = writePsd(canvas, out.span());
             benchmark::DoNotOptimize(status);
             benchmark::DoNotOptimize(length);
         }},
        {"pipelineBmp", canvasBytes,
         [](Inputs& in) {
             Canvas canvas;
             Status status = decodeFresh(in, canvas);
             ByteBuffer out;
             obtainBlock(bmpFileSize(canvas.width, canvas.height), out, PagingHint::whole);
             uint32_t length = writeBmp(canvas, out.span());
             benchmark::DoNotOptimize(status);
             benchmark::DoNotOptimize(length);
         }},
    };
}

// The compressors, on the Canvas's pixels (as a full frame stores them) and on the region
// file's decompressed data, beside the greedy encoder's stream size; on one thread, and with
// the match search split between two.
void registerEncoders(InputCache& cache) {
    const Shape shape = kShapes[0];
    for (PictureKind kind : kKinds) {
        for (uint32_t threads : {1u, 2u}) {
            for (bool pixels : {true, false}) {
                const std::string name = std::string(pixels ? "encodeLzPixels" : "encodeLzBytes") +
                                         (threads == 1 ? "" : "2") + "/" + pictureKindName(kind) +
                                         "/" + shape.name();
                benchmark::RegisterBenchmark(
                    name.c_str(),
                    [&cache, kind, shape, pixels, threads](benchmark::State& state) {
                        Inputs& in = cache.get(kind, shape);
                        const std::span<const uint8_t> input =
                            pixels ? in.canvas.pixels.span() : in.data.span();
                        const uint64_t units = pixels ? input.size() / 4 : input.size();
                        const Parallel parallel = threads == 1 ? Parallel{} : onThreads(threads);
                        ByteBuffer work = residentBlock(lzEncodeWorkSize(units, threads));
                        ByteBuffer out = residentBlock(pixels ? lzPixelsEncodedBound(units)
                                                              : lzBytesEncodedBound(units));
                        uint64_t length = 0;
                        for (auto _ : state) {
                            length = pixels
                                         ? encodeLzPixels(input, PixelUnit::bgra, work.span(),
                                                          out.span(), parallel)
                                         : encodeLzBytes(input, work.span(), out.span(), parallel);
                            benchmark::DoNotOptimize(length);
                            benchmark::ClobberMemory();
                        }
                        const uint64_t greedy =
                            pixels
                                ? compressLzPixels(input, PixelLayout::bgra, LzMode::greedy).size()
                                : compressLzBytes(input, LzMode::greedy).size();
                        state.counters["packed"] = double(length);
                        state.counters["greedy"] = double(greedy);
                        state.SetBytesProcessed(int64_t(state.iterations()) *
                                                int64_t(input.size()));
                    })
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
}

void registerAll(InputCache& cache) {
    for (Shape shape : kShapes) {
        benchmark::RegisterBenchmark(
            ("memcpy/-/" + shape.name()).c_str(),
            [shape](benchmark::State& state) {
                ByteBuffer from = residentBlock(shape.canvasBytes());
                ByteBuffer to = residentBlock(shape.canvasBytes());
                std::memset(from.data(), 0x5A, from.size());
                for (auto _ : state) {
                    std::memcpy(to.data(), from.data(), from.size());
                    benchmark::ClobberMemory();
                }
                state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(from.size()));
            })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (Shape shape : kShapes) {
        for (PictureKind kind : kKinds) {
            for (const Stage& stage : stages()) {
                std::string name =
                    std::string(stage.name) + "/" + pictureKindName(kind) + "/" + shape.name();
                benchmark::RegisterBenchmark(
                    name.c_str(),
                    [&cache, kind, shape, stage](benchmark::State& state) {
                        Inputs& in = cache.get(kind, shape);
                        for (auto _ : state) stage.run(in);
                        state.SetBytesProcessed(int64_t(state.iterations()) *
                                                int64_t(stage.bytes(in)));
                    })
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    InputCache cache;
    registerAll(cache);
    registerEncoders(cache);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
