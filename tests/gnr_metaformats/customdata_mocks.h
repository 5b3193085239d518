// Image-file reader and writer stand-ins for custom data tests: the writer
// keeps every custom-data chunk's bytes and every custom-data variant as its
// UTF-8 XML document under its name; the reader serves them back, parsing the
// documents again as a file reader would.
#pragma once

#include "vt5file/IKzImageFile.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"

#include <map>
#include <string>
#include <vector>

namespace kztest {

struct StoredCustomData {
    std::map<std::wstring, std::vector<unsigned char>> chunks;
    std::map<std::wstring, std::string> documents;
    std::vector<std::wstring> order;  // names in the order they were stored
};

class MockWriter : public IKzOutputImageFile {
public:
    explicit MockWriter(StoredCustomData& s) : m_s(s) {}
    virtual ~MockWriter() = default;
    int failVarWith = 0;         // SetCustomDataVar answers this when non-zero
    int failChunkAt = -1;        // the k-th SetCustomData call (0-based) fails
    int failChunkWith = -1003;
    int chunkCalls = 0;

    int AddRef() override { return 1; }
    int Release() override { return 0; }
    int Finalize() override { return 0; }
    IKzImageFormat* GetImageFormat() override { return nullptr; }
    int SetImageAttributes(const SKzImageAttributes&) override { return -2; }
    int SetImageMetadata(const SKzExperiment&, const CKzVariant*) override { return -2; }
    int SetImageMetadata(u32, const SKzPictureMetadata&, const CKzVariant*) override { return -2; }
    int SetCustomData(const wchar_t* name, const void* data, size_t length) override
    {
        if (chunkCalls++ == failChunkAt) return failChunkWith;
        const unsigned char* p = static_cast<const unsigned char*>(data);
        m_s.chunks[name].assign(p, p + length);
        m_s.order.push_back(name);
        return 0;
    }
    int FlushData(u32, void*, KzImageProgressFn, void*) override { return -2; }
    int SetCustomDataSeq(const wchar_t*, u32, const void*, size_t) override { return -2; }
    int CreateInputImageFile(u32, IKzInputImageFile*&, const SKzExperiment*) override { return -2; }
    int SetCustomDataVar(const wchar_t* name, const CKzVariant* value) override
    {
        if (failVarWith) return failVarWith;
        CKzStringA doc;
        CKzSerializerXMLString::VariantToDocument_UTF8(doc, *value);
        m_s.documents[name] = std::string(doc.GetString(), (size_t)doc.GetLength());
        m_s.order.push_back(std::wstring(L"var:") + name);
        return 0;
    }
    int SetImageTextInfo(const SKzImageTextInfo&) override { return -2; }
    int SetAcqTime(double) override { return -2; }
    int SetImageEvents(const SKzExperimentRecord&, const CKzVariant*) override { return -2; }

private:
    StoredCustomData& m_s;
};

class MockReader : public IKzInputImageFile {
public:
    explicit MockReader(const StoredCustomData& s) : m_s(s) {}
    virtual ~MockReader() = default;
    int missingChunkCode = -13;

    int AddRef() override { return 1; }
    int Release() override { return 0; }
    IKzImageFormat* GetImageFormat() override { return nullptr; }
    int GetData(u32, void*, KzImageProgressFn, void*) override { return -2; }
    int GetImageAttributes(SKzImageAttributes&) override { return -2; }
    int GetImageMetadata(SKzExperiment&, CKzVariant*) override { return -2; }
    int GetImageMetadata(u32, SKzPictureMetadata&, CKzVariant*) override { return -2; }
    int GetCustomData(const wchar_t* name, CKzByteArray& data) override
    {
        auto it = m_s.chunks.find(name);
        if (it == m_s.chunks.end()) return missingChunkCode;
        data.SetData(it->second.data(), (unsigned long)it->second.size(), CKzByteArray::eModeOpReplace,
                     CKzByteArray::eModeAllocExact);
        return 0;
    }
    int GetCustomDataSeq(const wchar_t*, u32, CKzByteArray&) override { return -2; }
    int GetComponentData(u32, u32, void*, u32, u32) override { return -2; }
    int GetCustomDataVar(const wchar_t* name, CKzVariant& value) override
    {
        auto it = m_s.documents.find(name);
        if (it == m_s.documents.end()) return -13;
        return CKzSerializerXMLString::VariantFromXML_UTF8(value, it->second.data(), (unsigned)it->second.size());
    }
    int GetCustomDataVarSeq(const wchar_t*, u32, CKzVariant&) override { return -2; }
    int GetImageTextInfo(SKzImageTextInfo&) override { return -2; }
    int GetImageBinary(void*) override { return -2; }
    int GetRectData(u32, u32, u32, u32, u32, u32, u32, void*, u32, int, KzImageProgressFn, void*) override
    {
        return -2;
    }
    int GetImageEvents(SKzExperimentRecord&, CKzVariant*) override { return -2; }

private:
    const StoredCustomData& m_s;
};

} // namespace kztest
