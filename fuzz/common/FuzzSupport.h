#pragma once

// What every fuzz target shares: a QApplication on the offscreen platform, a private HOME and
// caches folder, quiet logs, and checks that stop the run with a readable reason. A failed
// check aborts, so libFuzzer keeps the input as a crash like any sanitizer finding.

#include "TestSupport.h"

#include <QByteArray>
#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace NCFuzz {

// Made once per process, on the first call: QApplication, HOME and XDG_CACHE_HOME in a
// temporary folder, Qt messages and the platform log dropped (NOTECRATE_FUZZ_VERBOSE=1 keeps
// them). Returns the private home.
ScopedHome& environment();

[[noreturn]] void fail(const char* file, int line, const char* condition, const QString& detail);

QByteArray bytes(const uint8_t* data, size_t size);

// An archive as the phone app reads it. Checks what holds for every archive either importer
// writes: it opens, "entries.json" is an object with only "entries" (an array of objects), every
// other file lies directly in "resources", each image entry has its PNG there and there is no
// file without an entry; an archive without images holds only the empty ".DS_Store" there.
struct Archive {
    ZipContents zip;
    QJsonArray entries;
    int notes = 0;
    int images = 0;
};
Archive checkArchive(const QString& path);

// Text as the archive holds it: a surrogate without its pair becomes U+FFFD.
QString withPairedSurrogates(QString text);

} // namespace NCFuzz

#define FUZZ_CHECK(condition, detail)                                                                        \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            ::NCFuzz::fail(__FILE__, __LINE__, #condition, (detail));                                        \
    } while (0)
