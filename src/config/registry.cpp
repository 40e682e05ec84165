// The entry in Add/Remove Programs. Windows 95 and NT 4.0 list what is registered under the
// Uninstall key; Windows 3.1 with Win32s and NT 3.51 have no such list, and ADVAPI32 is loaded
// at run time so that both programs still load there.
#include <stdio.h>
#include <string.h>

#include "config.h"
#include "installer.h"

static const char UninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tabrin";
static const char DisplayName[] = "Tabrin";
enum { COMMAND_CAPACITY = 2 * TEXT_CAPACITY };

struct Registry {
    HMODULE module;
    decltype(&RegCreateKeyExA) createKey;
    decltype(&RegOpenKeyExA) openKey;
    decltype(&RegSetValueExA) setValue;
    decltype(&RegQueryValueExA) queryValue;
    decltype(&RegDeleteKeyA) deleteKey;
    decltype(&RegCloseKey) closeKey;
    decltype(&RegFlushKey) flushKey;
};

// 0 with every function found, or 1 with the library released.
static int LoadRegistry(Registry *registry)
{
    registry->module = LoadLibraryA("advapi32.dll");
    if (!registry->module)
        return 1;
    HMODULE m = registry->module;
    registry->createKey = (decltype(&RegCreateKeyExA))(void *)GetProcAddress(m, "RegCreateKeyExA");
    registry->openKey = (decltype(&RegOpenKeyExA))(void *)GetProcAddress(m, "RegOpenKeyExA");
    registry->setValue = (decltype(&RegSetValueExA))(void *)GetProcAddress(m, "RegSetValueExA");
    registry->queryValue =
        (decltype(&RegQueryValueExA))(void *)GetProcAddress(m, "RegQueryValueExA");
    registry->deleteKey = (decltype(&RegDeleteKeyA))(void *)GetProcAddress(m, "RegDeleteKeyA");
    registry->closeKey = (decltype(&RegCloseKey))(void *)GetProcAddress(m, "RegCloseKey");
    registry->flushKey = (decltype(&RegFlushKey))(void *)GetProcAddress(m, "RegFlushKey");
    if (registry->createKey && registry->openKey && registry->setValue && registry->queryValue &&
        registry->deleteKey && registry->closeKey && registry->flushKey)
        return 0;
    FreeLibrary(m);
    return 1;
}

static int SetText(const Registry &registry, HKEY key, const char *name, const char *text)
{
    return registry.setValue(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1) !=
           ERROR_SUCCESS;
}

// The control panel runs the command line; a path with a blank is quoted. Like every file
// this program writes, the entry is forced to the disk before success is reported.
int RegisterUninstaller(const char *uninstallerPath)
{
    char command[COMMAND_CAPACITY];
    snprintf(command, sizeof command, strchr(uninstallerPath, ' ') ? "\"%s\"" : "%s",
             uninstallerPath);
    Registry registry;
    if (LoadRegistry(&registry))
        return 1;
    HKEY key;
    DWORD disposition;
    int failed = registry.createKey(HKEY_LOCAL_MACHINE, UninstallKey, 0, NULL, 0, KEY_SET_VALUE,
                                    NULL, &key, &disposition) != ERROR_SUCCESS;
    if (!failed) {
        failed = SetText(registry, key, "DisplayName", DisplayName) ||
                 SetText(registry, key, "UninstallString", command) ||
                 registry.flushKey(key) != ERROR_SUCCESS;
        registry.closeKey(key);
    }
    FreeLibrary(registry.module);
    return failed;
}

// Another installation of the viewer, in another base directory, may have registered itself
// since: its entry stays.
int UnregisterUninstaller(const char *uninstallerPath)
{
    Registry registry;
    if (LoadRegistry(&registry))
        return 0;
    HKEY key;
    int failed = 0;
    if (registry.openKey(HKEY_LOCAL_MACHINE, UninstallKey, 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        char command[COMMAND_CAPACITY] = "";
        DWORD size = sizeof command - 1, type = 0;
        int read = registry.queryValue(key, "UninstallString", NULL, &type, (BYTE *)command,
                                       &size) == ERROR_SUCCESS && type == REG_SZ;
        registry.closeKey(key);
        command[size < sizeof command ? size : sizeof command - 1] = '\0';
        char *path = command;
        if (path[0] == '"') {
            path++;
            char *end = strchr(path, '"');
            if (end)
                *end = '\0';
        }
        if (read && lstrcmpiA(path, uninstallerPath) == 0)
            failed = registry.deleteKey(HKEY_LOCAL_MACHINE, UninstallKey) != ERROR_SUCCESS ||
                     registry.flushKey(HKEY_LOCAL_MACHINE) != ERROR_SUCCESS;
    }
    FreeLibrary(registry.module);
    return failed;
}
