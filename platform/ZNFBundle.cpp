#include "platform/ZNFBundle.h"
#include "platform/ZNFLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>
#include <memory>

namespace {
// Set on the main thread at start-up; read afterwards.
QPointer<QTranslator>& installedTranslator() {
    static QPointer<QTranslator> translator;
    return translator;
}
QPointer<QTranslator>& installedQtTranslator() {
    static QPointer<QTranslator> translator;
    return translator;
}
QStringList& loadedLocalizations() {
    static QStringList languages{ZNFBundle_DevelopmentLocalization};
    return languages;
}
} // namespace

ZNFBundle ZNFBundle::mainBundle() {
    const QString env = qEnvironmentVariable("NOTECRATE_RESOURCES");
    if (!env.isEmpty() && QFileInfo(env).isDir())
        return ZNFBundle(QDir::cleanPath(env));
    if (QCoreApplication::instance()) {
        const QString beside =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("resources"));
        if (QFileInfo(beside).isDir())
            return ZNFBundle(beside);
        // Installed: PREFIX/bin/notecrate reads PREFIX/share/notecrate.
        const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                                  QStringLiteral("/../") + ZNFBundle_InstalledPath);
        if (QFileInfo(installed).isDir())
            return ZNFBundle(installed);
    }
#ifdef NOTECRATE_SOURCE_RESOURCES
    if (QFileInfo(QStringLiteral(NOTECRATE_SOURCE_RESOURCES)).isDir())
        return ZNFBundle(QStringLiteral(NOTECRATE_SOURCE_RESOURCES));
#endif
    return ZNFBundle(QString());
}

ZNFBundle ZNFBundle::bundleWithPath(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return ZNFBundle(QString());
    return ZNFBundle(path);
}

QString ZNFBundle::pathForResource(const QString& name, const QString& type) const {
    if (!isValid() || name.isEmpty())
        return {};
    const QString file = type.isEmpty() ? name : name + u'.' + type;
    const QString path = QDir(m_path).filePath(file);
    return QFileInfo::exists(path) ? path : QString();
}

QString ZNFLocalizedString(const char* key) {
    return QCoreApplication::translate("Localizable", key);
}

QUrl ZNFBundle::urlForImageResource(const QString& name) const {
    for (const QString& folder : {QString(), QStringLiteral("images/")})
        for (const QString& type : {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg")}) {
            const QString path = pathForResource(folder + name, type);
            if (!path.isEmpty())
                return QUrl::fromLocalFile(path);
        }
    return {};
}

QStringList ZNFBundle::installLocalizations(const QLocale& locale) {
    for (QPointer<QTranslator>* installed : {&installedTranslator(), &installedQtTranslator()})
        if (QTranslator* old = installed->data()) {
            QCoreApplication::removeTranslator(old);
            delete old;
        }
    loadedLocalizations() = QStringList{ZNFBundle_DevelopmentLocalization};
    const QString folder = mainBundle().pathForResource(QStringLiteral("translations"), QString());
    if (folder.isEmpty())
        return preferredLocalizations();
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    // Tries each of the locale's languages in order ("notecrate_de.qm" for de-DE); the
    // development language has no file, so it is never found.
    if (!translator->load(locale, QStringLiteral("notecrate"), QStringLiteral("_"), folder))
        return preferredLocalizations();
    // The table's own language ("de_DE"), else the one its file is named for.
    QString language = translator->language();
    if (language.isEmpty())
        language = QFileInfo(translator->filePath()).completeBaseName().section(QLatin1Char('_'), 1);
    language = language.section(QLatin1Char('_'), 0, 0).section(QLatin1Char('-'), 0, 0);
    QCoreApplication::installTranslator(translator.get());
    installedTranslator() = translator.release();
    if (!language.isEmpty())
        loadedLocalizations() = QStringList{language};
    // Qt's own texts (file chooser, message boxes) in the same language.
    auto qt = std::make_unique<QTranslator>(QCoreApplication::instance());
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (qt->load(QStringLiteral("qtbase_") + language, qtFolder)) {
        QCoreApplication::installTranslator(qt.get());
        installedQtTranslator() = qt.release();
    } else {
        qCInfo(lcNotecrate()).noquote()
            << QStringLiteral("No Qt translation qtbase_%1 in %2").arg(language, qtFolder);
    }
    return preferredLocalizations();
}

QStringList ZNFBundle::preferredLocalizations() {
    return loadedLocalizations();
}
