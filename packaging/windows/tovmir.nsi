; The Windows installer of tovmir, one per architecture, made by scripts/package.sh:
;
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0.3 -DARCH=win64 -DFILES=DIR -DICON=FILE \
;            -DOUTFILE=FILE packaging/windows/tovmir.nsi
;
; FILES holds what the zip holds: tovmir.exe (signed when package.sh signs), README.txt and
; LICENSE.txt. The installer puts them under Program Files (for all users) or the user's
; own programs folder (for the user alone), adds a Start-menu shortcut that opens the port
; the user chose, and an uninstaller registered in Apps & features.
;
; Made with NSIS rather than an MSI from msitools' wixl: the port is chosen on a page of
; the installer, and wixl has no dialogs at all (no WixUI), and it leaves a shortcut's
; name unformatted, while the shortcut is named after the port ("tovmir (COM3)"). NSIS
; has nsDialogs pages, runs on Linux, and makes a 64-bit installer (amd64 stub) that
; installs into the 64-bit Program Files and registry view.
;
; Command line, for administrators (silent with /S):
;   /PORT=COMn        the port the shortcut opens, COM1 to COM255 (default: the one chosen
;                     by an earlier install, else COM1, as the program itself)
;   /AllUsers, /CurrentUser   for everybody (the default for administrators) or the user
;   /D=FOLDER         the folder to install into; last on the line
; A port that is none of those, anything else on the line, or the other architecture's
; tovmir installed for all users (the two would share the Start-menu shortcut) ends it with
; exit status 2, having changed nothing. The uninstaller takes /S; Apps & features starts it
; with the mode of the install. While the meter it would remove runs, it asks for it to be
; closed (Retry or Cancel), or under /S ends with exit status 2 (seen as the uninstaller's
; own with _?=FOLDER, which keeps it from handing its work to a copy of itself), having
; removed nothing; the entry in Apps & features goes only with the files. SIGN, when
; defined, is the command that signs the uninstaller (scripts/sign.sh).

!ifndef VERSION | ARCH | FILES | ICON | OUTFILE
  !error "VERSION, ARCH, FILES, ICON and OUTFILE must be defined (-D...)"
!endif

!if "${ARCH}" == "win64"
  Target amd64-unicode
  !define MULTIUSER_USE_PROGRAMFILES64
  !define BITS 64
  !define OTHER_BITS 32
!else if "${ARCH}" == "win32"
  Target x86-unicode
  !define BITS 32
  !define OTHER_BITS 64
!else
  !error "ARCH is win32 or win64, not ${ARCH}"
!endif

!define PRODUCT tovmir
!define PUBLISHER "the tovmir project"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; What the program accepts: COM1 to COM255.
!define MAX_PORT 255

Name "${PRODUCT}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma
ManifestSupportedOS all
ManifestDPIAware true
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
!ifdef SIGN
  !uninstfinalize '"${SIGN}" "%1"' = 0
!endif

; For all users when the user may (an administrator's default), else for the user alone;
; the choice is a page, or /AllUsers and /CurrentUser on the command line.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MINWIN 0x600
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR ${PRODUCT}
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINST_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME InstallLocation
; The uninstaller started without /AllUsers or /CurrentUser finds the install this way.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINST_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME UninstallString
; /AllUsers from a user who may not: refused, and said so in the exit status.
!define MULTIUSER_INIT_FUNCTIONQUIT QuitRefused
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include nsDialogs.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include x64.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

Var Port       ; COMn: what the shortcut opens
Var PortCombo  ; the port page's combo box

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
Page custom PortPage PortPageLeave
!insertmacro MUI_PAGE_INSTFILES

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The installer speaks the user's language where it can: Japanese, else English.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString PortTitle ${LANG_ENGLISH} "Serial port"
LangString PortTitle ${LANG_JAPANESE} "シリアル ポート"
LangString PortSubtitle ${LANG_ENGLISH} "Choose the port the handset is connected to."
LangString PortSubtitle ${LANG_JAPANESE} "携帯電話をつないだポートを選んでください。"
LangString PortText ${LANG_ENGLISH} "The Start-menu shortcut opens the meter on this port. \
  These are the serial ports Windows knows now; a USB serial adapter is usually COM3 or \
  above. You may also type another port, COM1 to COM${MAX_PORT}."
LangString PortText ${LANG_JAPANESE} "スタート メニューのショートカットは、このポートでメーターを\
  開きます。一覧は Windows が今知っているシリアル ポートです。USB シリアル アダプターは\
  たいてい COM3 以上です。COM1 から COM${MAX_PORT} までのほかのポートを入力することもできます。"
LangString BadPort ${LANG_ENGLISH} "$\"$0$\" is not a serial port: give COM1 to COM${MAX_PORT}."
LangString BadPort ${LANG_JAPANESE} "「$0」はシリアル ポートではありません。COM1 から \
  COM${MAX_PORT} までを指定してください。"
LangString BadOption ${LANG_ENGLISH} "Unknown option $\"$0$\". The options are /S, \
  /PORT=COMn, /AllUsers, /CurrentUser and /D=FOLDER (last)."
LangString BadOption ${LANG_JAPANESE} "「$0」というオプションはありません。オプションは /S、\
  /PORT=COMn、/AllUsers、/CurrentUser、/D=フォルダー (最後に) です。"
LangString OtherInstalled ${LANG_ENGLISH} "${PRODUCT} is installed for all users as the \
  ${OTHER_BITS}-bit program. Uninstall it first (Apps & features), then install this one."
LangString OtherInstalled ${LANG_JAPANESE} "${PRODUCT} の ${OTHER_BITS} ビット版がすべての\
  ユーザーにインストールされています。先にそれをアンインストールしてから (アプリと機能)、\
  これをインストールしてください。"
LangString MeterRunning ${LANG_ENGLISH} "${PRODUCT} is running from $INSTDIR. Close it and \
  choose Retry, or choose Cancel to leave it installed."
LangString MeterRunning ${LANG_JAPANESE} "${PRODUCT} が $INSTDIR から実行中です。閉じてから \
  [再試行] を選んでください。[キャンセル] を選ぶと、アンインストールしません。"
LangString ShortcutComment ${LANG_ENGLISH} "The reception meter of the handset on $Port"
LangString ShortcutComment ${LANG_JAPANESE} "$Port の携帯電話の受信メーター"

VIProductVersion ${VERSION}
VIAddVersionKey /LANG=${LANG_ENGLISH} ProductName "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} CompanyName "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} FileDescription "${PRODUCT} ${VERSION} setup (${BITS}-bit)"
VIAddVersionKey /LANG=${LANG_ENGLISH} FileVersion ${VERSION}
VIAddVersionKey /LANG=${LANG_ENGLISH} ProductVersion ${VERSION}
VIAddVersionKey /LANG=${LANG_ENGLISH} LegalCopyright "Copyright (C) 2026 ${PUBLISHER}"

; FirstWord WORD REST TEXT: TEXT's word before the first blank, and what follows it. TEXT
; must be neither of the other two.
!macro FirstWord word rest text
  StrCpy ${rest} 0
  ${Do}
    StrCpy ${word} ${text} 1 ${rest}
    ${If} ${word} == " "
    ${OrIf} ${word} == ""
      ${ExitDo}
    ${EndIf}
    IntOp ${rest} ${rest} + 1
  ${Loop}
  StrCpy ${word} ${text} ${rest}
  StrCpy ${rest} ${text} "" ${rest}
!macroend

; CheckPort: the port name on the stack as the program opens it ("com3" gives COM3), or ""
; when it is none of COM1 to COM255. Only the first word counts: the page's items are
; "COM3 - USB Serial Port".
!macro CheckPortFunction prefix
Function ${prefix}CheckPort
  Exch $0
  Push $1
  Push $2
  !insertmacro FirstWord $1 $2 $0
  ; COM (in any case) and a number written as the program's ports are: no sign, no
  ; leading zero; IntOp reads "12x", "012" and "0x1F" as numbers, which then read back
  ; otherwise.
  StrCpy $2 $1 "" 3
  StrCpy $1 $1 3
  IntOp $0 $2 + 0
  ${If} $1 != "COM"
  ${OrIf} "$0" != "$2"
  ${OrIf} $0 < 1
  ${OrIf} $0 > ${MAX_PORT}
    StrCpy $0 ""
  ${Else}
    StrCpy $0 "COM$0"
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro CheckPortFunction ""
!insertmacro CheckPortFunction "un."

; The shortcut of the install recorded in the registry, if there is one.
!macro RemoveShortcutFunction prefix
Function ${prefix}RemoveShortcut
  ReadRegStr $0 SHCTX "${UNINST_KEY}" Port
  Push $0
  Call ${prefix}CheckPort
  Pop $0
  ${If} $0 != ""
    Delete "$SMPROGRAMS\${PRODUCT} ($0).lnk"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RemoveShortcutFunction ""
!insertmacro RemoveShortcutFunction "un."

Function .onInit
  StrCpy $R0 $INSTDIR  ; /D=FOLDER, which MultiUser would replace with its default
  !insertmacro MULTIUSER_INIT
  ${If} $R0 != ""
    StrCpy $INSTDIR $R0
  ${EndIf}
  Call CheckOptions
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/PORT=" $0
  ${If} ${Errors}
    ; An earlier install's choice, else what the program opens without one.
    ReadRegStr $0 SHCTX "${UNINST_KEY}" Port
    Push $0
    Call CheckPort
    Pop $Port
    ${If} $Port == ""
      StrCpy $Port COM1
    ${EndIf}
  ${Else}
    Push $0
    Call CheckPort
    Pop $Port
    ${If} $Port == ""
      MessageBox MB_OK|MB_ICONSTOP "$(BadPort)" /SD IDOK
      Call QuitRefused
    ${EndIf}
  ${EndIf}

  ; The other architecture's program for all users is in the other registry view, which
  ; 32-bit Windows does not have.
  StrCpy $0 ""
  !if ${BITS} == 64
    SetRegView 32
    ReadRegStr $0 HKLM "${UNINST_KEY}" UninstallString
  !else
    ${If} ${RunningX64}
      SetRegView 64
      ReadRegStr $0 HKLM "${UNINST_KEY}" UninstallString
    ${EndIf}
  !endif
  SetRegView default
  ${If} $0 != ""
    MessageBox MB_OK|MB_ICONSTOP "$(OtherInstalled)" /SD IDOK
    Call QuitRefused
  ${EndIf}
FunctionEnd

; Ends the installer, which has changed nothing, with exit status 2.
Function QuitRefused
  SetErrorLevel 2
  Quit
FunctionEnd

; Every word of the command line must be an option of ours or NSIS's: a slip in an
; administrator's silent install would otherwise go unnoticed.
Function CheckOptions
  ${GetParameters} $2
  ${Do}
    ; the blanks before the next word
    ${Do}
      StrCpy $1 $2 1
      ${IfThen} $1 != " " ${|} ${ExitDo} ${|}
      StrCpy $2 $2 "" 1
    ${Loop}
    StrCpy $1 $2 3
    ${If} $2 == ""
    ${OrIf} $1 == "/D="
      ${ExitDo}
    ${EndIf}
    StrCpy $1 $2
    !insertmacro FirstWord $0 $2 $1
    StrCpy $1 $0 6
    ; NSIS itself takes /S and /NCRC only in capitals.
    ${IfNot} $0 S== "/S"
    ${AndIfNot} $0 S== "/NCRC"
    ${AndIfNot} $0 == "/AllUsers"
    ${AndIfNot} $0 == "/CurrentUser"
    ${AndIfNot} $1 == "/PORT="
      MessageBox MB_OK|MB_ICONSTOP "$(BadOption)" /SD IDOK
      Call QuitRefused
    ${EndIf}
  ${Loop}
FunctionEnd

; The port page: the ports Windows has (HARDWARE\DEVICEMAP\SERIALCOMM) in number order,
; each with the name Device Manager shows where the device registry has one.
Function PortPage
  !insertmacro MUI_HEADER_TEXT "$(PortTitle)" "$(PortSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 40u "$(PortText)"
  Pop $0
  ${NSD_CreateComboBox} 0 46u 100% 100u ""
  Pop $PortCombo
  ${NSD_Edit_SetTextLimit} $PortCombo 64

  ; Windows lists the ports as values of SERIALCOMM (device name = COMn), in no order.
  StrCpy $R9 "|"
  StrCpy $R0 0
  ${Do}
    ClearErrors
    EnumRegValue $R1 HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" $R0
    ${If} ${Errors}
    ${OrIf} $R1 == ""
      ${ExitDo}
    ${EndIf}
    ReadRegStr $R2 HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" $R1
    Push $R2
    Call CheckPort
    Pop $R2
    ${If} $R2 != ""
      StrCpy $R9 "$R9$R2|"
    ${EndIf}
    IntOp $R0 $R0 + 1
  ${Loop}
  ${For} $R0 1 ${MAX_PORT}
    Push "|COM$R0|"
    Push $R9
    Call IsIn
    Pop $R1
    ${If} $R1 == 1
      ${NSD_CB_AddString} $PortCombo "COM$R0"
    ${EndIf}
  ${Next}

  ; Device Manager's names: a device under Enum\BUS\ID\INSTANCE whose Device Parameters
  ; name the port has a FriendlyName such as "USB Serial Port (COM3)".
  StrCpy $R0 0
  ${Do}
    EnumRegKey $R1 HKLM "SYSTEM\CurrentControlSet\Enum" $R0
    ${IfThen} $R1 == "" ${|} ${ExitDo} ${|}
    StrCpy $R2 0
    ${Do}
      EnumRegKey $R3 HKLM "SYSTEM\CurrentControlSet\Enum\$R1" $R2
      ${IfThen} $R3 == "" ${|} ${ExitDo} ${|}
      StrCpy $R4 0
      ${Do}
        EnumRegKey $R5 HKLM "SYSTEM\CurrentControlSet\Enum\$R1\$R3" $R4
        ${IfThen} $R5 == "" ${|} ${ExitDo} ${|}
        StrCpy $R6 "SYSTEM\CurrentControlSet\Enum\$R1\$R3\$R5"
        ReadRegStr $R7 HKLM "$R6\Device Parameters" PortName
        ${If} $R7 != ""
          Push $R7
          Call CheckPort
          Pop $R7
          ReadRegStr $R8 HKLM $R6 FriendlyName
          ${If} $R7 != ""
          ${AndIf} $R8 != ""
            Push $R7
            Push $R8
            Call NameItem
          ${EndIf}
        ${EndIf}
        IntOp $R4 $R4 + 1
      ${Loop}
      IntOp $R2 $R2 + 1
    ${Loop}
    IntOp $R0 $R0 + 1
  ${Loop}

  ; The port chosen before (or given with /PORT=), as an item if it is one.
  SendMessage $PortCombo ${CB_FINDSTRINGEXACT} -1 "STR:$Port" $0
  ${If} $0 < 0
    SendMessage $PortCombo ${CB_FINDSTRING} -1 "STR:$Port - " $0
  ${EndIf}
  ${If} $0 >= 0
    SendMessage $PortCombo ${CB_SETCURSEL} $0 0
  ${Else}
    ${NSD_SetText} $PortCombo $Port
  ${EndIf}
  nsDialogs::Show
FunctionEnd

; NameItem PORT NAME (pushed in that order): the item PORT becomes "PORT - NAME", without
; the " (PORT)" the name usually ends with. Ports not listed, or named already, stay.
Function NameItem
  Exch $1  ; NAME
  Exch
  Exch $0  ; PORT
  Push $2
  Push $3
  Push $4
  SendMessage $PortCombo ${CB_FINDSTRINGEXACT} -1 "STR:$0" $2
  ${If} $2 >= 0
    StrCpy $4 " ($0)"
    StrLen $4 $4
    IntOp $3 0 - $4
    StrCpy $3 $1 "" $3
    ${If} $3 == " ($0)"
      StrLen $3 $1
      IntOp $3 $3 - $4
      StrCpy $1 $1 $3
    ${EndIf}
    SendMessage $PortCombo ${CB_DELETESTRING} $2 0
    SendMessage $PortCombo ${CB_INSERTSTRING} $2 "STR:$0 - $1"
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
  Pop $0
  Pop $1
FunctionEnd

; IsIn NEEDLE HAYSTACK (pushed in that order): 1 when HAYSTACK holds NEEDLE, else 0.
Function IsIn
  Exch $0  ; HAYSTACK
  Exch
  Exch $1  ; NEEDLE
  Push $2
  Push $3
  Push $4
  StrLen $2 $1
  StrCpy $3 0
  ${Do}
    StrCpy $4 $0 $2 $3
    ${If} $4 == $1
      StrCpy $0 1
      ${ExitDo}
    ${ElseIf} $4 == ""
      StrCpy $0 0
      ${ExitDo}
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

Function PortPageLeave
  ${NSD_GetText} $PortCombo $0
  Push $0
  Call CheckPort
  Pop $1
  ${If} $1 == ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(BadPort)"
    Abort
  ${EndIf}
  StrCpy $Port $1
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "${FILES}/tovmir.exe"
  File "${FILES}/README.txt"
  File "${FILES}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; An earlier install's shortcut may name another port.
  Call RemoveShortcut
  CreateShortcut "$SMPROGRAMS\${PRODUCT} ($Port).lnk" "$INSTDIR\tovmir.exe" "$Port" \
                 "$INSTDIR\tovmir.exe" 0 SW_SHOWNORMAL "" "$(ShortcutComment)"

  ; Apps & features. SHCTX is HKLM for all users, HKCU for the user alone.
  WriteRegStr SHCTX "${UNINST_KEY}" DisplayName "${PRODUCT}"
  WriteRegStr SHCTX "${UNINST_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINST_KEY}" DisplayIcon "$INSTDIR\tovmir.exe"
  WriteRegStr SHCTX "${UNINST_KEY}" URLInfoAbout "https://tovmir.org/"
  WriteRegStr SHCTX "${UNINST_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" UninstallString \
              "$\"$INSTDIR\uninstall.exe$\" /$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINST_KEY}" QuietUninstallString \
              "$\"$INSTDIR\uninstall.exe$\" /S /$MultiUser.InstallMode"
  WriteRegDWORD SHCTX "${UNINST_KEY}" NoModify 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINST_KEY}" EstimatedSize $0
  ; Ours: the port of the shortcut, for the uninstaller and the next install.
  WriteRegStr SHCTX "${UNINST_KEY}" Port "$Port"
SectionEnd

; Whether the meter of this install runs: Windows lets nobody write to a program that runs.
Function un.MeterRunning
  StrCpy $0 0
  ClearErrors
  ${If} ${FileExists} "$INSTDIR\tovmir.exe"
    FileOpen $1 "$INSTDIR\tovmir.exe" a
    ${If} ${Errors}
      StrCpy $0 1
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
FunctionEnd

; Refused (exit status 2) while the meter runs and stays so: silently at once, else when
; the user cancels.
Function un.RefuseWhileRunning
  ${Do}
    Call un.MeterRunning
    ${If} $0 == 0
      Return
    ${EndIf}
    ${If} ${Silent}
    ${OrIf} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(MeterRunning)" IDCANCEL`
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${Loop}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  Call un.RefuseWhileRunning
FunctionEnd

Section Uninstall
  ; The program first: should it have been started since, nothing goes, the entry neither.
  Delete "$INSTDIR\tovmir.exe"
  ${If} ${FileExists} "$INSTDIR\tovmir.exe"
    DetailPrint "$(MeterRunning)"
    SetErrorLevel 2
    Abort
  ${EndIf}
  Call un.RemoveShortcut
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINST_KEY}"
SectionEnd
