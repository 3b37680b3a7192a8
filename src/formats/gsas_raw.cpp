// Placeholder until this reader is written: the dispatcher answers "Unknown format".
#include "formats/readers.hpp"

namespace morvex {

LoadResult read_gsas_raw(ByteSource&) { return fail(UnknownFormat{}); }

}  // namespace morvex
