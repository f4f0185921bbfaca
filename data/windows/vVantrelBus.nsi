; Installer of vVantrelBus for 64-bit Windows, made by scripts/package-windows
; with makensis, which passes VERSION, STAGE (the runnable folder), OUTFILE
; and the two lists it writes of that folder: INSTALL_LIST (what to copy)
; and REMOVE_LIST (what the uninstaller deletes, file by file, so that a
; user's settings and captures kept beside the program stay).
;
; Installs per user, without administrator rights, into
; %LOCALAPPDATA%\Programs\vVantrelBus; the program then keeps its settings in
; %APPDATA%\vVantrelBus\.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APP "vVantrelBus"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP} ${VERSION}"

!include "MUI2.nsh"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP}.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS "--demo"
!define MUI_FINISHPAGE_RUN_TEXT "Spustit ukázku se simulovanou centrálou"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Czech"

Section "Program" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  !include "${INSTALL_LIST}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${APP}"
  CreateShortcut "$SMPROGRAMS\${APP}\${APP}.lnk" "$INSTDIR\${APP}.exe"
  CreateShortcut "$SMPROGRAMS\${APP}\${APP} – ukázka.lnk" "$INSTDIR\${APP}.exe" "--demo"
  CreateShortcut "$SMPROGRAMS\${APP}\Čti mě.lnk" "$INSTDIR\README-windows.txt"
  CreateShortcut "$SMPROGRAMS\${APP}\Odinstalovat ${APP}.lnk" "$INSTDIR\uninstall.exe"

  ; Add/Remove Programs, for this user.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP}.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Zástupce na ploše" SecDesktop
  CreateShortcut "$DESKTOP\${APP}.lnk" "$INSTDIR\${APP}.exe"
SectionEnd

Section "Uninstall"
  !include "${REMOVE_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only emptied folders go: settings or captures kept there stay.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP}\${APP} – ukázka.lnk"
  Delete "$SMPROGRAMS\${APP}\Čti mě.lnk"
  Delete "$SMPROGRAMS\${APP}\Odinstalovat ${APP}.lnk"
  RMDir "$SMPROGRAMS\${APP}"
  Delete "$DESKTOP\${APP}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
