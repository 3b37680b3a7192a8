# The loading core, one source a line, grouped by folder. The main build and the fuzz build
# (fuzz/CMakeLists.txt) both compile exactly these.
set(MORVEX_CORE_SOURCES
  # src/core
  src/core/axis.cpp
  src/core/byte_source.cpp
  src/core/date_time.cpp
  src/core/input.cpp
  src/core/encodings.cpp
  src/core/interrupt.cpp
  src/core/line_reader.cpp
  src/core/load_error.cpp
  src/core/memory.cpp
  src/core/metadata.cpp
  src/core/number.cpp
  src/core/number_text.cpp
  src/core/tokens.cpp
  src/core/utf8.cpp
  src/core/worker_team.cpp
  # src/archive
  src/archive/inflate.cpp
  src/archive/zip_archive.cpp
  # src/xml
  src/xml/attributes.cpp
  src/xml/pull_parser.cpp
  # src/formats
  src/formats/brml.cpp
  src/formats/brml_document.cpp
  src/formats/bruker_header.cpp
  src/formats/bruker_ranges.cpp
  src/formats/bruker_raw.cpp
  src/formats/chi.cpp
  src/formats/cif_tokens.cpp
  src/formats/column_header.cpp
  src/formats/column_commas.cpp
  src/formats/column_content.cpp
  src/formats/columns.cpp
  src/formats/cpi.cpp
  src/formats/gsas_raw.cpp
  src/formats/gsas_records.cpp
  src/formats/pdcif.cpp
  src/formats/philips_rd.cpp
  src/formats/philips_udf.cpp
  src/formats/ras.cpp
  src/formats/rasx.cpp
  src/formats/rasx_conditions.cpp
  src/formats/rigaku_text.cpp
  src/formats/spec.cpp
  src/formats/start_step_stop.cpp
  src/formats/stoe_raw.cpp
  src/formats/uxd.cpp
  src/formats/xrdml.cpp
  src/formats/xrdml_scan.cpp
  src/formats/xy.cpp
  # src/dispatch
  src/dispatch/detect.cpp
  src/dispatch/dispatch.cpp
  src/dispatch/format_table.cpp
)
list(TRANSFORM MORVEX_CORE_SOURCES PREPEND "${CMAKE_CURRENT_LIST_DIR}/../")

# libzip reads RASX and BRML archives and ISA-L inflates their entries. zlib.h gives only the
# code that libzip's errors carry for damaged data (Z_DATA_ERROR): its headers, nothing linked.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(LIBISAL REQUIRED IMPORTED_TARGET libisal)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
set(MORVEX_CORE_LIBRARIES PkgConfig::LIBZIP PkgConfig::LIBISAL Threads::Threads)
set(MORVEX_CORE_INCLUDES ${ZLIB_INCLUDE_DIRS})

# OFF builds only the portable code where an SSE2 path exists (core/vector.hpp), so that CI
# builds and tests the fallback too.
option(MORVEX_VECTOR "Build the SSE2 paths of the text readers" ON)
set(MORVEX_CORE_DEFINITIONS $<$<NOT:$<BOOL:${MORVEX_VECTOR}>>:MORVEX_NO_VECTOR>)
