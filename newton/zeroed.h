// Work arrays sized for the largest grid, on the heap.
#pragma once

#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

namespace quarel {

struct FreeZeroed {
    void operator()(void* p) const { std::free(p); }
};

template <typename T>
using Zeroed = std::unique_ptr<T, FreeZeroed>;

// A T whose storage is all zero, as `new T()` gives it, but from calloc:
// fresh pages that the system maps only where they are used, where
// `new T()` writes every page.  A small grid uses a small part of the
// largest grid's arrays (a 128 x 33 run took 1300 of its 12700 page faults
// in these arrays).  T's default constructor may only set members that
// the zeros do not already give.
template <typename T>
Zeroed<T> NewZeroed() {
    static_assert(std::is_trivially_destructible<T>::value, "freed without a destructor");
    void* p = std::calloc(1, sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return Zeroed<T>(::new (p) T);
}

}  // namespace quarel
