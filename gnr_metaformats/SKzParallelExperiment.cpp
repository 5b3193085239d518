// Parallel tasks: lookup, time-ordered insertion, copies and both persisted forms.
#include "gnr_metaformats/SKzParallelExperiment.h"
#include "gnr_metaformats/KzExperimentCommon.h"
#include "gnr_system/CKzAlloc.h"

#include <cstring>

using kzexp::DblEq;
using kzexp::SetFixed;

typedef SKzParallelExperiment::SKzParallelEvent PEvent;
typedef SKzParallelExperiment::SKzParallelTask PTask;

const kz_uint32 SKzParallelExperiment::ID_TASK_STIMULATION = 0;
const kz_uint32 SKzParallelExperiment::ID_TRIGGER_NONE = 0;
const kz_uint32 SKzParallelExperiment::ID_TRIGGER_STIMULATION_MANUAL = 101;
const kz_uint32 SKzParallelExperiment::ID_TRIGGER_CUSTOM = 1000;

namespace {

bool eventEqual(const PEvent& a, const PEvent& b)
{
    return DblEq(a.dTimeStart, b.dTimeStart) && DblEq(a.dTimeDuration, b.dTimeDuration) &&
           DblEq(a.dTimeStep, b.dTimeStep) && a.uiCount == b.uiCount && a.uiTriggerID == b.uiTriggerID &&
           kzexp::FixedEqual(a.sCommand, b.sCommand) && a.uiROIs == b.uiROIs;
}

bool present(const CKzVariant* v) { return v && !v->IsUndefined(); }

void eventFromVariant(PEvent& ev, const CKzVariant& n)
{
    const CKzVariant* p;
    if (present(p = n.SearchFixedOneLevel(L"dTimeStart"))) ev.dTimeStart = p->GetDouble();
    if (present(p = n.SearchFixedOneLevel(L"dTimeDuration"))) ev.dTimeDuration = p->GetDouble();
    if (present(p = n.SearchFixedOneLevel(L"dTimeStep"))) ev.dTimeStep = p->GetDouble();
    if (present(p = n.SearchFixedOneLevel(L"uiCount"))) ev.uiCount = p->GetKz_uint32();
    if (present(p = n.SearchFixedOneLevel(L"uiTriggerID"))) ev.uiTriggerID = p->GetKz_uint32();
    if (present(p = n.SearchFixedOneLevel(L"sCommand"))) {
        CKzStringW s = p->GetCKzStringW();
        if (!s.IsEmpty()) SetFixed(ev.sCommand, 256, s.GetString());
    }
    if (present(p = n.SearchFixedOneLevel(L"uiROIs"))) ev.uiROIs = p->GetKz_uint32();
}

} // namespace

SKzParallelExperiment::SKzParallelExperiment() : uiTaskCount(0), pTasks(nullptr) {}

SKzParallelExperiment::~SKzParallelExperiment() { Clear(*this); }

int SKzParallelExperiment::Clear(SKzParallelExperiment& e)
{
    if (e.pTasks)
        for (u32 i = 0; i < e.uiTaskCount; ++i) CKzAlloc::Free(e.pTasks[i].pEvents);
    CKzAlloc::Free(e.pTasks);
    e.pTasks = nullptr;
    e.uiTaskCount = 0;
    return KZ_OK;
}

int SKzParallelExperiment::FindTask(const SKzParallelExperiment& e, kz_uint32 id, kz_uint32* index)
{
    if (e.pTasks)
        for (u32 i = 0; i < e.uiTaskCount; ++i)
            if (e.pTasks[i].uiTaskID == id) {
                if (index) *index = i;
                return KZ_OK;
            }
    return KZ_ERR_NOT_FOUND;
}

int SKzParallelExperiment::FindEvent(const SKzParallelTask& task, double t, kz_uint32* index, int start)
{
    const u32 n = task.pEvents ? task.uiEventCount : 0;
    if (n == 0) return KZ_ERR_NOT_FOUND;
    const PEvent* ev = task.pEvents;
    if (start >= 0 && (u32)start < n && ev[start].uiTriggerID == ID_TRIGGER_NONE && ev[start].dTimeStart > t) {
        u32 found = 0;
        for (int i = start - 1; i >= 0; --i)
            if (!(ev[i].dTimeStart > t)) {
                found = (u32)i + 1;
                break;
            }
        if (index) *index = found;
        return KZ_OK;
    }
    for (i64 i = start < 0 ? 0 : (i64)start + 1; i < (i64)n; ++i)
        if (ev[i].uiTriggerID == ID_TRIGGER_NONE && !(ev[i].dTimeStart < t)) {
            if (index) *index = (u32)i;
            return KZ_OK;
        }
    return KZ_ERR_NOT_FOUND;
}

int SKzParallelExperiment::FindTriggeredEvent(const SKzParallelTask& task, kz_uint32 trigger, kz_uint32* index)
{
    if (task.pEvents)
        for (u32 i = 0; i < task.uiEventCount; ++i)
            if (task.pEvents[i].uiTriggerID == trigger) {
                if (index) *index = i;
                return KZ_OK;
            }
    return KZ_ERR_NOT_FOUND;
}

int SKzParallelExperiment::AddEvent(SKzParallelExperiment& e, kz_uint32 taskID, double start, double duration,
                                    double step, kz_uint32 count, kz_uint32 trigger, const wchar_t* command,
                                    kz_uint32 rois, kz_uint32* index)
{
    u32 ti;
    if (FindTask(e, taskID, &ti) != KZ_OK) {
        const u32 n = e.pTasks ? e.uiTaskCount : 0;
        if (n == 0xFFFFFFFFu) return KZ_ERR_OUT_OF_MEMORY;
        void* p = CKzAlloc::ReAlloc(e.pTasks, (size_t)(n + 1) * sizeof(PTask), 0);
        if (!p) return KZ_ERR_OUT_OF_MEMORY;
        e.pTasks = (PTask*)p;
        e.pTasks[n].uiTaskID = taskID;
        e.pTasks[n].uiEventCount = 0;
        e.pTasks[n].pEvents = nullptr;
        e.uiTaskCount = n + 1;
        ti = n;
    }
    PTask& task = e.pTasks[ti];
    const u32 n = task.pEvents ? task.uiEventCount : 0;
    if (n == 0xFFFFFFFFu) return KZ_ERR_OUT_OF_MEMORY;
    void* p = CKzAlloc::ReAlloc(task.pEvents, (size_t)(n + 1) * sizeof(PEvent), 0);
    if (!p) return KZ_ERR_OUT_OF_MEMORY;
    task.pEvents = (PEvent*)p;
    task.uiEventCount = n;
    u32 at;
    if (FindEvent(task, start, &at, -1) != KZ_OK) at = n;
    if (at < n) std::memmove(task.pEvents + at + 1, task.pEvents + at, (size_t)(n - at) * sizeof(PEvent));
    PEvent& ev = task.pEvents[at];
    ev.dTimeStart = start;
    ev.dTimeDuration = duration;
    ev.dTimeStep = step;
    ev.uiCount = count;
    ev.uiTriggerID = trigger;
    ev.uiROIs = rois;
    SetFixed(ev.sCommand, 256, command);
    task.uiEventCount = n + 1;
    if (index) *index = at;
    return KZ_OK;
}

int SKzParallelExperiment::RemoveEvent(SKzParallelExperiment& e, kz_uint32 taskID, kz_uint32 i)
{
    u32 ti;
    if (FindTask(e, taskID, &ti) != KZ_OK) return KZ_ERR_NOT_FOUND;
    PTask& task = e.pTasks[ti];
    if (!task.pEvents || i >= task.uiEventCount) return KZ_ERR_NOT_FOUND;
    std::memmove(task.pEvents + i, task.pEvents + i + 1, (size_t)(task.uiEventCount - i - 1) * sizeof(PEvent));
    --task.uiEventCount;
    return KZ_OK;
}

int SKzParallelExperiment::RemoveTask(SKzParallelExperiment& e, kz_uint32 taskID)
{
    u32 ti;
    if (FindTask(e, taskID, &ti) != KZ_OK) return KZ_ERR_NOT_FOUND;
    CKzAlloc::Free(e.pTasks[ti].pEvents);
    std::memmove(e.pTasks + ti, e.pTasks + ti + 1, (size_t)(e.uiTaskCount - ti - 1) * sizeof(PTask));
    --e.uiTaskCount;
    return KZ_OK;
}

int SKzParallelExperiment::Copy(SKzParallelExperiment& dst, const SKzParallelExperiment& src)
{
    if (&dst == &src) return KZ_OK;
    Clear(dst);
    const u32 n = src.pTasks ? src.uiTaskCount : 0;
    if (n == 0) return KZ_OK;
    dst.pTasks = (PTask*)CKzAlloc::Alloc(1, (size_t)n * sizeof(PTask));
    if (!dst.pTasks) return KZ_ERR_OUT_OF_MEMORY;
    dst.uiTaskCount = n;
    int r = KZ_OK;
    for (u32 i = 0; i < n; ++i) {
        const PTask& s = src.pTasks[i];
        PTask& d = dst.pTasks[i];
        d.uiTaskID = s.uiTaskID;
        const u32 m = s.pEvents ? s.uiEventCount : 0;
        if (m == 0) continue;
        d.pEvents = (PEvent*)CKzAlloc::Alloc(1, (size_t)m * sizeof(PEvent));
        if (!d.pEvents) {
            r = KZ_ERR_OUT_OF_MEMORY;
            continue;
        }
        d.uiEventCount = m;
        for (u32 j = 0; j < m; ++j) {
            d.pEvents[j] = s.pEvents[j];
            SetFixed(d.pEvents[j].sCommand, 256, s.pEvents[j].sCommand);
        }
    }
    return r;
}

bool SKzParallelExperiment::IsEqual(const SKzParallelExperiment& a, const SKzParallelExperiment& b)
{
    const u32 na = a.pTasks ? a.uiTaskCount : 0, nb = b.pTasks ? b.uiTaskCount : 0;
    if (na != nb) return false;
    for (u32 i = 0; i < na; ++i) {
        const PTask& ta = a.pTasks[i];
        u32 j;
        if (FindTask(b, ta.uiTaskID, &j) != KZ_OK) return false;
        const PTask& tb = b.pTasks[j];
        const u32 ma = ta.pEvents ? ta.uiEventCount : 0, mb = tb.pEvents ? tb.uiEventCount : 0;
        if (ma != mb) return false;
        for (u32 k = 0; k < ma; ++k)
            if (!eventEqual(ta.pEvents[k], tb.pEvents[k])) return false;
    }
    return true;
}

int SKzParallelExperiment::SaveToVariant(CKzVariant& v, const SKzParallelExperiment& e)
{
    const bool old = v.EnableTypeChange(true);
    int r = KZ_OK;
    try {
        v.MakeNull();
        v = CKzListVariant();
        v.SetName(CKzStringW(L"sParallelExperiment"));
        const u32 n = e.pTasks ? e.uiTaskCount : 0;
        if (n) {
            v.Append(CKzVariant((unsigned)n, CKzStringW(L"uiTaskCount")));
            CKzVariant& tasks = v.Append(CKzVariant(CKzListVariant(), CKzStringW(L"pTasks")));
            for (u32 i = 0; i < n; ++i) {
                const PTask& t = e.pTasks[i];
                CKzVariant& tn = tasks.Append(CKzVariant(CKzListVariant(), CKzStringW()));
                tn.Append(CKzVariant((unsigned)t.uiTaskID, CKzStringW(L"uiTaskID")));
                const u32 m = t.pEvents ? t.uiEventCount : 0;
                tn.Append(CKzVariant((unsigned)m, CKzStringW(L"uiEventCount")));
                CKzVariant& evs = tn.Append(CKzVariant(CKzListVariant(), CKzStringW(L"pEvents")));
                for (u32 j = 0; j < m; ++j) {
                    const PEvent& ev = t.pEvents[j];
                    CKzVariant& en = evs.Append(CKzVariant(CKzListVariant(), CKzStringW()));
                    en.Append(CKzVariant(ev.dTimeStart, CKzStringW(L"dTimeStart")));
                    en.Append(CKzVariant(ev.dTimeDuration, CKzStringW(L"dTimeDuration")));
                    en.Append(CKzVariant(ev.dTimeStep, CKzStringW(L"dTimeStep")));
                    en.Append(CKzVariant((unsigned)ev.uiCount, CKzStringW(L"uiCount")));
                    en.Append(CKzVariant((unsigned)ev.uiTriggerID, CKzStringW(L"uiTriggerID")));
                    wchar_t cmd[256];
                    SetFixed(cmd, 256, ev.sCommand);
                    en.Append(CKzVariant(CKzStringW(cmd), CKzStringW(L"sCommand")));
                    en.Append(CKzVariant((unsigned)ev.uiROIs, CKzStringW(L"uiROIs")));
                }
            }
        }
    } catch (...) {
        r = KZ_ERR_OUT_OF_MEMORY;
    }
    v.EnableTypeChange(old);
    return r;
}

int SKzParallelExperiment::LoadFromVariant(SKzParallelExperiment& e, const CKzVariant& v)
{
    Clear(e);
    try {
        const CKzVariant* cnt = v.SearchFixedOneLevel(L"uiTaskCount");
        if (!present(cnt)) return KZ_OK;
        const CKzVariant* tasks = v.SearchFixedOneLevel(L"pTasks");
        if (!tasks) return KZ_ERR_FAILED;
        u32 n = cnt->GetKz_uint32();
        const int stored = tasks->GetCount();
        if (stored <= 0) return KZ_OK;
        if (n > (u32)stored) n = (u32)stored;
        if (n == 0) return KZ_OK;
        e.pTasks = (PTask*)CKzAlloc::Alloc(1, (size_t)n * sizeof(PTask));
        if (!e.pTasks) return KZ_ERR_OUT_OF_MEMORY;
        e.uiTaskCount = n;
        for (u32 i = 0; i < n; ++i) {
            const CKzVariant* tn = tasks->IndexPtr((int)i);
            if (!tn) continue;
            PTask& t = e.pTasks[i];
            const CKzVariant* p = tn->SearchFixedOneLevel(L"uiTaskID");
            if (present(p)) t.uiTaskID = p->GetKz_uint32();
            p = tn->SearchFixedOneLevel(L"uiEventCount");
            if (!present(p)) continue;
            u32 m = p->GetKz_uint32();
            const CKzVariant* evs = tn->SearchFixedOneLevel(L"pEvents");
            const int se = evs ? evs->GetCount() : 0;
            if (se <= 0) continue;
            if (m > (u32)se) m = (u32)se;
            if (m == 0) continue;
            t.pEvents = (PEvent*)CKzAlloc::Alloc(1, (size_t)m * sizeof(PEvent));
            if (!t.pEvents) return KZ_ERR_OUT_OF_MEMORY;
            t.uiEventCount = m;
            for (u32 j = 0; j < m; ++j)
                if (const CKzVariant* en = evs->IndexPtr((int)j)) eventFromVariant(t.pEvents[j], *en);
        }
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzParallelExperiment::SaveToLiteVariant(CKzLiteVariantW& w, const SKzParallelExperiment& e)
{
    const u32 n = e.pTasks ? e.uiTaskCount : 0;
    w.Set((unsigned)n, L"uiTaskCount");
    if (n == 0 || w.LevelBegin(L"pTasks") != KZ_OK) return KZ_OK;
    for (u32 i = 0; i < n; ++i) {
        const PTask& t = e.pTasks[i];
        if (w.LevelBegin(L"") != KZ_OK) continue;
        const u32 m = t.pEvents ? t.uiEventCount : 0;
        w.Set((unsigned)t.uiTaskID, L"uiTaskID");
        w.Set((unsigned)m, L"uiEventCount");
        if (m && w.LevelBegin(L"pEvents") == KZ_OK) {
            for (u32 j = 0; j < m; ++j) {
                const PEvent& ev = t.pEvents[j];
                if (w.LevelBegin(L"") != KZ_OK) continue;
                wchar_t cmd[256];
                SetFixed(cmd, 256, ev.sCommand);
                w.Set(ev.dTimeDuration, L"dTimeDuration");
                w.Set(ev.dTimeStart, L"dTimeStart");
                w.Set(ev.dTimeStep, L"dTimeStep");
                w.Set(cmd, L"sCommand");
                w.Set((unsigned)ev.uiCount, L"uiCount");
                w.Set((unsigned)ev.uiROIs, L"uiROIs");
                w.Set((unsigned)ev.uiTriggerID, L"uiTriggerID");
                w.LevelEnd();
            }
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.LevelEnd();
    return KZ_OK;
}

int SKzParallelExperiment::LoadFromLiteVariant(SKzParallelExperiment& e, CKzLiteVariantR& r)
{
    Clear(e);
    u32 n = r.Get(L"uiTaskCount", 0u);
    if (n == 0 || r.LevelBegin(L"pTasks") != KZ_OK) return KZ_OK;
    n = kzexp::CountRecords(r, n, false);
    int res = KZ_OK;
    if (n) {
        e.pTasks = (PTask*)CKzAlloc::Alloc(1, (size_t)n * sizeof(PTask));
        if (!e.pTasks) res = KZ_ERR_OUT_OF_MEMORY;
        else e.uiTaskCount = n;
    }
    for (u32 i = 0; i < e.uiTaskCount; ++i) {
        if (r.CurrentLevelBegin() == KZ_OK) {
            PTask& t = e.pTasks[i];
            t.uiTaskID = r.Get(L"uiTaskID", 0u);
            u32 m = r.Get(L"uiEventCount", 0u);
            if (m && r.LevelBegin(L"pEvents") == KZ_OK) {
                m = kzexp::CountRecords(r, m, false);
                if (m) t.pEvents = (PEvent*)CKzAlloc::Alloc(1, (size_t)m * sizeof(PEvent));
                if (m && !t.pEvents) res = KZ_ERR_OUT_OF_MEMORY;
                else t.uiEventCount = m;
                for (u32 j = 0; j < t.uiEventCount; ++j) {
                    if (r.CurrentLevelBegin() == KZ_OK) {
                        PEvent& ev = t.pEvents[j];
                        ev.dTimeDuration = r.Get(L"dTimeDuration", 0.0);
                        ev.dTimeStart = r.Get(L"dTimeStart", 0.0);
                        ev.dTimeStep = r.Get(L"dTimeStep", 0.0);
                        kzexp::ReadFixed(r, L"sCommand", ev.sCommand);
                        ev.uiCount = r.Get(L"uiCount", 0u);
                        ev.uiROIs = r.Get(L"uiROIs", 0u);
                        ev.uiTriggerID = r.Get(L"uiTriggerID", 0u);
                        r.LevelEnd();
                    }
                    if (r.NextValue() != KZ_OK) break;
                }
                r.LevelEnd();
            }
            r.LevelEnd();
        }
        if (r.NextValue() != KZ_OK) break;
    }
    r.LevelEnd();
    return res;
}
