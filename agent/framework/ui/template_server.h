#pragma once
// COleTemplateServer: serves the documents of one template to automation clients. Connect it to
// a template with a class id, register its class factory (COleObjectFactory::RegisterAll) and
// write its registration (UpdateRegistry). Each object a client creates is a new document of the
// template (in an invisible frame); the client gets the document's IDispatch.
#include <windows.h>
#include <objbase.h>

#include <string>

class CDocTemplate;

class COleObjectFactory {
 public:
  COleObjectFactory();
  virtual ~COleObjectFactory();  // revokes its class object
  COleObjectFactory(const COleObjectFactory&) = delete;
  COleObjectFactory& operator=(const COleObjectFactory&) = delete;

  // CoRegisterClassObject of every connected factory (local server); FALSE if one fails.
  static BOOL RegisterAll();
  static void RevokeAll();
  // Kept for the start-up sequence: registration is written by UpdateRegistry. Returns TRUE.
  static BOOL UpdateRegistryAll(BOOL bRegister = TRUE);

  BOOL Register();
  void Revoke();

  CLSID m_clsid{};
  BOOL m_bMultiInstance = FALSE;
  DWORD m_dwRegister = 0;

 protected:
  // Creates the object a client asked for: its IUnknown with one reference that passes to the
  // caller; null on failure.
  virtual IUnknown* OnCreateObject() = 0;

 private:
  class ClassFactory;
  ClassFactory* factory_ = nullptr;
};

class COleTemplateServer : public COleObjectFactory {
 public:
  COleTemplateServer() = default;

  // bMultiInstance FALSE: one running process serves every client.
  void ConnectTemplate(REFCLSID clsid, CDocTemplate* pDocTemplate, BOOL bMultiInstance);
  // Writes (OAT_DISPATCH_OBJECT) the class id's LocalServer32 (this executable), ProgID and
  // name, and the ProgID's CLSID and name, from the template's regFileTypeId/regFileTypeName.
  // Under HKEY_CLASSES_ROOT, or the user's Software\Classes when that is not writable.
  // FALSE when nothing could be written or the template has no type id.
  BOOL UpdateRegistry(int nAppType = 3);

  CDocTemplate* m_pDocTemplate = nullptr;

 protected:
  IUnknown* OnCreateObject() override;
};

// Application locks: every live automation-visible object (each document) holds one. When the
// last lock goes while the user does not control the application (it was started for an
// automation client), the main window is closed and the application ends.

void AfxOleLockApp();
void AfxOleUnlockApp();
// Number of locks held now.
LONG AfxOleGetLockCount();
// TRUE (the default) when the user started the application; FALSE when an automation client did.
void AfxOleSetUserCtrl(BOOL bUserCtrl);
