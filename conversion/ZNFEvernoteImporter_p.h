#pragma once

// What the Evernote importer's two halves (the .enex reader and the ENML text) share.

#include <QByteArray>
#include <QLatin1StringView>

namespace ZNFEvernote {

// The file extension of the picture format the bytes begin with ("jpg", "png", "gif", "heic",
// ...), judged by content alone; empty when they begin no picture format the archive reads.
// `head` needs at most kPictureHeadBytes bytes.
inline constexpr qsizetype kPictureHeadBytes = 16;
QLatin1StringView pictureFormat(const QByteArray& head);

// A "data:" URL's bytes (base64 or percent-encoded); empty when it is no data URL or its bytes
// would pass `limit`.
QByteArray dataURLBytes(const QString& url, qint64 limit);

} // namespace ZNFEvernote
