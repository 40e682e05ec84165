// What the progress window costs per piece of output: one refresh of a full log, and
// one-line pieces (1,000 unless the argument says otherwise) each followed by a refresh,
// against the same appends alone.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "installer.h"
#include "progress.h"

static double Seconds(LARGE_INTEGER start, LARGE_INTEGER end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

int main(int argc, char **argv)
{
    InstanceHandle = GetModuleHandleA(NULL);
    HWND window = ShowProgressWindow();
    if (!window) {
        fprintf(stderr, "progress_bench: no window\n");
        return 1;
    }
    const int pieces = argc > 1 && atoi(argv[1]) > 0 ? atoi(argv[1]) : 1000;
    LARGE_INTEGER start, end;

    while (ProgressLog.length < PROGRESS_LOG_MAX_LENGTH - 40)
        LogAppendText("  inflating: cv4.03/fonts/sample.pfb\n");
    QueryPerformanceCounter(&start);
    for (int i = 0; i < 20; i++)
        RefreshProgressLog(window);
    QueryPerformanceCounter(&end);
    double fullRefresh = Seconds(start, end) / 20;

    QueryPerformanceCounter(&start);
    for (int i = 0; i < pieces; i++)
        LogAppendText("  inflating: cv4.03/fonts/sample.pfb\n");
    QueryPerformanceCounter(&end);
    double appendOnly = Seconds(start, end);

    QueryPerformanceCounter(&start);
    for (int i = 0; i < pieces; i++) {
        LogAppendText("  inflating: cv4.03/fonts/sample.pfb\n");
        RefreshProgressLog(window);
    }
    QueryPerformanceCounter(&end);
    double appendAndRefresh = Seconds(start, end);

    printf("one refresh of a full log (%d bytes): %.3f ms\n", ProgressLog.length,
           fullRefresh * 1000);
    printf("%d pieces, append only: %.3f s (%.1f us per piece)\n", pieces, appendOnly,
           appendOnly / pieces * 1e6);
    printf("%d pieces, append and refresh: %.3f s (%.1f us per piece)\n", pieces,
           appendAndRefresh, appendAndRefresh / pieces * 1e6);
    printf("refresh cost ratio: %.0fx the append alone\n", appendAndRefresh / appendOnly);
    CloseProgressWindow();
    return 0;
}
