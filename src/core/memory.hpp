// Room for large columns of numbers, and how the kernel is asked to back it.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace morvex {

// Asks the kernel to back the whole 2 MiB pages inside [data, data + bytes) with huge pages,
// as numpy does for its arrays of 4 MiB and more. Fresh memory is paid for page by page when
// first touched, and a 4 KiB page at a time that can cost more than parsing the numbers put
// in it. Only advice: where huge pages are off or unsupported, nothing changes.
void advise_huge_pages(void* data, std::size_t bytes);

// Room for `count` values in `column`, advised as above when it is large. False, with the
// column as it was, where the room cannot be had: room is only ever a guess here.
template <class T>
bool reserve_column(std::vector<T>& column, std::size_t count) {
  if (count <= column.capacity()) return true;
  if (count > column.max_size()) return false;
  try {
    column.reserve(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  advise_huge_pages(column.data(), column.capacity() * sizeof(T));
  return true;
}

}  // namespace morvex
