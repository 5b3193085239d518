// Shape operations on run-length objects, checked against pixel-by-pixel
// computations on masks.
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"
#include "rle_test_support.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace rletest;
using API = CKzRLEPicBufAPI;

namespace {

using Mask = std::vector<std::string>; // '#' set, anything else clear

// An object whose box is the mask's frame at (ox, oy); rows without pixels get no record.
Obj FromMask(const Mask& m, uint32_t id = 7, uint32_t state = 0x21, int32_t ox = 0, int32_t oy = 0)
{
    Obj o{id, ox, oy, ox + int32_t(m[0].size()) - 1, oy + int32_t(m.size()) - 1, state, {}};
    for (size_t y = 0; y < m.size(); ++y) {
        Row row{uint32_t(oy + int32_t(y)), {}};
        for (size_t x = 0; x < m[y].size();) {
            if (m[y][x] != '#') {
                ++x;
                continue;
            }
            size_t e = x;
            while (e < m[y].size() && m[y][e] == '#') ++e;
            row.runs.push_back({uint32_t(ox + int32_t(x)), uint32_t(e - x)});
            x = e;
        }
        if (!row.runs.empty()) o.rows.push_back(row);
    }
    return o;
}

using Pixels = std::set<std::pair<int64_t, int64_t>>;

Pixels PixelsOf(const SKzRLEObject* o)
{
    Pixels p;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(o);
    uint32_t at = 36;
    for (uint32_t r = 0; r < o->uiRowCount; ++r) {
        const uint32_t y = Get({b + at, b + at + 8}, 0), n = Get({b + at, b + at + 8}, 4);
        for (uint32_t k = 0; k < n; ++k) {
            uint32_t x = 0, len = 0;
            std::memcpy(&x, b + at + 8 + 8 * k, 4);
            std::memcpy(&len, b + at + 12 + 8 * k, 4);
            for (uint32_t i = 0; i < len; ++i) p.insert({int64_t(x) + i, int64_t(y)});
        }
        at += 8 + 8 * n;
    }
    return p;
}

Pixels PixelsOf(const Mask& m, int64_t ox = 0, int64_t oy = 0)
{
    Pixels p;
    for (size_t y = 0; y < m.size(); ++y)
        for (size_t x = 0; x < m[y].size(); ++x)
            if (m[y][x] == '#') p.insert({ox + int64_t(x), oy + int64_t(y)});
    return p;
}

// The record's own bookkeeping: size, row count, last-row offset, ascending rows.
void ExpectWellFormed(const SKzRLEObject* o, uint32_t custom = 0)
{
    const uint8_t* b = reinterpret_cast<const uint8_t*>(o);
    uint32_t at = 36, last = 36;
    int64_t prevY = -1;
    for (uint32_t r = 0; r < o->uiRowCount; ++r) {
        uint32_t y = 0, n = 0;
        std::memcpy(&y, b + at, 4);
        std::memcpy(&n, b + at + 4, 4);
        EXPECT_GT(int64_t(y), prevY);
        EXPECT_GE(n, 1u);
        prevY = y;
        last = at;
        at += 8 + 8 * n;
    }
    EXPECT_EQ(at + custom, +o->uiSize);
    EXPECT_EQ(last, +o->uiLastRowOffset);
}

struct Owned {
    SKzRLEObject* p;
    explicit Owned(SKzRLEObject* o) : p(o) {}
    ~Owned() { CKzAlloc::Free(p); }
};

// Background of the box reached from its border with 4-connectivity; the rest is
// the object with its holes filled.
Pixels FillByFlood(const Mask& m)
{
    const int H = int(m.size()), W = int(m[0].size());
    std::vector<std::vector<char>> seen(H, std::vector<char>(W, 0));
    std::deque<std::pair<int, int>> q;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if ((y == 0 || x == 0 || y == H - 1 || x == W - 1) && m[y][x] != '#') {
                seen[y][x] = 1;
                q.push_back({x, y});
            }
    while (!q.empty()) {
        auto [x, y] = q.front();
        q.pop_front();
        const int dx[] = {1, -1, 0, 0}, dy[] = {0, 0, 1, -1};
        for (int d = 0; d < 4; ++d) {
            const int nx = x + dx[d], ny = y + dy[d];
            if (nx < 0 || ny < 0 || nx >= W || ny >= H || seen[ny][nx] || m[ny][nx] == '#') continue;
            seen[ny][nx] = 1;
            q.push_back({nx, ny});
        }
    }
    Pixels p;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (!seen[y][x]) p.insert({x, y});
    return p;
}

// The projections by their definition, pixel by pixel, over the mask's non-empty rows.
std::vector<unsigned> ProjectionsByPixels(const Mask& m, unsigned width)
{
    std::vector<unsigned> c(4, 0);
    const std::string* above = nullptr;
    auto at = [&](const std::string* row, int64_t x) {
        return row && x >= 0 && x < int64_t(row->size()) && x < int64_t(width) && (*row)[size_t(x)] == '#';
    };
    for (const std::string& row : m) {
        if (row.find('#') == std::string::npos) continue;
        for (size_t x = 0; x < row.size() && x < width; ++x) {
            if (row[x] != '#') continue;
            if (x == 0 || row[x - 1] != '#') ++c[0];
            c[1] += !above || !at(above, int64_t(x) + 1);
            c[2] += !above || !at(above, int64_t(x));
            c[3] += !above || !at(above, int64_t(x) - 1);
        }
        above = &row;
    }
    return c;
}

Mask RandomMask(std::mt19937& rng, int w, int h, int percent)
{
    Mask m(h, std::string(w, '.'));
    for (auto& row : m)
        for (auto& c : row) c = int(rng() % 100) < percent ? '#' : '.';
    return m;
}

} // namespace

TEST(RleShape, ComplementAndHoleFilling)
{
    const Mask ring{"###", "#.#", "###"};
    struct Case {
        const char* name;
        Mask mask;
        Mask complement; // in the same frame
        Mask filled;
    } cases[] = {
        {"ring", ring, {"...", ".#.", "..."}, {"###", "###", "###"}},
        {"full rectangle", {"###", "###"}, {"...", "..."}, {"###", "###"}},
        {"U open at the top", {"#.#", "#.#", "###"}, {".#.", ".#.", "..."}, {"#.#", "#.#", "###"}},
        {"ring with a gap to the border", {"#####", "#...#", "#.#.#", "#.#.#", "###.#"},
         {".....", ".###.", ".#.#.", ".#.#.", "...#."}, {"#####", "#...#", "#.#.#", "#.#.#", "###.#"}},
        {"two holes and an island", {"#######", "#..#..#", "#.###.#", "#..#..#", "#######"},
         {".......", ".##.##.", ".#...#.", ".##.##.", "......."},
         {"#######", "#######", "#######", "#######", "#######"}},
        {"row without pixels", {"#.#", "...", "#.#"}, {".#.", "###", ".#."}, {"#.#", "...", "#.#"}},
        {"hole touching only diagonally", {".#.", "#.#", ".#."}, {"#.#", ".#.", "#.#"}, {".#.", "###", ".#."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto [ox, oy] : {std::pair<int32_t, int32_t>{0, 0}, {40, 17}}) {
            auto rec = Record(FromMask(c.mask, 7, 0x21, ox, oy));
            auto* obj = reinterpret_cast<SKzRLEObject*>(rec.data());
            Owned comp(ObjectComplement(obj));
            ASSERT_NE(comp.p, nullptr);
            EXPECT_EQ(PixelsOf(comp.p), PixelsOf(c.complement, ox, oy));
            ExpectWellFormed(comp.p);
            EXPECT_EQ(+comp.p->uiId, 7u);
            EXPECT_EQ(+comp.p->uiState, 0x21u);
            EXPECT_EQ(+comp.p->iLeft, obj->iLeft);
            EXPECT_EQ(+comp.p->iBottom, obj->iBottom);
            Owned filled(RLEFillHolesOnObject(obj));
            ASSERT_NE(filled.p, nullptr);
            EXPECT_EQ(PixelsOf(filled.p), PixelsOf(c.filled, ox, oy));
            ExpectWellFormed(filled.p);
            EXPECT_EQ(+filled.p->uiId, 7u);
            EXPECT_EQ(+filled.p->uiState, 0x21u);
            EXPECT_EQ(+filled.p->iRight, obj->iRight);
        }
    }
    // A full rectangle's complement has no rows.
    auto full = Record(FromMask({"###", "###"}));
    Owned none(ObjectComplement(reinterpret_cast<SKzRLEObject*>(full.data())));
    EXPECT_EQ(+none.p->uiRowCount, 0u);
    EXPECT_EQ(+none.p->uiSize, 36u);
    EXPECT_EQ(+none.p->uiLastRowOffset, 36u);
    EXPECT_EQ(ObjectComplement(nullptr), nullptr);
    EXPECT_EQ(RLEFillHolesOnObject(nullptr), nullptr);
    EXPECT_EQ(GetSegmentCount(nullptr), 0u);
    EXPECT_EQ(GetSegmentCount(reinterpret_cast<SKzRLEObject*>(full.data())), 2u);

    // Runs reaching outside the box are clipped to it.
    auto wide = Record({3, 2, 0, 4, 1, 0, {{0, {{0, 4}}}, {1, {{4, 9}}}}});
    Owned clipped(ObjectComplement(reinterpret_cast<SKzRLEObject*>(wide.data())));
    EXPECT_EQ(PixelsOf(clipped.p), (Pixels{{4, 0}, {2, 1}, {3, 1}}));
    ExpectWellFormed(clipped.p);

    // Random shapes against a pixel flood.
    std::mt19937 rng(21);
    for (int i = 0; i < 200; ++i) {
        const int w = 1 + int(rng() % 24), h = 1 + int(rng() % 24);
        Mask m = RandomMask(rng, w, h, 35 + int(rng() % 40));
        auto rec = Record(FromMask(m, 1, 0, 5, 9));
        Owned filled(RLEFillHolesOnObject(reinterpret_cast<SKzRLEObject*>(rec.data())));
        ASSERT_NE(filled.p, nullptr);
        Pixels want;
        for (auto [x, y] : FillByFlood(m)) want.insert({x + 5, y + 9});
        ASSERT_EQ(PixelsOf(filled.p), want) << i;
        ExpectWellFormed(filled.p);
    }
}

TEST(RleShape, Projections)
{
    struct Case {
        const char* name;
        Mask mask;
        unsigned width;
        std::vector<unsigned> want;
    } cases[] = {
        {"2 x 2 square", {"##", "##"}, 10, {2, 3, 2, 3}},
        {"1 x 3 vertical bar", {"#", "#", "#"}, 10, {3, 3, 1, 3}},
        {"diagonal", {"#..", ".#.", "..#"}, 10, {3, 3, 3, 1}},
        {"anti-diagonal", {"..#", ".#.", "#.."}, 10, {3, 1, 3, 3}},
        {"pixels past the width ignored", {"####", "####"}, 2, {2, 3, 2, 3}},
        {"skipped row compares with the previous record", {"##", "..", "##"}, 10, {2, 3, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto rec = Record(FromMask(c.mask));
        unsigned counts[4] = {9, 9, 9, 9};
        API::Projections(reinterpret_cast<SKzRLEObject*>(rec.data()), counts, c.width);
        EXPECT_EQ(std::vector<unsigned>(counts, counts + 4), c.want);
        EXPECT_EQ(ProjectionsByPixels(c.mask, c.width), c.want); // the reference agrees with the table
    }
    // Outer projections: those of the ring with its hole filled (the 3 x 3 square).
    auto ring = Record(FromMask({"###", "#.#", "###"}));
    unsigned counts[4] = {};
    API::OuterProjections(reinterpret_cast<SKzRLEObject*>(ring.data()), counts, 10);
    EXPECT_EQ(std::vector<unsigned>(counts, counts + 4), (std::vector<unsigned>{3, 5, 3, 5}));
    API::Projections(reinterpret_cast<SKzRLEObject*>(ring.data()), counts, 10);
    EXPECT_EQ(std::vector<unsigned>(counts, counts + 4), (std::vector<unsigned>{4, 6, 4, 6}));
    API::Projections(nullptr, counts, 10);
    EXPECT_EQ(std::vector<unsigned>(counts, counts + 4), (std::vector<unsigned>{0, 0, 0, 0}));

    std::mt19937 rng(5);
    for (int i = 0; i < 200; ++i) {
        const int w = 1 + int(rng() % 30), h = 1 + int(rng() % 12);
        Mask m = RandomMask(rng, w, h, 20 + int(rng() % 60));
        if (PixelsOf(m).empty()) continue;
        const unsigned width = 1 + unsigned(rng() % 32);
        auto rec = Record(FromMask(m));
        unsigned got[4];
        API::Projections(reinterpret_cast<SKzRLEObject*>(rec.data()), got, width);
        ASSERT_EQ(std::vector<unsigned>(got, got + 4), ProjectionsByPixels(m, width)) << i;
    }
}

TEST(RleShape, RunHelpersFloodLikeTheFilling)
{
    const SKzSegment a{2, 3}, b{2, 3}, c{5, 1}, d{4, 1};
    EXPECT_TRUE(IdenticalSegments(a, b));
    EXPECT_FALSE(NotIdenticalSegments(a, b));
    EXPECT_TRUE(NotIdenticalSegments(a, c));
    EXPECT_TRUE(CompareSegments(a, c));
    EXPECT_TRUE(CompareSegments(SKzSegment{2, 2}, a));
    EXPECT_FALSE(CompareSegments(a, b));
    SKzSegment sa = a, sc = c, sd = d;
    EXPECT_FALSE(AreSegmentsVerticallyConnected(&sa, &sc)); // 2..4 and 5: touching is not overlapping
    EXPECT_TRUE(AreSegmentsVerticallyConnected(&sa, &sd));

    std::vector<unsigned char> map(2 * 4, 0);
    SKzSegment run{11, 2}; // columns 1..2 of a map whose left is 10
    EXPECT_TRUE(TestSegment(&run, 1, 10, map.data(), 4, false));
    EXPECT_EQ(map, std::vector<unsigned char>(8, 0));
    EXPECT_TRUE(TestSegment(&run, 1, 10, map.data(), 4, true));
    EXPECT_EQ(map, (std::vector<unsigned char>{0, 0, 0, 0, 0, 1, 1, 0}));
    EXPECT_FALSE(TestSegment(&run, 1, 10, map.data(), 4, true));
    SKzSegment far{30, 5};
    EXPECT_FALSE(TestSegment(&far, 0, 10, map.data(), 4, true)); // outside the map: untouched
    SKzSegment above{12, 2};
    EXPECT_TRUE(TestSegmentNeighbour(&run, &above, 0, 10, map.data(), 4));
    EXPECT_EQ(map[2], 1);

    // A flood with the exported helpers finds the same outside as the filling.
    const Mask m{"#####", "#...#", "#.#.#", "#...#", "##.##"};
    auto rec = Record(FromMask(m, 4, 0, 3, 6));
    Owned comp(ObjectComplement(reinterpret_cast<SKzRLEObject*>(rec.data())));
    const unsigned runs = GetSegmentCount(comp.p);
    std::vector<uint8_t> stack(16 * runs);
    std::vector<unsigned char> reach(25, 0);
    auto* st = reinterpret_cast<SKzRowSegment*>(stack.data());
    unsigned n = 0;
    EXPECT_EQ(GetBoundarySegment(comp.p, st, &n, reach.data(), 5), 1u); // the gap in the bottom row
    EXPECT_EQ(n, 1u);
    unsigned pushed = n;
    while (n) {
        --n;
        SKzRowSegment entry[2];
        std::memcpy(entry, stack.data() + 16 * n, 16);
        const unsigned before = n;
        FindUnseenSegmentNeighbours(entry, st, &n, comp.p, reach.data(), 5);
        pushed += n - before;
    }
    EXPECT_EQ(pushed, runs); // every background run of this shape is reached
    Owned outside(MakeObjectFromSegments(comp.p, reach.data(), 5));
    EXPECT_EQ(PixelsOf(outside.p), PixelsOf(comp.p));
    EXPECT_EQ(+outside.p->uiId, 4u);
}

TEST(RleShape, CutRectangle)
{
    struct Piece {
        uint32_t id, state;
        Pixels pixels;
    };
    auto piecesOf = [](SKzRLEPicBuf& p) {
        std::vector<Piece> v;
        for (SKzRLEObject* o = API::GetNextRLEObject(&p, nullptr); o; o = API::GetNextRLEObject(&p, o)) {
            ExpectWellFormed(o, p.uiCustomDataBytes);
            v.push_back({o->uiId, o->uiState, PixelsOf(o)});
        }
        return v;
    };
    auto expectPieces = [&](SKzRLEPicBuf& p, const std::vector<Piece>& want) {
        auto got = piecesOf(p);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(got[i].id, want[i].id);
            EXPECT_EQ(got[i].state, want[i].state);
            EXPECT_EQ(got[i].pixels, want[i].pixels);
        }
        // The result loads back: sizes, counts and the last-object offset agree.
        std::vector<uint8_t> blob(API::SaveToMemory(&p, nullptr));
        API::SaveToMemory(&p, blob.data());
        SKzRLEPicBuf back;
        API::Init(&back, p.uiCustomDataBytes, true);
        EXPECT_EQ(API::LoadFromMemory(&back, blob.data(), blob.size()), KZ_OK);
        API::Free(&back);
    };

    SKzRLEPicBuf src, dst;
    // A bar and two U shapes; the rectangle takes rows 0..1, cutting off the U bottoms.
    const Mask u{"#.#", "#.#", "###"};
    MakePainted(&src, 20, 10,
                {{4, 0, 0, 9, 0, 0x3, {{0, {{0, 10}}}}}, FromMask(u, 2, 0x10, 0, 1), FromMask(u, 9, 0x20, 5, 1)});
    ASSERT_EQ(+src.uiObjectCount, 3u);
    API::Init(&dst, 0, true);
    API::Reinit(&dst, 20, 10);

    ASSERT_EQ(API::CutRectangle(&dst, &src, 2, 0, 3, 1), KZ_OK);
    expectPieces(dst, {{4, 0x3, {{2, 0}, {3, 0}, {4, 0}}}});
    EXPECT_EQ(+dst.uiWidth, 20u);

    ASSERT_EQ(API::CutRectangle(&dst, &src, 0, 1, 20, 2), KZ_OK);
    expectPieces(dst, {{2, 0x10, {{0, 1}, {0, 2}}},
                       {10, 0x10, {{2, 1}, {2, 2}}},
                       {9, 0x20, {{5, 1}, {5, 2}}},
                       {11, 0x20, {{7, 1}, {7, 2}}}});

    // Diagonal contact keeps a piece whole (8-connectivity).
    API::Free(&src);
    MakePainted(&src, 10, 10, {FromMask({"#...", ".#..", "..##"}, 3, 0)});
    ASSERT_EQ(API::CutRectangle(&dst, &src, 0, 0, 10, 10), KZ_OK);
    expectPieces(dst, {{3, 0, {{0, 0}, {1, 1}, {2, 2}, {3, 2}}}});

    // Outside every object: no objects, result 0.
    ASSERT_EQ(API::CutRectangle(&dst, &src, 7, 7, 3, 3), KZ_OK);
    EXPECT_EQ(+dst.uiObjectCount, 0u);
    EXPECT_EQ(+dst.uiDataBytes, 0u);
    // A rectangle reaching past 2^32 columns is taken as far as it goes.
    ASSERT_EQ(API::CutRectangle(&dst, &src, 1, 1, 0xFFFFFFFFu, 0xFFFFFFFFu), KZ_OK);
    expectPieces(dst, {{3, 0, {{1, 1}, {2, 2}, {3, 2}}}});
    // In place.
    ASSERT_EQ(API::CutRectangle(&src, &src, 0, 2, 3, 1), KZ_OK);
    expectPieces(src, {{3, 0, {{2, 2}}}});

    // Custom bytes: as many as both carry, the rest zero.
    SKzRLEPicBuf withCustom, big;
    MakePainted(&withCustom, 10, 10, {FromMask({"#.#"}, 5, 1)}, 2);
    auto* data = static_cast<uint8_t*>(API::FindObjectsCustomDataByObjectID(&withCustom, 5));
    data[0] = 0xAB;
    data[1] = 0xCD;
    API::Init(&big, 4, true);
    API::Reinit(&big, 10, 10);
    ASSERT_EQ(API::CutRectangle(&big, &withCustom, 0, 0, 10, 10), KZ_OK);
    ASSERT_EQ(+big.uiObjectCount, 2u);
    for (unsigned id : {5u, 6u}) {
        const uint8_t* got = static_cast<uint8_t*>(API::FindObjectsCustomDataByObjectID(&big, id));
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(got, got + 4), (std::vector<uint8_t>{0xAB, 0xCD, 0, 0})) << id;
    }
    expectPieces(big, {{5, 1, {{0, 0}}}, {6, 1, {{2, 0}}}});

    EXPECT_EQ(API::CutRectangle(nullptr, &src, 0, 0, 1, 1), KZ_ERR_FAILED);
    EXPECT_EQ(API::CutRectangle(&dst, nullptr, 0, 0, 1, 1), KZ_ERR_FAILED);
    API::CropRectangle(&dst, &src, 0, 0, 1, 1); // does nothing
    API::Free(&src);
    API::Free(&dst);
    API::Free(&withCustom);
    API::Free(&big);
}
