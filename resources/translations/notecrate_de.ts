<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>Localizable</name>
    <message>
        <source>‹ Back</source>
        <translation>‹ Zurück</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Your phone should show %1</source>
        <translation>Dein Telefon sollte %1 anzeigen</translation>
    </message>
    <message>
        <source>Send only if both screens show the same code.</source>
        <translation>Sende nur, wenn beide Bildschirme denselben Code zeigen.</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>There is no converted archive to send yet. Convert your notes first.</source>
        <translation>Es gibt noch kein umgewandeltes Archiv zum Senden. Wandle zuerst deine Notizen um.</translation>
    </message>
    <message>
        <source>This computer’s key for sending wirelessly is damaged. Make a new one? Phones that remembered this computer will show a new code once.</source>
        <translation>Der Schlüssel dieses Computers für das drahtlose Senden ist beschädigt. Einen neuen erstellen? Telefone, die sich diesen Computer gemerkt haben, zeigen dann einmal einen neuen Code.</translation>
    </message>
    <message>
        <source>Make a new key</source>
        <translation>Neuen Schlüssel erstellen</translation>
    </message>
    <message>
        <source>“%1” was remembered with another key, so this may be another device using its name. Nothing was sent. If the phone was reset or replaced, forget it and send again.</source>
        <translation>„%1“ ist mit einem anderen Schlüssel gespeichert; vielleicht gibt sich ein anderes Gerät als dieses aus. Es wurde nichts gesendet. Wenn das Telefon zurückgesetzt oder ersetzt wurde, vergiss es und sende erneut.</translation>
    </message>
    <message>
        <source>Forget this phone and try again</source>
        <translation>Dieses Telefon vergessen und erneut versuchen</translation>
    </message>
    <message>
        <source>Which app would you like to import from?</source>
        <translation>Aus welcher App möchtest du importieren?</translation>
    </message>
    <message>
        <source>Notes</source>
        <translation>Notizen</translation>
    </message>
    <message>
        <source>Vesper</source>
        <translation>Vesper</translation>
    </message>
    <message>
        <source>To make sure your notes are up to date on this computer, launch the Notes app, and wait for it to update. When you're ready, click Next.</source>
        <translation>Damit deine Notizen auf diesem Computer aktuell sind, öffne die App Notizen und warte, bis sie sich aktualisiert hat. Wenn du so weit bist, klicke auf Weiter.</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>(Click here to open your Mac’s notes app)</source>
        <translation>(Klicke hier, um die Notizen-App deines Mac zu öffnen)</translation>
    </message>
    <message>
        <source>Converting notes...</source>
        <translation>Notizen werden umgewandelt …</translation>
    </message>
    <message>
        <source>Select your Vesper Export file</source>
        <translation>Vesper-Export auswählen</translation>
    </message>
    <message>
        <source>Learn more about how to export 
from Vesper here.</source>
        <translation>Wie du aus Vesper exportierst, 
erfährst du hier.</translation>
    </message>
    <message>
        <source>Something went wrong—make sure you've selected 
the correct file, and try again.</source>
        <translation>Etwas ist schiefgelaufen – prüfe, ob du 
die richtige Datei gewählt hast, und versuche es erneut.</translation>
    </message>
    <message>
        <source>Would you like to save this file to your iCloud Drive to import later from the Tessanote settings menu, or send them wirelessly to your phone right now?</source>
        <translation>Möchtest du diese Datei in deinem iCloud Drive sichern, um sie später über die Einstellungen von Tessanote zu importieren, oder die Notizen jetzt drahtlos an dein Telefon senden?</translation>
    </message>
    <message>
        <source>Send Wirelessly</source>
        <translation>Drahtlos senden</translation>
    </message>
    <message>
        <source>Save to iCloud</source>
        <translation>In iCloud sichern</translation>
    </message>
    <message>
        <source>Great!</source>
        <translation>Super!</translation>
    </message>
    <message>
        <source>Import from the Tessanote settings menu to
 add these notes to your library. We hope you enjoy using Tessanote!</source>
        <translation>Importiere sie über die Einstellungen von Tessanote,
 um diese Notizen deiner Sammlung hinzuzufügen. Viel Freude mit Tessanote!</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Attempting to send your notes over the air.</source>
        <translation>Deine Notizen werden drahtlos gesendet.</translation>
    </message>
    <message>
        <source>Open your Tessanote app’s settings, then tap “Import Notes”. Tessanote will connect automatically if your phone and your computer are on the same Wifi.</source>
        <translation>Öffne die Einstellungen deiner Tessanote-App und tippe auf „Notizen importieren“. Tessanote verbindet sich automatisch, wenn dein Telefon und dein Computer im selben WLAN sind.</translation>
    </message>
    <message>
        <source>Success!</source>
        <translation>Geschafft!</translation>
    </message>
    <message>
        <source>Your notes were transferred successfully to your device. Follow instructions on your phone to finish up.</source>
        <translation>Deine Notizen wurden erfolgreich auf dein Gerät übertragen. Folge den Anweisungen auf deinem Telefon, um den Vorgang abzuschließen.</translation>
    </message>
    <message>
        <source>No notes were found. Open the Notes app, wait for it to update, and try again.</source>
        <translation>Es wurden keine Notizen gefunden. Öffne die App Notizen, warte, bis sie sich aktualisiert hat, und versuche es erneut.</translation>
    </message>
    <message>
        <source>Choose your copied Notes folder</source>
        <translation>Kopierten Notizen-Ordner auswählen</translation>
    </message>
    <message>
        <source>This computer cannot ask the Notes app for your notes. Copy your Mac’s Notes folder, ~/Library/Group Containers/group.com.apple.notes, to this computer, then choose it here.</source>
        <translation>Dieser Computer kann die App Notizen nicht nach deinen Notizen fragen. Kopiere den Notizen-Ordner deines Mac, ~/Library/Group Containers/group.com.apple.notes, auf diesen Computer und wähle ihn dann hier aus.</translation>
    </message>
    <message>
        <source>No notes were found in that folder. Choose the copied Notes folder, the one that holds NoteStore.sqlite.</source>
        <translation>In diesem Ordner wurden keine Notizen gefunden. Wähle den kopierten Notizen-Ordner, in dem NoteStore.sqlite liegt.</translation>
    </message>
    <message>
        <source>The transfer did not finish. Try again.</source>
        <translation>Die Übertragung wurde nicht abgeschlossen. Versuche es erneut.</translation>
    </message>
    <message>
        <source>Send to Tessanote</source>
        <translation>An Tessanote senden</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>The archive could not be saved there. Choose another place and try again.</source>
        <translation>Das Archiv konnte dort nicht gesichert werden. Wähle einen anderen Ort und versuche es erneut.</translation>
    </message>
    <message>
        <source>Sending wirelessly is not available right now: this computer cannot be found on the network.</source>
        <translation>Drahtloses Senden ist gerade nicht möglich: Dieser Computer ist im Netzwerk nicht auffindbar.</translation>
    </message>
    <message>
        <source>Converting %1 of %2 notes…</source>
        <translation>%1 von %2 Notizen werden umgewandelt …</translation>
    </message>
    <message>
        <source>Exporting from the Notes app needs macOS. Copy your Mac’s Notes folder to this computer and choose it here instead.</source>
        <translation>Der Export aus der App Notizen braucht macOS. Kopiere den Notizen-Ordner deines Mac auf diesen Computer und wähle ihn stattdessen hier aus.</translation>
    </message>
    <message>
        <source>No folder was chosen. Choose the copied Notes folder, the one that holds NoteStore.sqlite.</source>
        <translation>Es wurde kein Ordner ausgewählt. Wähle den kopierten Notizen-Ordner, in dem NoteStore.sqlite liegt.</translation>
    </message>
    <message>
        <source>Choose the Vesper export folder</source>
        <translation>Vesper-Exportordner auswählen</translation>
    </message>
    <message>
        <source>Choose the copied Notes folder</source>
        <translation>Kopierten Notizen-Ordner auswählen</translation>
    </message>
    <message>
        <source>Save the backup</source>
        <translation>Sicherung speichern</translation>
    </message>
    <message>
        <source>Working…</source>
        <translation>In Arbeit …</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>here</source>
        <translation>hier</translation>
    </message>
    <message>
        <source>Converted %1 notes to .notebackup</source>
        <translation>%1 Notizen in .notebackup umgewandelt</translation>
    </message>
    <message>
        <source>Sending %1 of %2</source>
        <translation>%1 von %2 gesendet</translation>
    </message>
    <message>
        <source>less than a minute left</source>
        <translation>noch weniger als eine Minute</translation>
    </message>
    <message>
        <source>about %1 min left</source>
        <translation>noch etwa %1 Min.</translation>
    </message>
    <message>
        <source>%1 pictures</source>
        <translation>%1 Bilder</translation>
    </message>
    <message>
        <source>Google Keep</source>
        <translation>Google Keep</translation>
    </message>
    <message>
        <source>Evernote</source>
        <translation>Evernote</translation>
    </message>
    <message>
        <source>Choose your Google Takeout file or folder</source>
        <translation>Google-Takeout-Datei oder -Ordner wählen</translation>
    </message>
    <message>
        <source>Choose your .enex files</source>
        <translation>.enex-Dateien wählen</translation>
    </message>
    <message>
        <source>Google Takeout (*.zip *.tgz)</source>
        <translation>Google-Takeout-Archiv (*.zip *.tgz)</translation>
    </message>
    <message>
        <source>Evernote export (*.enex)</source>
        <translation>Evernote-Export (*.enex)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>At takeout.google.com, choose “Deselect all”, tick only Keep, and export. Then choose the downloaded .zip (all its parts, if there are several) or the folder it unpacks to.</source>
        <translation>Wähle auf takeout.google.com „Auswahl aufheben“, hake nur Keep an und exportiere. Wähle dann die heruntergeladene .zip-Datei (alle Teile, wenn es mehrere sind) oder den Ordner, in den sie entpackt wird.</translation>
    </message>
    <message>
        <source>In Evernote, select a notebook or some notes, then choose File ▸ Export Notes… and the .enex format. Choose one file or several; they become one backup.</source>
        <translation>Wähle in Evernote ein Notizbuch oder einige Notizen aus, dann Datei ▸ Notizen exportieren… und das Format .enex. Wähle eine Datei oder mehrere; sie werden zu einer Sicherung.</translation>
    </message>
    <message>
        <source>Something went wrong—make sure you've chosen your Google Takeout file or folder, and try again.
%1</source>
        <translation>Etwas ist schiefgelaufen – prüfe, ob du deine Google-Takeout-Datei oder deinen Takeout-Ordner gewählt hast, und versuche es erneut.
%1</translation>
    </message>
    <message>
        <source>Something went wrong—make sure you've chosen your .enex files, and try again.
%1</source>
        <translation>Etwas ist schiefgelaufen – prüfe, ob du deine .enex-Dateien gewählt hast, und versuche es erneut.
%1</translation>
    </message>
    <!-- The list of an archive's notes, and the backup screen without iCloud Drive. -->
    <message>
        <source>Save a Copy…</source>
        <translation>Kopie sichern…</translation>
    </message>
    <message>
        <source>Would you like to save this file to a folder your phone can reach, to import later from the Tessanote settings menu, or send them wirelessly to your phone right now?</source>
        <translation>Möchtest du diese Datei in einem Ordner sichern, den dein Telefon erreicht, um sie später über die Einstellungen von Tessanote zu importieren, oder die Notizen jetzt drahtlos an dein Telefon senden?</translation>
    </message>
    <message>
        <source>Show the notes</source>
        <translation>Notizen anzeigen</translation>
    </message>
    <message>
        <source>Empty note</source>
        <translation>Leere Notiz</translation>
    </message>
    <message>
        <source>1 picture</source>
        <translation>1 Bild</translation>
    </message>
    <message>
        <source>Untitled note</source>
        <translation>Notiz ohne Titel</translation>
    </message>
    <message>
        <source>%1 in “%2”</source>
        <translation>%1 in „%2“</translation>
    </message>
    <message>
        <source>%1 notes · %2 pictures</source>
        <translation>%1 Notizen · %2 Bilder</translation>
    </message>
    <message>
        <source>%1 of %2 notes</source>
        <translation>%1 von %2 Notizen</translation>
    </message>
    <message>
        <source>The notes of this archive cannot be shown: %1</source>
        <translation>Die Notizen dieses Archivs können nicht angezeigt werden: %1</translation>
    </message>
    <message>
        <source>%1 notes are too large to show here.</source>
        <translation>%1 Notizen sind zu groß, um sie hier anzuzeigen.</translation>
    </message>
    <message>
        <source>Filter the notes</source>
        <translation>Notizen filtern</translation>
    </message>
    <message>
        <source>No note holds “%1”.</source>
        <translation>Keine Notiz enthält „%1“.</translation>
    </message>
    <message>
        <source>Left out</source>
        <translation>Ausgelassen</translation>
    </message>
    <message>
        <source>Nothing was left out.</source>
        <translation>Nichts wurde ausgelassen.</translation>
    </message>
    <message>
        <source>and %1 more, counted but not named</source>
        <translation>und %1 weitere, gezählt, aber nicht einzeln genannt</translation>
    </message>
</context>
</TS>
