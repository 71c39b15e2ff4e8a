; What the machine offers: 64-bit Windows, and whether we run under Wine.
;
; Wine's COM looks classes up in HKLM\Software\Classes only; it does not merge in the user's
; HKCU\Software\Classes as Windows does. Under Wine (where HKLM is writable by the user) the
; add-in's class is therefore registered there too, so that Outlook can load it.

Var IsWine

; Sets $IsWine to 1 under Wine (ntdll exports wine_get_version), else 0.
!macro DETECT_WINE
  Push $0
  Push $1
  System::Call 'kernel32::GetModuleHandle(t "ntdll.dll") p .r0'
  System::Call 'kernel32::GetProcAddress(p r0, m "wine_get_version") p .r1'
  ${If} $1 P<> 0
    StrCpy $IsWine 1
  ${Else}
    StrCpy $IsWine 0
  ${EndIf}
  Pop $1
  Pop $0
!macroend

; Deletes a file, trying again for up to five seconds while something still holds it: a program
; that has just ended, or a virus scanner or indexer reading the file, keeps it for a moment, and
; a file left behind would leave the installation's folder behind too.
!macro DELETE_PATIENTLY FILE
  Push $0
  StrCpy $0 0
  ${Do}
    Delete "${FILE}"
    ${IfNot} ${FileExists} "${FILE}"
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
    ${If} $0 >= 50
      ${Break}
    ${EndIf}
    Sleep 100
  ${Loop}
  Pop $0
!macroend

; Removes a folder when it is empty, trying again for up to five seconds while something still
; holds it (a program that has just ended may still have it as its current folder); a folder with
; anything left in it (files the user put there) stays at once.
!macro RMDIR_PATIENTLY FOLDER
  Push $0
  Push $1
  Push $2
  StrCpy $0 0
  ${Do}
    RMDir "${FOLDER}"
    ${IfNot} ${FileExists} "${FOLDER}\*.*"
      ${Break}
    ${EndIf}
    ; Anything but "." and ".." in it: not ours to wait for.
    FindFirst $1 $2 "${FOLDER}\*.*"
    ${Do}
      ${If} $2 != "."
      ${AndIf} $2 != ".."
        ${Break}
      ${EndIf}
      FindNext $1 $2
    ${Loop}
    FindClose $1
    ${If} $2 != ""
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
    ${If} $0 >= 50
      ${Break}
    ${EndIf}
    Sleep 100
  ${Loop}
  Pop $2
  Pop $1
  Pop $0
!macroend
