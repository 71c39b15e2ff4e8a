; Who and what gets installed: the names the agent, the add-in and Windows know the product by.
!define PRODUCT_NAME "Brisomel"
!define PUBLISHER "Brisomel"

; The agent's settings (same key the agent and the add-in use) and its own profile key.
!define SETTINGS_KEY "Software\Brisomel\tarnwick\1.0"
!define SETTINGS_PARENT_KEY "Software\Brisomel\tarnwick"
!define PROFILE_KEY "Software\Brisomel\Brisomel"
!define VENDOR_KEY "Software\Brisomel"

; The Outlook add-in, as mervane.dll registers itself.
!define ADDIN_CLSID "{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}"
!define ADDIN_PROGID "Brisomel.Addin"
!define ADDIN_DESCRIPTION "Brisomel COM Addin"
!define OUTLOOK_ADDIN_KEY "Software\Microsoft\Office\Outlook\Addins\Brisomel.Addin"

; The agent's Automation document type, registered by the agent at each visible start.
!define DOCUMENT_PROGID "Cadelo.Document"
!define DOCUMENT_CLSID "{B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}"

; Add/Remove Programs, for the current user only.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisomel"

!define AGENT_FILE "cadelo.exe"
!define ADDIN32_FILE "mervane.dll"
!define ADDIN64_FILE "mervane64.dll"
!define UNINSTALLER_FILE "uninstall.exe"
; The uninstaller's name in a folder whose uninstall.exe belongs to other software.
!define OWN_UNINSTALLER_FILE "Uninstall Brisomel.exe"
!define SHORTCUT_FOLDER "$SMPROGRAMS\Brisomel"
!define SHORTCUT "$SMPROGRAMS\Brisomel\Brisomel.lnk"
