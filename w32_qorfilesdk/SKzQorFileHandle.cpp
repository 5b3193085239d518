// The handle table, the open sequence of a read handle, the close sequence
// and the per-frame time and stage position of a handle.
#include "w32_qorfilesdk/SKzQorFileHandle.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"
#include "gnr_system/IKzInterface.h"
#include "gnr_system/ImageFormatManager.h"
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "w32_qorfilesdk/CKzBinaryMetadata.h"
#include "w32_qorfilesdk/FileWrapperTextInfo.h"
#include "w32_qorfilesdk/internal/KzQorHandleInternal.h"

KzQorHandleMap g_mapFileHandles;
u32 g_uiHandleCounter = 1024;
SKzCriticalSectionWrapper g_sMapLock;
IKzImageFormatManager* SKzQorFileHandle::s_pImageFormatManager = nullptr;

// The lock a call on a handle holds. It outlives the handle for as long as
// a call still refers to it: m_iPins counts the holders (guarded by
// g_sMapLock), and the last one to let go of an unlinked gate deletes it.
struct kzqor::HandleGate {
    std::recursive_mutex m_Mutex;
    int m_iPins = 0;
    bool m_bUnlinked = false;
};

namespace {

// The gate of every filed record, by handle number; guarded by g_sMapLock
// like the table it runs beside.
std::map<int, kzqor::HandleGate*>& Gates()
{
    static std::map<int, kzqor::HandleGate*> gates;
    return gates;
}

// Takes a gate the caller has pinned, and lets it go (unpinning it).
void Enter(kzqor::HandleGate* gate)
{
    if (gate)
        gate->m_Mutex.lock();
}

void Leave(kzqor::HandleGate* gate)
{
    if (!gate)
        return;
    gate->m_Mutex.unlock();
    bool last;
    {
        SKzCriticalSectionLock lock(g_sMapLock);
        last = --gate->m_iPins == 0 && gate->m_bUnlinked;
    }
    if (last)
        delete gate;
}

// More components than this are not opened: fitting the plane set would
// build one description per component.
constexpr u32 kMaxComponents = 65536;

std::mutex& FormatManagerMutex()
{
    static std::mutex m;
    return m;
}

}  // namespace

// ---------------------------------------------------------------------------
// The lock

SKzCriticalSectionWrapper::SKzCriticalSectionWrapper() { pthread_mutex_init(&m_Mutex, nullptr); }

SKzCriticalSectionWrapper::~SKzCriticalSectionWrapper() { pthread_mutex_destroy(&m_Mutex); }

void SKzCriticalSectionWrapper::Lock() { pthread_mutex_lock(&m_Mutex); }

void SKzCriticalSectionWrapper::Unlock() { pthread_mutex_unlock(&m_Mutex); }

// ---------------------------------------------------------------------------
// The record

SKzQorFileHandle::SKzQorFileHandle()
    : m_pInputFile(nullptr),
      m_pOutputFile(nullptr),
      m_Attributes(),
      m_pExperiment(nullptr),
      m_pMetadata(nullptr),
      m_aAcqTimes(1024),
      m_pBinaryMetadata(nullptr),
      m_uiFrameCount(0),
      m_pStageAlignment(nullptr)
{
    std::memset(&m_Attributes, 0, sizeof(m_Attributes));
    m_Attributes.eCompression = 2;
}

SKzQorFileHandle::SKzQorFileHandle(const SKzQorFileHandle& o)
    : m_pInputFile(o.m_pInputFile),
      m_pOutputFile(o.m_pOutputFile),
      m_strFormatID(o.m_strFormatID),
      m_wsFileName(o.m_wsFileName),
      m_Attributes(o.m_Attributes),
      m_pExperiment(o.m_pExperiment),
      m_pMetadata(o.m_pMetadata),
      m_aAcqTimes(1024),
      m_pBinaryMetadata(o.m_pBinaryMetadata),
      m_TextInfo(o.m_TextInfo),
      m_CustomDescription(o.m_CustomDescription),
      m_uiFrameCount(o.m_uiFrameCount),
      m_aCustomDataMap(o.m_aCustomDataMap),
      m_aChangedTags(o.m_aChangedTags),
      m_pStageAlignment(o.m_pStageAlignment)
{
    m_aAcqTimes = o.m_aAcqTimes;
}

SKzQorFileHandle::~SKzQorFileHandle() {}

// Exchanges every member of two records.
void kzqor::SwapRecords(SKzQorFileHandle& a, SKzQorFileHandle& b)
{
    std::swap(a.m_pInputFile, b.m_pInputFile);
    std::swap(a.m_pOutputFile, b.m_pOutputFile);
    std::swap(a.m_strFormatID, b.m_strFormatID);
    std::swap(a.m_wsFileName, b.m_wsFileName);
    std::swap(a.m_Attributes, b.m_Attributes);
    std::swap(a.m_pExperiment, b.m_pExperiment);
    std::swap(a.m_pMetadata, b.m_pMetadata);
    a.m_aAcqTimes.SwapData(b.m_aAcqTimes);
    std::swap(a.m_pBinaryMetadata, b.m_pBinaryMetadata);
    for (u32 i = 0; i < SKzImageTextInfo::eCount; ++i)
        std::swap(a.m_TextInfo.wsText[i], b.m_TextInfo.wsText[i]);
    // The form has no cheap exchange; forms are small.
    CKzCustomDescription form(a.m_CustomDescription);
    a.m_CustomDescription = b.m_CustomDescription;
    b.m_CustomDescription = form;
    std::swap(a.m_uiFrameCount, b.m_uiFrameCount);
    a.m_aCustomDataMap.swap(b.m_aCustomDataMap);
    a.m_aChangedTags.swap(b.m_aChangedTags);
    std::swap(a.m_pStageAlignment, b.m_pStageAlignment);
}

// ---------------------------------------------------------------------------
// The table

namespace {

// Files a node under the next number with a gate of its own; 0 (node
// untouched, no number used) when the numbers are used up. Throws
// std::bad_alloc (nothing filed) when the gate cannot be made.
int FileNode(KzQorHandleMap::node_type& node)
{
    std::unique_ptr<kzqor::HandleGate> gate(new kzqor::HandleGate);
    SKzCriticalSectionLock lock(g_sMapLock);
    if (g_uiHandleCounter > (u32)INT_MAX)
        return 0;
    const int handle = (int)g_uiHandleCounter;
    if (g_mapFileHandles.count(handle) || !Gates().emplace(handle, gate.get()).second)  // may throw: nothing filed yet
        return 0;
    gate.release();
    ++g_uiHandleCounter;
    node.key() = handle;
    g_mapFileHandles.insert(std::move(node));
    return handle;
}

// Unlinks the record of a handle and its gate, which comes back pinned;
// false for an unknown number. Once unlinked, no lookup finds the record, so
// only calls that are already running on it can still use it.
bool Unlink(int handle, KzQorHandleMap::node_type& node, kzqor::HandleGate*& gate)
{
    gate = nullptr;
    SKzCriticalSectionLock lock(g_sMapLock);
    auto it = g_mapFileHandles.find(handle);
    if (it == g_mapFileHandles.end())
        return false;
    node = g_mapFileHandles.extract(it);
    auto g = Gates().find(handle);
    if (g != Gates().end()) {
        gate = g->second;
        Gates().erase(g);
        gate->m_bUnlinked = true;
        ++gate->m_iPins;
    }
    return true;
}

// Holds an unlinked handle's gate: waits for the call running on the handle
// and keeps later ones waiting while the record is finalized (they find the
// number unknown once they get the gate, and never touch the record).
class Drained {
public:
    explicit Drained(kzqor::HandleGate* gate) : m_pGate(gate) { Enter(m_pGate); }
    ~Drained() { Leave(m_pGate); }
    Drained(const Drained&) = delete;
    Drained& operator=(const Drained&) = delete;

private:
    kzqor::HandleGate* m_pGate;
};

}  // namespace

kzqor::HandleUse::HandleUse(int handle) : m_pGate(nullptr)
{
    {
        SKzCriticalSectionLock lock(g_sMapLock);
        auto it = Gates().find(handle);
        if (it != Gates().end()) {
            m_pGate = it->second;
            ++m_pGate->m_iPins;
        }
    }
    Enter(m_pGate);
}

kzqor::HandleUse::~HandleUse() { Leave(m_pGate); }

int SKzQorFileHandle::Append(const SKzQorFileHandle& record)
{
    try {
        // The copy is made outside the lock.
        KzQorHandleMap staging;
        staging.emplace(0, record);
        KzQorHandleMap::node_type node = staging.extract(staging.begin());
        return FileNode(node);
    } catch (...) {
        return 0;
    }
}

int SKzQorFileHandle::Append(SKzQorFileHandle&& record)
{
    try {
        KzQorHandleMap staging;
        staging.emplace(std::piecewise_construct, std::forward_as_tuple(0), std::forward_as_tuple());
        KzQorHandleMap::node_type node = staging.extract(staging.begin());
        kzqor::SwapRecords(node.mapped(), record);
        const int handle = FileNode(node);
        if (!handle)
            kzqor::SwapRecords(node.mapped(), record);
        return handle;
    } catch (...) {
        return 0;
    }
}

IKzInputImageFile* SKzQorFileHandle::GetInputFile(int handle, SKzQorFileHandle** out)
{
    SKzCriticalSectionLock lock(g_sMapLock);
    auto it = g_mapFileHandles.find(handle);
    if (it == g_mapFileHandles.end())
        return nullptr;
    if (out)
        *out = &it->second;
    return it->second.m_pInputFile;
}

IKzOutputImageFile* SKzQorFileHandle::GetOutputFile(int handle, SKzQorFileHandle** out)
{
    SKzCriticalSectionLock lock(g_sMapLock);
    auto it = g_mapFileHandles.find(handle);
    if (it == g_mapFileHandles.end())
        return nullptr;
    if (out)
        *out = &it->second;
    return it->second.m_pOutputFile;
}

SKzQorFileHandle* SKzQorFileHandle::GetHandle(int handle)
{
    SKzCriticalSectionLock lock(g_sMapLock);
    auto it = g_mapFileHandles.find(handle);
    return it == g_mapFileHandles.end() ? nullptr : &it->second;
}

kz_result SKzQorFileHandle::Remove(int handle)
{
    KzQorHandleMap::node_type node;
    kzqor::HandleGate* gate = nullptr;
    if (!Unlink(handle, node, gate))
        return KZ_ERR_NOT_FOUND;
    const Drained drained(gate);
    kzqor::DeleteStageAlignment(node.mapped().m_pStageAlignment);
    return KZ_OK;  // the node destroys the record
}

IKzImageFormatManager* SKzQorFileHandle::InitFormatManager()
{
    IKzImageFormatManager* m = __atomic_load_n(&s_pImageFormatManager, __ATOMIC_ACQUIRE);
    if (m)
        return m;
    std::lock_guard<std::mutex> lock(FormatManagerMutex());
    m = s_pImageFormatManager;
    if (m)
        return m;
    IKzInterface* made =
        CKzRTTI::CreateAndQuery("CKzImageFormatManagerImpl", "IKzImageFormatManager", SKzFileLine{"no file", -1});
    m = static_cast<IKzImageFormatManager*>(made);
    if (!m)
        return nullptr;
    m->LoadAllImageFormats(false);
    __atomic_store_n(&s_pImageFormatManager, m, __ATOMIC_RELEASE);
    return m;
}

// ---------------------------------------------------------------------------
// Opening and closing

int SKzQorFileHandle::OpenInputFile(const wchar_t* path)
{
    if (!path)
        return 0;
    IKzImageFormatManager* registry = InitFormatManager();
    if (!registry)
        return 0;
    IKzImageFormat* format = nullptr;
    try {
        if (registry->GetImageFormatByFilename(CKzStringW(path), format) != KZ_OK || !format)
            return 0;
        SKzQorFileHandle record;
        const int r = record.InitInputFile(*format, path);
        format->Release();
        format = nullptr;
        if (r != KZ_OK)
            return 0;
        const int handle = Append(std::move(record));
        if (!handle)
            record.Discard();
        return handle;
    } catch (...) {
        if (format)
            format->Release();
        return 0;
    }
}

kz_result SKzQorFileHandle::Close(int handle)
{
    KzQorHandleMap::node_type node;
    kzqor::HandleGate* gate = nullptr;
    if (!Unlink(handle, node, gate))
        return KZ_ERR_NOT_FOUND;
    // A call running on the handle ends before the record is finalized.
    const Drained drained(gate);
    try {
        return node.mapped().Finalize();
    } catch (...) {
        node.mapped().Discard();
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

void SKzQorFileHandle::Discard()
{
    if (m_pInputFile) {
        m_pInputFile->Release();
        m_pInputFile = nullptr;
    }
    if (m_pOutputFile) {
        m_pOutputFile->Release();
        m_pOutputFile = nullptr;
    }
    releaseObjects();
}

void SKzQorFileHandle::releaseObjects()
{
    SKzExperiment::FreeRecursive(m_pExperiment);
    m_pExperiment = nullptr;
    delete m_pMetadata;
    m_pMetadata = nullptr;
    delete m_pBinaryMetadata;
    m_pBinaryMetadata = nullptr;
    kzqor::DeleteStageAlignment(m_pStageAlignment);
    m_aAcqTimes.FreeData();
}

kz_result SKzQorFileHandle::Finalize()
{
    kz_result result = KZ_OK;
    if (m_pInputFile) {
        // The reader closes the file before the tags are written back.
        m_pInputFile->Release();
        m_pInputFile = nullptr;
        result = UpdateCustomData();
    }
    if (m_pOutputFile) {
        const kz_result saved = SaveCustomData();
        const kz_result finished = m_pOutputFile->Finalize();
        m_pOutputFile->Release();
        m_pOutputFile = nullptr;
        result = finished != KZ_OK ? finished : saved;
    }
    releaseObjects();
    return result;
}

kz_result SKzQorFileHandle::InitInputFile(IKzImageFormat& format, const wchar_t* path)
{
    if (!path)
        return KZ_ERR_INVALID_ARG;
    try {
        if (const int r = format.GetID(m_strFormatID); r != KZ_OK)
            return r;
        m_wsFileName = path;
        if (const int r = format.CreateInputImageFile(m_wsFileName, m_pInputFile); r != KZ_OK) {
            Discard();
            return r;
        }
        if (!m_pInputFile)
            return KZ_ERR_FAILED;
        if (const int r = m_pInputFile->GetImageAttributes(m_Attributes); r != KZ_OK) {
            Discard();
            return r;
        }
        if (m_Attributes.uiComp > kMaxComponents) {
            Discard();
            return KZ_ERR_FAILED;
        }

        // Experiment: a file without one still opens.
        if (SKzExperiment::Alloc(&m_pExperiment) == KZ_OK && m_pExperiment) {
            if (m_pInputFile->GetImageMetadata(*m_pExperiment, nullptr) != KZ_OK) {
                SKzExperiment::FreeRecursive(m_pExperiment);
                m_pExperiment = nullptr;
            }
        } else {
            m_pExperiment = nullptr;
        }

        // Picture metadata of frame 0.
        {
            SKzPictureMetadata* md = new SKzPictureMetadata();
            if (m_pInputFile->GetImageMetadata(0, *md, nullptr) == KZ_OK)
                m_pMetadata = md;
            else
                delete md;
        }

        // The plane set fitted to the file's components.
        const u32 frames = m_Attributes.uiSequenceCount;
        if (frames > 1 || (frames == 1 && m_Attributes.uiBpcSignificant > 1)) {
            if (!m_pMetadata)
                m_pMetadata = new SKzPictureMetadata();
            SKzPicturePlanes::MakeCompatible(m_pMetadata->sPicturePlanes, m_Attributes.uiComp);
        }
        // One-bit files have no planes.
        if (m_Attributes.uiBpcSignificant == 1 && m_pMetadata) {
            SKzPicturePlanes::Free(m_pMetadata->sPicturePlanes);
            m_pMetadata->sPicturePlanes.eRepresentation = 0;
        }

        loadTextInfo();

        // The writing application's version string.
        {
            CKzVariant app;
            if (m_pInputFile->GetCustomDataVar(L"AppInfo_V1_0", app) == KZ_OK) {
                if (const CKzVariant* v = app.Search(L"m_VersionString", nullptr)) {
                    bool ok = false;
                    CKzStringW text = v->GetCKzStringW(&ok);
                    if (ok)
                        m_TextInfo.wsText[14] = text;
                }
            }
        }

        loadBinaryDescriptors();
        LoadCustomData();

        // Acquisition-time cache.
        if (m_pInputFile->GetCustomData(L"AcqTimesCache", m_aAcqTimes) != KZ_OK)
            m_aAcqTimes.SetSize(0);
        CheckAcqTimes(m_aAcqTimes);

        // Custom description form.
        {
            CKzLiteVariantR form;
            if (m_pInputFile->GetCustomData(L"CustomDescriptionV1_0", form) == KZ_OK) {
                form.Reset();
                m_CustomDescription.LoadFromLiteVariant(form);
            }
        }
        return KZ_OK;
    } catch (...) {
        Discard();
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

void SKzQorFileHandle::loadTextInfo()
{
    // Without frame metadata the templates take their values from an empty record.
    SKzPictureMetadata empty;
    SKzPictureMetadata& md = m_pMetadata ? *m_pMetadata : empty;
    FileWrapperTextInfo templates(md, m_pExperiment);
    templates.RegisterInfoSymbols();
    for (u32 i = 0; i < SKzImageTextInfo::eCount; ++i)
        m_TextInfo.wsText[i].Empty();
    FileWrapperTextInfo::ClearImageTextInfoInit(m_TextInfo);
    m_pInputFile->GetImageTextInfo(m_TextInfo);
    templates.AddDefaultsToTextInfo(m_TextInfo, m_TextInfo, templates.GetDefaults(), false, md, m_pExperiment);
}

void SKzQorFileHandle::loadBinaryDescriptors()
{
    m_pBinaryMetadata = new CKzBinaryMetadata();
    if (m_pBinaryMetadata->LoadFromInputFile(m_pInputFile) == KZ_OK)
        return;
    bool makeDefault = m_Attributes.uiBpcSignificant == 1;
    if (!makeDefault && m_Attributes.uiSequenceCount > 1) {
        CKzByteArray first;
        makeDefault = m_pInputFile->GetCustomDataSeq(L"BinarySeqV1_0", 0, first) == KZ_OK;
    }
    if (makeDefault) {
        m_pBinaryMetadata->Clear();
        CKzBinaryMetadata::SKzBinaryItem item;
        CKzBinaryMetadata::InitItem(item);
        item.uiState = CKzBinaryMetadata::eStateDefault;
        item.strName = L"Binary";
        m_pBinaryMetadata->AddItem(item);
        return;
    }
    delete m_pBinaryMetadata;
    m_pBinaryMetadata = nullptr;
}

// ---------------------------------------------------------------------------
// Times and positions

kz_result SKzQorFileHandle::CheckAcqTimes(CKzByteArray& times)
{
    const u64 size = times.GetSize();
    if (size < 8)
        return KZ_ERR_FAILED;
    const u64 count = size / 8;
    unsigned char* bytes = times.GetData(times.GetSize());
    if (!bytes)
        return KZ_ERR_FAILED;
    // Only known times are compared: a frame whose time was never recorded
    // (-1, or a value that is not a number) stays unknown, and the evenly
    // spaced times replace a cache only when its known times go backwards.
    bool known = false;
    double previous = 0.0;
    for (u64 i = 0; i < count; ++i) {
        double t;
        std::memcpy(&t, bytes + i * 8, 8);
        if (t == -1.0 || !std::isfinite(t))
            continue;
        if (known && t < previous) {
            for (u64 j = 0; j < count; ++j) {
                const double even = (double)j * 100.0;
                std::memcpy(bytes + j * 8, &even, 8);
            }
            break;
        }
        previous = t;
        known = true;
    }
    return KZ_OK;
}

kz_result SKzQorFileHandle::GetLocalAcqTime(u32 frame, double* time)
{
    const u64 needed = ((u64)frame + 1) * 8;
    if ((u64)m_aAcqTimes.GetSize() >= needed) {
        if (time)
            std::memcpy(time, m_aAcqTimes.GetData() + (u64)frame * 8, 8);
        return KZ_OK;
    }
    if (!m_pInputFile)
        return KZ_ERR_FAILED;
    try {
        SKzPictureMetadata md;
        const int r = m_pInputFile->GetImageMetadata(frame, md, nullptr);
        if (r == KZ_OK && time)
            *time = md.dTimeMSec;
        return r;
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

kz_result SKzQorFileHandle::GetLocalPos(u32 frame, double* x, double* y, double* z)
{
    if (!x || !y || !z)
        return KZ_ERR_INVALID_ARG;
    std::vector<u32> positions;
    u32 levels = 0;
    if (m_pExperiment) {
        CKzExperimentAPI::CalcPosFromIdx(m_pExperiment, frame, nullptr, &levels);
        if (levels == 0)
            return KZ_ERR_NOT_FOUND;
        try {
            positions.assign(levels, 0);
        } catch (const std::bad_alloc&) {
            return KZ_ERR_OUT_OF_MEMORY;
        }
        u32 again = levels;
        CKzExperimentAPI::CalcPosFromIdx(m_pExperiment, frame, positions.data(), &again);
    }

    double px = 0.0, py = 0.0, pz = 0.0;
    if (m_pMetadata) {
        px = m_pMetadata->dXPos;
        py = m_pMetadata->dYPos;
        pz = m_pMetadata->dZPos;
    }

    const SKzExperiment* level = m_pExperiment;
    for (u32 i = 0; i < levels && level; ++i) {
        const u32 pos = positions[i];
        if (level->eType == SKzExperiment::eExpXYPosLoop) {
            const SKzExperiment::SKzExpXYPosLoop& loop = level->uLoopPars.sXYPosLoop;
            // An item is taken only when it lies inside the level.
            u32 item = loop.uiCount;
            if (level->pItemValid) {
                u32 seen = 0;
                for (u32 j = 0; j < loop.uiCount; ++j) {
                    if (!level->pItemValid[j])
                        continue;
                    if (seen++ == pos) {
                        item = j;
                        break;
                    }
                }
            } else if (pos < loop.uiCount) {
                item = pos;
            }
            if (item < loop.uiCount) {
                if (loop.dPosX)
                    px = loop.dPosX[item];
                if (loop.dPosY)
                    py = loop.dPosY[item];
            }
        } else if (level->eType == SKzExperiment::eExpZStackLoop) {
            const SKzExperiment::SKzExpZStackLoop& loop = level->uLoopPars.sZStackLoop;
            double step = loop.dZStep;
            if (!(step > 0.0)) {
                double derived = step;
                if (CKzExperimentAPI::GetZStackStepSize(level, &derived) == KZ_OK)
                    step = derived;
            }
            double m = CKzExperimentAPI::GetZStackFirstMovePosition(loop, 0.0);
            if (!loop.bAbsolute)
                m -= loop.dZHome;
            if (loop.iType <= 3)
                pz = (double)pos * step + loop.dReferencePosition;
            else
                pz = loop.dReferencePosition - (double)pos * step;
            pz = loop.bZInverted ? pz - m : pz + m;
        }
        level = CKzExperimentAPI::GetNextLevelExperiment(level, pos);
    }
    *x = px;
    *y = py;
    *z = pz;
    return KZ_OK;
}
