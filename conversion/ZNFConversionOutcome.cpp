#include "conversion/ZNFConversionOutcome.h"

using namespace Qt::StringLiterals;

namespace {

struct Noun {
    const char* one;
    const char* many;
};

Noun nounOf(ZNFLeftOutReason reason) {
    switch (reason) {
    case ZNFLeftOutReason::LockedNote:
        return {"locked note", "locked notes"};
    case ZNFLeftOutReason::DeletedNote:
        return {"deleted note", "deleted notes"};
    case ZNFLeftOutReason::RecentlyDeletedNote:
        return {"note in Recently Deleted", "notes in Recently Deleted"};
    case ZNFLeftOutReason::TrashedNote:
        return {"note in the trash", "notes in the trash"};
    case ZNFLeftOutReason::UnreadableNote:
        return {"note with unreadable data", "notes with unreadable data"};
    case ZNFLeftOutReason::NoteOverLimit:
        return {"note past the limits on notes and text", "notes past the limits on notes and text"};
    case ZNFLeftOutReason::PDF:
        return {"PDF", "PDFs"};
    case ZNFLeftOutReason::Audio:
        return {"audio recording", "audio recordings"};
    case ZNFLeftOutReason::Video:
        return {"video", "videos"};
    case ZNFLeftOutReason::File:
        return {"other file", "other files"};
    case ZNFLeftOutReason::MissingPicture:
        return {"missing picture", "missing pictures"};
    case ZNFLeftOutReason::UnreadablePicture:
        return {"unreadable picture", "unreadable pictures"};
    case ZNFLeftOutReason::UnreadableAttachment:
        return {"unreadable attachment", "unreadable attachments"};
    case ZNFLeftOutReason::EncryptedText:
        return {"encrypted passage", "encrypted passages"};
    case ZNFLeftOutReason::AttachmentOverLimit:
        return {"attachment past the limit on attachments", "attachments past the limit on attachments"};
    }
    return {"item", "items"};
}

// "a", "a and b", "a, b and c".
QString joined(const QStringList& parts) {
    if (parts.size() < 2)
        return parts.value(0);
    return parts.mid(0, parts.size() - 1).join(", "_L1) + " and "_L1 + parts.last();
}

} // namespace

namespace ZNFLeftOut {

bool isWholeNote(ZNFLeftOutReason reason) {
    return reason <= ZNFLeftOutReason::NoteOverLimit;
}

QString noun(ZNFLeftOutReason reason, qint64 count) {
    const Noun n = nounOf(reason);
    return QLatin1StringView(count == 1 ? n.one : n.many);
}

QString counted(ZNFLeftOutReason reason, qint64 count) {
    return QStringLiteral("%1 %2").arg(count).arg(noun(reason, count));
}

QString placeholderLine(ZNFLeftOutReason reason, const QString& name) {
    QString kind;
    switch (reason) {
    case ZNFLeftOutReason::PDF:
        kind = "PDF"_L1;
        break;
    case ZNFLeftOutReason::Audio:
        kind = "Audio"_L1;
        break;
    case ZNFLeftOutReason::Video:
        kind = "Video"_L1;
        break;
    case ZNFLeftOutReason::MissingPicture:
    case ZNFLeftOutReason::UnreadablePicture:
        kind = "Picture"_L1;
        break;
    case ZNFLeftOutReason::EncryptedText:
        kind = "Encrypted text"_L1;
        break;
    default:
        kind = "File"_L1;
        break;
    }
    return name.isEmpty() ? u'[' + kind + u']' : u'[' + kind + ": "_L1 + name + u']';
}

ZNFLeftOutReason reasonForAttachment(const QString& mimetype, const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot <= 0 ? QString() : name.mid(dot + 1).toLower();
    if (mimetype.startsWith("audio/"_L1) || extension == "3gp"_L1 || extension == "m4a"_L1 ||
        extension == "amr"_L1)
        return ZNFLeftOutReason::Audio;
    if (mimetype.startsWith("video/"_L1))
        return ZNFLeftOutReason::Video;
    if (mimetype == "application/pdf"_L1 || extension == "pdf"_L1)
        return ZNFLeftOutReason::PDF;
    return ZNFLeftOutReason::File;
}

} // namespace ZNFLeftOut

void ZNFConversionOutcome::addLeftOut(ZNFLeftOutItem item) {
    ++leftOutCounts[size_t(item.reason)];
    if (qsizetype(leftOut.size()) < ZNFConversionOutcome_maxLeftOutItems)
        leftOut.push_back(std::move(item));
}

void ZNFConversionOutcome::countLeftOut(ZNFLeftOutReason reason, qint64 count) {
    if (count > 0)
        leftOutCounts[size_t(reason)] += count;
}

qint64 ZNFConversionOutcome::leftOutTotal() const {
    qint64 total = 0;
    for (const qint64 count : leftOutCounts)
        total += count;
    return total;
}

void ZNFConversionOutcome::mergeLeftOut(const ZNFConversionOutcome& other) {
    for (const ZNFLeftOutItem& item : other.leftOut)
        if (qsizetype(leftOut.size()) < ZNFConversionOutcome_maxLeftOutItems)
            leftOut.push_back(item);
    for (int i = 0; i < ZNFLeftOutReason_count; ++i)
        leftOutCounts[size_t(i)] += other.leftOutCounts[size_t(i)];
}

QStringList ZNFConversionOutcome::leftOutLines() const {
    QStringList lines;
    QStringList parts;
    for (int i = 0; i < ZNFLeftOutReason_count; ++i) {
        const auto reason = ZNFLeftOutReason(i);
        const qint64 count = leftOutCount(reason);
        if (count == 0)
            continue;
        if (ZNFLeftOut::isWholeNote(reason))
            lines << ZNFLeftOut::counted(reason, count) + " left out"_L1;
        else
            parts << ZNFLeftOut::counted(reason, count);
    }
    if (!parts.isEmpty())
        lines << joined(parts) + " could not be carried"_L1;
    return lines;
}

QString ZNFConversionOutcome::leftOutSummary() const {
    QStringList parts;
    for (int i = 0; i < ZNFLeftOutReason_count; ++i)
        if (const qint64 count = leftOutCount(ZNFLeftOutReason(i)))
            parts << ZNFLeftOut::counted(ZNFLeftOutReason(i), count);
    return parts.isEmpty() ? QString() : joined(parts) + " left out"_L1;
}
