// The container's in-memory map checked against std::map: parsing a map
// chunk's entries (sorted as written, unsorted, repeated, damaged), then
// random insertions, replacements, erasures, lookups, iteration both ways
// and copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "chunker_test_support.h"
#include "vt5file/CKzFileChunkerMap.h"

using namespace ct;

namespace {

typedef std::map<std::string, std::pair<uint64_t, uint64_t>> Model;

std::unique_ptr<char[]> copyOf(const Bytes& b)
{
    std::unique_ptr<char[]> p(new char[b.size() ? b.size() : 1]);
    if (!b.empty())
        std::memcpy(p.get(), b.data(), b.size());
    return p;
}

// Map chunk data listing the entries in the given order, then the signature.
Bytes mapData(const std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>>& entries)
{
    Bytes d;
    for (const auto& e : entries) {
        d.insert(d.end(), e.first.begin(), e.first.end());
        put64(d, e.second.first);
        put64(d, e.second.second);
    }
    d.insert(d.end(), kMapSig, kMapSig + 32);
    put64(d, 12345);
    return d;
}

void expectSame(const CKzFileChunkerMap& m, const Model& model)
{
    ASSERT_EQ(m.size(), model.size());
    EXPECT_EQ(m.empty(), model.empty());
    uint64_t bytes = 0;
    for (const auto& kv : model) {
        bytes += kv.first.size();
        SKzChunkMapMember e{0, 0};
        ASSERT_TRUE(m.get(kv.first, e)) << kv.first;
        EXPECT_TRUE(m.contains(kv.first)) << kv.first;
        EXPECT_EQ(e.uiOffset, kv.second.first) << kv.first;
        EXPECT_EQ(e.uiSize, kv.second.second) << kv.first;
    }
    EXPECT_EQ(m.nameBytes(), bytes);
    // Ascending through first/next.
    std::vector<std::string> up;
    std::string_view n;
    if (m.first(n)) {
        up.emplace_back(n);
        while (m.next(up.back(), n))
            up.emplace_back(n);
    }
    std::vector<std::string> expect;
    for (const auto& kv : model)
        expect.push_back(kv.first);
    EXPECT_EQ(up, expect);
    // Descending with members.
    Model down;
    std::vector<std::string> order;
    m.forEachDescending([&](std::string_view name, const SKzChunkMapMember& e) {
        order.emplace_back(name);
        down[std::string(name)] = {e.uiOffset, e.uiSize};
    });
    EXPECT_EQ(down, model);
    EXPECT_EQ(std::vector<std::string>(order.rbegin(), order.rend()), expect);
    // Ascending from a point, stopping when asked to.
    for (const char* from : {"", "A", "ImageDataSeq|1", "ImageDataSeq|2!", "z", "\xFF"}) {
        std::vector<std::string> got, want;
        m.forEachAscendingFrom(from, [&](std::string_view name) {
            got.emplace_back(name);
            return got.size() < 7;
        });
        for (auto it = model.lower_bound(from); it != model.end() && want.size() < 7; ++it)
            want.push_back(it->first);
        EXPECT_EQ(got, want) << from;
    }
}

std::string randomName(std::mt19937& rng)
{
    // Few distinct names sharing long prefixes, so that collisions,
    // replacements and near neighbours are common.
    static const char* const prefixes[] = {"ImageDataSeq|", "ImageDataSeq|1", "A", "", "z\xC3\xA9"};
    std::string s = prefixes[rng() % 5];
    s += std::to_string(rng() % 40);
    return s + "!";
}

// Map data read in parts, perhaps on several threads; the part holding byte
// failAt (when given) cannot be read.
class PartSource : public CKzFileChunkerMapSource {
public:
    explicit PartSource(const Bytes& d, uint64_t failAt = ~uint64_t(0)) : m_d(d), m_failAt(failAt) {}
    bool read(char* to, u64 from, u64 length) const override
    {
        if (from > m_d.size() || length > m_d.size() - from)
            return false;
        if (m_failAt >= from && m_failAt - from < length)
            return false;
        std::memcpy(to, m_d.data() + from, length);
        std::lock_guard<std::mutex> hold(m_lock);
        m_read += length;
        return true;
    }
    uint64_t bytesRead() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_read;
    }

private:
    const Bytes& m_d;
    uint64_t m_failAt;
    mutable std::mutex m_lock;
    mutable uint64_t m_read = 0;
};

} // namespace

TEST(ChunkerMap, ParsesWhatTheFileLists)
{
    struct Case {
        std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> listed;
        Model expect;
    };
    const Case cases[] = {
        {{}, {}},
        {{{"b!", {1, 2}}, {"a!", {3, 4}}}, {{"a!", {3, 4}}, {"b!", {1, 2}}}},           // descending
        {{{"a!", {3, 4}}, {"b!", {1, 2}}}, {{"a!", {3, 4}}, {"b!", {1, 2}}}},           // ascending
        {{{"b!", {1, 2}}, {"b!", {9, 9}}, {"a!", {3, 4}}}, {{"a!", {3, 4}}, {"b!", {1, 2}}}},  // first wins
        {{{"c!", {5, 5}}, {"a!", {1, 1}}, {"c!", {6, 6}}, {"b!", {2, 2}}, {"a!", {7, 7}}, {"c!", {8, 8}}},
         {{"a!", {1, 1}}, {"b!", {2, 2}}, {"c!", {5, 5}}}},
        {{{std::string("x\0y!", 4), {1, 1}}, {"w!", {2, 2}}}, {{"w!", {2, 2}}}},       // zero byte dropped
        {{{"ab!", {1, 1}}, {"a!", {2, 2}}, {"!", {3, 3}}, {"\xFF!", {4, 4}}},            // byte order, unsigned
         {{"!", {3, 3}}, {"a!", {2, 2}}, {"ab!", {1, 1}}, {"\xFF!", {4, 4}}}},
    };
    for (const Case& c : cases) {
        const Bytes d = mapData(c.listed);
        CKzFileChunkerMap m;
        m.set("old!", {1, 1});
        ASSERT_EQ(m.parse(copyOf(d), d.size()), 0);
        expectSame(m, c.expect);
    }
    // Data that ends without the signature ends the list too; a cut entry fails
    // and leaves the map as it was.
    Bytes d;
    d.insert(d.end(), {'q', '!'});
    put64(d, 1);
    put64(d, 2);
    CKzFileChunkerMap m;
    ASSERT_EQ(m.parse(copyOf(d), d.size()), 0);
    expectSame(m, {{"q!", {1, 2}}});
    d.insert(d.end(), {'r', '!', 1, 2, 3});
    EXPECT_EQ(m.parse(copyOf(d), d.size()), KZ_ERR_FAILED);
    expectSame(m, {{"q!", {1, 2}}});
    Bytes noBang(600, 'x');
    EXPECT_EQ(m.parse(copyOf(noBang), noBang.size()), KZ_ERR_FAILED);
    expectSame(m, {{"q!", {1, 2}}});
}

TEST(ChunkerMap, RandomOperationsMatchAnOrderedMap)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        // Start from a parsed map (sorted as a file holds it) or from nothing.
        Model model;
        CKzFileChunkerMap m;
        if (seed % 2) {
            for (int i = 0; i < 60; ++i)
                model[randomName(rng)] = {rng(), rng()};
            std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> listed(model.rbegin(), model.rend());
            const Bytes d = mapData(listed);
            ASSERT_EQ(m.parse(copyOf(d), d.size()), 0);
        }
        expectSame(m, model);
        for (int op = 0; op < 400; ++op) {
            const std::string name = randomName(rng);
            switch (rng() % 6) {
            case 0:
            case 1: {
                const SKzChunkMapMember e{rng(), rng()};
                m.set(name, e);
                model[name] = {e.uiOffset, e.uiSize};
                break;
            }
            case 2:
                m.erase(name);
                model.erase(name);
                break;
            case 3: {
                SKzChunkMapMember e{0, 0};
                if (m.get(name, e)) {
                    ASSERT_EQ(model.count(name), 1u) << name;
                    EXPECT_EQ(e.uiOffset, model.at(name).first) << name;
                } else {
                    EXPECT_EQ(model.count(name), 0u) << name;
                    EXPECT_FALSE(m.contains(name)) << name;
                }
                break;
            }
            case 4: {
                std::string_view next;
                const auto it = model.find(name);
                const bool has = it != model.end() && std::next(it) != model.end();
                ASSERT_EQ(m.next(name, next), has) << name;
                if (has) EXPECT_EQ(std::string(next), std::next(it)->first);
                break;
            }
            default: {
                if (rng() % 8 == 0) {
                    CKzFileChunkerMap copy(m);
                    expectSame(copy, model);
                    CKzFileChunkerMap other;
                    other.set("x!", {0, 0});
                    other = copy;
                    other.swap(m);
                }
                break;
            }
            }
            if (op % 50 == 0)
                expectSame(m, model);
        }
        expectSame(m, model);
        m.clear();
        expectSame(m, {});
    }
}

// Maps of some 70 KB and of over 1 MB are walked by several chains at once
// (the larger on several threads, which also read their parts when the map
// reads its data from a source); whatever the data holds, the result must
// be that of one walk from the start: "!" bytes inside the numbers (a chain
// started there is misplaced), long names, names holding a zero byte, names
// out of order and repeated, the signature in the middle, a cut last entry.
TEST(ChunkerMap, LargeMapsParseAsOneWalkWouldOnThreads)
{
    enum Shape { Descending, Shuffled, BangNumbers, BangShortNames, LongNames, ZeroBytes, SignatureInside, CutAtEnd };
    for (const size_t count : {2500u, 60000u}) {
        for (const Shape shape :
             {Descending, Shuffled, BangNumbers, BangShortNames, LongNames, ZeroBytes, SignatureInside, CutAtEnd}) {
            std::mt19937 rng(unsigned(count) + shape);
            std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> listed;
            for (size_t i = 0; i < count; ++i) {
                char buf[32];
                std::snprintf(buf, sizeof buf, "ImageDataSeq|%08zu!", count - i);
                std::string name = buf;
                if (shape == LongNames && i % 97 == 5)
                    name = std::string(40 + i % 200, 'L') + std::to_string(i) + "!";
                if (shape == ZeroBytes && i % 101 == 7)
                    name = std::string("Zero\0Byte", 9) + std::to_string(i) + "!";
                uint64_t off = rng(), size = rng();
                if (shape == BangShortNames) {
                    // Three characters, descending: a hop of 17 bytes from a
                    // "!" in the numbers lands in the numbers again.
                    static const char digits[] =
                        "zyxwvutsrqponmlkjihgfedcbaZYXWVUTSRQPONMLKJIHGFEDCBA9876543210";
                    name = {digits[i / 3844 % 62], digits[i / 62 % 62], digits[i % 62], '!'};
                }
                if (shape == BangNumbers || shape == BangShortNames) {
                    off = 0x2121212121212121ull;
                    size = i % 3 ? 0x0021002100210021ull : 0x2100000000000021ull;
                }
                listed.push_back({name, {off, size}});
            }
            if (shape == Shuffled) {
                std::shuffle(listed.begin(), listed.end(), rng);
                for (size_t i = 0; i < count / 10; ++i) // repeats: the first listed wins
                    listed.insert(listed.begin() + rng() % listed.size(), {listed[rng() % listed.size()].first, {1, 1}});
            }
            size_t signatureAt = listed.size();
            if (shape == SignatureInside)
                signatureAt = listed.size() * 2 / 3;
            Model model;
            for (size_t i = 0; i < signatureAt; ++i)
                if (listed[i].first.find('\0') == std::string::npos)
                    model.emplace(listed[i].first, listed[i].second); // keeps the first
            Bytes d = mapData({listed.begin(), listed.begin() + signatureAt});
            if (shape == SignatureInside) {
                const Bytes rest = mapData({listed.begin() + signatureAt, listed.end()});
                d.insert(d.end(), rest.begin(), rest.end());
            }
            if (shape == CutAtEnd) {
                d = mapData(listed);
                d.resize(d.size() - 40 - 5); // the signature and 5 bytes of the last entry
            }
            CKzFileChunkerMap m;
            m.set("before!", {1, 2});
            // The same data handed over whole, and read by the map itself in
            // parts (on its threads for the larger map) from a source.
            for (int road = 0; road < 2; ++road) {
                SCOPED_TRACE(road ? "source" : "whole");
                PartSource source(d);
                const int rc = road ? m.parse(std::unique_ptr<char[]>(new char[d.size()]), d.size(), &source)
                                    : m.parse(copyOf(d), d.size());
                if (road)
                    EXPECT_EQ(source.bytesRead(), d.size()); // every byte once
                if (shape == CutAtEnd) {
                    EXPECT_EQ(rc, KZ_ERR_FAILED) << count;
                    expectSame(m, {{"before!", {1, 2}}});
                    continue;
                }
                ASSERT_EQ(rc, 0) << count << " shape " << shape;
                expectSame(m, model);
            }
            // A part that cannot be read fails the whole map, which stays as it was.
            if (shape == Descending) {
                for (const uint64_t failAt : {uint64_t(0), uint64_t(d.size() / 2), uint64_t(d.size() - 1)}) {
                    CKzFileChunkerMap f;
                    f.set("before!", {1, 2});
                    PartSource source(d, failAt);
                    EXPECT_EQ(f.parse(std::unique_ptr<char[]>(new char[d.size()]), d.size(), &source),
                              KZ_ERR_FAILED) << failAt;
                    expectSame(f, {{"before!", {1, 2}}});
                }
            }
        }
    }
}
