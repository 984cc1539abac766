// The Windows Installer API of msiquery.h: the install session, records,
// databases and views, summary information.
#pragma once

#include "msi.h"

#define MSIDBOPEN_READONLY ((LPCSTR)0)
#define MSIDBOPEN_TRANSACT ((LPCSTR)1)
#define MSIDBOPEN_DIRECT ((LPCSTR)2)
#define MSIDBOPEN_CREATE ((LPCSTR)3)
#define MSIDBOPEN_CREATEDIRECT ((LPCSTR)4)

#define MSI_NULL_INTEGER ((int)0x80000000)

typedef enum tagMSIMODIFY {
  MSIMODIFY_SEEK = -1,
  MSIMODIFY_REFRESH = 0,
  MSIMODIFY_INSERT = 1,
  MSIMODIFY_UPDATE = 2,
  MSIMODIFY_ASSIGN = 3,
  MSIMODIFY_REPLACE = 4,
  MSIMODIFY_MERGE = 5,
  MSIMODIFY_DELETE = 6,
  MSIMODIFY_INSERT_TEMPORARY = 7,
  MSIMODIFY_VALIDATE = 8,
  MSIMODIFY_VALIDATE_NEW = 9,
  MSIMODIFY_VALIDATE_FIELD = 10,
  MSIMODIFY_VALIDATE_DELETE = 11
} MSIMODIFY;

typedef enum tagMSICOLINFO { MSICOLINFO_NAMES = 0, MSICOLINFO_TYPES = 1 } MSICOLINFO;

typedef enum tagMSICONDITION {
  MSICONDITION_FALSE = 0,
  MSICONDITION_TRUE = 1,
  MSICONDITION_NONE = 2,
  MSICONDITION_ERROR = 3
} MSICONDITION;

typedef enum tagMSIRUNMODE {
  MSIRUNMODE_ADMIN = 0,
  MSIRUNMODE_ADVERTISE = 1,
  MSIRUNMODE_MAINTENANCE = 2,
  MSIRUNMODE_ROLLBACKENABLED = 3,
  MSIRUNMODE_LOGENABLED = 4,
  MSIRUNMODE_OPERATIONS = 5,
  MSIRUNMODE_REBOOTATEND = 6,
  MSIRUNMODE_REBOOTNOW = 7,
  MSIRUNMODE_CABINET = 8,
  MSIRUNMODE_SOURCESHORTNAMES = 9,
  MSIRUNMODE_TARGETSHORTNAMES = 10,
  MSIRUNMODE_RESERVED11 = 11,
  MSIRUNMODE_WINDOWS9X = 12,
  MSIRUNMODE_ZAWENABLED = 13,
  MSIRUNMODE_RESERVED14 = 14,
  MSIRUNMODE_RESERVED15 = 15,
  MSIRUNMODE_SCHEDULED = 16,
  MSIRUNMODE_ROLLBACK = 17,
  MSIRUNMODE_COMMIT = 18
} MSIRUNMODE;

// Install session
UINT WINAPI MsiGetPropertyA(MSIHANDLE install, LPCSTR name, LPSTR buffer, DWORD* count);
UINT WINAPI MsiSetPropertyA(MSIHANDLE install, LPCSTR name, LPCSTR value);
UINT WINAPI MsiFormatRecordA(MSIHANDLE install, MSIHANDLE record, LPSTR buffer, DWORD* count);
MSICONDITION WINAPI MsiEvaluateConditionA(MSIHANDLE install, LPCSTR condition);
UINT WINAPI MsiDoActionA(MSIHANDLE install, LPCSTR action);
int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record);
MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE install);
UINT WINAPI MsiGetFeatureStateA(MSIHANDLE install, LPCSTR feature, INSTALLSTATE* installed,
                                INSTALLSTATE* action);
UINT WINAPI MsiSetFeatureStateA(MSIHANDLE install, LPCSTR feature, INSTALLSTATE state);
UINT WINAPI MsiGetComponentStateA(MSIHANDLE install, LPCSTR component, INSTALLSTATE* installed,
                                  INSTALLSTATE* action);
UINT WINAPI MsiSetComponentStateA(MSIHANDLE install, LPCSTR component, INSTALLSTATE state);
BOOL WINAPI MsiGetMode(MSIHANDLE install, MSIRUNMODE mode);

// Records
MSIHANDLE WINAPI MsiCreateRecord(UINT fields);
UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE record);
BOOL WINAPI MsiRecordIsNull(MSIHANDLE record, UINT field);
UINT WINAPI MsiRecordDataSize(MSIHANDLE record, UINT field);
UINT WINAPI MsiRecordSetStringA(MSIHANDLE record, UINT field, LPCSTR value);
UINT WINAPI MsiRecordSetInteger(MSIHANDLE record, UINT field, int value);
UINT WINAPI MsiRecordGetStringA(MSIHANDLE record, UINT field, LPSTR buffer, DWORD* count);
int WINAPI MsiRecordGetInteger(MSIHANDLE record, UINT field);
UINT WINAPI MsiRecordClearData(MSIHANDLE record);
UINT WINAPI MsiRecordSetStreamA(MSIHANDLE record, UINT field, LPCSTR path);

// Databases and views
UINT WINAPI MsiOpenDatabaseA(LPCSTR path, LPCSTR persist, MSIHANDLE* database);
UINT WINAPI MsiDatabaseCommit(MSIHANDLE database);
UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE database, LPCSTR query, MSIHANDLE* view);
UINT WINAPI MsiViewExecute(MSIHANDLE view, MSIHANDLE params);
UINT WINAPI MsiViewFetch(MSIHANDLE view, MSIHANDLE* record);
UINT WINAPI MsiViewModify(MSIHANDLE view, MSIMODIFY mode, MSIHANDLE record);
UINT WINAPI MsiViewClose(MSIHANDLE view);
UINT WINAPI MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO kind, MSIHANDLE* record);

// Summary information
UINT WINAPI MsiGetSummaryInformationA(MSIHANDLE database, LPCSTR path, UINT updateCount,
                                      MSIHANDLE* summary);
UINT WINAPI MsiSummaryInfoSetPropertyA(MSIHANDLE summary, UINT property, UINT type, INT value,
                                       FILETIME* time, LPCSTR text);
UINT WINAPI MsiSummaryInfoPersist(MSIHANDLE summary);
UINT WINAPI MsiSummaryInfoGetPropertyA(MSIHANDLE summary, UINT property, UINT* type, INT* value,
                                       FILETIME* time, LPSTR text, DWORD* count);
UINT WINAPI MsiSummaryInfoGetPropertyCount(MSIHANDLE summary, UINT* count);
