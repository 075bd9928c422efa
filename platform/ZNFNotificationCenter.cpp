#include "platform/ZNFNotificationCenter.h"

ZNFNotificationCenter& ZNFNotificationCenter::defaultCenter() {
    static ZNFNotificationCenter center;
    return center;
}

int ZNFNotificationCenter::addObserver(const QString& name, Observer observer, QObject* owner) {
    const int token = m_next++;
    m_entries.push_back({token, name, std::move(observer)});
    if (owner)
        QObject::connect(owner, &QObject::destroyed, [this, token] { removeObserver(token); });
    return token;
}

void ZNFNotificationCenter::removeObserver(int token) {
    std::erase_if(m_entries, [token](const Entry& e) { return e.token == token; });
}

void ZNFNotificationCenter::postNotificationName(const QString& name) {
    // Observers may add or remove observers while being called: work on a copy.
    std::vector<Observer> targets;
    for (const auto& e : m_entries)
        if (e.name == name)
            targets.push_back(e.observer);
    for (auto& t : targets)
        t(name);
}
