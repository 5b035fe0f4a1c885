; The station PC's installer, built by scripts/package:
;   makensis -DVERSION=1.0.0 -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> vornix.nsi
; /S installs and uninstalls without a question.
;
; setup.ini belongs to the station, not to a release: it names the router and
; holds start_mac, the next router's MAC block, which every run advances. So
; the installer puts the sample there only when there is no setup.ini, and the
; uninstaller leaves it (with the folder) in place: a fresh sample would hand
; out the same addresses twice. label.zpl, the label template, is the
; station's too (its product name, its layout): the same.

Unicode true
; The programs are 64-bit; so is the installer, which then sees the 64-bit
; Program Files and registry as the station does.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vornix"

Name "Vornix ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vornix"
; An update goes where the station's setup.ini already is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Vornix"
VIAddVersionKey /LANG=0 "CompanyName" "Vornix"
VIAddVersionKey /LANG=0 "LegalCopyright" "Vornix"
VIAddVersionKey /LANG=0 "FileDescription" "Vornix installer"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Vornix"
  SetShellVarContext all
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${STAGE}/vornix.exe"
  File "${STAGE}/vornix-cli.exe"
  File "${STAGE}/flashsim.exe"
  File "${STAGE}/README.txt"
  SetOverwrite off
  File "${STAGE}/setup.ini"
  File "${STAGE}/label.zpl"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; A shortcut starts in the output folder: vornix.exe reads setup.ini from
  ; the folder it starts in.
  CreateShortcut "$SMPROGRAMS\Vornix.lnk" "$INSTDIR\vornix.exe" "" "$INSTDIR\vornix.exe" 0 SW_SHOWNORMAL "" "Vornix station tool"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vornix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vornix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vornix.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  Delete "$SMPROGRAMS\Vornix.lnk"
  Delete "$INSTDIR\vornix.exe"
  Delete "$INSTDIR\vornix-cli.exe"
  Delete "$INSTDIR\flashsim.exe"
  ; flashsim's journal of a rehearsal, beside it.
  Delete "$INSTDIR\flashsim.log"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only an empty folder goes: setup.ini, label.zpl and the station's records stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
