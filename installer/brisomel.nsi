; Brisomel setup: a per-user installation that needs no administrator rights. It installs the
; agent and the Outlook add-in (32-bit, and 64-bit where Windows is 64-bit) into the user's own
; programs folder, registers the add-in for the current user, writes the agent's settings as its
; first start would, and adds a Start-menu entry and an Add/Remove Programs entry.
;
; The setup is a 32-bit program (TARGET x86-unicode, with the i686 agent and stop-agents.exe) or a
; 64-bit one (amd64-unicode, with the x86_64 ones); both install both add-ins.
;
; makensis -DVERSION=1.0.0.1 -DTARGET=x86-unicode -DOUTFILE=<setup.exe> -DAGENT_EXE=<cadelo.exe>
;          -DADDIN32_DLL=<i686 mervane.dll> -DADDIN64_DLL=<x86_64 mervane.dll>
;          -DSTOP_AGENTS_EXE=<stop-agents.exe> -DAGENT_ICON=<cadelo.ico>
;          -DMSI_UPGRADE_CODE=<the Windows Installer package's upgrade code> brisomel.nsi

!ifndef VERSION | TARGET | OUTFILE | AGENT_EXE | ADDIN32_DLL | ADDIN64_DLL | STOP_AGENTS_EXE | AGENT_ICON | MSI_UPGRADE_CODE
  !error "define VERSION, TARGET, OUTFILE, AGENT_EXE, ADDIN32_DLL, ADDIN64_DLL, STOP_AGENTS_EXE, AGENT_ICON and MSI_UPGRADE_CODE"
!endif

Target ${TARGET}
SetCompressor /SOLID lzma
ManifestDPIAware true

!addincludedir "${__FILEDIR__}"
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "product.nsh"
!include "platform.nsh"
!include "settings.nsh"
!include "addin_registration.nsh"
!include "uninstall_entry.nsh"

Name "${PRODUCT_NAME}"
Caption "${PRODUCT_NAME} Setup"
UninstallCaption "${PRODUCT_NAME} Uninstall"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Brisomel"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" InstallLocation
BrandingText "${PRODUCT_NAME} ${VERSION}"
; A file in use (Outlook holding the add-in) may not be skipped: the user retries or stops.
AllowSkipFiles off
FileErrorText "Setup cannot write$\r$\n$0$\r$\nOutlook may be using the Brisomel add-in: close Outlook, then click Retry." \
              "Setup cannot write$\r$\n$0$\r$\nOutlook may be using the Brisomel add-in: close Outlook, then click Retry."

VIProductVersion "${VERSION}"
VIAddVersionKey ProductName "${PRODUCT_NAME}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "${PRODUCT_NAME} Setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

!define MUI_ICON "${AGENT_ICON}"
!define MUI_UNICON "${AGENT_ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "Setup will install Brisomel for you alone; it needs no administrator rights.$\r$\n$\r$\nBrisomel turns the reminders of Outlook appointments made with the reminder-call form into telephone calls placed by the Talmery Gateway.$\r$\n$\r$\nIf Outlook is running, restart it after setup so that it loads the Brisomel add-in.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Brisomel is installed.$\r$\n$\r$\nStart Outlook (or restart it) to load the add-in. To enter your name, your phone number and the Talmery Gateway, open Brisomel from the Start menu and choose File > Setup."
!define MUI_FINISHPAGE_RUN "$INSTDIR\${AGENT_FILE}"
!define MUI_FINISHPAGE_RUN_TEXT "Open Brisomel now"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Var KeepSettings
Var UninstallerName

!define ADDIN_IN_USE "Outlook is using the Brisomel add-in. Close Outlook, then click Retry."

; Sets RESULT to 1 when a program (Outlook) has one of this installation's add-ins loaded, else 0.
; Windows refuses to open a loaded DLL for writing; nothing is changed by asking.
!macro _ADDIN_FILE_IN_USE FILE RESULT
  ${If} ${FileExists} "${FILE}"
    ClearErrors
    FileOpen $R9 "${FILE}" a
    ${If} ${Errors}
      StrCpy ${RESULT} 1
    ${Else}
      FileClose $R9
    ${EndIf}
  ${EndIf}
!macroend

!macro ADDINS_IN_USE RESULT
  Push $R9
  StrCpy ${RESULT} 0
  !insertmacro _ADDIN_FILE_IN_USE "$INSTDIR\${ADDIN32_FILE}" ${RESULT}
  !insertmacro _ADDIN_FILE_IN_USE "$INSTDIR\${ADDIN64_FILE}" ${RESULT}
  Pop $R9
!macroend

; Waits for the user to close Outlook while it holds an add-in of this installation: Retry checks
; again, Cancel (and a silent run) ends here with nothing changed.
!macro WAIT_FOR_OUTLOOK_TO_LET_GO
  Push $0
  !define _WAIT_ID ${__LINE__}
retry_${_WAIT_ID}:
  !insertmacro ADDINS_IN_USE $0
  ${If} $0 = 1
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${ADDIN_IN_USE}" /SD IDCANCEL IDRETRY retry_${_WAIT_ID}
    Pop $0
    Abort
  ${EndIf}
  !undef _WAIT_ID
  Pop $0
!macroend

; Ends the agents started from this installation's cadelo.exe; RESULT is 0 when none runs any more.
; When the helper cannot run at all, setup goes on: replacing or deleting a running agent's file
; fails and says so.
!macro STOP_AGENTS RESULT
  InitPluginsDir
  File "/oname=$PLUGINSDIR\stop-agents.exe" "${STOP_AGENTS_EXE}"
  ClearErrors
  ExecWait `"$PLUGINSDIR\stop-agents.exe" "$INSTDIR\${AGENT_FILE}"` ${RESULT}
  ${If} ${Errors}
    StrCpy ${RESULT} 0
  ${EndIf}
!macroend

!define AGENT_STILL_RUNNING "Brisomel is running and could not be ended. Close it, then try again."

; Brisomel installed from its Windows Installer package (MSI_UPGRADE_CODE; for every user by an
; administrator, or for this user) owns the add-in's registration: a second installation would fight it, and each
; removal would break the other. Setup says so and changes nothing.
!macro REFUSE_BESIDE_WINDOWS_INSTALLER
  Push $0
  Push $1
  System::Call 'msi::MsiEnumRelatedProductsW(w "${MSI_UPGRADE_CODE}", i 0, i 0, w .r1) i .r0'
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "Brisomel is already installed on this computer from its Windows Installer package (by your administrator, or by you). Setup changes nothing. To use this setup instead, remove that installation in Add/Remove Programs first." /SD IDOK
    Abort
  ${EndIf}
  Pop $1
  Pop $0
!macroend

Function .onInit
  SetShellVarContext current
  !insertmacro DETECT_WINE
FunctionEnd

Section "Brisomel" SectionMain
  SectionIn RO
  !insertmacro REFUSE_BESIDE_WINDOWS_INSTALLER
  SetOutPath "$INSTDIR"
  ; An agent that Outlook started serves Outlook: the user closes Outlook (which ends that agent
  ; and lets go of the add-in) rather than setup ending it behind Outlook's back.
  !insertmacro WAIT_FOR_OUTLOOK_TO_LET_GO
  ; A running program cannot be replaced: the one the user opened is ended.
  !insertmacro STOP_AGENTS $0
  ${If} $0 <> 0
    MessageBox MB_OK|MB_ICONSTOP "${AGENT_STILL_RUNNING}" /SD IDOK
    Abort
  ${EndIf}

  File "/oname=${AGENT_FILE}" "${AGENT_EXE}"
  File "/oname=${ADDIN32_FILE}" "${ADDIN32_DLL}"
  ${If} ${RunningX64}
    File "/oname=${ADDIN64_FILE}" "${ADDIN64_DLL}"
  ${EndIf}
  ; A folder shared with other software keeps that software's uninstall.exe.
  StrCpy $UninstallerName "${UNINSTALLER_FILE}"
  ${If} ${FileExists} "$INSTDIR\${UNINSTALLER_FILE}"
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" UninstallString
    ${If} $0 != `"$INSTDIR\${UNINSTALLER_FILE}"`
      StrCpy $UninstallerName "${OWN_UNINSTALLER_FILE}"
    ${EndIf}
  ${EndIf}
  WriteUninstaller "$INSTDIR\$UninstallerName"
  ; Written before the registration, so that even a setup that fails from here can be removed.
  !insertmacro WRITE_UNINSTALL_ENTRY

  ClearErrors
  !insertmacro REGISTER_ADDIN
  !insertmacro WRITE_SETTINGS "$INSTDIR\${AGENT_FILE}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Setup could not write the add-in's registration or the Brisomel settings to the registry. Outlook will not load Brisomel." /SD IDOK
    Abort
  ${EndIf}

  CreateDirectory "${SHORTCUT_FOLDER}"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${AGENT_FILE}" "" "$INSTDIR\${AGENT_FILE}" 0
SectionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Uninstall"
  ; Outlook keeps the add-in it loaded until it ends. Checked first, for both add-ins, before
  ; anything is deleted: cancelling here leaves the whole installation in place.
  !insertmacro WAIT_FOR_OUTLOOK_TO_LET_GO

  ; A running program cannot be removed.
  !insertmacro STOP_AGENTS $0
  ${If} $0 <> 0
    MessageBox MB_OK|MB_ICONSTOP "${AGENT_STILL_RUNNING}" /SD IDOK
    Abort
  ${EndIf}

  StrCpy $KeepSettings 1
  MessageBox MB_YESNO|MB_ICONQUESTION "Do you want to keep your Brisomel settings (Talmery Gateway, your name and phone number) for a later installation?" /SD IDYES IDYES settings_answered
  StrCpy $KeepSettings 0
settings_answered:

  !insertmacro UNREGISTER_ADDIN
  !insertmacro UNREGISTER_DOCUMENT_CLASS
  !insertmacro DELETE_PATIENTLY "$INSTDIR\${ADDIN32_FILE}"
  !insertmacro DELETE_PATIENTLY "$INSTDIR\${ADDIN64_FILE}"
  !insertmacro DELETE_PATIENTLY "$INSTDIR\${AGENT_FILE}"
  Delete "${SHORTCUT}"
  RMDir "${SHORTCUT_FOLDER}"
  ${If} $KeepSettings = 1
    !insertmacro FORGET_AGENT_PATH "$INSTDIR\${AGENT_FILE}"
  ${Else}
    !insertmacro REMOVE_SETTINGS
  ${EndIf}
  ; Our uninstaller is uninstall.exe only where the entry says so (in a shared folder that name
  ; belongs to other software); the other name is ours alone.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" UninstallString
  ${If} $0 == `"$INSTDIR\${UNINSTALLER_FILE}"`
    !insertmacro DELETE_PATIENTLY "$INSTDIR\${UNINSTALLER_FILE}"
  ${EndIf}
  !insertmacro DELETE_PATIENTLY "$INSTDIR\${OWN_UNINSTALLER_FILE}"
  !insertmacro REMOVE_UNINSTALL_ENTRY
  ; Only when empty: files the user put here stay.
  !insertmacro RMDIR_PATIENTLY "$INSTDIR"
SectionEnd
