#include "common/byte_buffer.h"

#include <utility>

#include "common/fault_injection.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

uint8_t* mapPages(uint32_t size) {
#ifdef _WIN32
    return static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
#else
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : static_cast<uint8_t*>(block);
#endif
}

void unmapPages(uint8_t* bytes, uint32_t size) {
#ifdef _WIN32
    (void)size;
    VirtualFree(bytes, 0, MEM_RELEASE);
#else
    munmap(bytes, size);
#endif
}

}  // namespace

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

ByteBuffer ByteBuffer::obtain(uint64_t size) {
    ByteBuffer block;
    obtainBlock(size, block);
    return block;
}

Status obtainBlock(uint64_t size, ByteBuffer& block) {
    block.release();
    if (size > kMaxBlockSize) return Status::tooLarge;
    if (size == 0 || faults::refuse(faults::Point::allocation)) return Status::outOfMemory;
    uint8_t* bytes = mapPages(uint32_t(size));
    if (bytes == nullptr) return Status::outOfMemory;
    faults::blockObtained();
    block = ByteBuffer(bytes, uint32_t(size));
    return Status::ok;
}

void ByteBuffer::release() {
    if (bytes_ == nullptr) return;
    unmapPages(bytes_, size_);
    faults::blockReleased();
    bytes_ = nullptr;
    size_ = 0;
}
