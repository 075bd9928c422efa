#include "TestSupport.h"
#include "platform/ZNFFileWrite.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Existing = ZNFFileWrite::Existing;

// The target holds the old bytes or the new, never neither, and no partial file is left.
TEST(FileWrite, TheTargetHoldsTheOldBytesOrTheNew) {
    const struct {
        const char* name;
        bool copy, hasNew;
        Existing existing;
        QByteArray target; // afterwards; "new" means the call succeeded
    } rows[] = {
        {"move replaces", false, true, Existing::Replace, "new"},
        // The save panel once removed the old backup first and lost it when the move failed.
        {"a failed move keeps the old file", false, false, Existing::Replace, "old"},
        {"keep never replaces", false, true, Existing::Keep, "old"},
        {"copy replaces", true, true, Existing::Replace, "new"},
        {"a failed copy keeps the old file", true, false, Existing::Replace, "old"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString target = dir.filePath("backup.notebackup"), written = dir.filePath("new");
        writeFile(target, "old");
        if (row.hasNew)
            writeFile(written, "new");
        EXPECT_EQ(row.copy ? ZNFFileWrite::copyIntoPlace(written, target)
                           : ZNFFileWrite::moveIntoPlace(written, target, row.existing),
                  row.target == "new");
        EXPECT_EQ(readFile(target), row.target);
        EXPECT_FALSE(QDir(dir.path()).entryList(QDir::Files).join(' ').contains("partial"));
    }
}
