#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <vector>

// The default notification centre: observers by name, posted synchronously on the
// poster's thread. An observer registered with an owner goes away with it.
class ZNFNotificationCenter {
public:
    using Observer = std::function<void(const QString& name)>;

    static ZNFNotificationCenter& defaultCenter();

    // Returns a token for removeObserver.
    int addObserver(const QString& name, Observer observer, QObject* owner = nullptr);
    void removeObserver(int token);
    void postNotificationName(const QString& name);

private:
    struct Entry {
        int token;
        QString name;
        Observer observer;
    };
    std::vector<Entry> m_entries;
    int m_next = 1;
};
