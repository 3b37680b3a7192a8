// The format readers: each hands the scans it finds in the input to a sink, in file order,
// until the sink says stop. Every caller gets the same reading: the first pattern is the first
// scan a reader gives, except for the formats whose first pattern has a rule of its own (the
// `_pattern` readers below; the table of formats names them). A reader reads from the input's
// current position; the source under it is closed by its owner once the reader has returned. The
// formats read by random access, or in one piece, take the whole input as bytes instead.
#pragma once

#include <string_view>

#include "core/input.hpp"
#include "core/load_error.hpp"
#include "core/scan.hpp"

namespace morvex {

using ReadStatus = Status<LoadError>;

ReadStatus read_xy(Input& input, ScanSink& sink);
ReadStatus read_csv(Input& input, ScanSink& sink);
ReadStatus read_gsas_raw(Input& input, ScanSink& sink);
ReadStatus read_bruker_raw(std::string_view bytes, ScanSink& sink);
ReadStatus read_xrdml(Input& input, ScanSink& sink);
ReadStatus read_rasx(Input& input, ScanSink& sink);
ReadStatus read_brml(Input& input, ScanSink& sink);
ReadStatus read_philips_rd(std::string_view bytes, ScanSink& sink);
ReadStatus read_philips_udf(std::string_view bytes, ScanSink& sink);
ReadStatus read_pdcif(std::string_view bytes, ScanSink& sink);
ReadStatus read_stoe_raw(std::string_view bytes, ScanSink& sink);
ReadStatus read_ras(std::string_view bytes, ScanSink& sink);
ReadStatus read_uxd(std::string_view bytes, ScanSink& sink);
ReadStatus read_cpi(std::string_view bytes, ScanSink& sink);
ReadStatus read_chi(std::string_view bytes, ScanSink& sink);
ReadStatus read_spec(std::string_view bytes, ScanSink& sink);
ReadStatus read_rigaku_text(std::string_view bytes, ScanSink& sink);
ReadStatus read_start_step_stop(std::string_view bytes, ScanSink& sink);

// The first pattern where its rule is not the first scan: column rows without their header
// as they always were read, the preferred RASX profile, the first complete 2θ scan of an XRDML
// document as its events give it, a GSAS file read past a short bank and not past a title of
// no encoding.
ReadStatus read_xy_pattern(Input& input, ScanSink& sink);
ReadStatus read_csv_pattern(Input& input, ScanSink& sink);
ReadStatus read_rasx_pattern(Input& input, ScanSink& sink);
ReadStatus read_xrdml_pattern(Input& input, ScanSink& sink);
ReadStatus read_gsas_pattern(Input& input, ScanSink& sink);

// The content rules: each true where `head`, the input's first bytes (at most head_size of
// them), shows the reader's format.
bool gsas_content(std::string_view head);
bool bruker_raw_content(std::string_view head);
bool xrdml_content(std::string_view head);
bool rasx_content(std::string_view head);
bool brml_content(std::string_view head);
bool philips_rd_content(std::string_view head);
bool philips_udf_content(std::string_view head);
bool pdcif_content(std::string_view head);
bool stoe_raw_content(std::string_view head);
bool ras_content(std::string_view head);
bool uxd_content(std::string_view head);
bool cpi_content(std::string_view head);
bool chi_content(std::string_view head);
bool spec_content(std::string_view head);
bool rigaku_text_content(std::string_view head);
bool start_step_stop_content(std::string_view head);

// The content rule of the column formats: what the column rule makes of a head, "xy" or
// "csv", or "" with the reason where the head holds numbers in some other layout (empty where
// it holds none).
struct ColumnContent {
  std::string_view format;
  std::string_view refusal;
};
ColumnContent column_content(std::string_view head);

}  // namespace morvex
