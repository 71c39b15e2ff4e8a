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
