; The current user's Add/Remove Programs entry ("Installed apps" in Settings).

!macro WRITE_UNINSTALL_ENTRY
  Push $0
  Push $1
  Push $2
  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayName "${PRODUCT_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" UninstallString `"$INSTDIR\$UninstallerName"`
  WriteRegStr HKCU "${UNINSTALL_KEY}" QuietUninstallString `"$INSTDIR\$UninstallerName" /S`
  WriteRegStr HKCU "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\${AGENT_FILE},0"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" NoRepair 1
  ; In KB, as Windows shows it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" EstimatedSize $0
  Pop $2
  Pop $1
  Pop $0
!macroend

!macro REMOVE_UNINSTALL_ENTRY
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
!macroend
