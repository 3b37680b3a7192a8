// Room for large columns of numbers, and how the kernel is asked to back it.
#pragma once

#include <cstddef>
#include <new>

namespace morvex {

// Asks the kernel to back the whole 2 MiB pages inside [data, data + bytes) with huge pages,
// as numpy does for its arrays of 4 MiB and more. Fresh memory is paid for page by page when
// first touched, and a 4 KiB page at a time that can cost more than parsing the numbers put
// in it. Only advice: where huge pages are off or unsupported, nothing changes.
void advise_huge_pages(void* data, std::size_t bytes);

// Room for `count` items in `room` (a vector or a string), advised as above when it is large.
// False, with `room` as it was, where the room cannot be had: room is only ever a guess here.
template <class Room>
bool reserve_room(Room& room, std::size_t count) {
  if (count <= room.capacity()) return true;
  if (count > room.max_size()) return false;
  try {
    room.reserve(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  advise_huge_pages(room.data(), room.capacity() * sizeof(*room.data()));
  return true;
}

}  // namespace morvex
