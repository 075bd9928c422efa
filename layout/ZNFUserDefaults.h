#pragma once

#include <QString>
#include <QVariant>
#include <memory>

class QSettings;

// The standard user defaults: one store shared by the data predicate, the data event handler
// and the scripting bridge. Values keep their exact type (numbers stay numbers, dates stay
// dates) because each is stored serialised in the application's own settings file.
class ZNFUserDefaults {
public:
    explicit ZNFUserDefaults(const QString& filePath);
    // Writes what is still pending.
    ~ZNFUserDefaults();

    // The application's store, made on first use (main thread). What is set reaches its file
    // on a later turn of the event loop, when the application quits, or when the process ends.
    static ZNFUserDefaults& standardUserDefaults();

    // A null QVariant when nothing is stored under the key.
    QVariant objectForKey(const QString& key) const;
    // A null value removes the key.
    void setObject(const QVariant& value, const QString& key);
    void removeObjectForKey(const QString& key);
    QString filePath() const;
    void synchronize();

    // Whether the value can be kept as a property list: a string, number, boolean, valid date
    // or data, or a list or string-keyed map of such values. Null, invalid and any other
    // type (a script function, an object pointer) are not.
    static bool isPropertyList(const QVariant& value);

private:
    std::unique_ptr<QSettings> m_settings;
};
