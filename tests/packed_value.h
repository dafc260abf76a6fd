// Test macros take their arguments by reference, and a field of a packed wire record
// cannot be bound to one without a misaligned reference; compare a copy instead.
#pragma once

namespace corvane {

template <typename T>
constexpr T packed(T value) {
    return value;
}

}  // namespace corvane
