; The Windows installer, one per architecture, made by scripts/build-windows from the folder the
; portable zip is packed from:
;   makensis -DVERSION=1.0.0.0 -DBITS=64 -DSTAGE=<folder> -DICON=<.ico> -DSIZE_KB=<n>
;            -DPATHENTRY=<pathentry.exe> -DOUTFILE=<setup.exe> KX4701SetCfg.nsi
; It puts the programs into Program Files (the 64-bit one into the 64-bit Program Files), the
; stand-in DLL only under standin\ (the maker's KX4701DLL.DLL belongs beside the program), adds
; a Start-menu entry and an uninstaller registered under Add/Remove Programs, and puts the
; folder on the system's search path so that kx4701 runs from any new console.

Unicode true
!if ${BITS} == 64
    ; A 64-bit installer sees the 64-bit Program Files and registry as they are.
    Target amd64-unicode
!else
    Target x86-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define NAME "KX4701SetCfg"
!define PUBLISHER "the KX4701SetCfg authors"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define SHORTCUT "$SMPROGRAMS\${NAME}.lnk"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
!if ${BITS} == 64
    InstallDir "$PROGRAMFILES64\${NAME}"
!else
    InstallDir "$PROGRAMFILES32\${NAME}"
!endif
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${NAME}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${NAME} ${VERSION} (${BITS}-bit) setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) ${PUBLISHER}, MIT License"

!include MUI2.nsh
!include LogicLib.nsh
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\readme.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the one for a system in neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

; The install folder on (add) or off (remove) the system's search path, through our helper, which
; keeps a long PATH whole; unpacked into the plug-ins folder, gone when the installer ends.
!macro SearchPath VERB
    InitPluginsDir
    File "/oname=$PLUGINSDIR\pathentry.exe" "${PATHENTRY}"
    nsExec::ExecToLog '"$PLUGINSDIR\pathentry.exe" ${VERB} "$INSTDIR"'
    Pop $0
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONEXCLAMATION "The search path could not be changed ($0); \
            run kx4701 by its full path: $INSTDIR\kx4701.exe" /SD IDOK
    ${EndIf}
!macroend

Section
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${STAGE}\KX4701SetCfg.exe"
    !if /FileExists "${STAGE}\kx4701.exe"
        File "${STAGE}\kx4701.exe"
        File "${STAGE}\kx4701.txt"
    !endif
    File "${STAGE}\readme.txt"
    File "${STAGE}\LICENSE.txt"
    SetOutPath "$INSTDIR\licenses"
    File "${STAGE}\licenses\*.txt"
    SetOutPath "$INSTDIR\standin"
    File "${STAGE}\standin\KX4701DLL.DLL"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; The shortcut starts the program in its own folder.
    SetOutPath "$INSTDIR"
    CreateShortCut "${SHORTCUT}" "$INSTDIR\KX4701SetCfg.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KX4701SetCfg.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}

    !insertmacro SearchPath add
SectionEnd

; Removes what the installer put there, by name: a file the user added (the maker's DLL) stays,
; and so does the folder then.
Section "Uninstall"
    SetShellVarContext all
    !insertmacro SearchPath remove
    Delete "${SHORTCUT}"
    Delete "$INSTDIR\KX4701SetCfg.exe"
    Delete "$INSTDIR\kx4701.exe"
    Delete "$INSTDIR\kx4701.txt"
    Delete "$INSTDIR\readme.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\licenses\*.txt"
    RMDir "$INSTDIR\licenses"
    Delete "$INSTDIR\standin\KX4701DLL.DLL"
    RMDir "$INSTDIR\standin"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; This runs from a copy in a folder under %TEMP%, marked for deletion at the next restart
    ; before the copy is: marked again after it, the folder goes too.
    RMDir /REBOOTOK "$EXEDIR"
SectionEnd
