// The firmware update file check, from the file on: TFirmwareImage::Load and
// the size rule, then the page records the update sends. Sizes matter more
// than contents here, so the first input byte is a page count (0 to 255, past
// the 127 allowed and past the read limit), the second a signed step away
// from that many whole records, and the rest is repeated to fill the file.
//
// Rules: Load reads the file's first ReadLimit bytes unchanged; the image is
// valid exactly for 1 to 127 whole records; the pages are those records in
// order, and there is no page before the first or after the last.

#include "core/update/FirmwareImage.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lindprog;
    using namespace lindprog::fuzz;
    if (size < 2)
        return 0;
    constexpr std::size_t Record = TFirmwareImage::PageRecordSize;
    const long wanted = static_cast<long>(data[0]) * static_cast<long>(Record) + static_cast<std::int8_t>(data[1]);
    std::vector<std::uint8_t> file(static_cast<std::size_t>(std::max(0L, wanted)));
    const std::span<const std::uint8_t> fill(data + 2, size - 2);
    // The fill once, then what is filled doubled: a few copies for any size.
    std::size_t filled = std::min(fill.size(), file.size());
    std::copy_n(fill.begin(), filled, file.begin());
    while (filled > 0 && filled < file.size()) {
        const std::size_t more = std::min(filled, file.size() - filled);
        std::copy_n(file.begin(), more, file.begin() + static_cast<long>(filled));
        filled += more;
    }

    const TMemoryFile memoryFile(file);
    const TFirmwareImage image = TFirmwareImage::Load(memoryFile.Path());
    const std::size_t read = std::min(file.size(), TFirmwareImage::ReadLimit);
    Expect(image.Size() == read &&
               std::equal(file.begin(), file.begin() + static_cast<long>(read), image.Bytes().begin()),
           "Load reads the file's first ReadLimit bytes unchanged");

    const bool wholeRecords = read % Record == 0 && read / Record >= 1 && read / Record <= TFirmwareImage::MaxPageCount;
    Expect(image.IsValid() == wholeRecords, "valid exactly for 1 to 127 whole page records");
    Expect(static_cast<std::size_t>(image.PageCount()) == read / Record, "one page per whole record");
    for (int page = 0; page < image.PageCount(); ++page) {
        const auto record = image.Page(page);
        Expect(record.size() == Record && record.data() == image.Bytes().data() + page * Record, "page n is record n");
    }
    Expect(image.Page(-1).empty() && image.Page(image.PageCount()).empty(), "no page outside the records");
    return 0;
}
