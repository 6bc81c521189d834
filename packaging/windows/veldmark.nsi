; The Windows installer: VeldmarkSetup-<version>.exe. Built by the Windows
; build's "windows_installer" step with makensis, which passes
;   VERSION  the program version
;   BINDIR   the folder with the four programs and libusb-1.0.dll
;   SRCDIR   this folder (licence, WinUSB binding)
;   OUTFILE  the installer to write
; The programs go to Program Files\Veldmark; the console works in the
; installing user's %LOCALAPPDATA%\Veldmark (settings, data.db, logs), which
; the uninstaller leaves in place.
; A 64-bit installer, like the programs (and wine without 32-bit support runs it).
Target amd64-unicode
SetCompressor /SOLID lzma
Name "Veldmark ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Veldmark"
InstallDirRegKey HKLM "Software\Veldmark" "InstallDir"
RequestExecutionLevel admin
ShowInstDetails show

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veldmark"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Veldmark"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${BINDIR}\Veldmark.exe"
  File "${BINDIR}\ZelBurner.exe"
  File "${BINDIR}\zelflash.exe"
  File "${BINDIR}\zelimg.exe"
  File "${BINDIR}\libusb-1.0.dll"
  File /oname=copyright.txt "${SRCDIR}\..\copyright"
  SetOutPath "$INSTDIR\driver"
  File "${SRCDIR}\veldmark-winusb.inf"

  ; The console keeps its settings, history and logs in its working folder.
  SetShellVarContext current
  CreateDirectory "$LOCALAPPDATA\Veldmark"
  SetOutPath "$LOCALAPPDATA\Veldmark"
  CreateDirectory "$SMPROGRAMS\Veldmark"
  CreateShortCut "$SMPROGRAMS\Veldmark\Veldmark.lnk" "$INSTDIR\Veldmark.exe" "" "$INSTDIR\Veldmark.exe" 0
  CreateShortCut "$SMPROGRAMS\Veldmark\Uninstall Veldmark.lnk" "$INSTDIR\uninstall.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Veldmark" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Veldmark"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Veldmark developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Veldmark.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  Delete "$INSTDIR\Veldmark.exe"
  Delete "$INSTDIR\ZelBurner.exe"
  Delete "$INSTDIR\zelflash.exe"
  Delete "$INSTDIR\zelimg.exe"
  Delete "$INSTDIR\libusb-1.0.dll"
  Delete "$INSTDIR\copyright.txt"
  Delete "$INSTDIR\driver\veldmark-winusb.inf"
  RMDir "$INSTDIR\driver"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Veldmark\Veldmark.lnk"
  Delete "$SMPROGRAMS\Veldmark\Uninstall Veldmark.lnk"
  RMDir "$SMPROGRAMS\Veldmark"
  ; $LOCALAPPDATA\Veldmark holds the operator's history and logs: kept.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Veldmark"
SectionEnd
