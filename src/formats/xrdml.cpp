// Placeholder until this reader is written: the dispatcher answers "Unknown format".
#include "formats/readers.hpp"

namespace morvex {

LoadResult read_xrdml(ByteSource&) { return fail(UnknownFormat{}); }

}  // namespace morvex
