// The event log: time-ordered insertion, lookups, merges and both persisted forms.
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/KzExperimentCommon.h"
#include "gnr_system/CKzAlloc.h"

#include <cstring>

typedef SKzExperimentEvent Ev;

namespace {

const u32 kBlock = 64;

// Capacity of a log of n events: n rounded up to whole blocks.
u64 capacityFor(u64 n) { return (n + kBlock - 1) / kBlock * kBlock; }

const CKzVariantRunType& recordRunType()
{
    static const CKzVariantRunType t("RKzExperimentRecord");
    return t;
}

const CKzVariantRunType& listRunType()
{
    static const CKzVariantRunType t("CKzListVariant");
    return t;
}

void makeEmpty(Ev& e) { Ev::Init(e, 0, Ev::eMeaningUnknown, nullptr, nullptr, 0); }

// Merge of dst and src into a new array; src events copied or moved.
int mergeInto(SKzExperimentRecord& dst, SKzExperimentRecord& src, bool move)
{
    const u32 nd = dst.pFirstEvent ? dst.uiCount : 0;
    const u32 ns = src.pFirstEvent ? src.uiCount : 0;
    const u64 total = (u64)nd + ns;
    if (total > 0xFFFFFFFFull) return KZ_ERR_OUT_OF_MEMORY;
    if (ns == 0) return KZ_OK;
    Ev* out = (Ev*)CKzAlloc::Alloc(1, capacityFor(total) * sizeof(Ev));
    if (!out) return KZ_ERR_OUT_OF_MEMORY;
    u32 i = 0, j = 0, k = 0, id = dst.uiLastID;
    auto takeSrc = [&]() {
        Ev& d = out[k++];
        if (move) {
            std::memcpy((void*)&d, (const void*)&src.pFirstEvent[j], sizeof(Ev));
        } else {
            makeEmpty(d);
            d = src.pFirstEvent[j];
        }
        d.uiID = ++id;
        ++j;
    };
    while (i < nd && j < ns) {
        if (!(dst.pFirstEvent[i].dTime > src.pFirstEvent[j].dTime))
            std::memcpy((void*)&out[k++], (const void*)&dst.pFirstEvent[i++], sizeof(Ev));
        else
            takeSrc();
    }
    while (i < nd) std::memcpy((void*)&out[k++], (const void*)&dst.pFirstEvent[i++], sizeof(Ev));
    while (j < ns) takeSrc();
    CKzAlloc::Free(dst.pFirstEvent);
    dst.pFirstEvent = out;
    dst.uiCount = (u32)total;
    dst.uiLastID = id;
    if (move) {
        CKzAlloc::Free(src.pFirstEvent);
        src.pFirstEvent = nullptr;
        src.uiCount = 0;
        src.uiLastID = 0;
    }
    return KZ_OK;
}

} // namespace

SKzExperimentRecord::SKzExperimentRecord() : uiCount(0), uiLastID(0), pFirstEvent(nullptr) {}

SKzExperimentRecord::~SKzExperimentRecord() { Free(*this); }

void SKzExperimentRecord::Free(SKzExperimentRecord& r)
{
    if (r.pFirstEvent)
        for (u32 i = 0; i < r.uiCount; ++i) Ev::Free(r.pFirstEvent[i]);
    CKzAlloc::Free(r.pFirstEvent);
    r.pFirstEvent = nullptr;
    r.uiCount = 0;
    r.uiLastID = 0;
}

kz_uint32 SKzExperimentRecord::AddEvent(SKzExperimentRecord& r, const SKzExperimentEvent& e, kz_uint32* index)
{
    const u32 n = r.pFirstEvent ? r.uiCount : 0;
    if (n == 0xFFFFFFFFu) return 0;
    u32 pos = 0;
    if (n > 0) {
        const Ev* ev = r.pFirstEvent;
        if (!(e.dTime < ev[n - 1].dTime)) {
            pos = n;
        } else {
            // The last event is known not to precede the new one.
            u32 lo = 0, hi = n - 1;
            while (lo < hi) {
                const u32 mid = lo + (hi - lo) / 2;
                const bool precedes = ev[mid].dTime < e.dTime || (ev[mid].dTime == e.dTime && ev[mid].uiID < e.uiID);
                if (precedes) lo = mid + 1;
                else hi = mid;
            }
            pos = lo;
        }
    }
    if (n % kBlock == 0) {
        void* p = CKzAlloc::ReAlloc(r.pFirstEvent, (size_t)capacityFor((u64)n + 1) * sizeof(Ev), 0);
        if (!p) return 0;
        r.pFirstEvent = (Ev*)p;
    }
    Ev* ev = r.pFirstEvent;
    if (pos < n) std::memmove((void*)(ev + pos + 1), (const void*)(ev + pos), (size_t)(n - pos) * sizeof(Ev));
    makeEmpty(ev[pos]);
    ev[pos].uiReserved[0] = ev[pos].uiReserved[1] = 0;
    ev[pos] = e;
    const u32 id = r.uiLastID + 1;
    ev[pos].uiID = id;
    r.uiCount = n + 1;
    r.uiLastID = id;
    if (index) *index = pos;
    return id;
}

bool SKzExperimentRecord::FindEvent(SKzExperimentRecord& r, kz_uint32 id, kz_uint32* index)
{
    if (r.pFirstEvent)
        for (u32 i = 0; i < r.uiCount; ++i)
            if (r.pFirstEvent[i].uiID == id) {
                if (index) *index = i;
                return true;
            }
    return false;
}

int SKzExperimentRecord::GetEvent(SKzExperimentRecord& r, kz_uint32 id, SKzExperimentEvent* e)
{
    u32 i;
    if (!FindEvent(r, id, &i)) return KZ_ERR_NOT_FOUND;
    if (e) *e = r.pFirstEvent[i];
    return (int)i;
}

int SKzExperimentRecord::SetEvent(SKzExperimentRecord& r, kz_uint32 id, const SKzExperimentEvent& e)
{
    u32 i;
    if (!FindEvent(r, id, &i)) return KZ_ERR_NOT_FOUND;
    r.pFirstEvent[i] = e;
    return KZ_OK;
}

int SKzExperimentRecord::RemoveEvent(SKzExperimentRecord& r, kz_uint32 id)
{
    u32 i;
    if (!FindEvent(r, id, &i)) return KZ_ERR_NOT_FOUND;
    Ev::Free(r.pFirstEvent[i]);
    std::memmove((void*)(r.pFirstEvent + i), (const void*)(r.pFirstEvent + i + 1),
                 (size_t)(r.uiCount - i - 1) * sizeof(Ev));
    --r.uiCount;
    if (r.uiCount == 0) r.uiLastID = 0;
    return KZ_OK;
}

kz_uint32 SKzExperimentRecord::FindFirst(SKzExperimentRecord& r, double t)
{
    const u32 n = r.pFirstEvent ? r.uiCount : 0;
    if (n == 0) return 0;
    u32 lo = 0, hi = n;
    while (lo < hi) {
        const u32 mid = lo + (hi - lo) / 2;
        if (r.pFirstEvent[mid].dTime < t) lo = mid + 1;
        else hi = mid;
    }
    return lo < n ? lo : n - 1;
}

int SKzExperimentRecord::GetPrevious(SKzExperimentRecord& r, double t, kz_uint32* index)
{
    const u32 n = r.pFirstEvent ? r.uiCount : 0;
    u32 lo = 0, hi = n;
    while (lo < hi) {
        const u32 mid = lo + (hi - lo) / 2;
        if (r.pFirstEvent[mid].dTime < t) lo = mid + 1;
        else hi = mid;
    }
    if (lo == 0) return KZ_ERR_FAILED;
    if (index) *index = lo - 1;
    return KZ_OK;
}

int SKzExperimentRecord::GetNext(SKzExperimentRecord& r, double t, kz_uint32* index)
{
    const u32 n = r.pFirstEvent ? r.uiCount : 0;
    if (n == 0) return KZ_ERR_FAILED;
    u32 p = FindFirst(r, t);
    if (r.pFirstEvent[p].dTime <= t + 0.01) ++p;
    if (p >= n) return KZ_ERR_FAILED;
    if (index) *index = p;
    return KZ_OK;
}

int SKzExperimentRecord::Copy(SKzExperimentRecord& dst, const SKzExperimentRecord& src)
{
    if (&dst == &src) return KZ_OK;
    return mergeInto(dst, const_cast<SKzExperimentRecord&>(src), false);
}

int SKzExperimentRecord::Merge(SKzExperimentRecord& dst, SKzExperimentRecord& src)
{
    if (&dst == &src) return KZ_OK;
    return mergeInto(dst, src, true);
}

int SKzExperimentRecord::SaveToVariant(CKzVariant& v, const SKzExperimentRecord& r)
{
    try {
        const bool old = v.EnableTypeChange(true);
        v.SetRunType(recordRunType());
        v.EnableTypeChange(old);
        CKzVariant& list = v[L"pFirstEvent"];
        if (list.IsSharedUndef()) return KZ_OK;
        if (list.GetRunType() != listRunType()) {
            const bool o2 = list.EnableTypeChange(true);
            list = CKzListVariant();
            list.EnableTypeChange(o2);
        }
        const u32 n = r.pFirstEvent ? r.uiCount : 0;
        for (u32 i = 0; i < n; ++i) {
            CKzVariant& en = list.Append(CKzVariant());
            SKzExperimentEvent::SaveToVariant(en, r.pFirstEvent[i]);
        }
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzExperimentRecord::SaveToLiteVariant(CKzLiteVariantW& w, const SKzExperimentRecord& r)
{
    if (w.LevelBegin(L"RKzExperimentRecord") != KZ_OK) return KZ_ERR_FAILED;
    const u32 n = r.pFirstEvent ? r.uiCount : 0;
    w.Set((unsigned)n, L"uiCount");
    if (w.LevelBegin(L"pEvents") == KZ_OK) {
        for (u32 i = 0; i < n; ++i) {
            if (w.LevelBegin(L"") != KZ_OK) continue;
            SKzExperimentEvent::SaveToLiteVariant(w, r.pFirstEvent[i]);
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.LevelEnd();
    return KZ_OK;
}

int SKzExperimentRecord::LoadFromVariant(SKzExperimentRecord& r, const CKzVariant& v)
{
    if (v.GetRunType() != recordRunType()) return KZ_ERR_INVALID_ARG;
    const CKzVariant* list = v.SearchFixedOneLevel(L"pFirstEvent");
    if (!list || list->GetRunType() != listRunType()) return KZ_ERR_INVALID_ARG;
    Ev scratch;
    makeEmpty(scratch);
    scratch.uiReserved[0] = scratch.uiReserved[1] = 0;
    const int n = list->GetCount();
    for (int i = 0; i < n; ++i) {
        const CKzVariant* c = list->IndexPtr(i);
        if (!c) continue;
        if (SKzExperimentEvent::LoadFromVariant(scratch, *c) == KZ_OK) AddEvent(r, scratch, nullptr);
        Ev::Free(scratch);
    }
    Ev::Free(scratch);
    return KZ_OK;
}

int SKzExperimentRecord::LoadFromLiteVariant(SKzExperimentRecord& r, CKzLiteVariantR& rd)
{
    if (rd.LevelBegin(L"RKzExperimentRecord") != KZ_OK) return KZ_ERR_FAILED;
    const u32 n = rd.Get(L"uiCount", 0u);
    int res = KZ_OK;
    if (n && rd.LevelBegin(L"pEvents") == KZ_OK) {
        const u32 old = r.pFirstEvent ? r.uiCount : 0;
        u32 k = kzexp::CountRecords(rd, n, true);
        if ((u64)old + k > 0xFFFFFFFFull) k = 0xFFFFFFFFu - old;
        if (k) {
            // A fresh zero-filled array of whole blocks; events already in
            // the log move over.
            Ev* a = (Ev*)CKzAlloc::Alloc(1, capacityFor((u64)old + k) * sizeof(Ev));
            if (!a) {
                res = KZ_ERR_OUT_OF_MEMORY;
            } else {
                if (old) std::memcpy((void*)a, (const void*)r.pFirstEvent, (size_t)old * sizeof(Ev));
                CKzAlloc::Free(r.pFirstEvent);
                r.pFirstEvent = a;
                u32 i = 0;
                for (; i < k; ++i) {
                    if (rd.CurrentLevelBegin() != KZ_OK) break;
                    Ev& e = a[old + i];
                    SKzExperimentEvent::LoadFromLiteVariant(e, rd);
                    rd.LevelEnd();
                    if (e.uiID > r.uiLastID) r.uiLastID = e.uiID;
                    if (rd.NextValue() != KZ_OK) {
                        ++i;
                        break;
                    }
                }
                r.uiCount = old + i;
            }
        }
        rd.LevelEnd();
    }
    rd.LevelEnd();
    return res;
}
