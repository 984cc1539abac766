// Package names that more than one part of the library uses. A name scoped to a
// merge module ends in a dot and the module's identifier: 5B1E0A72_... the core
// client, 3F8A61D5_... the classic launcher, 9D4C2E81_... the agent.
#pragma once

namespace viduzo::names {

inline constexpr char kClientName[] = "CLIENT_NAME";
inline constexpr char kDynamicClientName[] = "ENABLE_DYNAMIC_CLIENT_NAME";
inline constexpr char kClientFolder[] = "QVADIR.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
inline constexpr char kLauncherProgramFolder[] =
    "PROGRAM_FOLDER_NAME.3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7";
inline constexpr char kAgentProgramFolder[] =
    "PROGRAM_FOLDER_NAME.9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4";
// The scratch property through which candidate paths are validated.
inline constexpr char kScratchPath[] = "TEMP.71C5A0E8_94D2_4E6B_8A17_F3B25D0C69E4";
// Names the package property whose text the wizard shows for a failed check.
inline constexpr char kValidationError[] = "ValidationError.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
inline constexpr char kErrorClientNameEmpty[] =
    "ErrorClientNameEmtpy.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
inline constexpr char kErrorClientNameInvalid[] =
    "ErrorClientNameInvalid.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

}  // namespace viduzo::names

namespace viduzo::names {

// The key under which the package's Binary table holds this library: CustomAction
// rows with this Source run one of its exports, named in Target.
inline constexpr char kLibraryBinaryKey[] = "Callviduzo.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

}  // namespace viduzo::names
