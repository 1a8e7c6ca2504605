// tavimore-pack: PNG, BMP and PSD pictures back into G00 images, on Linux and Windows.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "batch/folder_walk.h"
#include "batch/pack_file.h"
#include "cli/console.h"
#include "cli/file_run.h"
#include "cli/interrupt.h"
#include "cli/ordered_run.h"
#include "cli/pack_options.h"

namespace {

constexpr const char* kProgram = "tavimore-pack";
const char* const kPictureExtensions[] = {".png", ".bmp", ".psd"};

// What one output is made of: a picture, or the region files of one original.
struct PackUnit {
    std::string original;             // empty: a fresh file
    std::vector<RegionFile> regions;  // region files, or none for one picture
    std::string failure;              // why it fails before anything is read
};

std::string stemOf(const std::string& path) {
    const std::string name = baseName(path);
    return name.substr(0, name.find('.'));
}

// The job's folder below the output folder, as below the folder it was found in.
std::string relativeFolder(const PackOptions& options, const Job& job) {
    if (job.outputFolder.size() <= options.outputFolder.size()) return "";
    std::string relative = job.outputFolder.substr(options.outputFolder.size());
    while (!relative.empty() && (relative.front() == '/' || relative.front() == '\\'))
        relative.erase(0, 1);
    return relative;
}

// Each picture's original, and the region files of one original (for one output folder)
// gathered into one output named after it.
void planUnits(const PackOptions& options, const std::vector<Job>& jobs, std::vector<Job>& grouped,
               std::vector<PackUnit>& units) {
    std::map<std::string, size_t> groups;
    for (const Job& job : jobs) {
        PackUnit unit;
        std::string base;
        const uint32_t region =
            job.refusal == nullptr ? regionOfFileName(baseName(job.source), base) : kNoRegion;
        bool regionFile = false;
        if (job.refusal != nullptr) {
        } else if (!options.like.empty()) {
            unit.original = options.like;
            regionFile = region != kNoRegion && base == stemOf(options.like);
        } else if (!options.likeDir.empty()) {
            const std::string folder = joinPath(options.likeDir, relativeFolder(options, job));
            const std::string whole = joinPath(folder, stemOf(job.source) + ".g00");
            const std::string ofRegions = joinPath(folder, base + ".g00");
            if (pathExists(whole)) {
                unit.original = whole;
            } else if (region != kNoRegion && pathExists(ofRegions)) {
                unit.original = ofRegions;
                regionFile = true;
            } else {
                unit.failure =
                    "no original " + whole + (region != kNoRegion ? " or " + ofRegions : "");
            }
        }
        if (!regionFile) {
            grouped.push_back(job);
            units.push_back(std::move(unit));
            continue;
        }
        const auto [at, added] =
            groups.try_emplace(unit.original + '\n' + job.outputFolder, units.size());
        if (added) {
            Job first = job;
            first.outputName = baseName(unit.original);
            grouped.push_back(std::move(first));
            units.push_back(std::move(unit));
        }
        units[at->second].regions.push_back({job.source, region});
    }
}

// A packed unit waiting to be written.
struct Packed {
    EncodedImage image;
    std::string failure;
    bool unchanged = false;
};

void packUnit(const Job& job, const PackUnit& unit, const PackOriginal* shared,
              const PackOptions& options, unsigned threads, Packed& packed) {
    if (job.refusal != nullptr) return;
    if (!unit.failure.empty()) {
        packed.failure = unit.failure;
        return;
    }
    PackOriginal own;
    const PackOriginal* like = shared;
    if (like == nullptr && !unit.original.empty()) {
        const PackResult read = readOriginal(unit.original.c_str(), own);
        if (!read.ok()) {
            packed.failure = unit.original + ": " + packFailureText(read, unit.original);
            return;
        }
        like = &own;
    }
    const PackResult result =
        unit.regions.empty()
            ? packFile(job.source.c_str(), like, options.outside(), packed.image, onThreads(threads))
            : packRegionFiles(unit.regions, *like, options.outside(), packed.image,
                              onThreads(threads));
    if (!result.ok()) packed.failure = packFailureText(result, unit.original);
    packed.unchanged = result.ok() && result.unchanged;
}

int packAll(const PackOptions& options, TemporaryFiles& temporaries) {
    FileRun run(kProgram, "packed", options, kPictureExtensions, temporaries);
    int status = 0;
    // No output may replace a picture or the original, under any name.
    std::vector<std::string> alsoRead;
    if (!options.like.empty()) alsoRead.push_back(options.like);
    if (!run.start(status, alsoRead)) return status;

    PackOriginal original;
    if (!options.like.empty()) {
        const PackResult read = readOriginal(options.like.c_str(), original);
        if (!read.ok()) {
            run.reporter().failed(options.like, packFailureText(read, options.like));
            return 1;
        }
    }
    const PackOriginal* shared = options.like.empty() ? nullptr : &original;
    std::vector<Job> jobs;
    std::vector<PackUnit> units;
    planUnits(options, run.jobs(), jobs, units);
    run.regroup(std::move(jobs));
    const std::vector<Job>& grouped = run.jobs();

    auto finish = [&](size_t i, Packed& packed) {
        const Job& job = grouped[i];
        if (options.changedOnly && packed.unchanged && packed.failure.empty() &&
            job.refusal == nullptr) {
            run.reporter().unchanged();
            run.reporter().done();
            return true;
        }
        return run.writer().finish(job, packed.failure, packed.image);
    };
    auto make = [&](size_t i, unsigned threads, int&, Packed& packed) {
        packUnit(grouped[i], units[i], shared, options, threads, packed);
    };
    if (options.jobs <= 1 || grouped.size() <= 1) {
        // One file: its encoder's search runs on the processors the other workers would use.
        int state = 0;
        for (size_t i = 0; i < grouped.size(); ++i) {
            Packed packed;
            make(i, std::max(1u, options.jobs), state, packed);
            if (!finish(i, packed)) break;
        }
    } else {
        runInOrder<Packed, int>(grouped.size(), options.jobs, make, finish);
    }
    return run.finish();
}

}  // namespace

int programMain(int argc, char** argv) {
    PackOptions options;
    std::string error;
    if (!parsePackOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, error.c_str());
        return 2;
    }
    if (options.help || options.version) {
        if (options.help)
            std::fputs(packUsageText().c_str(), stdout);
        else
            std::printf("%s %s\n", kProgram, TAVIMORE_VERSION);
        return 0;
    }
    settleJobs(options);
    return packAll(options, temporariesRemovedOnInterrupt());
}
