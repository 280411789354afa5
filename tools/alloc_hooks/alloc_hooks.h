// alloc_hooks.h - a replacement of the global operator new/delete family that
// counts every call and can make one chosen allocation fail.
//
// Linked into an executable, the replacement also serves every library that
// the executable loads, the dlopen'ed plug-in included.
#ifndef TOOLS_ALLOC_HOOKS_ALLOC_HOOKS_H
#define TOOLS_ALLOC_HOOKS_ALLOC_HOOKS_H

#include <cstddef>

namespace alloc_hooks {

struct Stats {
    long news;            ///< successful throwing allocations (new, new[])
    long nothrow_news;    ///< successful nothrow allocations
    long deletes;         ///< ordinary releases of non-null pointers (delete, delete[], sized)
    long nothrow_deletes; ///< nothrow releases of non-null pointers
    long null_deletes;    ///< releases of null, in any form
    long failures;        ///< allocations made to fail so far

    long allocations() const noexcept { return news + nothrow_news; }
    long live() const noexcept { return news + nothrow_news - deletes - nothrow_deletes; }
};

Stats stats() noexcept;

/// Makes the allocation `index` calls from now (0 = the next one) fail, once:
/// a throwing form throws std::bad_alloc, a nothrow form returns null.
void fail_allocation(long index) noexcept;
/// Cancels a failure that has not happened yet.
void disarm() noexcept;

/// The most recent block returned by a nothrow new, and the size asked for it.
const void* last_nothrow_new() noexcept;
std::size_t last_nothrow_new_size() noexcept;
/// The most recent pointer given to an ordinary delete.
const void* last_delete() noexcept;
/// The most recent pointer given to a nothrow delete.
const void* last_nothrow_delete() noexcept;

/// Stats taken now, for the difference since a test began.
class Scope {
public:
    Scope() noexcept : start_(stats()) {}
    Stats since() const noexcept
    {
        const Stats now = stats();
        return {now.news - start_.news,
                now.nothrow_news - start_.nothrow_news,
                now.deletes - start_.deletes,
                now.nothrow_deletes - start_.nothrow_deletes,
                now.null_deletes - start_.null_deletes,
                now.failures - start_.failures};
    }

private:
    Stats start_;
};

} // namespace alloc_hooks

#endif // TOOLS_ALLOC_HOOKS_ALLOC_HOOKS_H
