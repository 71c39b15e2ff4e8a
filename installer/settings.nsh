; The agent's settings, written as its first visible start writes them, without showing its window.

!define /ifndef HKEY_CURRENT_USER_VALUE 0x80000001
!define /ifndef KEY_ALL_ACCESS_VALUE 0xF003F
!define /ifndef ERROR_FILE_NOT_FOUND_VALUE 2
!define /ifndef ERROR_ACCESS_DENIED_VALUE 5
!define READ_ONLY_SETTINGS "Your Brisomel settings are read-only and name another Brisomel, or none, so Outlook will not start this one. Ask your administrator to record this location in them:"

; Expects the open settings key in $1; writes the default when NAME does not exist. A value that
; exists stays, whatever its type or content (an unreadable one counts as existing too).
!macro _DEFAULT_IF_MISSING NAME WRITE
  System::Call 'advapi32::RegQueryValueExW(p r1, w "${NAME}", p 0, p 0, p 0, p 0) i .r0'
  ${If} $0 = ${ERROR_FILE_NOT_FOUND_VALUE}
    ${WRITE}
  ${EndIf}
!macroend

; Gives the missing settings their defaults, in the agent's order, then records AGENT_PATH as
; `path`, which the add-in starts. Settings that may not be written (IT deployed them read-only)
; stay as they are, and setup goes on; when their `path` names another program or none, the user
; is told that Outlook will not start this one (a silent setup tells nobody). Sets the error flag
; when the key can be neither opened nor created, and leaves it as it was otherwise.
!macro WRITE_SETTINGS AGENT_PATH
  Push $0
  Push $1
  Push $2
  ; Checking the error flag clears it: kept in $2 and set again at the end.
  StrCpy $2 0
  ${If} ${Errors}
    StrCpy $2 1
  ${EndIf}
  System::Call 'advapi32::RegCreateKeyExW(p ${HKEY_CURRENT_USER_VALUE}, w "${SETTINGS_KEY}", i 0, p 0, i 0, i ${KEY_ALL_ACCESS_VALUE}, p 0, *p .r1, p 0) i .r0'
  ${If} $0 = 0
    !insertmacro _DEFAULT_IF_MISSING host `WriteRegStr HKCU "${SETTINGS_KEY}" host localhost`
    !insertmacro _DEFAULT_IF_MISSING port `WriteRegDWORD HKCU "${SETTINGS_KEY}" port 8155`
    !insertmacro _DEFAULT_IF_MISSING mynumber `WriteRegStr HKCU "${SETTINGS_KEY}" mynumber ""`
    !insertmacro _DEFAULT_IF_MISSING firstname `WriteRegStr HKCU "${SETTINGS_KEY}" firstname ""`
    !insertmacro _DEFAULT_IF_MISSING lastname `WriteRegStr HKCU "${SETTINGS_KEY}" lastname ""`
    System::Call 'advapi32::RegCloseKey(p r1)'
    WriteRegStr HKCU "${SETTINGS_KEY}" path "${AGENT_PATH}"
  ${ElseIf} $0 = ${ERROR_ACCESS_DENIED_VALUE}
    ClearErrors
    ReadRegStr $0 HKCU "${SETTINGS_KEY}" path
    ; Compared as Windows compares file names: letter case does not count.
    ${If} ${Errors}
    ${OrIf} $0 != "${AGENT_PATH}"
      MessageBox MB_OK|MB_ICONEXCLAMATION "${READ_ONLY_SETTINGS}$\r$\n${AGENT_PATH}" /SD IDOK
    ${EndIf}
    ClearErrors
  ${Else}
    SetErrors
  ${EndIf}
  ${If} $2 = 1
    SetErrors
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
!macroend

; Removes everything the agent keeps for the user: settings, its own profile (recent files) and
; the records of what it called for Outlook sessions (volatile; Outlook is closed by now).
!macro REMOVE_SETTINGS
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT_KEY}"
  DeleteRegKey HKCU "${PROFILE_KEY}"
  DeleteRegKey HKCU "${VENDOR_KEY}\Called"
  DeleteRegKey /ifempty HKCU "${VENDOR_KEY}"
!macroend

; Keeps the user's settings but forgets the agent being removed, so that nothing points at a
; deleted program. A path to another copy of the agent stays.
!macro FORGET_AGENT_PATH AGENT_PATH
  Push $0
  ClearErrors
  ReadRegStr $0 HKCU "${SETTINGS_KEY}" path
  ${IfNot} ${Errors}
  ${AndIf} $0 == "${AGENT_PATH}"
    DeleteRegValue HKCU "${SETTINGS_KEY}" path
  ${EndIf}
  Pop $0
!macroend
