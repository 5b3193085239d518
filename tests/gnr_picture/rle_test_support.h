// Hand-built object records and blobs for the run-length picture tests.
#pragma once

#include "gnr_picture/CKzRLEPicBufAPI.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace rletest {

struct Run {
    uint32_t x, len;
};
struct Row {
    uint32_t y;
    std::vector<Run> runs;
};
struct Obj {
    uint32_t id;
    int32_t l, t, r, b;
    uint32_t state;
    std::vector<Row> rows;
};

inline void Put(std::vector<uint8_t>& v, uint32_t x)
{
    uint8_t b[4];
    std::memcpy(b, &x, 4);
    v.insert(v.end(), b, b + 4);
}

inline uint32_t Get(const std::vector<uint8_t>& v, size_t at)
{
    uint32_t x;
    std::memcpy(&x, v.data() + at, 4);
    return x;
}

// One record with a header of `hdr` bytes (36, 44 or 49); `extra` fills header bytes 36..hdr-1.
inline std::vector<uint8_t> Record(const Obj& o, uint32_t custom = 0, uint32_t hdr = 36, uint32_t extra = 0)
{
    std::vector<uint8_t> body;
    uint32_t lastRow = hdr;
    for (const Row& row : o.rows) {
        lastRow = hdr + uint32_t(body.size());
        Put(body, row.y);
        Put(body, uint32_t(row.runs.size()));
        for (const Run& r : row.runs) {
            Put(body, r.x);
            Put(body, r.len);
        }
    }
    std::vector<uint8_t> rec;
    Put(rec, o.id);
    Put(rec, uint32_t(o.l));
    Put(rec, uint32_t(o.t));
    Put(rec, uint32_t(o.r));
    Put(rec, uint32_t(o.b));
    Put(rec, uint32_t(hdr + body.size() + custom));
    Put(rec, uint32_t(o.rows.size()));
    Put(rec, lastRow);
    Put(rec, o.state);
    while (rec.size() < hdr) Put(rec, extra), rec.resize(std::min<size_t>(rec.size(), hdr));
    rec.insert(rec.end(), body.begin(), body.end());
    rec.insert(rec.end(), custom, uint8_t(0));
    return rec;
}

inline std::vector<uint8_t> Blob(uint32_t version, uint32_t w, uint32_t h, const std::vector<Obj>& objs,
                                 uint32_t custom = 0, uint32_t extra = 0)
{
    const uint32_t hdr = version == 1 ? 49 : version == 2 ? 44 : 36;
    std::vector<uint8_t> data;
    uint32_t last = 0;
    for (const Obj& o : objs) {
        last = uint32_t(data.size());
        auto r = Record(o, custom, hdr, extra);
        data.insert(data.end(), r.begin(), r.end());
    }
    std::vector<uint8_t> blob;
    Put(blob, version);
    Put(blob, w);
    Put(blob, h);
    Put(blob, uint32_t(objs.size()));
    Put(blob, uint32_t(data.size()));
    Put(blob, objs.size() > 1 ? last : 0);
    Put(blob, custom);
    blob.insert(blob.end(), data.begin(), data.end());
    return blob;
}

// A painted picture holding the given objects.
inline void MakePainted(SKzRLEPicBuf* pic, uint32_t w, uint32_t h, const std::vector<Obj>& objs, uint32_t custom = 0)
{
    CKzRLEPicBufAPI::Init(pic, custom, true);
    CKzRLEPicBufAPI::Reinit(pic, w, h);
    auto blob = Blob(3, w, h, objs, custom);
    CKzRLEPicBufAPI::LoadFromMemory(pic, blob.data(), blob.size());
}

} // namespace rletest
