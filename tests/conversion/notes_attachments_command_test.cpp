// Runs of "notecrate convert notes": its arguments, exit codes and output lines, against a
// stand-in osascript or a copied Notes folder. What the archive holds is the importers' test.
#include "TestSupport.h"
#include "support/attachments_fixture.h"
#include "support/command_run.h"
#include "support/notes_store_fixture.h"

#include <gtest/gtest.h>

namespace S = NotesStoreFixture;

TEST(NotesCommand, ArgumentsExitCodesAndOutputLines) {
    ScopedHome home;
    const QString folder = home.root() + "/group.com.apple.notes", lockedOnly = home.root() + "/locked";
    S::Store store;
    store.objects = {S::attachmentRow(30, 1, "PHOTO-UUID", "public.png", 1.0)};
    store.notes = {{2, S::noteData("a"), {{"ZISPASSWORDPROTECTED", 1}}},
                   {3, S::noteData("b"), {{"ZISPASSWORDPROTECTED", 1}}}};
    ASSERT_TRUE(S::write(lockedOnly, store));
    store.notes.push_back({1, S::noteData("Trip"), {}});
    ASSERT_TRUE(S::write(folder, store));
    writeFile(folder + "/Media/PHOTO-UUID/p.png",
              AttachmentsFixture::png(AttachmentsFixture::cornerImage(40, 20)));
    const auto convert = [](const QStringList& more = {}) { return QStringList{"convert", "notes"} + more; };
    const CommandRow rows[] = {
        {"a copied folder", convert({"--from", folder}), 0, {"2 locked notes left out"}, 1, 1},
        {"only locked notes",
         convert({"--from", lockedOnly}),
         1,
         {"2 locked notes left out", "notecrate: there is no note to convert in"}},
        {"a folder without a store",
         convert({"--from", home.home()}),
         1,
         {"notecrate: there is no NoteStore.sqlite in"}},
        {"no folder named",
         convert({"--from"}),
         1,
         {"notecrate: convert notes takes nothing, or --from DIR"}},
        {"no osascript: the error names --from",
         convert(),
         1,
         {"notecrate: the Notes app's export needs osascript, which only macOS has; convert a copy of the "
          "Mac's Notes folder with --from DIR"}},
    };
    for (const CommandRow& row : rows)
        expectRun(row);

    // The Notes app's own export, through the script.
    writeFile(home.root() + "/export.json", R"([{"id":"n1","text":"Trip"},{"id":"n2"}])");
    home.installTool("osascript",
                     "#!/bin/sh\nmkdir -p \"$HOME/Desktop\"\ncp \"" + home.root().toUtf8() +
                         "/export.json\" \"$HOME/Desktop/znfexporter_mac_exported_notes.json\"\n");
    expectRun({"the Notes app's export", convert(), 0, {}, 2, 0});
}
