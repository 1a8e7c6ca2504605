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
constexpr uint64_t kSmallestLargeBlock = kLargePage / 4;
constexpr uint64_t kPopulateStep = kLargePage;

// A block of 512 KB or more is mapped in whole 2 MB pages: the system then places it on a
// 2 MB boundary, where large pages can back all of it. In a virtual machine every 4 KB page
// costs an exit to the host on its first touch (some 10 us here, against 0.1 ms to clear a
// whole 2 MB page), so a block that will be written is better taken in large pages even when
// that holds up to 1.5 MB past its end. Address space past the end that is never touched
// costs nothing.
uint64_t mappedSize(uint32_t size) {
    return size < kSmallestLargeBlock ? size
                                      : (uint64_t(size) + kLargePage - 1) / kLargePage * kLargePage;
}
#endif

uint8_t* mapPages(uint32_t size, PagingHint paging) {
#ifdef _WIN32
    (void)paging;  // large pages need a privilege the programs do not ask for
    return static_cast<uint8_t*>(
        VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
#else
    const uint64_t mapped = mappedSize(size);
    void* block = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    // Large pages for blocks that will be written from the start: filled whole, or written
    // onward from the start (then at most one large page past what is written is resident).
    // A block written in part keeps 4 KB pages, so that scattered writes, which a file's
    // fields can ask for, never make more than their own pages resident. Only advice: without
    // it the block works the same.
    if (paging != PagingHint::inPart && mapped != size) madvise(block, mapped, MADV_HUGEPAGE);
        // A block filled whole is made resident in one call, instead of a fault for each page:
        // a decoder that reads a pixel before it writes it would otherwise fault twice per page
        // (first mapping the shared zero page, then replacing it, which with two threads
        // interrupts the other processor every time).
        // In pieces: each call holds the process's map lock, which another thread's
        // mapping or unmapping of a block of its own then waits for.
#ifdef MADV_POPULATE_WRITE
    if (paging == PagingHint::whole)
        for (uint64_t at = 0; at < size; at += kPopulateStep)
            madvise(static_cast<uint8_t*>(block) + at, std::min<uint64_t>(kPopulateStep, size - at),
                    MADV_POPULATE_WRITE);
#endif
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
    : bytes_(std::exchange(other.bytes_, nullptr)),
      size_(std::exchange(other.size_, 0)),
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

Status obtainBlock(uint64_t size, ByteBuffer& block, PagingHint paging) {
    block.release();
    if (size > kMaxBlockSize) return Status::tooLarge;
    if (size == 0 || faults::refuse(faults::Point::allocation)) return Status::outOfMemory;
    uint8_t* bytes = mapPages(uint32_t(size), paging);
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

Status takeKeptBlock(uint64_t size, KeptBlock& kept, ByteBuffer& block, PagingHint paging,
                     uint64_t overwritten) {
    block.release();
    ByteBuffer& own = kept.block;
    if (!own.empty() && size != 0 && size <= own.capacity_ &&
        (own.capacity_ <= kAlwaysKept || own.capacity_ / 2 <= size)) {
        const uint64_t dirty = std::min<uint64_t>(kept.written, size);
        if (dirty > overwritten)
            std::memset(own.bytes_ + overwritten, 0, size_t(dirty - overwritten));
        own.size_ = uint32_t(size);
        kept.written = std::max<uint64_t>(kept.written, size);
        block = std::move(own);
        return Status::ok;
    }
    own.release();
    kept.written = 0;
    const Status status = obtainBlock(size, block, paging);
    if (status == Status::ok) kept.written = size;
    return status;
}

Status reuseBlock(uint64_t size, ByteBuffer& block, PagingHint paging) {
    if (!block.empty() && size != 0 && size <= block.capacity_) {
        block.size_ = uint32_t(size);
        return Status::ok;
    }
    return obtainBlock(size, block, paging);
}
