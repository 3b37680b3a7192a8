"""The archive layer under both archive readers: a BRML range is read through the same checked
entries as a RASX profile, whose cases test_rasx.py holds."""

import zipfile

import pytest

import morvexio
from test_rasx import entry_data_offset, make_archive, patch_entry

RANGE = "Experiment0/RawData0.xml"
UNSUPPORTED = "a.brml: unsupported Zip archive: "
DOCUMENT = (
    '<RawData><DataRoutes><DataRoute><ScanInformation><ScanAxes><ScanAxisInfo AxisId="TwoTheta"/>'
    "</ScanAxes></ScanInformation><Datum>5,10</Datum><Datum>6,10.5</Datum><DataViews>"
    '<RawDataView xsi:type="VaryingRawDataView" Start="1" Length="1"><Varying '
    'LogicName="ScanAxes"><FieldDefinitions FieldName="TwoTheta"/></Varying></RawDataView>'
    '<RawDataView xsi:type="RecordedRawDataView" Start="0" Length="1" MeasuredDataIndex="0"/>'
    "</DataViews></DataRoute></DataRoutes></RawData>"
)


def brml(method=zipfile.ZIP_DEFLATED, **patch):
    return patch_entry(make_archive((RANGE, DOCUMENT, method)), 0, **patch)


def damaged():
    data = bytearray(brml())
    data[entry_data_offset(bytes(data), 0)] = 0xFF  # a final block of the reserved type 3
    return bytes(data)


@pytest.mark.parametrize("method", [zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED])
def test_brml_range_is_read_from_stored_and_deflate_entries(method):
    scan = morvexio.read_bytes(brml(method), "a.brml").scans[0]
    assert (list(scan.x), list(scan.y)) == ([10.0, 10.5], [5.0, 6.0])


# A failure inside the data reaches the caller through the XML reader, which names where.
@pytest.mark.parametrize(
    "data, text",
    [
        (brml(crc=0), ": CRC error"),
        (brml(zipfile.ZIP_STORED, crc=0), ": CRC error"),
        (damaged(), ": Zlib error: data error"),
        (brml(flags=0x0001), UNSUPPORTED + "Encryption method not supported"),
        (brml(zipfile.ZIP_BZIP2), UNSUPPORTED + "Compression method not supported"),
    ],
    ids=["deflate crc", "stored crc", "damaged deflate", "encrypted", "bzip2"],
)
def test_brml_entries_are_checked_as_rasx_profiles_are(data, text):
    with pytest.raises(morvexio.FormatError) as raised:
        morvexio.read_bytes(data, "a.brml")
    assert type(raised.value) is morvexio.FormatError
    assert str(raised.value).startswith("a.brml: ") and text in str(raised.value)
