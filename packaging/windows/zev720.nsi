; The Windows installer: the programs under Program Files, a Start-menu entry that works in
; %LOCALAPPDATA%\ZEV720 (zev720.exe --menu), and an uninstaller that removes all it installed.
; makensis -DVERSION=6.0 -DSOURCE=<the zip's folder> -DOUTFILE=<setup.exe> zev720.nsi
; A 64-bit installer for 64-bit programs (it runs where no 32-bit layer is installed, too).
Target amd64-unicode
!include "MUI2.nsh"

Name "ZEV720 控制面板"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\ZEV720"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZEV720"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

Section "ZEV720"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  File "/oname=zev720.ico" "${ICON}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\ZEV720 控制面板.lnk" "$INSTDIR\zev720.exe" "--menu" "$INSTDIR\zev720.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "ZEV720 控制面板"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "ZEV720 control panel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zev720.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there goes: the users' folders under %LOCALAPPDATA% hold their
; settings and stay.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\ZEV720 控制面板.lnk"
  !include "${FILELIST}"
  Delete "$INSTDIR\zev720.ico"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR\translations"
  RMDir "$INSTDIR\licenses"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
