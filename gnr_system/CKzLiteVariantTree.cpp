// Conversions between variant trees and the lite-variant form.
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"
#include "gnr_system/CKzString.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t kRunTypeKey[] = L"__m_runType";

} // namespace

int CKzLiteVariantW::Set(const CKzVariant& v, const wchar_t* name)
{
    return setVariant(v, name, 0);
}

int CKzLiteVariantW::setVariant(const CKzVariant& v, const wchar_t* name, int depth)
{
    // Trees deeper than any reader rebuilds are not written below that depth.
    if (depth >= KZ_VARIANT_MAX_DEPTH) return KZ_ERR_FAILED;
    const wchar_t* nm = name ? name : v.GetName().GetString();
    int count = v.GetCount();
    if (count >= 0) {
        int lb = LevelBegin(nm);
        if (lb == KZ_ERR_OUT_OF_MEMORY) return lb;
        const char* rt = v.GetRunType().GetNameA();
        if (std::strcmp(rt, "CKzListVariant") != 0) {
            CKzStringW w(rt, 0);
            if (Set(w.GetString(), kRunTypeKey) == KZ_ERR_OUT_OF_MEMORY) return KZ_ERR_OUT_OF_MEMORY;
        }
        int result = KZ_OK;
        for (int i = 0; i < count; ++i) {
            const CKzVariant* c = v.IndexPtr(i);
            if (!c) continue;
            int r = setVariant(*c, c->GetName().GetString(), depth + 1);
            if (r == KZ_ERR_OUT_OF_MEMORY) return r;
            if (r != KZ_OK) result = r;
        }
        if (lb == KZ_OK && LevelEnd() == KZ_ERR_OUT_OF_MEMORY) return KZ_ERR_OUT_OF_MEMORY;
        return result;
    }
    const char* rt = v.GetRunType().GetNameA();
    int r = KZ_OK;
    if (!std::strcmp(rt, "bool")) {
        r = Set((bool)v.GetBool(), nm);
    } else if (!std::strcmp(rt, "kz_int32")) {
        r = Set((int)v.GetKz_int32(), nm);
    } else if (!std::strcmp(rt, "kz_uint32")) {
        r = Set((unsigned int)v.GetKz_uint32(), nm);
    } else if (!std::strcmp(rt, "kz_int64")) {
        r = Set((long)v.GetKz_int64(), nm);
    } else if (!std::strcmp(rt, "kz_uint64")) {
        r = Set((unsigned long)v.GetKz_uint64(), nm);
    } else if (!std::strcmp(rt, "double")) {
        r = Set(v.GetDouble(), nm);
    } else if (!std::strcmp(rt, "voidPtr")) {
        r = Set(v.GetVoidPtr(), nm);
    } else if (!std::strcmp(rt, "CKzByteArray")) {
        const CKzByteArray* ba = (const CKzByteArray*)v.GetValueVoidPtr();
        r = Set(*ba, nm);
    } else if (!std::strcmp(rt, "CKzStringW")) {
        CKzStringW t;
        v.Write(t);
        r = Set(t.GetString(), nm);
    } else if (nm && *nm) {
        // An undefined variant leaves an empty level under its name.
        r = LevelBegin(nm);
        if (r == KZ_OK) r = LevelEnd();
    }
    return r == KZ_ERR_OUT_OF_MEMORY ? r : KZ_OK;
}

int CKzLiteVariantR::Get(const wchar_t* name, CKzVariant& v)
{
    unsigned long off;
    if (Find(name, off) != KZ_OK) return KZ_ERR_FAILED;
    setCursor(off);
    return GetCurrentValue(v);
}

int CKzLiteVariantR::GetCurrentValue(CKzVariant& v)
{
    return rebuild(v, 0);
}

int CKzLiteVariantR::rebuild(CKzVariant& v, int depth)
{
    if (!IsNextValue()) return KZ_ERR_FAILED;
    if (depth >= MAX_DEPTH) return KZ_ERR_FAILED;
    bool prev = v.EnableTypeChange(true);
    v.MakeNull();
    // The name buffer on the heap: this recurses once per level, and a deep
    // blob must fit a small thread stack.
    std::vector<wchar_t> nameBuf(257 + 257);
    wchar_t* name = nameBuf.data();
    if (GetCurrentName(name, 256) != KZ_OK) name[0] = 0;
    v.SetName(CKzStringW(name, 0));
    u64 c = cursor();
    convertAt(c);
    u64 ext;
    u8 code = 0;
    if (!kzlv::Extent(blob(), c, levelEnd(), ext, code)) code = 0;
    switch (code) {
    case eKzLVBool: v = GetCurrentValue(false); break;
    case eKzLVInt32: v = GetCurrentValue((int)0); break;
    case eKzLVUInt32: v = GetCurrentValue((unsigned int)0); break;
    case eKzLVInt64: v = GetCurrentValue((long)0); break;
    case eKzLVUInt64: v = GetCurrentValue((unsigned long)0); break;
    case eKzLVDouble:
        // Through a double variant: assigning a NaN to a variant of another
        // type would store 1.0, and the stored value must come back unchanged.
        v = CKzVariant(GetCurrentValue(0.0));
        break;
    case eKzLVPointer: v = GetCurrentValue((void*)nullptr); break;
    case eKzLVText:
        currentText(m_text);
        v = CKzStringW(m_text.c_str(), 0);
        break;
    case eKzLVBytes: {
        CKzByteArray ba(1024);
        GetCurrentValue(ba);
        v = ba;
        break;
    }
    case eKzLVLevel: {
        if (CurrentLevelBegin(nullptr) != KZ_OK) break;
        v = CKzListVariant();
        std::string runType;
        if (IsNextValue() && GetCurrentType() == eKzLVText) {
            wchar_t* rn = name + 257;
            if (GetCurrentName(rn, 256) == KZ_OK && !std::wcscmp(rn, kRunTypeKey)) {
                currentText(m_text);
                runType = CKzStringA(m_text.c_str(), 0).GetString();
                NextValue();
            }
        }
        while (IsNextValue()) {
            CKzVariant& child = v.Append(CKzVariant());
            if (rebuild(child, depth + 1) != KZ_OK) v.Delete((unsigned)(v.GetCount() - 1));
            if (NextValue() != KZ_OK) break;
        }
        // A registered run type is applied with its sample. A structure no host
        // registered keeps its name and the members as stored (as the XML form
        // and Clone keep it); any other unknown name leaves a plain list.
        if (!runType.empty()) {
            CKzVariantRunType t(runType.c_str());
            if (CKzVariant::GetRunTypeIndex(t, false) >= 0) {
                v.SetRunTypeCompatible(t);
            } else if (t.IsStructure()) {
                if (CKzVariantData* d = v.GetData()) d->SetRunType(t);
            }
        }
        LevelEnd();
        break;
    }
    default: break;
    }
    v.EnableTypeChange(prev);
    return KZ_OK;
}
