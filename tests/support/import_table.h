// Reads and rewrites a loaded module's import table: how the tests put a layer of their own
// between a module under test and the system libraries, so that only that module's calls
// change.
#ifndef TEST_IMPORT_TABLE_H
#define TEST_IMPORT_TABLE_H

#include <windows.h>

// Called for every function the module imports by name: the library's name as the module
// names it, the function's name, and the slot that holds the function's address.
typedef void (*ImportVisitor)(void *context, const char *library, const char *function,
                              void **slot);
void VisitImports(HMODULE module, ImportVisitor visit, void *context);

// Makes an import slot hold function, whatever the protection of its page.
void PatchImport(void **slot, void *function);

#endif
