// CObject: run-time class information through a small class tree, creation by
// class, destruction through the base, the diagnostic dump, and the order of
// the virtual slots, which code built against the platform's framework relies on.
#include <afx.h>

#include <gtest/gtest.h>

#include <cstring>

#include "common/fresh_root.h"

namespace {

int g_destroyed = 0;

class CShape : public CObject {
  DECLARE_DYNAMIC(CShape)
 public:
  ~CShape() override { ++g_destroyed; }
};
IMPLEMENT_DYNAMIC(CShape, CObject)

class CCircle : public CShape {
  DECLARE_DYNCREATE(CCircle)
 public:
  ~CCircle() override { ++g_destroyed; }
  double radius = 1.0;
};
IMPLEMENT_DYNCREATE(CCircle, CShape)

class CUnrelated : public CObject {
  DECLARE_DYNAMIC(CUnrelated)
};
IMPLEMENT_DYNAMIC(CUnrelated, CObject)

class ObjectTest : public testing_support::FreshRoot {};

TEST_F(ObjectTest, RuntimeClassesFollowTheClassTree) {
  CCircle circle;
  const CObject& object = circle;
  CRuntimeClass* rc = object.GetRuntimeClass();
  EXPECT_STREQ(rc->m_lpszClassName, "CCircle");
  EXPECT_EQ(rc->m_nObjectSize, static_cast<int>(sizeof(CCircle)));
  EXPECT_EQ(rc->m_pBaseClass, RUNTIME_CLASS(CShape));
  EXPECT_EQ(RUNTIME_CLASS(CShape)->m_pBaseClass, RUNTIME_CLASS(CObject));
  EXPECT_EQ(RUNTIME_CLASS(CObject)->m_pBaseClass, nullptr);

  EXPECT_TRUE(object.IsKindOf(RUNTIME_CLASS(CCircle)));
  EXPECT_TRUE(object.IsKindOf(RUNTIME_CLASS(CShape)));
  EXPECT_TRUE(object.IsKindOf(RUNTIME_CLASS(CObject)));
  EXPECT_FALSE(object.IsKindOf(RUNTIME_CLASS(CUnrelated)));
  EXPECT_FALSE(object.IsKindOf(nullptr));
  CShape shape;
  EXPECT_FALSE(shape.IsKindOf(RUNTIME_CLASS(CCircle)));  // a base is not its derived class
  EXPECT_FALSE(shape.IsSerializable());
  CUnrelated other;
  EXPECT_FALSE(other.IsKindOf(RUNTIME_CLASS(CShape)));
  EXPECT_TRUE(other.IsKindOf(RUNTIME_CLASS(CObject)));
}

TEST_F(ObjectTest, FrameworkClassesKnowTheirPlace) {
  AFX_EXTENSION_MODULE module = {FALSE, nullptr, nullptr, nullptr, nullptr};
  CDynLinkLibrary* dll = new CDynLinkLibrary(reinterpret_cast<HINSTANCE>(&module), nullptr);
  ASSERT_NE(dll, nullptr);
  EXPECT_STREQ(dll->GetRuntimeClass()->m_lpszClassName, "CDynLinkLibrary");
  EXPECT_TRUE(dll->IsKindOf(RUNTIME_CLASS(CCmdTarget)));
  EXPECT_TRUE(dll->IsKindOf(RUNTIME_CLASS(CObject)));
  delete dll;
}

TEST_F(ObjectTest, CreateObjectOnlyForCreatableClasses) {
  g_destroyed = 0;
  CObject* made = RUNTIME_CLASS(CCircle)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetRuntimeClass(), RUNTIME_CLASS(CCircle));
  delete made;  // through the base: both destructors run
  EXPECT_EQ(g_destroyed, 2);
  EXPECT_EQ(RUNTIME_CLASS(CShape)->CreateObject(), nullptr);
  EXPECT_EQ(RUNTIME_CLASS(CObject)->CreateObject(), nullptr);
}

// The Itanium C++ ABI represents a pointer to a virtual member function as one
// plus the slot's byte offset in the vtable; the destructor takes two slots.
template <class F>
ptrdiff_t SlotOf(F member) {
  static_assert(sizeof(F) == 2 * sizeof(ptrdiff_t));
  ptrdiff_t words[2];
  std::memcpy(words, &member, sizeof words);
  return (words[0] - 1) / static_cast<ptrdiff_t>(sizeof(void*));
}

TEST_F(ObjectTest, VirtualSlotsKeepTheFrameworkOrder) {
  EXPECT_EQ(SlotOf(&CObject::GetRuntimeClass), 0);
  EXPECT_EQ(SlotOf(&CObject::Serialize), 3);
  EXPECT_EQ(SlotOf(&CObject::AssertValid), 4);
  EXPECT_EQ(SlotOf(&CObject::Dump), 5);
}

TEST_F(ObjectTest, DumpWritesToTheDebuggerOutput) {
  std::string sink = RootFile("dump.txt");
  setenv("CORVANE_DEBUGGER_OUTPUT", sink.c_str(), 1);
  CCircle circle;
  afxDump << &circle;
  afxDump << static_cast<const CObject*>(nullptr) << u"|" << 42 << "|" << static_cast<ULONGLONG>(1) << 40;
  unsetenv("CORVANE_DEBUGGER_OUTPUT");
  std::string text = testing_support::ReadFileBytes(sink);
  char address[40];
  std::snprintf(address, sizeof address, "$%016llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&circle)));
  EXPECT_EQ(text, std::string("a CCircle at ") + address + "\nNULL|42|140");
}

}  // namespace
