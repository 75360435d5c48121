// Keeps exceptions (in practice, a failed allocation) from crossing an
// exported entry point: they turn into the entry's failure result.
#pragma once

#include <utility>

namespace faxtiff {

template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

}  // namespace faxtiff
