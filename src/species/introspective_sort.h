// The sort behind protein ordering. Written out here rather than taken from the standard
// library, whose implementations differ in thresholds and in where equal elements end up: the
// tool must write the same files on every platform.
#ifndef TARNEL_SPECIES_INTROSPECTIVE_SORT_H_
#define TARNEL_SPECIES_INTROSPECTIVE_SORT_H_

#include <cstddef>
#include <utility>

namespace tarnel::introspective_sort {

// Ranges of at most this many elements are finished by insertion sort, which keeps equal
// elements in their order.
inline constexpr std::ptrdiff_t kInsertionMax = 32;
// Above this many elements the pivot is a pseudo-median of nine.
inline constexpr std::ptrdiff_t kMedianOfNineAbove = 41;

template <typename It, typename Less>
void median_of_three(It x, It y, It z, Less& less) {
  using std::swap;
  if (less(*y, *x)) swap(*y, *x);
  if (less(*z, *y)) {
    swap(*z, *y);
    if (less(*y, *x)) swap(*y, *x);
  }
}

template <typename It, typename Less>
void guess_median(It first, It middle, It last, Less& less) {  // `last` is the last element
  const std::ptrdiff_t count = last - first + 1;
  if (count > kMedianOfNineAbove) {
    const std::ptrdiff_t step = count / 8;
    const std::ptrdiff_t two_steps = step * 2;
    median_of_three(first, first + step, first + two_steps, less);
    median_of_three(middle - step, middle, middle + step, less);
    median_of_three(last - two_steps, last - step, last, less);
    median_of_three(first + step, middle, last - step, less);
  } else {
    median_of_three(first, middle, last, less);
  }
}

/// Partitions [first, last) three ways around the middle element after a median guess.
/// Returns the block of elements equal to the pivot, which is then in its final place.
template <typename It, typename Less>
std::pair<It, It> partition_around_median(It first, It last, Less& less) {
  using std::swap;
  It middle = first + (last - first) / 2;
  guess_median(first, middle, last - 1, less);
  It equal_first = middle;
  It equal_last = equal_first + 1;

  // Grow the block of pivot-equal elements outwards from the middle.
  while (first < equal_first && !less(*(equal_first - 1), *equal_first) &&
         !less(*equal_first, *(equal_first - 1))) {
    --equal_first;
  }
  while (equal_last < last && !less(*equal_last, *equal_first) &&
         !less(*equal_first, *equal_last)) {
    ++equal_last;
  }

  It upper = equal_last;   // next element above the block to classify
  It lower = equal_first;  // one past the next element below the block to classify
  for (;;) {
    for (; upper < last; ++upper) {
      if (less(*equal_first, *upper)) continue;
      if (less(*upper, *equal_first)) break;
      if (equal_last != upper) swap(*equal_last, *upper);
      ++equal_last;
    }
    for (; first < lower; --lower) {
      if (less(*(lower - 1), *equal_first)) continue;
      if (less(*equal_first, *(lower - 1))) break;
      if (--equal_first != lower - 1) swap(*equal_first, *(lower - 1));
    }
    if (lower == first && upper == last) return {equal_first, equal_last};

    if (lower == first) {
      // Only an element above belongs below: rotate it under the block.
      if (equal_last != upper) swap(*equal_first, *equal_last);
      ++equal_last;
      swap(*equal_first, *upper);
      ++equal_first;
      ++upper;
    } else if (upper == last) {
      // Only an element below belongs above: rotate it over the block.
      if (--lower != --equal_first) swap(*lower, *equal_first);
      swap(*equal_first, *--equal_last);
    } else {
      swap(*upper, *--lower);
      ++upper;
    }
  }
}

template <typename It, typename Less>
void insertion_sort(It first, It last, Less& less) {
  if (first == last) return;
  for (It next = first + 1; next != last; ++next) {
    auto value = std::move(*next);
    It hole = next;
    // Move towards the front past every element the value comes before.
    while (hole != first && less(value, *(hole - 1))) {
      *hole = std::move(*(hole - 1));
      --hole;
    }
    *hole = std::move(value);
  }
}

// Heap with its root at `first`; `hole` is emptied and `value` sifted into place below `top`.
template <typename It, typename T, typename Less>
void push_into_heap(It first, std::ptrdiff_t hole, std::ptrdiff_t top, T&& value, Less& less) {
  for (std::ptrdiff_t parent = (hole - 1) / 2; top < hole && less(*(first + parent), value);
       parent = (hole - 1) / 2) {
    *(first + hole) = std::move(*(first + parent));
    hole = parent;
  }
  *(first + hole) = std::forward<T>(value);
}

template <typename It, typename T, typename Less>
void refill_heap_hole(It first, std::ptrdiff_t hole, std::ptrdiff_t bottom, T&& value, Less& less) {
  const std::ptrdiff_t top = hole;
  std::ptrdiff_t child = hole;
  const std::ptrdiff_t last_parent_with_two = (bottom - 1) / 2;
  while (child < last_parent_with_two) {
    child = 2 * child + 2;
    if (less(*(first + child), *(first + (child - 1)))) --child;
    *(first + hole) = std::move(*(first + child));
    hole = child;
  }
  if (child == last_parent_with_two && bottom % 2 == 0) {
    *(first + hole) = std::move(*(first + (bottom - 1)));
    hole = bottom - 1;
  }
  push_into_heap(first, hole, top, std::forward<T>(value), less);
}

template <typename It, typename Less>
void heap_sort(It first, It last, Less& less) {
  const std::ptrdiff_t bottom = last - first;
  for (std::ptrdiff_t hole = bottom / 2; hole > 0;) {
    --hole;
    auto value = std::move(*(first + hole));
    refill_heap_hole(first, hole, bottom, std::move(value), less);
  }
  for (; last - first >= 2; --last) {
    auto value = std::move(*(last - 1));
    *(last - 1) = std::move(*first);
    refill_heap_hole(first, 0, (last - 1) - first, std::move(value), less);
  }
}

// Sorts [first, last) with a division budget: each partition shrinks it to three quarters,
// and a range that exhausts it is heap-sorted, which bounds the work at n log n.
template <typename It, typename Less>
void sort_within_budget(It first, It last, std::ptrdiff_t budget, Less& less) {
  for (;;) {
    if (last - first <= kInsertionMax) {
      insertion_sort(first, last, less);
      return;
    }
    if (budget <= 0) {
      heap_sort(first, last, less);
      return;
    }
    const std::pair<It, It> equal = partition_around_median(first, last, less);
    budget = budget / 2 + (budget / 2) / 2;
    // Recurse into the smaller part so the stack stays logarithmic.
    if (equal.first - first < last - equal.second) {
      sort_within_budget(first, equal.first, budget, less);
      first = equal.second;
    } else {
      sort_within_budget(equal.second, last, budget, less);
      last = equal.first;
    }
  }
}

/// Sorts [first, last) under `less`, not stably, in O(n log n) comparisons for every input.
template <typename It, typename Less>
void sort(It first, It last, Less less) {
  sort_within_budget(first, last, last - first, less);
}

}  // namespace tarnel::introspective_sort

#endif  // TARNEL_SPECIES_INTROSPECTIVE_SORT_H_
