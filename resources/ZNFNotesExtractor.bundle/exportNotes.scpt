-- Writes every note of the Notes app to ~/Desktop/znfexporter_mac_exported_notes.json:
-- [{"id", "text", "creationDate", "modificationDate", "attachments": [{"id", "parentId", "date"}]}]
-- Dates are milliseconds since 1970. Foundation's JSON writer does the escaping, so any
-- text (quotes, control characters, emoji, any script) comes out as valid UTF-8 JSON.
use AppleScript version "2.4"
use framework "Foundation"
use scripting additions

on epochMillis(d)
	set nsDate to current application's NSDate's dateWithTimeInterval:0 sinceDate:d
	return (nsDate's timeIntervalSince1970()) * 1000
end epochMillis

set exported to current application's NSMutableArray's array()
tell application "Notes"
	repeat with aNote in notes
		set noteId to id of aNote
		set noteAttachments to current application's NSMutableArray's array()
		repeat with anAttachment in attachments of aNote
			(noteAttachments's addObject:{|id|:(id of anAttachment), |parentId|:noteId, |date|:(my epochMillis(creation date of anAttachment))})
		end repeat
		(exported's addObject:{|id|:noteId, |text|:(plaintext of aNote), |creationDate|:(my epochMillis(creation date of aNote)), |modificationDate|:(my epochMillis(modification date of aNote)), |attachments|:noteAttachments})
	end repeat
end tell

set {jsonData, jsonError} to current application's NSJSONSerialization's dataWithJSONObject:exported options:0 |error|:(reference)
if jsonData is missing value then error (jsonError's localizedDescription() as text)
set exportPath to (current application's NSString's stringWithString:"~/Desktop/znfexporter_mac_exported_notes.json")'s stringByExpandingTildeInPath()
jsonData's writeToFile:exportPath atomically:true
