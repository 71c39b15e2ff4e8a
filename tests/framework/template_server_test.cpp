// Automation server registration of the document type and its class factory.
#include "common/win/com_ptr.h"
#include "tests/framework/test_app.h"
#include "tests/harness/registry.h"

namespace {

// {6B0C3D55-93F1-4C8A-B1E4-2D7A55C0F9A1}: a class id of these tests only.
const CLSID kTestClsid = {0x6b0c3d55, 0x93f1, 0x4c8a, {0xb1, 0xe4, 0x2d, 0x7a, 0x55, 0xc0, 0xf9, 0xa1}};
const char kClsidText[] = "{6B0C3D55-93F1-4C8A-B1E4-2D7A55C0F9A1}";
const char kProgId[] = "Cadelo.FwTestDocument";

class TemplateServerTest : public FrameworkTest {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    CleanRegistry();
    FrameworkTest::SetUp();
  }
  void TearDown() override {
    server.Revoke();
    FrameworkTest::TearDown();
    CleanRegistry();
    ::CoUninitialize();
  }
  static void CleanRegistry() {
    for (HKEY root : {HKEY_CLASSES_ROOT}) {
      harness::DeleteTree(root, std::string("CLSID\\") + kClsidText);
      harness::DeleteTree(root, kProgId);
    }
    harness::DeleteTree(HKEY_CURRENT_USER, std::string("Software\\Classes\\CLSID\\") + kClsidText);
    harness::DeleteTree(HKEY_CURRENT_USER, std::string("Software\\Classes\\") + kProgId);
  }
  COleTemplateServer server;
};

TEST_F(TemplateServerTest, UpdateRegistryWritesTheDocumentType) {
  server.ConnectTemplate(kTestClsid, Template(), FALSE);
  ASSERT_TRUE(server.UpdateRegistry());
  char exe[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, exe, sizeof exe);
  const std::string clsidKey = std::string("CLSID\\") + kClsidText;
  const struct {
    std::string key;
    std::string value;
  } expected[] = {
      {kProgId, "Cadel Test Document"},
      {std::string(kProgId) + "\\CLSID", kClsidText},
      {clsidKey, "Cadel Test Document"},
      {clsidKey + "\\ProgID", kProgId},
      {clsidKey + "\\LocalServer32", exe},
  };
  for (const auto& e : expected) {
    const harness::RegValue value = harness::ReadValue(HKEY_CLASSES_ROOT, e.key, nullptr);
    EXPECT_TRUE(value.exists) << e.key;
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << e.key;
    EXPECT_EQ(value.bytes, harness::SzBytes(e.value)) << e.key;
  }
}

TEST_F(TemplateServerTest, UnconnectedServerWritesNothing) {
  EXPECT_FALSE(server.UpdateRegistry());
  EXPECT_FALSE(harness::KeyExists(HKEY_CLASSES_ROOT, kProgId));
}

TEST_F(TemplateServerTest, ClassFactoryCreatesAHiddenDocumentThatClosesWithTheLastReference) {
  server.ConnectTemplate(kTestClsid, Template(), FALSE);
  ASSERT_TRUE(COleTemplateServer::RegisterAll());
  win::ComPtr<IClassFactory> factory;
  ASSERT_EQ(::CoGetClassObject(kTestClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, factory.put_void()),
            S_OK);
  win::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, dispatch.put_void()), S_OK);
  ASSERT_EQ(Template()->GetDocuments().size(), 1u);
  CDocument* doc = Template()->GetDocuments()[0];
  EXPECT_EQ(doc->GetTitle(), "Cadel1");
  EXPECT_FALSE(doc->GetViews().front()->GetParentFrame()->IsWindowVisible());
  EXPECT_EQ(AfxOleGetLockCount(), 1);

  // An empty dispatch map: no names, no members.
  DISPID id = 0;
  wchar_t name[] = L"Anything";
  LPOLESTR names[] = {name};
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  DISPPARAMS none{};
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  win::ComPtr<IUnknown> unknown;
  EXPECT_EQ(dispatch.As(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(dispatch.get()));
  unknown.reset();

  dispatch.reset();  // the client lets go: the document closes
  Pump();
  EXPECT_TRUE(Template()->GetDocuments().empty());
  EXPECT_EQ(TestDoc::live, 0);
  EXPECT_EQ(AfxOleGetLockCount(), 0);
}

TEST_F(TemplateServerTest, DocumentClosedByTheUserLivesOnWhileAClientHoldsIt) {
  TestDoc* doc = NewDocument();
  ASSERT_NE(doc, nullptr);
  IDispatch* held = doc->GetIDispatch(TRUE);
  ASSERT_NE(held, nullptr);
  Command(ID_FILE_CLOSE);
  EXPECT_TRUE(Template()->GetDocuments().empty());
  EXPECT_EQ(TestDoc::live, 1);  // closed, not yet deleted
  EXPECT_EQ(held->Release(), 0u);
  EXPECT_EQ(TestDoc::live, 0);
}

}  // namespace
