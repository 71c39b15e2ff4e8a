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

; Machine-wide registrations are removed only where they name this installation's file: they
; come from regsvr32 (the agent registers the add-in at each visible start) or, under Wine, from
; setup; another copy's registration stays. HKLM is not writable without administrator rights:
; then they stay too.
!macro _REMOVE_MACHINE_ADDIN_CLASS DLL
  Push $0
  ReadRegStr $0 HKLM "Software\Classes\CLSID\${ADDIN_CLSID}\InprocServer32" ""
  ${If} $0 == "${DLL}"
    DeleteRegKey HKLM "Software\Classes\CLSID\${ADDIN_CLSID}"
  ${EndIf}
  Pop $0
!macroend

!macro _MACHINE_ADDIN_CLASS_LEFT RESULT
  StrCpy ${RESULT} 0
  SetRegView 32
  ${IfNot} HKLM ${RegKeyIsEmpty} "Software\Classes\CLSID\${ADDIN_CLSID}"
    StrCpy ${RESULT} 1
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
    ${IfNot} HKLM ${RegKeyIsEmpty} "Software\Classes\CLSID\${ADDIN_CLSID}"
      StrCpy ${RESULT} 1
    ${EndIf}
  ${EndIf}
  SetRegView default
!macroend

; Removes the add-in's class, ProgID and Outlook add-in key, in both registry views.
!macro UNREGISTER_ADDIN
  Push $0
  Push $1
  SetRegView 32
  DeleteRegKey HKCU "Software\Classes\CLSID\${ADDIN_CLSID}"
  !insertmacro _REMOVE_MACHINE_ADDIN_CLASS "$INSTDIR\${ADDIN32_FILE}"
  ${If} ${RunningX64}
    SetRegView 64
    DeleteRegKey HKCU "Software\Classes\CLSID\${ADDIN_CLSID}"
    !insertmacro _REMOVE_MACHINE_ADDIN_CLASS "$INSTDIR\${ADDIN64_FILE}"
  ${EndIf}
  SetRegView default
  ; ProgIDs are shared by both views.
  DeleteRegKey HKCU "Software\Classes\${ADDIN_PROGID}"
  !insertmacro _MACHINE_ADDIN_CLASS_LEFT $0
  ReadRegStr $1 HKLM "Software\Classes\${ADDIN_PROGID}\CLSID" ""
  ${If} $0 = 0
  ${AndIf} $1 == "${ADDIN_CLSID}"
    DeleteRegKey HKLM "Software\Classes\${ADDIN_PROGID}"
  ${EndIf}
  DeleteRegKey HKCU "${OUTLOOK_ADDIN_KEY}"
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

!macro UNREGISTER_DOCUMENT_CLASS
  ; The agent is a 32-bit program: its registration lives in the 32-bit view.
  SetRegView 32
  !insertmacro _REMOVE_DOCUMENT_CLASS HKCU "$INSTDIR\${AGENT_FILE}"
  !insertmacro _REMOVE_DOCUMENT_CLASS HKLM "$INSTDIR\${AGENT_FILE}"
  SetRegView default
!macroend
