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
// Feature and dialog lists: the feature list box, the list-box engine and the
// eight selection buttons.
VIDUZO_ACTION(SetFeatureListbox)
VIDUZO_ACTION(DefaultListBox)
VIDUZO_ACTION(PopulateListBoxTable)
VIDUZO_ACTION(Remove)
VIDUZO_ACTION(Keep)
VIDUZO_ACTION(RemoveAll)
VIDUZO_ACTION(KeepAll)
VIDUZO_ACTION(HideDialog)
VIDUZO_ACTION(ShowDialog)
VIDUZO_ACTION(HideAllDialog)
VIDUZO_ACTION(ShowAllDialog)
// Downgrade guards, install log, time stamps, icon cache and window repaint
VIDUZO_ACTION(WarningMessageIfDowngradeClassic)
VIDUZO_ACTION(WarningMessageIfDowngradeAgent)
VIDUZO_ACTION(WarningMessageIfDowngradeAll)
VIDUZO_ACTION(IMS_PrintOut)
VIDUZO_ACTION(SetTimestamps)
VIDUZO_ACTION(LogInstallTime)
VIDUZO_ACTION(ForceIconCacheRefresh)
VIDUZO_ACTION(UpdateDisplayWindow)
// Reports: the rich-text documents of the Report table and the installation
// summary.
VIDUZO_ACTION(GenerateRtfFromReportTable)
VIDUZO_ACTION(SetInstallSummaryReport)

// Folders, install location, launcher shortcuts and browser plug-in files
VIDUZO_ACTION(SetProgramFolderName)
VIDUZO_ACTION(FixInstallLocation)
VIDUZO_ACTION(RemoveFileFromDirs)
VIDUZO_ACTION(RemoveHLShortcuts)
VIDUZO_ACTION(RmHlAgentShortcutMenu)
VIDUZO_ACTION(FixDesktopHLIcon)
VIDUZO_ACTION(CopyIQVAClientFile)
