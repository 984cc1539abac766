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
