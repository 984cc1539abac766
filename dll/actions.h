// The one list of viduzo's exported actions. The module definition file of the
// Windows DLL and the export table of the Linux build are both generated from
// the VIDUZO_ACTION lines below; add an action here and nowhere else.
//
// Every action is `UINT WINAPI Name(MSIHANDLE hInstall)`.
VIDUZO_ACTION(HideCancelButton)
VIDUZO_ACTION(GetQVAClientName)
VIDUZO_ACTION(ValidateClientName)
VIDUZO_ACTION(ValidateClientName2)
VIDUZO_ACTION(ValidateClientPath)
VIDUZO_ACTION(ValidateProgramFolder)
VIDUZO_ACTION(ValidateProgramFolderHLA)
VIDUZO_ACTION(GetSystemState)
VIDUZO_ACTION(SystemStateBetweenCostFinalize)
VIDUZO_ACTION(RemoveFileTree)
VIDUZO_ACTION(MoveFileTree)
VIDUZO_ACTION(IsClientRunning)
VIDUZO_ACTION(SignalClientTerminate)
VIDUZO_ACTION(RestartHlAgent)
VIDUZO_ACTION(KillTROV)
VIDUZO_ACTION(SearchNewDialog)
VIDUZO_ACTION(DisableDialogCtrls)
VIDUZO_ACTION(EnableDialogCtrls)
VIDUZO_ACTION(WarningMessageIfDowngradeClassic)
VIDUZO_ACTION(WarningMessageIfDowngradeAgent)
VIDUZO_ACTION(WarningMessageIfDowngradeAll)
VIDUZO_ACTION(IMS_PrintOut)
VIDUZO_ACTION(SetTimestamps)
VIDUZO_ACTION(LogInstallTime)
