; The Windows installer of Kestrane: 64-bit, for the current user (no
; administrator rights, under the user's own programs folder) or for all users
; (under Program Files), chosen on a page or by /CurrentUser or /AllUsers; /S
; installs without a word. It registers the .upd file type through a ProgID of
; its own, offers Kestrane for .syx files only as an "Open with" choice, makes
; a Start-menu shortcut and lists an uninstaller with the installed programs.
; Installing over an installed copy replaces it in place.
;
; makensis gets the files and names from the build (cmake/PackageWindows.cmake
; and tools/release.sh):
;   VERSION      the project's version, MAJOR.MINOR.PATCH
;   APP_EXE      Kestrane.exe
;   CLI_EXE      kestrane-cli.exe
;   README       the readme, shipped as README.txt
;   LICENSE      the licence, shipped as LICENSE.txt and shown on its page
;   ICON         the program's icon, also the installer's
;   OUTFILE      the installer to write
;   SIGN_SCRIPT  optional: a script that signs the file it is given in place;
;                the uninstaller is signed with it before it is packed

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!define PRODUCT "Kestrane"
!define PUBLISHER "The Kestrane developers"
!define PROGID "Kestrane.Update"
!define TYPE_NAME "Kestrane firmware update"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrane"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) the Kestrane developers. MIT License."

!ifdef SIGN_SCRIPT
  !uninstfinalize 'bash "${SIGN_SCRIPT}" "%1"' = 0
!endif

; Install mode: all users when the account may, else the current user; an
; earlier installation's mode is kept, so that installing again upgrades that
; copy. The mode's folder comes from the earlier installation too.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Kestrane.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Kestrane"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; The shell caches file types: tell it that they changed.
!macro AssociationsChanged
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0x1000, p 0, p 0)'
!macroend

Section "Kestrane" SectionProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=Kestrane.exe" "${APP_EXE}"
  File "/oname=kestrane-cli.exe" "${CLI_EXE}"
  File "/oname=README.txt" "${README}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The file type. Kestrane takes .upd; for .syx it is one more program that
  ; can open the file, and whatever opens .syx now keeps doing so.
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "${TYPE_NAME}"
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "FriendlyTypeName" "${TYPE_NAME}"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\Kestrane.exe,0"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell" "" "open"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\Kestrane.exe" "%1"'
  WriteRegStr SHCTX "Software\Classes\.upd" "" "${PROGID}"
  WriteRegNone SHCTX "Software\Classes\.upd\OpenWithProgids" "${PROGID}"
  WriteRegNone SHCTX "Software\Classes\.syx\OpenWithProgids" "${PROGID}"

  CreateShortCut "$SMPROGRAMS\Kestrane.lnk" "$INSTDIR\Kestrane.exe" "" "$INSTDIR\Kestrane.exe" 0

  ; The entry in the list of installed programs; the uninstaller is told the
  ; install mode so that it works on the same keys and folders.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kestrane.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0

  !insertmacro AssociationsChanged
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\Kestrane.exe"
  Delete "$INSTDIR\kestrane-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Kestrane.lnk"

  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  ; .upd goes back to no program only while it still opens with Kestrane: a
  ; program that has taken it over since keeps it.
  ReadRegStr $0 SHCTX "Software\Classes\.upd" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue SHCTX "Software\Classes\.upd" ""
  ${EndIf}
  ; /ifempty: only a key with neither values nor subkeys left goes.
  DeleteRegValue SHCTX "Software\Classes\.upd\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.upd\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.upd"
  DeleteRegValue SHCTX "Software\Classes\.syx\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.syx\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.syx"

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  !insertmacro AssociationsChanged
SectionEnd
