#include "common/byte_buffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/fault_injection.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

#ifndef _WIN32
constexpr uint64_t kLargePage = 2u << 20;

// A block of 2 MB or more is mapped in whole 2 MB pages: the system then places it on a 2 MB
// boundary, where large pages can back all of it (for a 1920x1080 PSD some 6,000 faults
// become a few dozen). The extra address space of the last page is never touched.
uint64_t mappedSize(uint32_t size) {
    return size < kLargePage ? size : (uint64_t(size) + kLargePage - 1) / kLargePage * kLargePage;
}
#endif

uint8_t* mapPages(uint32_t size, Fill fill) {
#ifdef _WIN32
    (void)fill;  // large pages need a privilege the programs do not ask for
    return static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
#else
    const uint64_t mapped = mappedSize(size);
    void* block = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    // A block filled whole is made resident in one call, instead of a fault for each 4 KB:
    // and a decoder that reads a pixel before it writes it would otherwise fault twice per
    // page (first mapping the shared zero page, then replacing it, which with two threads
    // interrupts the other processor every time). Large pages only where the block covers
    // them whole, so that none holds memory past the block's end. Only advice: without it
    // the block works the same.
    if (fill == Fill::whole) {
        if (size >= kLargePage) madvise(block, size / kLargePage * kLargePage, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
        madvise(block, size, MADV_POPULATE_WRITE);
#endif
    }
    return static_cast<uint8_t*>(block);
#endif
}

void unmapPages(uint8_t* bytes, uint32_t size) {
#ifdef _WIN32
    (void)size;
    VirtualFree(bytes, 0, MEM_RELEASE);
#else
    munmap(bytes, mappedSize(size));
#endif
}

}  // namespace

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

Status obtainBlock(uint64_t size, ByteBuffer& block, Fill fill) {
    block.release();
    if (size > kMaxBlockSize) return Status::tooLarge;
    if (size == 0 || faults::refuse(faults::Point::allocation)) return Status::outOfMemory;
    uint8_t* bytes = mapPages(uint32_t(size), fill);
    if (bytes == nullptr) return Status::outOfMemory;
    faults::blockObtained();
    block = ByteBuffer(bytes, uint32_t(size));
    return Status::ok;
}

void ByteBuffer::release() {
    if (bytes_ == nullptr) return;
    unmapPages(bytes_, capacity_);
    faults::blockReleased();
    bytes_ = nullptr;
    size_ = capacity_ = 0;
}

Status takeKeptBlock(uint64_t size, KeptBlock& kept, ByteBuffer& block, Fill fill) {
    block.release();
    ByteBuffer& own = kept.block;
    if (!own.empty() && size != 0 && size <= own.capacity_ && own.capacity_ / 2 <= size) {
        std::memset(own.bytes_, 0, size_t(std::min<uint64_t>(kept.written, size)));
        own.size_ = uint32_t(size);
        kept.written = std::max<uint64_t>(kept.written, size);
        block = std::move(own);
        return Status::ok;
    }
    own.release();
    kept.written = 0;
    const Status status = obtainBlock(size, block, fill);
    if (status == Status::ok) kept.written = size;
    return status;
}
