#pragma once

#include "ZNFNoteStore.pb.h"

#include <QString>
#include <functional>
#include <optional>

// Lists nest at most this deep in what is written; deeper items stay at this level.
inline constexpr int ZNFNotesBody_maxIndentLevel = 16;

// A Notes store note's text with the structure its attribute runs give it (lists, checklists,
// quotes, links, inline attachments), written in ZNFNoteBodyText's plain text. Stateless; any
// thread.
namespace ZNFNotesBody {

// What an attachment's U+FFFC becomes: nullopt keeps the character (a picture: the phone
// places it there), a text replaces it (empty: nothing is left of it).
using AttachmentText = std::function<std::optional<QString>(const QString& identifier, const QString& type)>;

// Runs that go past the text end with it; text past the runs is body text. A note without runs
// is its text unchanged.
QString render(const znf::notestore::Note& note, const AttachmentText& attachment);

} // namespace ZNFNotesBody
