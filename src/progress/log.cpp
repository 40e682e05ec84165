// The bounded progress log: CR LF line ends, oversized pieces dropped, oldest kilobyte
// discarded when full.
#include <string.h>

#include "log.h"

ProgressLogText ProgressLog;

enum { LARGEST_PIECE = 1023, DISCARD_SIZE = 1024 };

void LogAppend(const char *piece, int count)
{
    if (count < 1)
        return;
    int lineFeeds = 0;
    for (int i = 0; i < count; i++)
        lineFeeds += piece[i] == '\n';
    int expanded = count + lineFeeds;
    if (expanded > LARGEST_PIECE)
        return;

    // expanded is at most 1023, so one discard always leaves room.
    if (ProgressLog.length + expanded > PROGRESS_LOG_MAX_LENGTH) {
        memmove(ProgressLog.text, ProgressLog.text + DISCARD_SIZE,
                ProgressLog.length - DISCARD_SIZE);
        ProgressLog.length -= DISCARD_SIZE;
    }

    char *out = ProgressLog.text + ProgressLog.length;
    for (int i = 0; i < count; i++) {
        if (piece[i] == '\n')
            *out++ = '\r';
        *out++ = piece[i];
    }
    ProgressLog.length += expanded;
    ProgressLog.text[ProgressLog.length] = '\0';
}

void LogAppendText(const char *text)
{
    LogAppend(text, (int)strlen(text));
}
