#pragma once

#include <QString>
#include <QStringList>

// The plain text every importer writes a note's structure in: what the phone shows well and
// what Markdown readers understand. One place, so that a checklist from Notes, Keep and
// Evernote reads the same.
namespace ZNFNoteBodyText {

// Each level of nesting indents a list item by this many blanks; enough for a nested item
// under "10. " still to belong to its parent in Markdown.
inline constexpr int kIndentPerLevel = 4;

// "- [ ] text" / "- [x] text", indented by its level (0 = not nested).
QString checklistItem(const QString& text, bool done, int level = 0);
// "- text"
QString bulletItem(const QString& text, int level = 0);
// "3. text"
QString numberedItem(const QString& text, int number, int level = 0);
// "> text"
QString quoteLine(const QString& text);
// Cells in reading order, "a | b | c".
QString tableRow(const QStringList& cells);
// "text (url)"; the url alone when the text is empty or is the url itself.
QString link(const QString& text, const QString& url);

// A tag as the tag line writes it: blanks removed, lower case ("Home Stuff" -> "homestuff").
QString tag(const QString& name);
// "#errands #homestuff"; empty when there are no tags (empty names are dropped).
QString tagLine(const QStringList& names);
// The text, then a blank line and the tag line when there are tags.
QString withTagLine(QString text, const QStringList& names);

} // namespace ZNFNoteBodyText
