; The clinic's installer of the plug-in, built by scripts/package with makensis, which defines
;   VERSION  the product's version (the VERSION file at the top of the tree)
;   STAGE    the files to install, laid out as a staged install (stage/win32 for clinics)
;   OUTFILE  the installer to write
;   ARCH     x86 for the 32-bit deployment build, x64 for the win64 build (the latter only so
;            that the 64-bit build's suite can test its own package)
;
; What it installs, into <folder>, by default Program Files\Kelvora\Quilo:
;   <folder>\QuiloPlugin.exe, the language files, Test.tif (the simulated sensor's image) and
;   Uninstall.exe; <folder>\..\plugins.ini when the host has not put one there; the machine-wide
;   default settings that are not set yet; the uninstall entry; the installing user's data folder.
; It does not install the scanner library: the clinic gets OrvaneEx.dll from the scanner's maker
; and puts it beside QuiloPlugin.exe; the uninstaller leaves it there.
;
;   QuiloPluginSetup-<version>.exe /S                      silent, into the default folder
;   QuiloPluginSetup-<version>.exe /S /D=C:\Kelvora\Quilo  silent, into another folder (last,
;                                                          unquoted, as NSIS wants it)
;   <folder>\Uninstall.exe /S                              silent removal

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Quilo Plugin"
!define PUBLISHER "Quilo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The company the plug-in takes when plugins.ini names none.
!define DEFAULT_COMPANY "Kelvora AB"

; A 32-bit program on 64-bit Windows lives in Program Files (x86) and reads HKLM\SOFTWARE
; through the 32-bit view (WOW6432Node): the installer of the 32-bit plug-in writes its folder
; and its machine-wide settings where the plug-in itself (and any 32-bit tool of the host's that
; reads them) looks, which is the 32-bit view; a 64-bit build gets the native ones.
!if "${ARCH}" == "x64"
  !define REG_VIEW 64
  InstallDir "$PROGRAMFILES64\Kelvora\Quilo"
!else
  !define REG_VIEW 32
  InstallDir "$PROGRAMFILES32\Kelvora\Quilo"
!endif
; A reinstall goes where the last install went (unless /D= says otherwise).
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The scanner library is the one thing the clinic adds by hand: the last page says where.
!define MUI_FINISHPAGE_TEXT "${PRODUCT} has been installed on your computer.$\r$\n$\r$\nThe scanner library from the scanner's maker, OrvaneEx.dll, belongs in this folder: copy it there if it is not there yet.$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nClick Finish to close Setup."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright ${PUBLISHER}"

Var SettingsKey  ; SOFTWARE\<company>\Plugins\Quilo Plugin, as the plug-in builds it
Var HostFolder   ; the folder above the install folder, where plugins.ini lives

; Sets a machine-wide value only when it is not there yet: a reinstall keeps what the clinic set.
!macro DefaultSetting SECTION NAME VALUE
  ClearErrors
  ReadRegStr $0 HKLM "$SettingsKey\${SECTION}" "${NAME}"
  ${If} ${Errors}
    WriteRegStr HKLM "$SettingsKey\${SECTION}" "${NAME}" "${VALUE}"
  ${EndIf}
!macroend

; $SettingsKey from the company that plugins.ini names, as the plug-in reads it.
!macro FindSettingsKey
  ReadINIStr $0 "$HostFolder\plugins.ini" "Settings" "Company"
  ${If} $0 == ""
    StrCpy $0 "${DEFAULT_COMPANY}"
  ${EndIf}
  StrCpy $SettingsKey "SOFTWARE\$0\Plugins\${PRODUCT}"
!macroend

Function .onInit
  SetRegView ${REG_VIEW}
FunctionEnd

Section "Quilo Plugin"
  SetOutPath "$INSTDIR"
  File "${STAGE}/Quilo/QuiloPlugin.exe"
  File "${STAGE}/Quilo/${PRODUCT}_*.lan"
  File "${STAGE}/Quilo/Test.tif"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; plugins.ini belongs to the host: one already there stays as it is. The uninstaller removes
  ; only one that an install of ours wrote (remembered in the uninstall entry).
  ${GetParent} "$INSTDIR" $HostFolder
  ClearErrors
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "InstalledPluginsIni"
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} ${Errors}
  ${OrIf} $2 != $INSTDIR
    StrCpy $1 0
  ${EndIf}
  ${IfNot} ${FileExists} "$HostFolder\plugins.ini"
    SetOutPath "$HostFolder"
    File "${STAGE}/plugins.ini"
    StrCpy $1 1
  ${EndIf}

  ; Machine-wide defaults, equal to the plug-in's own: written so that a technician finds them
  ; in the registry. DefaultUserSettings holds the per-user values each user starts from.
  !insertmacro FindSettingsKey
  !insertmacro DefaultSetting "DefaultUserSettings\Options" "Visible" "0"
  !insertmacro DefaultSetting "DefaultUserSettings\Options" "Verbose" "0"
  !insertmacro DefaultSetting "Options" "NoPreview" "0"
  !insertmacro DefaultSetting "Options" "BitDepth" "8"
  !insertmacro DefaultSetting "Options" "CloseDone" "0"
  !insertmacro DefaultSetting "Options" "Invert" "1"
  !insertmacro DefaultSetting "Options" "ImageEnhancement" "3"
  !insertmacro DefaultSetting "Options" "SavePreview" "1"

  ; The data folder (the raw image of the last scan) is per user: the installing user's is made
  ; here, and the plug-in makes any other user's on its first start. Its name is the product
  ; name in capitals without "PLUGIN".
  SetShellVarContext current
  CreateDirectory "$APPDATA\QUILO"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\QuiloPlugin.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "InstalledPluginsIni" $1
  WriteRegStr HKLM "${UNINSTALL_KEY}" "SettingsKey" "$SettingsKey"
  SectionGetSize 0 $0  ; kilobytes
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
  SetRegView ${REG_VIEW}
FunctionEnd

; Removes what the installer put there. The users' settings (HKEY_CURRENT_USER) and data folders
; with their images stay; so does anything else in the install folder (the scanner library), and
; the folder with it.
Section "Uninstall"
  Delete "$INSTDIR\QuiloPlugin.exe"
  Delete "$INSTDIR\${PRODUCT}_*.lan"
  Delete "$INSTDIR\Test.tif"
  Delete "$INSTDIR\QuiloPlugin.log"  ; the plug-in's log in visible mode
  ; This file is the program that started the uninstaller running here (from a copy of itself)
  ; and may not have ended yet: it is given ten seconds, then left for the next restart.
  StrCpy $0 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\Uninstall.exe"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    Sleep 250
    IntOp $0 $0 + 1
  ${LoopUntil} $0 >= 40
  Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"

  ${GetParent} "$INSTDIR" $HostFolder
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "InstalledPluginsIni"
  ${If} $1 == 1
    Delete "$HostFolder\plugins.ini"
  ${EndIf}
  RMDir "$HostFolder"

  ; The machine-wide settings go; their company key only when nothing else (the host) is left in it.
  ReadRegStr $SettingsKey HKLM "${UNINSTALL_KEY}" "SettingsKey"
  ${If} $SettingsKey != ""
    DeleteRegKey HKLM "$SettingsKey"
    ${GetParent} "$SettingsKey" $0
    DeleteRegKey /ifempty HKLM "$0"
    ${GetParent} "$0" $0
    DeleteRegKey /ifempty HKLM "$0"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
