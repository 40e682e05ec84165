// The bounded progress log: extraction output with CR LF line ends, oldest kilobyte
// discarded when full. No platform calls.
#ifndef SETUP_LOG_H
#define SETUP_LOG_H

enum { PROGRESS_LOG_CAPACITY = 4096, PROGRESS_LOG_MAX_LENGTH = 4094 };

struct ProgressLogText {
    char text[PROGRESS_LOG_CAPACITY];
    int length;
};

extern ProgressLogText ProgressLog;

// Appends count bytes (NULs included), each line feed as CR LF; a piece whose expanded
// size is 1024 or more is dropped whole.
void LogAppend(const char *piece, int count);
void LogAppendText(const char *text);

#endif
