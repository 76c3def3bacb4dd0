; The Windows installer: the zip's folder under Program Files for every user,
; Start-menu entries for the window and for a command prompt beside dvkctl.exe,
; and an uninstaller that Windows lists under its installed programs.
; scripts/package-windows.sh runs makensis with VERSION, VERSION_NUMBERS,
; OUTFILE, ICON and the two lists it writes from the package's folder:
; FILES (what to install) and UNFILES (exactly that, to remove).
;
; Silent:   dvk-sp-<version>-win64-setup.exe /S [/LANG=2052|1033] [/D=C:\other\folder]
;           "C:\Program Files\DVK_SP\uninstall.exe" /S
; /LANG picks Chinese (2052) or English (1033) where Windows' own language
; would pick the other; the uninstaller speaks the installation's.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define NAME "DVK_SP"
!define PUBLISHER "DVK_SP developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\DVK_SP"
!define MENU "$SMPROGRAMS\DVK_SP"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\DVK_SP"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "${NAME} ${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; Where the uninstaller finds the installation's language.
!define MUI_LANGDLL_REGISTRY_ROOT HKLM
!define MUI_LANGDLL_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "InstallerLanguage"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; Chinese first: the users' language when Windows' own is neither.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_RESERVEFILE_LANGDLL

LangString PROMPT_LINK ${LANG_SIMPCHINESE} "DVK_SP 命令行 (dvkctl)"
LangString PROMPT_LINK ${LANG_ENGLISH} "DVK_SP command prompt (dvkctl)"
LangString PROMPT_INFO ${LANG_SIMPCHINESE} "在安装文件夹中打开命令提示符, 可运行 dvkctl.exe"
LangString PROMPT_INFO ${LANG_ENGLISH} "A command prompt in the installation folder, to run dvkctl.exe"

VIProductVersion "${VERSION_NUMBERS}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${NAME} ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LANG=" $1
  ${If} $1 == ${LANG_SIMPCHINESE}
  ${OrIf} $1 == ${LANG_ENGLISH}
    StrCpy $LANGUAGE $1
  ${Else}
    !insertmacro MUI_LANGDLL_DISPLAY
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section
  ; An earlier version is removed by its own uninstaller first, so that none
  ; of its files outlive the uninstallation of this one.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    ExecWait '"$0\uninstall.exe" /S _?=$0'
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Shortcuts start in the installation folder, where the prompt finds
  ; dvkctl.exe without a change to the system's PATH.
  SetOutPath "$INSTDIR"
  CreateDirectory "${MENU}"
  CreateShortcut "${MENU}\DVK_SP.lnk" "$INSTDIR\dvk-sp.exe"
  CreateShortcut "${MENU}\$(PROMPT_LINK).lnk" "$SYSDIR\cmd.exe" "/k dvkctl.exe --help" \
    "$INSTDIR\dvkctl.exe" 0 SW_SHOWNORMAL "" "$(PROMPT_INFO)"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\dvk-sp.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallerLanguage" $LANGUAGE
SectionEnd

; Only what the installer put there is removed: a folder the user chose that
; holds other files keeps them.
Section Uninstall
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; Both languages' names: the uninstaller may speak another than the
  ; installer did.
  Delete "${MENU}\DVK_SP.lnk"
  Delete "${MENU}\DVK_SP 命令行 (dvkctl).lnk"
  Delete "${MENU}\DVK_SP command prompt (dvkctl).lnk"
  RMDir "${MENU}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
