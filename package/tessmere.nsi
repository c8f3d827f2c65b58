; The per-user installer of Tessmere. CMake builds it with NSIS's makensis:
;     makensis -INPUTCHARSET UTF8 "-XTarget x86-unicode" -DVERSION=1.1.1 -DBITS=32 \
;              -DPROGRAM=<Tessmere.exe> -DOUTFILE=<setup.exe> tessmere.nsi
; with amd64-unicode and 64 for the 64-bit build. Both install into the same
; folder under the same uninstall entry, so that either replaces the other.
; Tessmere keeps its store beside its executable, so it goes where the user can
; write without elevation. Command line: /S installs silently, with the start
; at sign-in unless /NOSTARTUP is given too; it starts Tessmere again only when
; it ended a running copy, so that an update keeps the user's tray icon. An
; install or uninstall that fails after ending the running copy starts it
; again, silent or not.

Unicode true
SetCompressor /SOLID lzma
; Installed files take the time of installation: the installer holds no build time.
SetDateSave off
RequestExecutionLevel user
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessmere"
!define SETTINGS_KEY "Software\Quillaby\Tessmere"
!define IDM_EXIT 40003
!define SYNCHRONIZE 0x00100000
!define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
!define /math WAIT_AND_QUERY ${SYNCHRONIZE} | ${PROCESS_QUERY_LIMITED_INFORMATION}
!define EXIT_TIMEOUT_MS 15000
!define MUI_ICON "..\res\tessmere.ico"
!define MUI_UNICON "..\res\tessmere.ico"

Name "Tessmere"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Tessmere"
BrandingText "Tessmere ${VERSION}"

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
; The installer runs as the signed-in user, and so does what it starts.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(RunTessmere)"
!define MUI_FINISHPAGE_RUN_FUNCTION StartTessmere
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowFinish
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the one for every user who is not Japanese.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

; The caption says which build this is; the names it installs are the same in both.
LangString SetupCaption ${LANG_ENGLISH} "Tessmere (${BITS}-bit) Setup"
LangString SetupCaption ${LANG_JAPANESE} "Tessmere (${BITS}-bit) セットアップ"
Caption "$(SetupCaption)"

Var EndedRunningCopy       ; 1 once the installed Tessmere was asked to exit and did
Var OtherCopy              ; the folder of a running Tessmere left alone, if any
Var MovedAside             ; 1 while the old Tessmere.exe waits as Tessmere.exe.old

LangString StartAtSignIn ${LANG_ENGLISH} "Start Tessmere when I sign in"
LangString StartAtSignIn ${LANG_JAPANESE} "サインイン時に Tessmere を起動する"
LangString RunTessmere ${LANG_ENGLISH} "Run Tessmere"
LangString RunTessmere ${LANG_JAPANESE} "Tessmere を起動する"
LangString AskingToExit ${LANG_ENGLISH} "Asking Tessmere to exit..."
LangString AskingToExit ${LANG_JAPANESE} "Tessmere に終了を求めています..."
LangString DidNotExit ${LANG_ENGLISH} "Tessmere is running and did not exit within 15 seconds of being asked to.$\r$\n$\r$\nChoose Exit in its tray menu, then try again. Nothing has been changed."
LangString DidNotExit ${LANG_JAPANESE} "Tessmere が実行中で、終了を求めてから 15 秒以内に終了しませんでした。$\r$\n$\r$\nトレイメニューの「終了」を選んでから、もう一度お試しください。何も変更していません。"
LangString LeftRunning ${LANG_ENGLISH} "Left running: the Tessmere in $OtherCopy"
LangString LeftRunning ${LANG_JAPANESE} "実行中のまま: $OtherCopy の Tessmere"
LangString OtherCopyRuns ${LANG_ENGLISH} "Tessmere has been installed.$\r$\n$\r$\nA Tessmere that Setup did not install was already running, from $OtherCopy, and Setup has left it running. To use the installed Tessmere, choose Exit in that one's tray menu, then start Tessmere from the Start menu."
LangString OtherCopyRuns ${LANG_JAPANESE} "Tessmere をインストールしました。$\r$\n$\r$\nこのセットアップがインストールしたものではない Tessmere が $OtherCopy から実行中だったため、そのままにしました。インストールした Tessmere を使うには、そちらのトレイメニューで「終了」を選んでから、スタートメニューの Tessmere を起動してください。"
LangString ProgramInUse ${LANG_ENGLISH} "$INSTDIR\Tessmere.exe is still in use and cannot be replaced or removed.$\r$\n$\r$\nTry again in a moment. Nothing has been changed."
LangString ProgramInUse ${LANG_JAPANESE} "$INSTDIR\Tessmere.exe が使用中のため、置き換えも削除もできません。$\r$\n$\r$\nしばらくしてから、もう一度お試しください。何も変更していません。"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Tessmere"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Quillaby"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Tessmere ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) 1999 V.ELLORAN"

; A running Tessmere is asked to end through its own Exit command, which puts
; back the user's wallpaper. Its hidden main window is found by class, since
; its settings dialog has the same title. Only the installed copy holds the
; files replaced here: one running from elsewhere, such as a zip's folder, is
; left alone, for whatever is started afterwards must be the copy the user
; had. So is one whose path cannot be read. Only the end of the process, not
; of the window, frees the executable. If it does not end, nothing is touched.
!macro DEFINE_END_RUNNING_TESSMERE un
Function ${un}EndRunningTessmere
    FindWindow $0 "Tessmere"
    ${If} $0 = 0
        Return
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1)'
    System::Call 'kernel32::OpenProcess(i ${WAIT_AND_QUERY}, i 0, i r1) p .r2'
    StrCpy $3 ""
    ${If} $2 P<> 0
        System::Call 'kernel32::QueryFullProcessImageNameW(p r2, i 0, w .r3, *i ${NSIS_MAX_STRLEN})'
    ${EndIf}
    ; Paths compare without regard to case.
    ${If} $3 != "$INSTDIR\Tessmere.exe"
        ${GetParent} "$3" $OtherCopy
        ${IfThen} $OtherCopy == "" ${|} StrCpy $OtherCopy "?" ${|}
        DetailPrint "$(LeftRunning)"
        ${If} $2 P<> 0
            System::Call 'kernel32::CloseHandle(p r2)'
        ${EndIf}
        Return
    ${EndIf}
    DetailPrint "$(AskingToExit)"
    System::Call 'user32::PostMessage(p r0, i ${WM_COMMAND}, p ${IDM_EXIT}, p 0)'
    System::Call 'kernel32::WaitForSingleObject(p r2, i ${EXIT_TIMEOUT_MS}) i .r3'
    System::Call 'kernel32::CloseHandle(p r2)'
    ${If} $3 = 0
        StrCpy $EndedRunningCopy 1
        Return
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "$(DidNotExit)" /SD IDOK
    SetErrorLevel 2
    Abort
FunctionEnd
!macroend
!insertmacro DEFINE_END_RUNNING_TESSMERE ""
!insertmacro DEFINE_END_RUNNING_TESSMERE "un."

; Windows, and Wine for longer, may keep the executable locked for a moment
; after its process has ended: keep trying for five seconds. The installer
; moves the old program aside rather than deleting it, so that a new one that
; cannot be written (a full disk, a scanner that takes it) leaves the old one
; to put back; the uninstaller deletes it. A Tessmere.exe.old already there is
; what an update cut short left (a crash, a power cut, a killed installer, a
; failed move back): the only whole copy, and so the one to put back. A
; Tessmere.exe beside it may be cut short itself, and goes instead. Rename
; fails onto an existing file, so that one goes first.
!macro DEFINE_REMOVE_PROGRAM un
Function ${un}RemoveProgram
    !if "${un}" == ""
        ${If} ${FileExists} "$INSTDIR\Tessmere.exe.old"
            StrCpy $MovedAside 1
        ${EndIf}
    !else
        Delete "$INSTDIR\Tessmere.exe.old"
    !endif
    StrCpy $0 0
    ${DoWhile} ${FileExists} "$INSTDIR\Tessmere.exe"
        !if "${un}" == ""
            ${If} $MovedAside = 1
                Delete "$INSTDIR\Tessmere.exe"
            ${Else}
                ClearErrors
                Rename "$INSTDIR\Tessmere.exe" "$INSTDIR\Tessmere.exe.old"
                ${IfNot} ${Errors}
                    StrCpy $MovedAside 1
                ${EndIf}
            ${EndIf}
        !else
            Delete "$INSTDIR\Tessmere.exe"
        !endif
        ${If} ${FileExists} "$INSTDIR\Tessmere.exe"
            IntOp $0 $0 + 1
            ${If} $0 > 50
                MessageBox MB_OK|MB_ICONSTOP "$(ProgramInUse)" /SD IDOK
                SetErrorLevel 2
                Abort
            ${EndIf}
            Sleep 100
        ${EndIf}
    ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_REMOVE_PROGRAM ""
!insertmacro DEFINE_REMOVE_PROGRAM "un."

Function PutProgramBack
    ${If} $MovedAside = 1
        Delete "$INSTDIR\Tessmere.exe"
        Rename "$INSTDIR\Tessmere.exe.old" "$INSTDIR\Tessmere.exe"
        StrCpy $MovedAside 0
    ${EndIf}
FunctionEnd

Section "Tessmere" SectionProgram
    SectionIn RO
    Call EndRunningTessmere
    Call RemoveProgram
    SetOutPath "$INSTDIR"
    ClearErrors
    File "/oname=Tessmere.exe" "${PROGRAM}"
    ${If} ${Errors}
        SetErrorLevel 2
        Abort
    ${EndIf}
    Delete "$INSTDIR\Tessmere.exe.old"
    StrCpy $MovedAside 0
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Tessmere.lnk" "$INSTDIR\Tessmere.exe"
    ; An earlier installation may have had the start at sign-in; the next section puts it back if chosen.
    Delete "$SMSTARTUP\Tessmere.lnk"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Tessmere"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quillaby"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tessmere.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize ${SectionProgram} $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "$(StartAtSignIn)" SectionStartAtSignIn
    CreateShortcut "$SMSTARTUP\Tessmere.lnk" "$INSTDIR\Tessmere.exe"
SectionEnd

Function StartTessmere
    Exec '"$INSTDIR\Tessmere.exe"'
FunctionEnd

; With another copy running, the installed one would only say that one
; already runs.
Function ShowFinish
    ${If} $OtherCopy != ""
        SendMessage $mui.FinishPage.Text ${WM_SETTEXT} 0 "STR:$(OtherCopyRuns)"
        SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
        ShowWindow $mui.FinishPage.Run ${SW_HIDE}
    ${EndIf}
FunctionEnd

; Deployment tools expect a silent fresh install to start nothing; the finish
; page asks an interactive one.
Function .onInstSuccess
    ${If} ${Silent}
    ${AndIf} $EndedRunningCopy = 1
        Call StartTessmere
    ${EndIf}
FunctionEnd

; Setup aborts before it moves the old program aside, or after it has failed
; to write the new one: the old one is then put back, and the copy it ended
; is started again.
Function .onInstFailed
    Call PutProgramBack
    ${If} $EndedRunningCopy = 1
        Call StartTessmere
    ${EndIf}
FunctionEnd

Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOSTARTUP" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SectionStartAtSignIn}
    ${EndIf}
FunctionEnd

; The user's own picture style, which Tessmere records under its key while it
; spans a capture over several monitors. A run that ended without putting it
; back (killed, or a crash) left the record: the style goes back as the next
; start would put it back, only while it still reads as the span, 22 and 0.
!define STYLE_RECORD_KEY "Software\Quillaby\Tessmere\UserStyle"
!define DESKTOP_KEY "Control Panel\Desktop"

!macro PUT_BACK_STYLE_VALUE NAME
    ClearErrors
    ReadRegStr $2 HKCU "${STYLE_RECORD_KEY}" "${NAME}"
    ${If} ${Errors}
        DeleteRegValue HKCU "${DESKTOP_KEY}" "${NAME}"
    ${Else}
        WriteRegStr HKCU "${DESKTOP_KEY}" "${NAME}" $2
    ${EndIf}
!macroend

Function un.PutBackUserStyle
    ClearErrors
    EnumRegValue $0 HKCU "${STYLE_RECORD_KEY}" 0
    ${If} ${Errors}
        Return
    ${EndIf}
    ReadRegStr $0 HKCU "${DESKTOP_KEY}" "WallpaperStyle"
    ReadRegStr $1 HKCU "${DESKTOP_KEY}" "TileWallpaper"
    ${If} $0 == "22"
    ${AndIf} $1 == "0"
        !insertmacro PUT_BACK_STYLE_VALUE "WallpaperStyle"
        !insertmacro PUT_BACK_STYLE_VALUE "TileWallpaper"
    ${EndIf}
    DeleteRegKey HKCU "${STYLE_RECORD_KEY}"
FunctionEnd

; What belongs to the user stays: the settings key Software\Quillaby\Tessmere,
; which a portable copy shares, and every picture in the store. Only Tessmere's
; own files there go (its capture, and its copy of the user's picture where
; Windows named only its cache, with the record of that copy unless it names
; a portable copy's), and the store folder with them when nothing else is left.
Section "Uninstall"
    Call un.EndRunningTessmere
    Call un.PutBackUserStyle
    Call un.RemoveProgram
    Delete "$SMPROGRAMS\Tessmere.lnk"
    Delete "$SMSTARTUP\Tessmere.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    Delete "$INSTDIR\StoreWallPaper\Tessmere.bmp"
    Delete "$INSTDIR\StoreWallPaper\UserWallpaper"
    Delete "$INSTDIR\StoreWallPaper\UserWallpaper.new"
    ReadRegStr $0 HKCU "${SETTINGS_KEY}" "KeptWallpaper"
    ${If} $0 == "$INSTDIR\StoreWallPaper\UserWallpaper"
        DeleteRegValue HKCU "${SETTINGS_KEY}" "KeptWallpaper"
    ${EndIf}
    RMDir "$INSTDIR\StoreWallPaper"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd

Function un.onUninstFailed
    ${If} $EndedRunningCopy = 1
        Exec '"$INSTDIR\Tessmere.exe"'
    ${EndIf}
FunctionEnd
