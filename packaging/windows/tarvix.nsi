; The Windows installer, tarvix-setup-<version>.exe, made by make windows (tools/windows/build.sh):
;   makensis -DVERSION=1.0 -DFOLDER=<the program's folder> -DICON=<tarvix.ico> -DOUTFILE=<exe> tarvix.nsi
; It installs the folder into Program Files, adds a Start-menu entry "Tarvix Conectivity" with
; the program's icon and an entry in Windows' list of installed programs, and writes an
; uninstaller that takes all of that away again. Silent: /S (the uninstaller too).
;
; The program keeps tvx.cfg in the folder it starts in. Program Files is not writable for
; users, so the Start-menu entry starts it in Public Documents\Tarvix, made here for everyone:
; the port number is the computer's (the instrument is cabled to this computer's COM port), so
; every user shares one tvx.cfg, and the save and open windows begin there too. The uninstaller
; leaves that folder only when it holds something (tvx.cfg, reading files): those are the
; users'.

; A 64-bit installer for a 64-bit program (and one that Wine without its 32-bit part runs).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include x64.nsh
!include LogicLib.nsh

!define NAME "Tarvix Conectivity"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvix Conectivity"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${NAME}"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK "${NAME} needs 64-bit Windows."
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${FOLDER}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The folder the program starts in, where it keeps tvx.cfg.
  CreateDirectory "$DOCUMENTS\Tarvix"
  SetOutPath "$DOCUMENTS\Tarvix"
  CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\tarvix.exe" "" "$INSTDIR\tarvix.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvix.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${NAME}.lnk"
  ; Only what the installer put there: a file a user added to the program's folder stays.
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  Delete "$INSTDIR\*.exe"
  Delete "$INSTDIR\*.dll"
  RMDir "$INSTDIR"
  ; Left when it holds tvx.cfg or readings.
  RMDir "$DOCUMENTS\Tarvix"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
