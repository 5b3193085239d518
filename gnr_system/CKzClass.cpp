// Interface root: the class object of the image formats.
#include "gnr_system/IKzInterface.h"

CKzClass::CKzClass(bool flag) : m_iOne(1), m_bFlag(flag) {}
CKzClass::~CKzClass() {}

CKzClass* CKzClass::GetClass() { return this; }
const CKzVariant* CKzClass::GetCKzClassInfo() const { return nullptr; }
IKzInterface* CKzClass::QueryInterface(const char*) { return this; }
int CKzClass::AddRef() { return 0; }
int CKzClass::Release() { return 0; }
