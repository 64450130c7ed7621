; The Windows installer: quorvel.exe and quorvel-ini.exe under Program Files, a
; Start-menu entry, Quorvel started at logon (a component, on by default), and an
; uninstaller in Add/Remove Programs that removes exactly what was installed. The
; user's settings (%APPDATA%\Quorvel\quorvel.ini) and the hand-off files are the
; user's and stay.
;
;   makensis -DVERSION=1.1.0 -DSTAGE=<folder of the programs> -DOUTFILE=<setup.exe> quorvel.nsi
;
; Unattended: quorvel-setup-VERSION.exe /S [/AUTOSTART=0] [/D=folder]
;             uninstall.exe /S   (add _?=<folder> to wait for it to finish)
; A 64-bit installer: it runs under 64-bit Windows only, as Quorvel does, and
; sees the 64-bit Program Files and registry without redirection.
Target amd64-unicode
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

!ifndef VERSION | STAGE | OUTFILE
  !error "VERSION, STAGE and OUTFILE must be defined"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Quorvel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorvel"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow
BrandingText "Quorvel ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Quorvel"
VIAddVersionKey /LANG=0 "FileDescription" "Quorvel ${VERSION} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Quorvel developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
; The installer runs elevated; Quorvel must not: Explorer starts it as the user.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartQuorvel
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one for systems in neither language.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "PortugueseBR"

LangString SecProgramName ${LANG_ENGLISH} "Quorvel"
LangString SecProgramName ${LANG_PORTUGUESEBR} "Quorvel"
LangString SecLogonName ${LANG_ENGLISH} "Start Quorvel at logon"
LangString SecLogonName ${LANG_PORTUGUESEBR} "Iniciar o Quorvel ao entrar no Windows"
LangString InUse ${LANG_ENGLISH} "Quorvel is running. Close it, then choose Retry."
LangString InUse ${LANG_PORTUGUESEBR} "O Quorvel está aberto. Feche-o e escolha Repetir."

; A running quorvel.exe cannot be replaced or removed: the user closes it, or
; the (un)installation stops with nothing changed. Silent runs stop at once.
!macro WaitUntilClosed
  ${DoWhile} ${FileExists} "$INSTDIR\quorvel.exe"
    ClearErrors
    FileOpen $0 "$INSTDIR\quorvel.exe" a
    ${IfNot} ${Errors}
      FileClose $0
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(InUse)" /SD IDCANCEL IDRETRY +2
    Abort
  ${Loop}
!macroend

Section "$(SecProgramName)" SecProgram
  SectionIn RO
  SetRegView 64
  SetOutPath "$INSTDIR"
  !insertmacro WaitUntilClosed
!if /FileExists "${STAGE}\quorvel.exe"
  File "${STAGE}\quorvel.exe"
!endif
  File "${STAGE}\quorvel-ini.exe"
  File "${STAGE}\LEIAME.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

!if /FileExists "${STAGE}\quorvel.exe"
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Quorvel"
  CreateShortcut "$SMPROGRAMS\Quorvel\Quorvel.lnk" "$INSTDIR\quorvel.exe" "" "$INSTDIR\quorvel.exe" 0
  SetShellVarContext current
!endif
  ; A reinstall without the logon component takes an earlier entry away.
  DeleteRegValue HKCU "${RUN_KEY}" "Quorvel"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quorvel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
!if /FileExists "${STAGE}\quorvel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvel.exe,0"
!endif
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

!if /FileExists "${STAGE}\quorvel.exe"
Section "$(SecLogonName)" SecLogon
  WriteRegStr HKCU "${RUN_KEY}" "Quorvel" '"$INSTDIR\quorvel.exe"'
SectionEnd
!endif

Function .onInit
  SetRegView 64
!if /FileExists "${STAGE}\quorvel.exe"
  ; /AUTOSTART=0 leaves the logon entry out (silent installs have no page for it).
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AUTOSTART=" $R1
  ${IfNot} ${Errors}
  ${AndIf} $R1 == "0"
    !insertmacro UnselectSection ${SecLogon}
  ${EndIf}
!endif
FunctionEnd

Function StartQuorvel
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\quorvel.exe"'
FunctionEnd

Section "Uninstall"
  SetRegView 64
  !insertmacro WaitUntilClosed
  Delete "$INSTDIR\quorvel.exe"
  Delete "$INSTDIR\quorvel-ini.exe"
  Delete "$INSTDIR\LEIAME.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: anything the user put there stays.
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\Quorvel\Quorvel.lnk"
  RMDir "$SMPROGRAMS\Quorvel"
  SetShellVarContext current
  DeleteRegValue HKCU "${RUN_KEY}" "Quorvel"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
