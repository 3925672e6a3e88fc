// Sums of sizes that a list, a server or a package claims: held at the
// type's largest value instead of wrapping round to a small number that
// would seem to fit or to be done.
#pragma once

#include <limits>
#include <type_traits>

// a + b for counts of 0 and more (byte counts as uint64_t or int64_t).
template <typename T>
constexpr T SaturatedSum(T a, T b) {
    static_assert(std::is_integral_v<T>, "a count");
    constexpr T kMost = std::numeric_limits<T>::max();
    return b > kMost - a ? kMost : a + b;
}
