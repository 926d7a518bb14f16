; The per-user installer of the Windows build, made by scripts/build-windows.sh from the files of
; the zip:
;   makensis -INPUTCHARSET UTF8 -DVERSION=2.14.0 -DSTAGE=<unpacked zip> -DFILES=<list.nsh>
;            -DOUTFILE=<setup.exe> torvix-tp.nsi
; FILES deletes, file by file, what STAGE holds: the uninstaller removes only what was installed,
; so тп.ini and записи, which the program makes beside itself, stay unless the user asks.
; The installer takes /S (silent), /D=FOLDER (last), /PATH and /NODESKTOP.

Unicode true
; The Wine of the build machine has no 32-bit part, and the program is 64-bit anyway.
Target amd64-unicode
; Service laptops rarely give their users administrator rights: everything goes under HKCU and
; the user's own folders.
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
!include WinMessages.nsh
!include Sections.nsh

!define PRODUCT "Torvix. Тест протокола Modbus"
!define PUBLISHER "Torvix"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvix"
!define MENU_FOLDER "$SMPROGRAMS\Torvix"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; Under "Programs" in the user's local application data, as per-user installs of other tools go;
; a folder the user may write, which the program needs for тп.ini and записи.
InstallDir "$LOCALAPPDATA\Programs\Torvix"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка ${PRODUCT}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "GPL-3.0-or-later"

!define MUI_ABORTWARNING
; The description under the list leaves the list room for "Удалить настройки и записи".
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_WELCOMEPAGE_TITLE_3LINES
!define MUI_WELCOMEPAGE_TEXT "Программа будет установлена для вас одного, права администратора не нужны.$\r$\n$\r$\nНастройки (тп.ini) и записи программа хранит в своей папке; при обновлении они сохраняются.$\r$\n$\r$\nНажмите «Далее», чтобы продолжить."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE_3LINES
; Unticked: the first start asks for the port, which the user may not know yet.
!define MUI_FINISHPAGE_RUN "$INSTDIR\torvix-tp.exe"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\ПРОЧТИ.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Открыть ПРОЧТИ"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_TEXT_TOP "Отметьте пункт ниже, только если настройки порта и записи испытаний больше не нужны."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Russian"

${Using:StrFunc} StrStr
${Using:StrFunc} UnStrRep

Section "Программа" SecProgram
  SectionIn RO
  ; An older version in this folder leaves by its own uninstaller, silently (which keeps тп.ini
  ; and записи); run in place (_?=), so that it is done before the new files are copied.
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    ExecWait '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  ${EndIf}
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\${PRODUCT}.lnk" "$INSTDIR\torvix-tp.exe"
  CreateShortcut "${MENU_FOLDER}\ПРОЧТИ.lnk" "$INSTDIR\ПРОЧТИ.txt"
  CreateShortcut "${MENU_FOLDER}\Удалить ${PUBLISHER}.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\torvix-tp.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Ярлык на рабочем столе" SecDesktop
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\torvix-tp.exe"
SectionEnd

Section /o "Папка в PATH (torvix-cli)" SecPath
  ReadRegStr $0 HKCU "Environment" "Path"
  StrLen $1 $0
  ; NSIS strings hold 1024 characters: a longer PATH would be read cut short and written back
  ; so, losing the user's other entries.
  IntOp $2 ${NSIS_MAX_STRLEN} - 300
  ${If} $1 > $2
    DetailPrint "PATH слишком длинный, папка в него не добавлена"
    MessageBox MB_ICONEXCLAMATION|MB_OK "PATH пользователя слишком длинный: добавьте $INSTDIR в него сами." /SD IDOK
    Return
  ${EndIf}
  ${StrStr} $3 ";$0;" ";$INSTDIR;"
  ${If} $3 == ""
    ${If} $0 == ""
      StrCpy $0 "$INSTDIR"
    ${Else}
      StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
    WriteRegExpandStr HKCU "Environment" "Path" "$0"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  ${EndIf}
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "AddedToPath" 1
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "torvix-tp.exe, torvix-cli.exe, torvix-report.exe и библиотеки Qt, ярлыки в меню «Пуск»."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "Ярлык окна программы на рабочем столе."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} "Добавить папку программы в PATH пользователя: torvix-cli можно будет запускать из любой командной строки."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; For a silent roll-out: /PATH ticks the PATH entry, /NODESKTOP clears the desktop shortcut.
Function .onInit
  ; An upgrade keeps the PATH entry an earlier install made (its uninstaller takes it out first).
  ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NODESKTOP" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecDesktop} 0
  ${EndIf}
FunctionEnd

Section "un.Программа" UnSecProgram
  SectionIn RO
  ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    Call un.RemoveFromPath
  ${EndIf}
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  Delete "${MENU_FOLDER}\${PRODUCT}.lnk"
  Delete "${MENU_FOLDER}\ПРОЧТИ.lnk"
  Delete "${MENU_FOLDER}\Удалить ${PUBLISHER}.lnk"
  RMDir "${MENU_FOLDER}"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Удалить настройки и записи" UnSecData
  Delete "$INSTDIR\тп.ini"
  RMDir /r "$INSTDIR\записи"
SectionEnd

; Last, after the optional section: the folder goes only when nothing of the user's is left.
Section "-un.Folder"
  RMDir "$INSTDIR"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecProgram} "Файлы программы, ярлыки и запись в «Программах и компонентах»."
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecData} "тп.ini (выбор порта) и папка «записи» с записями испытаний. Без отметки они остаются."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.RemoveFromPath
  ReadRegStr $0 HKCU "Environment" "Path"
  StrLen $1 $0
  ${If} $1 >= ${NSIS_MAX_STRLEN}
    Return
  ${EndIf}
  ; Framed by separators, the entry is found only whole, wherever it stands.
  ${UnStrRep} $0 ";$0;" ";$INSTDIR;" ";"
  StrCpy $0 $0 "" 1
  StrCpy $0 $0 -1
  ${If} $0 == ""
    DeleteRegValue HKCU "Environment" "Path"
  ${Else}
    WriteRegExpandStr HKCU "Environment" "Path" "$0"
  ${EndIf}
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd
