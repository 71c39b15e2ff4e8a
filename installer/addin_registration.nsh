; The Outlook add-in's registration for the current user, written by setup itself: mervane.dll's
; own DllRegisterServer writes HKEY_CLASSES_ROOT, which without administrator rights means HKLM
; and fails. Same keys and values as DllRegisterServer, under HKCU\Software\Classes, in the
; registry view of each add-in's bitness: 32-bit Outlook reads the 32-bit view, 64-bit Outlook
; the 64-bit one. The Outlook add-in key is the same for both.

; The class and ProgID under ROOT\Software\Classes, in the current registry view.
!macro _WRITE_ADDIN_CLASS ROOT DLL
  WriteRegStr ${ROOT} "Software\Classes\CLSID\${ADDIN_CLSID}" "" "${ADDIN_DESCRIPTION}"
  WriteRegStr ${ROOT} "Software\Classes\CLSID\${ADDIN_CLSID}\InprocServer32" "" "${DLL}"
  WriteRegStr ${ROOT} "Software\Classes\CLSID\${ADDIN_CLSID}\ProgID" "" "${ADDIN_PROGID}"
  WriteRegStr ${ROOT} "Software\Classes\${ADDIN_PROGID}" "" "${ADDIN_DESCRIPTION}"
  WriteRegStr ${ROOT} "Software\Classes\${ADDIN_PROGID}\CLSID" "" "${ADDIN_CLSID}"
!macroend

!macro _REGISTER_ADDIN_VIEW VIEW DLL
  SetRegView ${VIEW}
  !insertmacro _WRITE_ADDIN_CLASS HKCU "${DLL}"
  ${If} $IsWine = 1
    !insertmacro _WRITE_ADDIN_CLASS HKLM "${DLL}"
  ${EndIf}
!macroend

; Registers both add-ins (the 64-bit one where Windows is 64-bit) and tells Outlook to load the
; add-in at its start. Sets the error flag when a write fails.
!macro REGISTER_ADDIN
  !insertmacro _REGISTER_ADDIN_VIEW 32 "$INSTDIR\${ADDIN32_FILE}"
  ${If} ${RunningX64}
    !insertmacro _REGISTER_ADDIN_VIEW 64 "$INSTDIR\${ADDIN64_FILE}"
  ${EndIf}
  SetRegView default
  WriteRegDWORD HKCU "${OUTLOOK_ADDIN_KEY}" LoadBehavior 3
  WriteRegDWORD HKCU "${OUTLOOK_ADDIN_KEY}" CommandLineSafe 0
  WriteRegStr HKCU "${OUTLOOK_ADDIN_KEY}" FriendlyName "${ADDIN_DESCRIPTION}"
  WriteRegStr HKCU "${OUTLOOK_ADDIN_KEY}" Description "${ADDIN_DESCRIPTION}"
!macroend

; Each class registration is removed only where it names this installation's file (either add-in:
; where Windows keeps one key for both views, it names the add-in written last). The user's ones
; come from setup or from regsvr32 run by the agent at a visible start; the machine's from regsvr32
; or, under Wine, from setup. Another copy's registration stays, and with it the ProgID and the
; Outlook add-in key it needs. HKLM is not writable without administrator rights: then it stays too.
!macro _REMOVE_OWN_ADDIN_CLASS ROOT
  ReadRegStr $0 ${ROOT} "Software\Classes\CLSID\${ADDIN_CLSID}\InprocServer32" ""
  ${If} $0 == "$INSTDIR\${ADDIN32_FILE}"
  ${OrIf} $0 == "$INSTDIR\${ADDIN64_FILE}"
    DeleteRegKey ${ROOT} "Software\Classes\CLSID\${ADDIN_CLSID}"
  ${EndIf}
!macroend

; RESULT becomes 1 when ROOT still holds the add-in's class in either view.
!macro _ADDIN_CLASS_LEFT ROOT RESULT
  StrCpy ${RESULT} 0
  SetRegView 32
  ${IfNot} ${ROOT} ${RegKeyIsEmpty} "Software\Classes\CLSID\${ADDIN_CLSID}"
    StrCpy ${RESULT} 1
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
    ${IfNot} ${ROOT} ${RegKeyIsEmpty} "Software\Classes\CLSID\${ADDIN_CLSID}"
      StrCpy ${RESULT} 1
    ${EndIf}
  ${EndIf}
  SetRegView default
!macroend

; The ProgID under ROOT, in either view (Windows shares ProgIDs between the views, Wine keeps
; them apart), unless a class registration there still needs it.
!macro _REMOVE_PROGID_IN_VIEW ROOT
  ReadRegStr $1 ${ROOT} "Software\Classes\${ADDIN_PROGID}\CLSID" ""
  ${If} $1 == "${ADDIN_CLSID}"
    DeleteRegKey ${ROOT} "Software\Classes\${ADDIN_PROGID}"
  ${EndIf}
!macroend

!macro _REMOVE_UNNEEDED_PROGID ROOT
  !insertmacro _ADDIN_CLASS_LEFT ${ROOT} $0
  ${If} $0 = 0
    SetRegView 32
    !insertmacro _REMOVE_PROGID_IN_VIEW ${ROOT}
    ${If} ${RunningX64}
      SetRegView 64
      !insertmacro _REMOVE_PROGID_IN_VIEW ${ROOT}
    ${EndIf}
    SetRegView default
  ${EndIf}
!macroend

; Removes this installation's class registrations, in both registry views, then the ProgIDs and
; the Outlook add-in key when no other installation's registration is left to use them.
!macro UNREGISTER_ADDIN
  Push $0
  Push $1
  SetRegView 32
  !insertmacro _REMOVE_OWN_ADDIN_CLASS HKCU
  !insertmacro _REMOVE_OWN_ADDIN_CLASS HKLM
  ${If} ${RunningX64}
    SetRegView 64
    !insertmacro _REMOVE_OWN_ADDIN_CLASS HKCU
    !insertmacro _REMOVE_OWN_ADDIN_CLASS HKLM
  ${EndIf}
  SetRegView default
  !insertmacro _REMOVE_UNNEEDED_PROGID HKCU
  !insertmacro _REMOVE_UNNEEDED_PROGID HKLM
  !insertmacro _ADDIN_CLASS_LEFT HKCU $0
  !insertmacro _ADDIN_CLASS_LEFT HKLM $1
  ${If} $0 = 0
  ${AndIf} $1 = 0
    DeleteRegKey HKCU "${OUTLOOK_ADDIN_KEY}"
  ${EndIf}
  Pop $1
  Pop $0
!macroend

; The agent registers its Automation document type at each visible start (HKCR, or the user's
; classes without the rights for it). Removed where its server is this installation's agent.
!macro _REMOVE_DOCUMENT_CLASS ROOT AGENT
  Push $0
  ReadRegStr $0 ${ROOT} "Software\Classes\CLSID\${DOCUMENT_CLSID}\LocalServer32" ""
  ${If} $0 == "${AGENT}"
  ${OrIf} $0 == `"${AGENT}"`
    DeleteRegKey ${ROOT} "Software\Classes\CLSID\${DOCUMENT_CLSID}"
    ReadRegStr $0 ${ROOT} "Software\Classes\${DOCUMENT_PROGID}\CLSID" ""
    ${If} $0 == "${DOCUMENT_CLSID}"
      DeleteRegKey ${ROOT} "Software\Classes\${DOCUMENT_PROGID}"
    ${EndIf}
  ${EndIf}
  Pop $0
!macroend

; The agent registers in the view of its own bitness; both are looked at, so that an agent of
; the other bitness that an earlier setup put in this folder leaves nothing behind either.
!macro UNREGISTER_DOCUMENT_CLASS
  SetRegView 32
  !insertmacro _REMOVE_DOCUMENT_CLASS HKCU "$INSTDIR\${AGENT_FILE}"
  !insertmacro _REMOVE_DOCUMENT_CLASS HKLM "$INSTDIR\${AGENT_FILE}"
  ${If} ${RunningX64}
    SetRegView 64
    !insertmacro _REMOVE_DOCUMENT_CLASS HKCU "$INSTDIR\${AGENT_FILE}"
    !insertmacro _REMOVE_DOCUMENT_CLASS HKLM "$INSTDIR\${AGENT_FILE}"
  ${EndIf}
  SetRegView default
!macroend
