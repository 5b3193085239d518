// A loaded blob's rows, walked through GetNextRowSegment, stay inside their
// record: every row the walk returns has its runs before the record's custom
// bytes, and the walk returns no more rows than the record counts. Blobs come
// from files, so a record whose bytes after its counted rows look like another
// row (or whose last-row offset points at them) must not hand that "row" out.
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

struct Case {
    const char* name;
    uint32_t custom;       // custom bytes of the picture
    bool lastRowAtTail;    // the stored last-row offset names the bytes after the row
};

// One object of one row (y 1, one run 2..4), followed inside its record by eight
// bytes that read as a row header claiming 0x10000000 runs: either spare bytes
// before the custom bytes, or the custom bytes themselves.
std::vector<uint8_t> BlobWithTail(const Case& c)
{
    Obj o{1, 2, 1, 4, 1, 0, {{1, {{2, 3}}}}};
    std::vector<uint8_t> rec = Record(o, c.custom);
    const uint32_t tail[2] = {1, 0x10000000u};
    if (c.custom >= 8) {
        std::memcpy(rec.data() + rec.size() - c.custom, tail, 8);
    } else {
        rec.insert(rec.end() - c.custom, reinterpret_cast<const uint8_t*>(tail),
                   reinterpret_cast<const uint8_t*>(tail) + 8);
        const uint32_t size = uint32_t(rec.size());
        std::memcpy(rec.data() + 20, &size, 4);
    }
    if (c.lastRowAtTail) {
        const uint32_t at = 36 + 16;
        std::memcpy(rec.data() + 28, &at, 4);
    }
    std::vector<uint8_t> blob;
    Put(blob, 3);
    Put(blob, 8);
    Put(blob, 8);
    Put(blob, 1);
    Put(blob, uint32_t(rec.size()));
    Put(blob, 0);
    Put(blob, c.custom);
    blob.insert(blob.end(), rec.begin(), rec.end());
    return blob;
}

TEST(RleRowWalk, RowsOfALoadedBlobStayInsideTheirRecord)
{
    const Case cases[] = {
        {"spare bytes, last row at them", 0, true},
        {"custom bytes, last row at them", 8, true},
        {"custom bytes, last-row offset zero", 8, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> blob = BlobWithTail(c);
        if (!c.lastRowAtTail) std::memset(blob.data() + 28 + 28, 0, 4);
        SKzRLEPicBuf pic{};
        API::Init(&pic, c.custom, true);
        if (API::LoadFromMemory(&pic, blob.data(), blob.size()) == KZ_OK) {
            for (SKzRLEObject* o = API::GetNextRLEObject(&pic, nullptr); o; o = API::GetNextRLEObject(&pic, o)) {
                const uint8_t* base = reinterpret_cast<const uint8_t*>(o);
                const uint64_t rowsEnd = uint64_t(o->uiSize) - c.custom;
                uint32_t rows = 0;
                for (SKzRowSegment* r = API::GetNextRowSegment(o, nullptr); r; r = API::GetNextRowSegment(o, r)) {
                    ++rows;
                    const uint64_t at = uint64_t(reinterpret_cast<const uint8_t*>(r) - base);
                    EXPECT_LE(at + 8 + 8 * uint64_t(r->uiRunCount), rowsEnd)
                        << "row " << rows << " at " << at << " claims " << r->uiRunCount << " runs";
                    if (rows > o->uiRowCount + 1) break;
                }
                EXPECT_LE(rows, o->uiRowCount);
            }
        }
        API::Free(&pic);
    }
}

// A record a host builds or damages in memory is walked as it is: a row whose
// runs would leave the record is not handed out, first row or later, whatever the
// record's last-row offset says.
TEST(RleRowWalk, NoRowLeavesAHostsRecord)
{
    struct HostCase {
        const char* name;
        uint32_t firstRuns; // run count of the first row
        uint32_t lastRow;   // stored last-row offset
        uint32_t rows;      // rows handed out
    };
    const HostCase cases[] = {
        {"last row right", 1, 36, 1},
        {"last row beyond the rows", 1, 0, 1},
        {"last row past the record", 1, 0xFFFFFFF0u, 1},
        {"first row claims too many runs", 0x10000000u, 36, 0},
        {"first row runs into the bytes after it", 2, 0, 1},
        {"first row runs past the record", 3, 0, 0},
    };
    for (const HostCase& c : cases) {
        SCOPED_TRACE(c.name);
        // One row of one run, then eight bytes that read as a row of 0x10000000 runs.
        std::vector<uint8_t> rec = Record(Obj{1, 2, 1, 4, 1, 0, {{1, {{2, 3}}}}});
        Put(rec, 1);
        Put(rec, 0x10000000u);
        const uint32_t size = uint32_t(rec.size());
        std::memcpy(rec.data() + 20, &size, 4);
        std::memcpy(rec.data() + 28, &c.lastRow, 4);
        std::memcpy(rec.data() + 40, &c.firstRuns, 4);
        auto* o = reinterpret_cast<SKzRLEObject*>(rec.data());
        uint32_t rows = 0;
        for (SKzRowSegment* r = API::GetNextRowSegment(o, nullptr); r && rows < 3; r = API::GetNextRowSegment(o, r)) {
            ++rows;
            const uint64_t at = uint64_t(reinterpret_cast<const uint8_t*>(r) - rec.data());
            EXPECT_LE(at + 8 + 8 * uint64_t(r->uiRunCount), rec.size()) << "row " << rows;
        }
        EXPECT_EQ(rows, c.rows);
    }
}

} // namespace
