// The progress log's arithmetic at its edges.
#include <gtest/gtest.h>

#include <string>

#include "log.h"

static void ResetLog(int length, char fill = 'x')
{
    memset(&ProgressLog, 0, sizeof ProgressLog);
    memset(ProgressLog.text, fill, length);
    ProgressLog.length = length;
}

static std::string Text()
{
    return std::string(ProgressLog.text, ProgressLog.length);
}

TEST(ProgressLog, ExpandsLineFeedsAndKeepsOtherBytes)
{
    ResetLog(0);
    LogAppend("a\nb", 3);
    EXPECT_EQ(Text(), "a\r\nb");
    EXPECT_EQ(ProgressLog.length, 4);

    LogAppend("\r\n", 2);  // an existing pair gains a second carriage return
    EXPECT_EQ(Text(), "a\r\nb\r\r\n");

    LogAppend("z\0y", 3);  // a counted piece: its NUL is taken too
    EXPECT_EQ(ProgressLog.length, 10);
    EXPECT_EQ(ProgressLog.text[ProgressLog.length], '\0');

    LogAppendText("end\n");
    EXPECT_EQ(Text().substr(10), "end\r\n");
}

TEST(ProgressLog, IgnoresEmptyAndNegativeCounts)
{
    ResetLog(5);
    LogAppend("abc", 0);
    LogAppend("abc", -1);
    EXPECT_EQ(ProgressLog.length, 5);
    EXPECT_EQ(Text(), "xxxxx");
}

TEST(ProgressLog, DropsPiecesOfExpandedSize1024OrMore)
{
    ResetLog(0);
    std::string fits(1023, 'a');
    LogAppend(fits.data(), (int)fits.size());
    EXPECT_EQ(ProgressLog.length, 1023);

    std::string expandsTo1024(1000, 'b');
    for (int i = 0; i < 24; i++)
        expandsTo1024[i * 40] = '\n';
    LogAppend(expandsTo1024.data(), (int)expandsTo1024.size());
    EXPECT_EQ(ProgressLog.length, 1023);
    EXPECT_EQ(Text(), fits);
}

TEST(ProgressLog, DiscardsTheOldestKilobyteOnlyWhenFull)
{
    std::string piece(1023, 'p');

    ResetLog(3071);
    LogAppend(piece.data(), (int)piece.size());
    EXPECT_EQ(ProgressLog.length, 4094);
    EXPECT_EQ(ProgressLog.text[4094], '\0');

    ResetLog(3072);
    for (int i = 0; i < 3072; i++)
        ProgressLog.text[i] = (char)('A' + i % 26);
    LogAppend(piece.data(), (int)piece.size());
    EXPECT_EQ(ProgressLog.length, 3071);
    for (int i = 0; i < 2048; i++)
        ASSERT_EQ(ProgressLog.text[i], (char)('A' + (1024 + i) % 26)) << i;
    EXPECT_EQ(Text().substr(2048), piece);
    EXPECT_EQ(ProgressLog.text[3071], '\0');
}

TEST(ProgressLog, StaysBoundedUnderEndlessOutput)
{
    ResetLog(0);
    for (int i = 0; i < 10000; i++) {
        LogAppendText("  inflating: cv4.03/fonts/a.pfb\n");
        ASSERT_LE(ProgressLog.length, PROGRESS_LOG_MAX_LENGTH);
        ASSERT_EQ(ProgressLog.text[ProgressLog.length], '\0');
    }
    EXPECT_EQ(ProgressLog.text[PROGRESS_LOG_CAPACITY - 1], '\0');
}
