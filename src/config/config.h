// System configuration: the SET TEMP line in the start-up file and the Program Manager group.
#ifndef SETUP_CONFIG_H
#define SETUP_CONFIG_H

#include <windows.h>
#include <ddeml.h>

// Adds SET TEMP to a copy of autoexec.bat when the process has no TEMP: 0 or 1.
int UpdateStartupFile();
// Creates the "CV Tools" group by DDE: 0, or 1 when no conversation opens.
int CreateProgramGroup();

HDDEDATA CALLBACK ProgramGroupDdeCallback(UINT type, UINT format, HCONV conversation,
                                          HSZ string1, HSZ string2, HDDEDATA data,
                                          ULONG_PTR data1, ULONG_PTR data2);

#endif
