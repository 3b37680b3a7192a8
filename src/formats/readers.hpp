// The format readers: each hands the scans it finds in the input to a sink, in file order,
// until the sink says stop. A reader reads from the input's current position; the source
// under it is closed by its owner once the reader has returned.
#pragma once

#include "core/input.hpp"
#include "core/load_error.hpp"
#include "core/scan.hpp"

namespace morvex {

using ReadStatus = Status<LoadError>;

ReadStatus read_xy(Input& input, ScanSink& sink);
ReadStatus read_csv(Input& input, ScanSink& sink);
ReadStatus read_gsas_raw(Input& input, ScanSink& sink);
ReadStatus read_bruker_raw(Input& input, ScanSink& sink);
ReadStatus read_xrdml(Input& input, ScanSink& sink);
ReadStatus read_rasx(Input& input, ScanSink& sink);
ReadStatus read_brml(Input& input, ScanSink& sink);
ReadStatus read_philips_rd(Input& input, ScanSink& sink);
ReadStatus read_philips_udf(Input& input, ScanSink& sink);
ReadStatus read_pdcif(Input& input, ScanSink& sink);
ReadStatus read_stoe_raw(Input& input, ScanSink& sink);
ReadStatus read_ras(Input& input, ScanSink& sink);
ReadStatus read_uxd(Input& input, ScanSink& sink);
ReadStatus read_cpi(Input& input, ScanSink& sink);
ReadStatus read_chi(Input& input, ScanSink& sink);

}  // namespace morvex
