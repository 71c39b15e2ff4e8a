# Builds the Windows Installer package from brisomel.wxs with wixl, then mends what wixl 0.101
# writes wrongly or cannot write. Run with cmake -P and -DWIXL= -DMSIBUILD= -DWXS= -DOUTPUT=
# -DARCH=<x64|x86> -DVERSION= -DUPGRADE_CODE= -DAGENT_EXE= -DADDIN32_DLL= [-DADDIN64_DLL=] -DSTOP_AGENTS_EXE=
# -DAGENT_ICON=.
#
# wixl takes source files only by paths relative to its working folder: it runs in / with the
# absolute paths made relative to it.
foreach(var AGENT_EXE ADDIN32_DLL ADDIN64_DLL STOP_AGENTS_EXE AGENT_ICON)
  if(DEFINED ${var} AND NOT "${${var}}" STREQUAL "")
    string(REGEX REPLACE "^/" "" relative "${${var}}")
    list(APPEND defines -D "${var}=${relative}")
  endif()
endforeach()
execute_process(
  COMMAND ${WIXL} -a ${ARCH} -D ARCH=${ARCH} -D VERSION=${VERSION} -D UPGRADE_CODE=${UPGRADE_CODE} ${defines} -o ${OUTPUT}.tmp ${WXS}
  WORKING_DIRECTORY /
  RESULT_VARIABLE built
  ERROR_VARIABLE complaints)
# wixl says "assertion 'Source != NULL' failed" for the exe custom action it cannot write (added
# below); anything else it says is an error.
string(REGEX REPLACE "[^\n]*wixl_msi_table_custom_action_add: assertion 'Source != NULL' failed[^\n]*" "" complaints "${complaints}")
string(STRIP "${complaints}" complaints)
if(NOT built EQUAL 0 OR NOT complaints STREQUAL "")
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "wixl failed on ${WXS}:\n${complaints}")
endif()
# - HKMU rows (mapped by the installation's context to HKLM or HKCU) have root -1; wixl writes 4.
# - Setting INSTALLDIR is an immediate action of type 51; wixl adds the no-impersonation bit.
# - stop-agents.exe, stored in the Binary table, is run with the agent's path: a deferred exe
#   custom action (2) without impersonation (2048 + 1024), whose failure fails the installation.
#   wixl schedules it but cannot write its row, nor always where it was told: it goes right before
#   RemoveFiles, inside the installation script.
# - Windows Installer compares only the first three fields of a version, and the product's
#   versions differ in the fourth (1.0.0.1): the upgrade row includes its maximum, as WiX's
#   AllowSameVersionUpgrades does, so that 1.0.0.1 replaces 1.0.0.0 instead of installing beside
#   it (each build has a product code of its own).
# - The older version goes before the new one is installed (right after InstallValidate, as
#   WiX's default schedule): wixl's order moves it behind InstallFinalize once custom actions are
#   scheduled.
execute_process(
  COMMAND ${MSIBUILD} ${OUTPUT}.tmp
          -q "UPDATE Registry SET Root = -1 WHERE Root = 4"
          -q "UPDATE CustomAction SET Type = 51 WHERE Action = 'PerUserFolder'"
          -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('StopAgents', 3074, 'StopAgentsExe', '\"[INSTALLDIR]cadelo.exe\"')"
          -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
          -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('${UPGRADE_CODE}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')"
          -q "UPDATE InstallExecuteSequence SET Sequence = 1401 WHERE Action = 'RemoveExistingProducts'"
          -q "UPDATE InstallExecuteSequence SET Sequence = 3499 WHERE Action = 'StopAgents'"
  RESULT_VARIABLE mended)
if(NOT mended EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "msibuild could not mend ${OUTPUT}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
