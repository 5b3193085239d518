// Hosts call the library's interfaces through their virtual tables, so the
// slot order of the IKzInterface family is a binary interface. Each test
// derives a probe that answers every operation with its own mark, then calls
// the probe's table by slot index: an operation moved, added or removed in a
// base (or a destructor put elsewhere) makes a slot answer with the wrong mark.
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/IKzInterface.h"
#include "gnr_system/ImageFormatManager.h"
#include "vt5file/IKzImageFile.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

// Calls slot `slot` of the object's table as a member function of R(A...).
template <class R, class... A>
R CallSlot(void* object, size_t slot, A... args)
{
    void** table = *reinterpret_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, A...)>(table[slot])(object, args...);
}

// What each probe operation leaves behind: the name of the last operation run.
struct Marks {
    std::string last;
    bool destroyed = false;
};

// Runs slot i of a probe built in place, with the call the case gives, and
// checks the operation that answered.
struct SlotCase {
    size_t slot;
    const char* operation;
};

// ---- the root ----------------------------------------------------------------------

class RootProbe : public IKzInterface {
public:
    virtual int Next() { return 77; }
};

TEST(InterfaceSlots, RootHasOneSlotAndNoVirtualDestructor)
{
    RootProbe p;
    // Slot 0 is the root's GetClass (null); the first operation a derived
    // interface adds comes straight after it.
    EXPECT_EQ(nullptr, CallSlot<CKzClass*>(&p, 0));
    EXPECT_EQ(77, CallSlot<int>(&p, 1));
}

// ---- the class object -----------------------------------------------------------------

class ClassProbe : public CKzClass {
public:
    explicit ClassProbe(Marks& m) : CKzClass(true), m_(m) {}
    ~ClassProbe() override { m_.destroyed = true; }
    CKzClass* GetClass() override { return mark("GetClass"), this; }
    const CKzVariant* GetCKzClassInfo() const override { return m_.last = "GetCKzClassInfo", nullptr; }
    IKzInterface* QueryInterface(const char* name) override { return mark(std::string("QueryInterface ") + name), this; }
    int AddRef() override { return mark("AddRef"), 0; }
    int Release() override { return mark("Release"), 0; }
    virtual int Next() { return mark("Next"), 0; }

private:
    void mark(const std::string& s) { m_.last = s; }
    Marks& m_;
};

TEST(InterfaceSlots, ClassObjectOperationsThenDestructor)
{
    const SlotCase cases[] = {{0, "GetClass"}, {1, "GetCKzClassInfo"}, {2, "QueryInterface x"},
                              {3, "AddRef"},   {4, "Release"},         {7, "Next"}};
    Marks m;
    ClassProbe p(m);
    for (const SlotCase& c : cases) {
        m.last.clear();
        if (c.slot == 2)
            CallSlot<IKzInterface*>(&p, c.slot, "x");
        else
            CallSlot<void*>(&p, c.slot);
        EXPECT_EQ(c.operation, m.last) << "slot " << c.slot;
    }
    // Slots 5 and 6: the destructor (complete object, then deleting).
    alignas(ClassProbe) unsigned char room[sizeof(ClassProbe)];
    Marks d;
    ClassProbe* q = new (room) ClassProbe(d);
    CallSlot<void>(q, 5);
    EXPECT_TRUE(d.destroyed);
}

// ---- the format registry ----------------------------------------------------------------

class RegistryProbe : public IKzImageFormatManager {
public:
    explicit RegistryProbe(Marks& m) : m_(m) {}
    ~RegistryProbe() override { m_.destroyed = true; }
    CKzClass* GetClass() override { return mark("GetClass"), nullptr; }
    int RegisterImageFormat(IKzImageFormat*, u32*) override { return mark("RegisterImageFormat"); }
    int LoadAllImageFormats(bool) override { return mark("LoadAllImageFormats"); }
    u32 GetImageFormatCount() override { return (u32)mark("GetImageFormatCount"); }
    int GetImageFormat(u32, IKzImageFormat*&) override { return mark("GetImageFormat"); }
    int GetImageFormatByID(CKzStringA, IKzImageFormat*&) override { return mark("GetImageFormatByID"); }
    int GetImageFormatByFilename(CKzStringW, IKzImageFormat*&) override { return mark("GetImageFormatByFilename"); }
    int CopyImageFile(const wchar_t*, const wchar_t*, int, int*, KzCopyProgressFn, void*) override
    {
        return mark("CopyImageFile");
    }
    int MoveImageFile(const wchar_t*, const wchar_t*, int, int*, KzCopyProgressFn, void*) override
    {
        return mark("MoveImageFile");
    }
    int RemoveImageFile(const wchar_t*, int) override { return mark("RemoveImageFile"); }
    int GetImageFileSize(const wchar_t*, size_t*) override { return mark("GetImageFileSize"); }

private:
    int mark(const char* s)
    {
        m_.last = s;
        return 0;
    }
    Marks& m_;
};

TEST(InterfaceSlots, RegistryOperationsThenDestructor)
{
    // Every operation is called with arguments that only pass through
    // registers; the probes ignore them.
    const SlotCase cases[] = {{0, "GetClass"},
                              {1, "RegisterImageFormat"},
                              {2, "LoadAllImageFormats"},
                              {3, "GetImageFormatCount"},
                              {4, "GetImageFormat"},
                              {5, "GetImageFormatByID"},
                              {6, "GetImageFormatByFilename"},
                              {7, "CopyImageFile"},
                              {8, "MoveImageFile"},
                              {9, "RemoveImageFile"},
                              {10, "GetImageFileSize"}};
    Marks m;
    RegistryProbe p(m);
    for (const SlotCase& c : cases) {
        m.last.clear();
        if (c.slot == 5 || c.slot == 6) {
            // The by-value string arguments travel as pointers to a copy.
            IKzImageFormat* f = nullptr;
            if (c.slot == 5) {
                CKzStringA id("x");
                CallSlot<int>(&p, c.slot, &id, &f);
            } else {
                CKzStringW path(L"x");
                CallSlot<int>(&p, c.slot, &path, &f);
            }
        } else {
            CallSlot<int>(&p, c.slot, (void*)nullptr, (void*)nullptr);
        }
        EXPECT_EQ(c.operation, m.last) << "slot " << c.slot;
    }
    alignas(RegistryProbe) unsigned char room[sizeof(RegistryProbe)];
    Marks d;
    RegistryProbe* q = new (room) RegistryProbe(d);
    CallSlot<void>(q, 11);
    EXPECT_TRUE(d.destroyed);
}

// The registry the class factory hands out answers through the same slots.
TEST(InterfaceSlots, ProcessRegistryThroughItsTable)
{
    IKzInterface* any = CKzRTTI::CreateAndQuery("CKzImageFormatManagerImpl", "IKzImageFormatManager", {"no file", -1});
    auto* registry = static_cast<IKzImageFormatManager*>(any);
    ASSERT_NE(nullptr, registry);
    ASSERT_EQ(0, CallSlot<int>(registry, 2, false));   // LoadAllImageFormats
    EXPECT_EQ(registry->GetImageFormatCount(), CallSlot<u32>(registry, 3));
    EXPECT_GE(CallSlot<u32>(registry, 3), 1u);
    EXPECT_EQ(nullptr, CallSlot<CKzClass*>(registry, 0));   // no class object
    EXPECT_EQ(-5, CallSlot<int>(registry, 9, L"/tmp/none.vt5", 0));   // RemoveImageFile
}

// ---- the serialiser ----------------------------------------------------------------------

class SerializerProbe : public IKzSerializer {
public:
    explicit SerializerProbe(Marks& m) : m_(m) {}
    ~SerializerProbe() override { m_.destroyed = true; }
    int Load(CKzVariant&, const CKzVariant&) override { return m_.last = "Load", 0; }
    int Save(CKzVariant&, const CKzVariant&) override { return m_.last = "Save", 0; }

private:
    Marks& m_;
};

TEST(InterfaceSlots, SerializerOperationsThenDestructor)
{
    Marks m;
    SerializerProbe p(m);
    EXPECT_EQ(nullptr, CallSlot<CKzClass*>(&p, 0));   // the root's GetClass
    CKzVariant a, b;
    const SlotCase cases[] = {{1, "Load"}, {2, "Save"}};
    for (const SlotCase& c : cases) {
        m.last.clear();
        CallSlot<int>(&p, c.slot, &a, &b);
        EXPECT_EQ(c.operation, m.last) << "slot " << c.slot;
    }
    alignas(SerializerProbe) unsigned char room[sizeof(SerializerProbe)];
    Marks d;
    SerializerProbe* q = new (room) SerializerProbe(d);
    CallSlot<void>(q, 3);
    EXPECT_TRUE(d.destroyed);
}

// ---- image formats: their operations follow the six of the class object ------------------

class FormatProbe : public IKzImageFormat {
public:
    explicit FormatProbe(Marks& m) : IKzImageFormat(true), m_(m) {}
    int GetID(CKzStringA&) override { return mark("GetID"); }
    int GetTextDescription(CKzStringW&) override { return mark("GetTextDescription"); }
    int GetExtensions(CKzStringW&) override { return mark("GetExtensions"); }
    int IsFeatureSupported(_EKzImageFormatFeature) override { return mark("IsFeatureSupported"); }
    int IsDataFormatSupported(u32, u32, u8, u32) override { return mark("IsDataFormatSupported"); }
    int AdjustDataFormat(u32&, u32&, u8&, u32&) override { return mark("AdjustDataFormat"); }
    int IsFormatSupported(SKzImageAttributes&) override { return mark("IsFormatSupported"); }
    int AdjustFormat(SKzImageAttributes&) override { return mark("AdjustFormat"); }
    int CreateOutputImageFile(CKzStringW, IKzOutputImageFile*&) override { return mark("CreateOutputImageFile"); }
    int CreateInputImageFile(CKzStringW, IKzInputImageFile*&) override { return mark("CreateInputImageFile"); }

private:
    int mark(const char* s)
    {
        m_.last = s;
        return 0;
    }
    Marks& m_;
};

TEST(InterfaceSlots, FormatOperationsAfterTheClassObject)
{
    const SlotCase cases[] = {{7, "GetID"},
                              {8, "GetTextDescription"},
                              {9, "GetExtensions"},
                              {10, "IsFeatureSupported"},
                              {11, "IsDataFormatSupported"},
                              {12, "AdjustDataFormat"},
                              {13, "IsFormatSupported"},
                              {14, "AdjustFormat"},
                              {15, "CreateOutputImageFile"},
                              {16, "CreateInputImageFile"}};
    Marks m;
    FormatProbe p(m);
    EXPECT_EQ(static_cast<CKzClass*>(&p), CallSlot<CKzClass*>(&p, 0));   // the class object's GetClass
    CKzStringW path(L"x");
    void* out = nullptr;
    for (const SlotCase& c : cases) {
        m.last.clear();
        // Pointers in the first argument registers stand for every argument
        // list; the two creators get a real string (passed by address).
        CallSlot<int>(&p, c.slot, (void*)&path, (void*)&out);
        EXPECT_EQ(c.operation, m.last) << "slot " << c.slot;
    }
}

} // namespace
