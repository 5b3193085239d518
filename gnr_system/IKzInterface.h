// Roots of the library's interfaces and the class factory that hands out the
// process-wide objects (the image-format registry and the XML serialiser).
#pragma once

#include "gnr_system/kz_base.h"

class CKzClass;
class CKzVariant;
class CKzStringA;

// Root of the library's interfaces. Hosts compile against the virtual
// tables of this family, so their slot order is a binary interface: the root
// has exactly one slot, GetClass; each derived interface appends its own
// operations and then its virtual destructor (the root's destructor is not
// virtual, so no object is ever deleted through the root).
#ifndef KZ_IKZINTERFACE_DEFINED
#define KZ_IKZINTERFACE_DEFINED
class KZ_EXPORT IKzInterface {
public:
    // The object's class object; the root's answer is null.
    virtual CKzClass* GetClass();

protected:
    ~IKzInterface();
};
#endif

// Base of the objects that answer interface queries (the image formats).
// Reference counting does nothing: such objects live as long as their owner
// keeps them.
class KZ_EXPORT CKzClass : public IKzInterface {
public:
    explicit CKzClass(bool flag);

    CKzClass* GetClass() override;
    // No class information is kept: null.
    virtual const CKzVariant* GetCKzClassInfo() const;
    // The object itself, whatever the name.
    virtual IKzInterface* QueryInterface(const char* name);
    virtual int AddRef();
    virtual int Release();
    // The last slot of the class object's table.
    virtual ~CKzClass();

protected:
    int m_iOne;
    bool m_bFlag;
};

// Source position a caller hands to the factory for diagnostics.
struct SKzFileLine {
    const char* pFile;
    int iLine;
};

// Class factory. Knows the two process-wide objects by class name:
// "CKzImageFormatManagerImpl" and "CKzSerializerXMLString".
class KZ_EXPORT CKzRTTI {
public:
    static CKzRTTI& getInstance();

    static IKzInterface* CreateAndQuery(const char* className, const char* interfaceName, SKzFileLine where);
    static IKzInterface* Create(const char* className, SKzFileLine where);
    static IKzInterface* Create_Fx(const char* className, SKzFileLine where);
    static IKzInterface* CreateAndQuery_Fx(const char* className, const char* interfaceName, SKzFileLine where);
    static IKzInterface* QueryInterface(IKzInterface* object, const char* name);
    static int AddRef(IKzInterface* object);
    static int Release(IKzInterface* object);
    static const CKzVariant* GetCKzClassInfo(IKzInterface* object);
    static int FindClassImpl(CKzVariant& entry, const CKzStringA& className, const CKzStringA& a,
                             const CKzStringA& b);
    static void UpdateCatalog();
    static void ForEachObject(int (*fn)(IKzInterface*, void*), void* user);
    static int AppendCatalogInRuntime(CKzVariant* catalog);

private:
    CKzRTTI() = default;
};
