#pragma once
// COleTemplateServer: serves the documents of one template to automation clients. Connect it to
// a template with a class id, register its class factory (COleTemplateServer::RegisterAll) and
// write its registration (UpdateRegistry). Each object a client creates is a new document of the
// template (in an invisible frame); the client gets the document's IDispatch.
#include <windows.h>
#include <objbase.h>

#include <string>

class CDocTemplate;

class COleTemplateServer {
 public:
  COleTemplateServer();  // the application's one server: the one RegisterAll registers
  ~COleTemplateServer();  // revokes its class object
  COleTemplateServer(const COleTemplateServer&) = delete;
  COleTemplateServer& operator=(const COleTemplateServer&) = delete;

  // bMultiInstance FALSE: one running process serves every client.
  void ConnectTemplate(REFCLSID clsid, CDocTemplate* pDocTemplate, BOOL bMultiInstance);
  // Writes the class id's LocalServer32 (this executable), ProgID and name, and the ProgID's
  // CLSID and name, from the template's regFileTypeId/regFileTypeName. Under HKEY_CLASSES_ROOT,
  // or the user's Software\Classes when that is not writable. FALSE when nothing could be
  // written or the template has no type id.
  BOOL UpdateRegistry();
  // CoRegisterClassObject of the connected server (local server); FALSE when that fails.
  BOOL Register();
  void Revoke();

  // The start-up sequence names them as the registry of all class objects; there is this one.
  static BOOL RegisterAll();
  static void RevokeAll();

 private:
  class ClassFactory;
  // The object a client asked for: a new document's IDispatch with one reference that passes to
  // the caller; null on failure.
  IUnknown* CreateDocument();
  CLSID clsid_{};
  CDocTemplate* template_ = nullptr;
  BOOL multiInstance_ = FALSE;
  DWORD register_ = 0;
  ClassFactory* factory_ = nullptr;
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
