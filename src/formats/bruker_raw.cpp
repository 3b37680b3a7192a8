// Placeholder until this reader is written: the dispatcher answers "Unknown format".
#include "formats/readers.hpp"

namespace morvex {

LoadResult read_bruker_raw(ByteSource&) { return fail(UnknownFormat{}); }

}  // namespace morvex
