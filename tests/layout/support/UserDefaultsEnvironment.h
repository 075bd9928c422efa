#pragma once

// Every test program that includes
// this gets a private HOME and configuration folder before any test runs, so the standard
// user defaults (made once, on first use) live in a temporary settings file.

#include "layout/ZNFUserDefaults.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVariant>
#include <gtest/gtest.h>

// A failure here runs no test: nothing may touch the user's real settings.
class TemporaryUserDefaultsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
            const QString path = m_dir.path() + u'/' + QLatin1String(name).toString().toLower();
            QDir().mkpath(path);
            qputenv(name, QFile::encodeName(path));
        }
        // Pin the store now; a store made before this point would be the user's real one.
        ASSERT_TRUE(ZNFUserDefaults::standardUserDefaults().filePath().startsWith(m_dir.path()))
            << "the standard user defaults were made before the test environment";
    }

private:
    QTemporaryDir m_dir;
};

inline ::testing::Environment* const kTemporaryUserDefaults =
    ::testing::AddGlobalTestEnvironment(new TemporaryUserDefaultsEnvironment);

inline ZNFUserDefaults& userDefaults() {
    return ZNFUserDefaults::standardUserDefaults();
}
