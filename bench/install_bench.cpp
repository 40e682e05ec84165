// The whole unattended install against the unzip library alone, on the same archives in the
// same prefix: what setup.exe adds to the extraction, above all the progress window's
// refresh after every piece of the library's output.
//
//   install_bench.exe BASE-DIRECTORY
//
// The archives, setup.exe and wizunz32.dll lie beside this program. First the library alone
// extracts each archive into C:\alone\<archive>; then setup.exe installs them into the base
// directory, unattended. Prints the seconds of each and their ratio.
#include <windows.h>

#include <stdio.h>
#include <string>

#include "installer_block.h"
#include "scripted_user.h"
#include "wine_files.h"

static const char *const Archives[] = {"tabrin.zip", "cv403ini.zip", "cv403w32.zip",
                                       "cv403fn1.zip"};

static double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

// The library's own time: the four calls, each with the destination made current as
// setup.exe does. Returns a negative value when a call fails.
static double ExtractWithLibraryAlone(size_t *pieces)
{
    CreateDirectoryA("C:\\alone", NULL);
    double total = 0;
    *pieces = 0;
    for (const char *archive : Archives) {
        std::string source = ProgramDirectory() + archive;
        std::string destination = std::string("C:\\alone\\") + archive;
        CreateDirectoryA(destination.c_str(), NULL);
        SetCurrentDirectoryA(destination.c_str());
        double start = Now();
        UnzipCall call = RunUnzip(source.c_str());
        total += Now() - start;
        SetCurrentDirectoryA("C:\\");
        if (call.result != 0) {
            fprintf(stderr, "install_bench: %s gave %d\n%s", archive, call.result,
                    call.Text().c_str());
            return -1;
        }
        *pieces += call.pieces.size();
    }
    return total;
}

// setup.exe from start to exit. Returns a negative value when it cannot start.
static double InstallWithSetup(const char *base, DWORD *exitCode)
{
    double start = Now();
    if (!RunAnsweringMessages("\"" + ProgramDirectory() + "setup.exe\" " + base, exitCode))
        return -1;
    return Now() - start;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: install_bench BASE-DIRECTORY\n");
        return 2;
    }
    std::string error;
    if (LoadUnzip(&error) != 0) {
        fprintf(stderr, "install_bench: %s\n", error.c_str());
        return 2;
    }
    if (!WaitForProgramManager()) {
        fprintf(stderr, "install_bench: Program Manager does not answer\n");
        return 2;
    }
    // Read the archives once, so neither run pays for the first read from disk.
    for (const char *archive : Archives)
        ReadWholeFile(ProgramDirectory() + archive);

    size_t pieces = 0;
    double alone = ExtractWithLibraryAlone(&pieces);
    DWORD exitCode = 1;
    double install = InstallWithSetup(argv[1], &exitCode);
    if (alone < 0 || install < 0 || exitCode != 0) {
        fprintf(stderr, "install_bench: a run failed (setup.exe exit code %lu)\n",
                (unsigned long)exitCode);
        return 1;
    }
    printf("library_seconds %.3f\ninstall_seconds %.3f\npieces %u\nratio %.2f\n", alone,
           install, (unsigned)pieces, install / alone);
    return 0;
}
