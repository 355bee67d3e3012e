; The Windows installer: Orvantis-<version>-Setup.exe, made by
; scripts/windows/build.sh with Debian's makensis from the same files as the
; zip. Defines it gets (-D):
;   VERSION   the project's version, major.minor.patch
;   STAGE     the folder holding orvantis.exe and the pictures
;   FILES     an include file that lists them (made by build.sh)
;   ICON      the program's icon (orvantis.ico, drawn at build time)
;   OUTFILE   the installer to write
;
; It installs for the current user only, without administrator rights,
; into %LOCALAPPDATA%\Programs\Orvantis: the program writes its screenshot,
; ss.jpg, into the folder it starts in, so that folder must be the user's to
; write. /S installs silently with the default choices.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Orvantis"
!define PUBLISHER "The Orvantis developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvantis"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The files are listed by build.sh as OrvantisFile lines, once for the
; installer and once for the uninstaller.
!macro OrvantisFile NAME
  File "${STAGE}\${NAME}"
!macroend

Section "${PRODUCT} (required)" SecProgram
  SectionIn RO
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut starts the program in its own folder ("Start in" is the
  ; output path), where its pictures are and where it may write ss.jpg.
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\orvantis.exe" "" "$INSTDIR\orvantis.exe" 0 \
    SW_SHOWNORMAL "" "Remote control for slide shows from a phone's browser"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$\"$INSTDIR\orvantis.exe$\",0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section /o "Desktop shortcut" SecDesktop
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\orvantis.exe" "" "$INSTDIR\orvantis.exe" 0
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "The program, its pictures and a Start menu shortcut."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "A shortcut on the desktop."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function StartProgram
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\orvantis.exe"'
FunctionEnd

!macroundef OrvantisFile
!macro OrvantisFile NAME
  Delete "$INSTDIR\${NAME}"
!macroend

Section "Uninstall"
  SetShellVarContext current
  !include "${FILES}"
  ; The program's latest screenshot.
  Delete "$INSTDIR\ss.jpg"
  ; A capture cut short (the program killed while writing) leaves its
  ; unfinished copy beside it.
  Delete "$INSTDIR\ss.jpg.part"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: a file the user put there stays, and so does its folder.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
