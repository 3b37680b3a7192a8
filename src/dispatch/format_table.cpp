#include "dispatch/format_table.hpp"

#include <array>

namespace morvex {
namespace {

// GSAS files go by the names of the programs and beamlines that write them.
constexpr std::string_view gsas_extensions[] = {"gsa", "gss", "gsas", "fxye",
                                                "xra", "cwn", "gda",  "raw"};
constexpr std::string_view column_extensions[] = {"xy", "xye", "dat", "asc", "txt"};
constexpr std::string_view xy_pattern[] = {"xy", "xye"};
constexpr std::string_view csv_extensions[] = {"csv"};
constexpr std::string_view raw_extension[] = {"raw"};
constexpr std::string_view xrdml_extension[] = {"xrdml"};
constexpr std::string_view rasx_extension[] = {"rasx"};
constexpr std::string_view brml_extension[] = {"brml"};
constexpr std::string_view philips_rd_extensions[] = {"rd", "sd"};
constexpr std::string_view udf_extension[] = {"udf"};
constexpr std::string_view cif_extension[] = {"cif"};
constexpr std::string_view ras_extension[] = {"ras"};
constexpr std::string_view uxd_extension[] = {"uxd"};
constexpr std::string_view cpi_extension[] = {"cpi"};
constexpr std::string_view chi_extension[] = {"chi"};
// SPEC, Rigaku text and start/step/stop files mostly go by .dat, .asc or .txt, which name
// columns: only their content tells them apart, so they claim no such name.
// SPEC files go by any name: these are the ones beamlines use.
constexpr std::string_view spec_extensions[] = {"spec", "dat", "spe", "spc"};
constexpr std::string_view rigaku_text_extensions[] = {"asc", "dat", "txt"};
constexpr std::string_view start_step_stop_extension[] = {"dat"};

constexpr std::array<FormatRow, 18> table = {{
    {"brml", "a Bruker BRML archive", brml_extension, brml_content, read_brml, {}},
    {"rasx", "a Rigaku RASX archive", rasx_extension, rasx_content, read_rasx, rasx_extension,
     RawSniff::none, read_rasx_pattern},
    {"stoe_raw", "a STOE RAW file", raw_extension, stoe_raw_content, read_stoe_raw, {}},
    {"philips_rd",
     "a Philips RD/SD scan",
     philips_rd_extensions,
     philips_rd_content,
     read_philips_rd,
     {}},
    {"bruker_raw", "a Bruker RAW file", raw_extension, bruker_raw_content, read_bruker_raw,
     raw_extension, RawSniff::binary},
    {"xrdml", "an XRDML document", xrdml_extension, xrdml_content, read_xrdml, xrdml_extension,
     RawSniff::none, read_xrdml_pattern},
    {"philips_udf", "a Philips UDF file", udf_extension, philips_udf_content, read_philips_udf, {}},
    {"pdcif", "a powder CIF", cif_extension, pdcif_content, read_pdcif, {}},
    {"ras", "a Rigaku RAS file", ras_extension, ras_content, read_ras, {}},
    {"cpi", "a Sietronics CPI file", cpi_extension, cpi_content, read_cpi, {}},
    {"spec", "a SPEC data file", spec_extensions, spec_content, read_spec, {}},
    {"rigaku_text",
     "a Rigaku text export",
     rigaku_text_extensions,
     rigaku_text_content,
     read_rigaku_text,
     {}},
    {"gsas", "a GSAS powder data file", gsas_extensions, gsas_content, read_gsas_raw, raw_extension,
     RawSniff::text, read_gsas_pattern},
    {"uxd", "a Bruker UXD file", uxd_extension, uxd_content, read_uxd, {}},
    {"chi", "a Fit2D chi file", chi_extension, chi_content, read_chi, {}},
    {"start_step_stop",
     "a start, step and stop file",
     start_step_stop_extension,
     start_step_stop_content,
     read_start_step_stop,
     {}},
    {"csv", "comma-separated x, y [, e] columns", csv_extensions, nullptr, read_csv, csv_extensions,
     RawSniff::none, read_csv_pattern},
    {"xy", "x y [e] columns", column_extensions, nullptr, read_xy, xy_pattern, RawSniff::none,
     read_xy_pattern},
}};

}  // namespace

std::span<const FormatRow> format_table() {
  return table;
}

ReadStatus read_format(FormatReader reader, Input& input, ScanSink& sink) {
  if (reader.streaming) return reader.streaming(input, sink);
  ByteBuffer storage;
  auto all = input.read_all(storage);
  if (!all) return fail(std::move(all).error());
  return reader.whole(all.value(), sink);
}

bool shows_format(const FormatRow& format, std::string_view head) {
  return format.content ? format.content(head) : column_content(head).format == format.name;
}

}  // namespace morvex
