// A zero-filled block of whole pages from the system's page allocator, owned by one holder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "common/status.h"

// Blocks larger than this are refused, so every size obtained also fits a 32-bit file field.
inline constexpr uint64_t kMaxBlockSize = 0xFFFFFFFFu;

// How the holder will write a block. A block filled whole is made resident when obtained (and
// may be backed by 2 MB pages), which saves a page fault for every 4 KB; one written in part
// keeps its pages until they are touched, so that those it never touches never take memory.
// Only a block the holder will really fill, whatever the input claims, is asked for whole.
// A block written from its start onward to an end not known in advance (an output sized for
// its worst case) takes 2 MB pages as the writing reaches them: a few faults instead of one
// per 4 KB, and never more than one such page resident past what was written.
enum class PagingHint { inPart, whole, fromStart };

class ByteBuffer;
struct KeptBlock;
// Obtains a block with the reason for a refusal: tooLarge beyond kMaxBlockSize, outOfMemory
// when the size is 0 or the system refuses. Any block already held is released first.
Status obtainBlock(uint64_t size, ByteBuffer& block, PagingHint paging = PagingHint::inPart);

// Gives block a zero-filled block of size bytes from kept: kept's own when it holds that many
// and is small (kAlwaysKept) or at most twice as many (a batch of small files does not keep a
// large one resident), with only the bytes earlier holders may have written cleared; a newly
// obtained one otherwise, with obtainBlock's refusals. The first `overwritten` bytes, which the
// holder writes before it reads them, are left as they are. Give it back with keepBlock when
// done.
Status takeKeptBlock(uint64_t size, KeptBlock& kept, ByteBuffer& block,
                     PagingHint paging = PagingHint::inPart, uint64_t overwritten = 0);

// A kept block of at most this many bytes is used again for any size it holds: its pages cost
// less resident than obtained again for the next file.
inline constexpr uint64_t kAlwaysKept = 4u << 20;

// Gives block size bytes for a holder that writes every byte it uses: block's own when it holds
// that many (as they are, not cleared), so that a run's outputs go into the pages of the
// outputs before them; a newly obtained one otherwise, with obtainBlock's refusals.
Status reuseBlock(uint64_t size, ByteBuffer& block, PagingHint paging = PagingHint::inPart);

class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer() { release(); }
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Returns the block to the system and clears the reference; releasing nothing does nothing.
    void release();

    bool empty() const { return bytes_ == nullptr; }
    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    uint8_t* end() { return bytes_ + size_; }
    const uint8_t* end() const { return bytes_ + size_; }
    uint32_t size() const { return size_; }
    std::span<uint8_t> span() { return {bytes_, size_}; }
    std::span<const uint8_t> span() const { return {bytes_, size_}; }

private:
    friend Status obtainBlock(uint64_t size, ByteBuffer& block, PagingHint paging);
    friend Status takeKeptBlock(uint64_t size, KeptBlock& kept, ByteBuffer& block,
                                PagingHint paging, uint64_t overwritten);
    friend Status reuseBlock(uint64_t size, ByteBuffer& block, PagingHint paging);
    ByteBuffer(uint8_t* bytes, uint32_t size) : bytes_(bytes), size_(size), capacity_(size) {}

    uint8_t* bytes_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;  // as obtained; size_ is less when a kept block is used again
};

// A block a holder keeps from one use to the next (a command-line worker, from file to file),
// and how far earlier uses may have written into it: every byte from there on is still zero.
struct KeptBlock {
    ByteBuffer block;
    uint64_t written = 0;
};

// Returns a block taken with takeKeptBlock.
inline void keepBlock(ByteBuffer& block, KeptBlock& kept) {
    if (!block.empty()) kept.block = std::move(block);
}
