#include "alloc_hooks.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> news{0};
std::atomic<long> nothrow_news{0};
std::atomic<long> deletes{0};
std::atomic<long> nothrow_deletes{0};
std::atomic<long> null_deletes{0};
std::atomic<long> failures{0};
// Allocations left before the armed failure; negative when none is armed.
std::atomic<long> countdown{-1};
std::atomic<const void*> last_nothrow_new_block{nullptr};
std::atomic<std::size_t> last_nothrow_new_bytes{0};
std::atomic<const void*> last_delete_block{nullptr};
std::atomic<const void*> last_nothrow_delete_block{nullptr};

bool should_fail() noexcept
{
    long left = countdown.load();
    while (left >= 0) {
        if (countdown.compare_exchange_weak(left, left - 1)) {
            if (left == 0) {
                ++failures;
                return true;
            }
            return false;
        }
    }
    return false;
}

// A replaced operator new has only malloc and free beneath it.
// NOLINTBEGIN(cppcoreguidelines-no-malloc)
void* allocate(std::size_t size) noexcept
{
    return std::malloc(size == 0 ? 1 : size);
}

void* allocate_or_throw(std::size_t size)
{
    void* block = should_fail() ? nullptr : allocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    ++news;
    return block;
}

void* allocate_nothrow(std::size_t size) noexcept
{
    void* block = should_fail() ? nullptr : allocate(size);
    if (block != nullptr) {
        ++nothrow_news;
        last_nothrow_new_block = block;
        last_nothrow_new_bytes = size;
    }
    return block;
}

// Frees `block`, counting the release in `count` and keeping it in `last`.
void release_counted(void* block, std::atomic<long>& count, std::atomic<const void*>& last) noexcept
{
    if (block == nullptr) {
        ++null_deletes;
    } else {
        ++count;
        last = block;
        std::free(block);
    }
}

void release(void* block) noexcept
{
    release_counted(block, deletes, last_delete_block);
}

void release_nothrow(void* block) noexcept
{
    release_counted(block, nothrow_deletes, last_nothrow_delete_block);
}
// NOLINTEND(cppcoreguidelines-no-malloc)

} // namespace

namespace alloc_hooks {

Stats stats() noexcept
{
    return {news.load(),         nothrow_news.load(), deletes.load(), nothrow_deletes.load(),
            null_deletes.load(), failures.load()};
}

void fail_allocation(long index) noexcept
{
    countdown = index;
}

void disarm() noexcept
{
    countdown = -1;
}

const void* last_nothrow_new() noexcept
{
    return last_nothrow_new_block.load();
}

std::size_t last_nothrow_new_size() noexcept
{
    return last_nothrow_new_bytes.load();
}

const void* last_delete() noexcept
{
    return last_delete_block.load();
}

const void* last_nothrow_delete() noexcept
{
    return last_nothrow_delete_block.load();
}

} // namespace alloc_hooks

// NOLINTBEGIN(misc-new-delete-overloads)
void* operator new(std::size_t size)
{
    return allocate_or_throw(size);
}
void* operator new[](std::size_t size)
{
    return allocate_or_throw(size);
}
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept
{
    return allocate_nothrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& /*tag*/) noexcept
{
    return allocate_nothrow(size);
}
void operator delete(void* block) noexcept
{
    release(block);
}
void operator delete[](void* block) noexcept
{
    release(block);
}
void operator delete(void* block, std::size_t /*size*/) noexcept
{
    release(block);
}
void operator delete[](void* block, std::size_t /*size*/) noexcept
{
    release(block);
}
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept
{
    release_nothrow(block);
}
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept
{
    release_nothrow(block);
}
// NOLINTEND(misc-new-delete-overloads)
