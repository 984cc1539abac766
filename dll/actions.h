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
// Network and logon settings, dynamic registry rows and file types,
// directory-service contexts
VIDUZO_ACTION(BackupTCPIPWindowSize)
VIDUZO_ACTION(RestoreTCPIPWindowSize)
VIDUZO_ACTION(BackupAFDWindowSize)
VIDUZO_ACTION(RestoreAFDWindowSize)
VIDUZO_ACTION(SaveProviderOrder)
VIDUZO_ACTION(IsTROVEnabled)
VIDUZO_ACTION(RemoveTROV)
VIDUZO_ACTION(RestorePassThroughKey)
VIDUZO_ACTION(RegisterLNK2Type)
VIDUZO_ACTION(AdvertiseLNK2Type)
VIDUZO_ACTION(SetRegistryPermissionsForDP)
VIDUZO_ACTION(SetDEFAULT_NDSCONTEXT)
VIDUZO_ACTION(SetDefaultNDSContext)
VIDUZO_ACTION(IsClientRunning)
VIDUZO_ACTION(SignalClientTerminate)
VIDUZO_ACTION(RestartHlAgent)
VIDUZO_ACTION(KillTROV)
VIDUZO_ACTION(SearchNewDialog)
VIDUZO_ACTION(DisableDialogCtrls)
VIDUZO_ACTION(EnableDialogCtrls)
// INI repair, ordered application search, administrative path properties
VIDUZO_ACTION(SetFixIniFile)
VIDUZO_ACTION(FixIniFile)
VIDUZO_ACTION(PrepareAppSearch)
VIDUZO_ACTION(Mark2UpdateAdminProperty)
VIDUZO_ACTION(UpdateAdminProperty)
