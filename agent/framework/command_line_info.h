#pragma once
// CCommandLineInfo: the parsed command line. CWinApp::ParseCommandLine calls ParseParam once per
// argument after the program name (split like the C runtime's argv); flags ('/' or '-' first)
// arrive without that one first character and bFlag TRUE.
#include <string>

#include "agent/framework/cmd_target.h"

class CCommandLineInfo : public CObject {
 public:
  enum { FileNew, FileOpen, FilePrint, FilePrintTo, FileDDE, AppUnregister, FileNothing = -1 } m_nShellCommand =
      FileNew;

  BOOL m_bShowSplash = TRUE;
  BOOL m_bRunEmbedded = FALSE;   // /Embedding
  BOOL m_bRunAutomated = FALSE;  // /Automation
  std::string m_strFileName;
  std::string m_strPrinterName;
  std::string m_strDriverName;
  std::string m_strPortName;

  // Base behaviour: a flag sets the framework's switches (Embedding, Automation, p, pt, dde,
  // Unregister/Unregserver, case-insensitive); the first plain argument becomes m_strFileName
  // (later ones are ignored unless printing to a printer); at the last argument a recorded file
  // name turns FileNew into FileOpen.
  virtual void ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast);

 protected:
  void ParseParamFlag(const char* pszParam);
  void ParseParamNotFlag(const char* pszParam);
  void ParseLast(BOOL bLast);
};
