#include "TestSupport.h"
#include "platform/ZNFFileWrite.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Existing = ZNFFileWrite::Existing;

// Every way of putting a file in place: what ends up at the target, and that no partial
// file is left beside it.
TEST(FileWrite, TheTargetHoldsTheOldBytesOrTheNewNeverNeither) {
    enum Step { Move, Copy };
    const struct {
        const char* name;
        Step step;
        Existing existing;
        bool hasNew; // the written file (or the copy's source) is there
        bool ok;
        QByteArray target; // what the target holds afterwards
    } rows[] = {
        {"move replaces", Move, Existing::Replace, true, true, "new"},
        // The save panel once removed the old backup before the move, losing it when the move failed.
        {"a failed move keeps the old file", Move, Existing::Replace, false, false, "old"},
        {"keep never replaces", Move, Existing::Keep, true, false, "old"},
        {"copy replaces", Copy, Existing::Replace, true, true, "new"},
        {"a failed copy keeps the old file", Copy, Existing::Replace, false, false, "old"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString target = dir.filePath("backup.notebackup"), written = dir.filePath("new");
        writeFile(target, "old");
        if (row.hasNew)
            writeFile(written, "new");
        const bool ok = row.step == Move ? ZNFFileWrite::moveIntoPlace(written, target, row.existing)
                                         : ZNFFileWrite::copyIntoPlace(written, target);
        EXPECT_EQ(ok, row.ok);
        EXPECT_EQ(readFile(target), row.target);
        const QStringList left = QDir(dir.path()).entryList(QDir::Files);
        EXPECT_FALSE(left.join(' ').contains("partial")) << left.join(' ').toStdString();
    }
}
