; The Windows installer of Quillfen, built by scripts/package-windows with makensis:
;   makensis -DVERSION=x.y.z -DPROGRAM=quillfen.exe -DREADME=README.txt -DTEMPLATE=Config.ini
;            -DTASK=quillfen-task.xml -DOUTFILE=setup.exe quillfen.nsi
;
; It installs per machine into Program Files\Quillfen (always there: the daily task names that
; path), writes the template Config.ini beside the program unless one is there, protects it
; (Administrators and SYSTEM only: it holds passwords), registers the daily task from
; quillfen-task.xml (disabled until Config.ini differs from the template) and, when not silent,
; opens Config.ini in Notepad.
;
; Silent install: setup.exe /S [/ACCOUNT=DOMAIN\user /PASSWORD=secret]; without /ACCOUNT the
; task runs as SYSTEM. Silent uninstall: "Program Files\Quillfen\Uninstall.exe" /S, which keeps
; Config.ini.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define TASK_NAME "Quillfen"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillfen"

Name "Quillfen ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quillfen"
ShowInstDetails show
ShowUninstDetails show

Var Account
Var Password
Var AccountField
Var PasswordField
Var TaskState

Page custom AccountPage AccountPageLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Stops the installation with a reason, shown in a box unless silent.
!macro Fail reason
  DetailPrint "${reason}"
  MessageBox MB_ICONSTOP "${reason}" /SD IDOK
  Abort
!macroend

Function .onInit
  ; The task's command names Program Files\Quillfen; another folder would leave it pointing at
  ; nothing, so /D= is not honoured.
  StrCpy $INSTDIR "$PROGRAMFILES64\Quillfen"
  ${GetParameters} $0
  ${GetOptions} $0 "/ACCOUNT=" $Account
  ${GetOptions} $0 "/PASSWORD=" $Password
  ${If} $Account == "SYSTEM"
    StrCpy $Account ""
  ${EndIf}
FunctionEnd

Function AccountPage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 48u "Quillfen backs up every day at 02:00, whether anyone is logged on or not. \
The task runs as SYSTEM unless you name an account here (DOMAIN\user); that account needs \
read access to the source and write access to the destination. The task stays disabled until \
Config.ini is edited."
  Pop $0
  ${NSD_CreateLabel} 0 54u 30% 12u "Account (empty: SYSTEM):"
  Pop $0
  ${NSD_CreateText} 32% 52u 68% 12u $Account
  Pop $AccountField
  ${NSD_CreateLabel} 0 72u 30% 12u "Password:"
  Pop $0
  ${NSD_CreatePassword} 32% 70u 68% 12u ""
  Pop $PasswordField
  nsDialogs::Show
FunctionEnd

Function AccountPageLeave
  ${NSD_GetText} $AccountField $Account
  ${NSD_GetText} $PasswordField $Password
  ${If} $Account != ""
  ${AndIf} $Account != "SYSTEM"
  ${AndIf} $Password == ""
    MessageBox MB_ICONEXCLAMATION "A named account needs its password: the task logs on as that account when nobody is logged on."
    Abort
  ${EndIf}
  ${If} $Account == "SYSTEM"
    StrCpy $Account ""
  ${EndIf}
FunctionEnd

; Config.ini gets a protected DACL (nothing inherited from Program Files, where every user may
; read): full control for Administrators and SYSTEM, and read for the task's own account.
Function ProtectConfig
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;;FA;;;BA)(A;;FA;;;SY)", i 1, *p .r1, p 0) i .r0'
  ${If} $0 == 0
  ${OrIf} $0 == "error"
    !insertmacro Fail "Config.ini could not be protected: the access list was refused."
  ${EndIf}
  System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r2, *p .r3, *i .r4) i .r0'
  ; DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
  System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR\Config.ini", i 1, i 0x80000004, p 0, p 0, p r3, p 0) i .r0'
  System::Call 'kernel32::LocalFree(p r1)'
  ${If} $0 != 0
    !insertmacro Fail "Config.ini could not be protected (Windows error $0)."
  ${EndIf}
  ${If} $Account != ""
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR\Config.ini" /grant "$Account:(R)"'
    Pop $0
    ${If} $0 <> 0
      !insertmacro Fail "$Account could not be given read access to Config.ini (icacls: $0)."
    ${EndIf}
  ${EndIf}
FunctionEnd

; The command line holds the password, so it is not logged.
Function RegisterTask
  File "/oname=$PLUGINSDIR\quillfen-task.xml" "${TASK}"
  StrCpy $1 '"$SYSDIR\schtasks.exe" /Create /F /TN "${TASK_NAME}" /XML "$PLUGINSDIR\quillfen-task.xml"'
  ${If} $Account == ""
    nsExec::Exec $1
  ${Else}
    nsExec::Exec '$1 /RU "$Account" /RP "$Password"'
  ${EndIf}
  Pop $0
  ${If} $0 <> 0
    !insertmacro Fail "The daily task could not be registered (schtasks: $0)."
  ${EndIf}
  DetailPrint "Registered the daily task ${TASK_NAME} (02:00), disabled."
FunctionEnd

; A Config.ini that is not the template's size was edited (filling in a source and a
; destination always adds characters): the task may run. A template left as it is keeps the
; task disabled, since every run would end at once asking for the settings.
Function EnableTaskWhenEdited
  FileOpen $0 "$INSTDIR\Config.ini" r
  FileSeek $0 0 END $1
  FileClose $0
  FileOpen $0 "$PLUGINSDIR\Config.ini" r
  FileSeek $0 0 END $2
  FileClose $0
  StrCpy $TaskState "disabled"
  ${If} $1 = $2
    DetailPrint "Config.ini is the template: the daily task stays disabled. Once it is edited: schtasks /Change /TN ${TASK_NAME} /ENABLE"
    Return
  ${EndIf}
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Change /TN "${TASK_NAME}" /ENABLE'
  Pop $0
  ${If} $0 <> 0
    !insertmacro Fail "The daily task could not be enabled (schtasks: $0)."
  ${EndIf}
  StrCpy $TaskState "enabled"
  DetailPrint "Config.ini is edited: the daily task is enabled."
FunctionEnd

Section "Quillfen"
  SetShellVarContext all
  InitPluginsDir
  File "/oname=$PLUGINSDIR\Config.ini" "${TEMPLATE}"
  SetOutPath "$INSTDIR"
  File "/oname=quillfen.exe" "${PROGRAM}"
  File "/oname=README.txt" "${README}"
  ${IfNot} ${FileExists} "$INSTDIR\Config.ini"
    CopyFiles /SILENT "$PLUGINSDIR\Config.ini" "$INSTDIR\Config.ini"
  ${EndIf}
  Call ProtectConfig
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillfen"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quillfen"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  Call RegisterTask
  Call EnableTaskWhenEdited
SectionEnd

; Notepad runs as the installing administrator, who may write the protected file.
Function .onInstSuccess
  ${If} ${Silent}
    Return
  ${EndIf}
  ExecWait '"$WINDIR\notepad.exe" "$INSTDIR\Config.ini"'
  Call EnableTaskWhenEdited
  ${If} $TaskState == "enabled"
    MessageBox MB_ICONINFORMATION "The daily backup at 02:00 is enabled. Try the settings with $\"$INSTDIR\quillfen.exe$\" --check."
  ${Else}
    MessageBox MB_ICONINFORMATION "Config.ini was left as the template, so the daily backup stays disabled. Edit it as administrator ($\"$INSTDIR\quillfen.exe$\" /config), then: schtasks /Change /TN ${TASK_NAME} /ENABLE"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /F /TN "${TASK_NAME}"'
  Pop $0
  ${If} $0 <> 0
    DetailPrint "The task ${TASK_NAME} was not deleted (schtasks: $0); if it is still there, delete it in the Task Scheduler."
  ${EndIf}
  Delete "$INSTDIR\quillfen.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Uninstall.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Remove Config.ini as well? It holds the backup settings and passwords; kept, a later install uses it again." /SD IDNO IDNO keep
  Delete "$INSTDIR\Config.ini"
keep:
  RMDir "$INSTDIR"
SectionEnd
