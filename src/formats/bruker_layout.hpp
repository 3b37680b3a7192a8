// Field offsets of the Bruker RAW versions we know, shared by the first-range reader and the
// reader of every range.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvex::bruker {

// The offsets below are the header layouts that real files of each version show. Offsets of
// range fields are from the range header's start, of drive and metadata segments from the
// segment's start; all fields are little-endian, texts are Latin-1 padded with NUL or spaces.

// Drive positions a header marks as not known.
constexpr double unknown_position = -1e6;

namespace version1 {  // "RAW ": ranges follow the signature, each may repeat it
constexpr std::size_t first_range = 4;
constexpr std::size_t steps = 0;          // u32
constexpr std::size_t time_per_step = 4;  // f32
constexpr std::size_t step = 8;           // f32
constexpr std::size_t start = 20;         // f32, 2-theta
constexpr std::size_t theta = 24;         // f32
constexpr std::size_t chi = 28;           // f32
constexpr std::size_t phi = 32;           // f32
constexpr std::size_t sample_name = 36;   // 32 characters
constexpr std::size_t sample_name_size = 32;
constexpr std::size_t kalpha1 = 68;           // f32
constexpr std::size_t kalpha2 = 72;           // f32
constexpr std::size_t following_range = 148;  // u32, 0 after the last range
constexpr std::size_t data = 152;  // the range header's size; intensities follow, f32 each
}  // namespace version1

namespace version2 {                    // "RAW2"
constexpr std::size_t range_count = 4;  // u16
constexpr std::size_t sample_name = 8;  // 32 characters
constexpr std::size_t sample_name_size = 32;
constexpr std::size_t comment = 40;  // 128 characters
constexpr std::size_t comment_size = 128;
constexpr std::size_t date_time = 168;  // 20 characters, "DD-MM-YYYYhh:mm"
constexpr std::size_t date_time_size = 20;
constexpr std::size_t anode = 188;  // 2 characters
constexpr std::size_t anode_size = 2;
constexpr std::size_t kalpha1 = 190;  // f32
constexpr std::size_t kalpha2 = 194;  // f32
constexpr std::size_t ratio = 198;    // f32
constexpr std::size_t kbeta = 206;    // f32, after a single left zero
constexpr std::size_t first_range = 256;
constexpr std::size_t header_length = 0;       // u16, intensities start this far into the range
constexpr std::size_t min_header_length = 48;  // exclusive: the fields below lie inside
constexpr std::size_t steps = 2;               // u16
constexpr std::size_t time_per_step = 8;       // f32
constexpr std::size_t step = 12;               // f32
constexpr std::size_t start = 16;              // f32
}  // namespace version2

namespace version3 {                     // "RAW1.01"
constexpr std::size_t range_count = 12;  // u32
constexpr std::size_t date = 16;         // 10 characters, "MM/DD/YY"
constexpr std::size_t time = 26;         // 10 characters, "hh:mm:ss"
constexpr std::size_t date_size = 10;
constexpr std::size_t user = 36;  // 72 characters
constexpr std::size_t user_size = 72;
constexpr std::size_t site = 108;  // 218 characters
constexpr std::size_t site_size = 218;
constexpr std::size_t sample_id = 326;  // 60 characters
constexpr std::size_t sample_id_size = 60;
constexpr std::size_t comment = 386;  // 160 characters
constexpr std::size_t comment_size = 160;
constexpr std::size_t anode = 608;  // 4 characters
constexpr std::size_t anode_size = 4;
constexpr std::size_t kalpha1 = 624;  // f64, after the average at 616
constexpr std::size_t kalpha2 = 632;  // f64
constexpr std::size_t kbeta = 640;    // f64
constexpr std::size_t ratio = 648;    // f64
constexpr std::size_t first_range = 712;
constexpr std::size_t header_length = 0;  // u32, always 304
constexpr std::uint32_t expected_header_length = 304;
constexpr std::size_t steps = 4;   // u32
constexpr std::size_t theta = 8;   // f64; the drives follow as f64 each:
constexpr std::size_t start = 16;  // 2-theta, the scan's start
constexpr std::size_t chi = 24;
constexpr std::size_t phi = 32;
constexpr std::size_t x = 40;
constexpr std::size_t y = 48;
constexpr std::size_t z = 56;
constexpr std::size_t step = 176;                // f64
constexpr std::size_t time_per_step = 192;       // f32
constexpr std::size_t voltage = 224;             // u32, kV
constexpr std::size_t current = 228;             // u32, mA
constexpr std::size_t used_wavelength = 240;     // f64
constexpr std::size_t supplementary_size = 256;  // u32, extra headers before the data
}  // namespace version3

namespace version4 {              // "RAW4.00"
constexpr std::size_t date = 12;  // 12 characters, "MM/DD/YYYY"
constexpr std::size_t date_size = 12;
constexpr std::size_t time = 24;  // 10 characters, "hh:mm:ss"
constexpr std::size_t time_size = 10;
constexpr std::size_t first_segment = 61;
constexpr std::size_t segment_length = 4;  // u32, the whole segment, after a u32 type
constexpr std::uint32_t min_segment_length = 8;
constexpr std::uint32_t range_types[] = {0, 160};  // a segment of these types is the range
// A named text: the name at 12 (24 characters), the text from 36 to the segment's end.
constexpr std::uint32_t text_segment = 10;
constexpr std::size_t text_name = 12;
constexpr std::size_t text_name_size = 24;
constexpr std::size_t text_value = 36;
// The tube: wavelengths as f64 from 80 (the average at 72), the anode's 4 characters at 116.
constexpr std::uint32_t tube_segment = 30;
constexpr std::size_t tube_kalpha1 = 80;
constexpr std::size_t tube_kalpha2 = 88;
constexpr std::size_t tube_kbeta = 96;
constexpr std::size_t tube_ratio = 104;
constexpr std::size_t tube_anode = 116;
constexpr std::size_t tube_anode_size = 4;
constexpr std::size_t range_header_size = 160;
constexpr std::size_t scan_type = 32;  // 24 characters
constexpr std::size_t scan_type_size = 24;
constexpr std::size_t start = 72;             // f64
constexpr std::size_t step = 80;              // f64
constexpr std::size_t steps = 88;             // u32
constexpr std::size_t time_per_step = 92;     // f32
constexpr std::size_t voltage = 100;          // f32, kV
constexpr std::size_t current = 104;          // f32, mA
constexpr std::size_t used_wavelength = 112;  // f64
constexpr std::size_t bytes_per_point = 136;  // u32, the intensity is its first single
constexpr std::uint32_t min_bytes_per_point = 4;
constexpr std::size_t extra_headers_size = 140;  // u32, between range header and data
// A drive in the extra headers: its name at 12 (24 characters), its start position at 56.
constexpr std::uint32_t drive_segment = 50;
constexpr std::size_t drive_name = 12;
constexpr std::size_t drive_name_size = 24;
constexpr std::size_t drive_start = 56;  // f64
}  // namespace version4

}  // namespace morvex::bruker
