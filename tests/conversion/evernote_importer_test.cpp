#include "conversion/ZNFEvernoteImporter.h"
#include "support/archive_reading.h"
#include "support/attachments_fixture.h"
#include "support/enex_file.h"

#include <QDateTime>

namespace F = AttachmentsFixture;
using Reason = ZNFLeftOutReason;

namespace {

const QString kPicture = QString(QChar(0xFFFC));

QByteArray gif() {
    // 1x1, the smallest GIF there is.
    return QByteArray::fromHex(
        "47494638396101000100800000ffffff00000021f90401000000002c00000000010001000002024401003b");
}
QByteArray png(int seed = 0) {
    return F::png(F::cornerImage(40 + seed, 30));
}

// The note entries' bodies, and each image entry's name (its identifier past its note's), in
// the archive's order.
struct Archived {
    QStringList bodies;
    QStringList images;
    std::vector<QJsonObject> notes;
};
Archived archived(const QString& path) {
    Archived a;
    for (const QJsonValue& value : entriesOf(path)) {
        const QJsonObject entry = value.toObject();
        if (entry.value("kind").toString() == "note") {
            a.bodies << entry.value("body").toString();
            a.notes.push_back(entry);
        } else {
            const QString parent = entry.value("parentId").toString();
            a.images << entry.value("identifier").toString().mid(parent.size() + 1);
        }
    }
    return a;
}

} // namespace

TEST(EvernoteENML, PlainText) {
    const QByteArray picture = png();
    struct Row {
        const char* name;
        QString enml;
        QString text;
        QStringList pictureHashes = {}; // "inline" for a data: picture
        int encrypted = 0;
        int unreadableInline = 0;
    };
    const QString inlinePNG = "data:image/png;base64," + QString::fromLatin1(picture.toBase64());
    // clang-format off
    const Row rows[] = {
        {"blocks and Evernote's blank line", "<en-note><div>a</div><div><br/></div><div>b</div></en-note>", "a\n\nb"},
        {"a break at a block's end is the block's end", "<div>a<br/></div><div>b<br></div>", "a\nb"},
        {"headings and paragraphs", "<h1>Title</h1><p>one</p><p>two</p><h6>six</h6>", "Title\none\ntwo\nsix"},
        {"blanks fold, as a browser shows them", "<div>\n   a \n\t b  </div>\n  <div> c</div>", "a b\nc"},
        {"bullets, nested", "<ul><li>a</li><li>b<ul><li>c</li></ul></li></ul>", "- a\n- b\n    - c"},
        {"numbers, and a start", "<ol><li>one</li><li><div>two</div></li></ol><ol start=\"7\"><li>x</li></ol>",
         "1. one\n2. two\n7. x"},
        {"en-todo", "<div><en-todo checked=\"true\"/>Milk</div><div><en-todo checked=\"false\"/>Eggs</div><div><en-todo/>Jam</div>",
         "- [x] Milk\n- [ ] Eggs\n- [ ] Jam"},
        {"empty to-dos keep their boxes and lines, in a paragraph, a cell and at the end",
         "<div><en-todo checked=\"true\"/></div><div>Eggs</div><table><tr><td><en-todo/></td><td>b</td></tr></table><div><en-todo/></div>",
         "- [x] \nEggs\n- [ ] | b\n- [ ]"},
        {"cells whose closing tags are missing stay apart", "<table><tr><td>a<td>b<th>c</tr></table>", "a | b | c"},
        {"an empty paragraph in a list item waits for the item's text", "<ul><li><div></div>Bread</li></ul>", "- Bread"},
        {"a U+FFFC in the text itself is no picture's place", "<div>x\uFFFCy&#xFFFC;z</div>", "xyz"},
        {"Evernote's newer checklists", "<ul style=\"--en-todo:true;\"><li style=\"--en-checked:true;\"><div>Bread</div></li>"
         "<li style=\"--en-checked:false;\"><div>Jam</div></li></ul>", "- [x] Bread\n- [ ] Jam"},
        {"a table: a row a line", "<table><tbody><tr><th>Day</th><th>Plan</th></tr><tr><td>Mon</td><td><div>Hike</div>"
         "<div>far</div></td></tr><tr><td></td><td></td></tr></tbody></table>", "Day | Plan\nMon | Hike far"},
        {"links", "<div><a href=\"https://x.org/a\">the site</a> or <a href=\"https://y.org\">https://y.org</a></div>",
         "the site (https://x.org/a) or https://y.org"},
        {"a data: link is never text", "<div><a href=\"data:text/html;base64,PGI+\">look</a></div>", "look"},
        {"a data: URL in a style is never text",
         "<div style=\"background:url(data:image/png;base64,iVBORw0KGgo=)\">x</div>", "x"},
        {"a picture where it sits", "<div>a<en-media hash=\"ABC123\" type=\"image/png\"/>b</div>", "a" + kPicture + "b",
         {"abc123"}},
        {"what cannot be carried, named", "<div>see</div><en-media hash=\"d\" type=\"application/pdf\"/>", "see\n[PDF]"},
        {"an inline data: picture", "<div><img src=\"" + inlinePNG + "\"/></div>", kPicture, {"inline"}},
        {"an inline data: URL that is no picture", "<div><img src=\"data:image/png;base64,aGVsbG8=\"/></div>",
         "[Picture]", {}, 0, 1},
        {"a picture on the web is not the note's", "<div>x<img src=\"https://example.com/a.png\"/></div>", "x"},
        {"en-crypt", "<div>pin: <en-crypt hint=\"dog\" cipher=\"AES\">RU5DMDq=</en-crypt> ok</div>",
         "pin:\n[Encrypted text]\nok", {}, 1},
        {"entities beyond XML's",
         "<div>a&nbsp;&nbsp;b &eacute;&Eacute; &amp;&lt;&gt;&quot;&apos; &#x263A;&#9731; &hellip; &bogus; &#0; &</div>",
         u"a  b \u00e9\u00c9 &<>\"' \u263a\u2603 \u2026 &bogus; \ufffd &"_qs},
        {"declarations, comments and CDATA",
         "<?xml version=\"1.0\"?><!DOCTYPE en-note SYSTEM \"x.dtd\" [<!ENTITY e \"v\">]><!-- a > b --><en-note>"
         "<div><![CDATA[x <y> ]]]]></div></en-note>", "x <y> ]]"},
        {"markup out of place keeps its text", "<div>a<b>bold</div></i><div>c <d", "abold\nc <d"},
        {"a '<' that starts no tag", "<div>1 < 2 and 3<4</div>", "1 < 2 and 3<4"},
        {"preformatted text keeps its blanks", "<pre>a\n  b  c</pre><div>d</div>", "a\n  b  c\nd"},
        {"quotes", "<blockquote><div>q1</div><div>q2</div></blockquote><div>after</div>", "> q1\n> q2\nafter"},
        {"styles and scripts are not text", "<style>div{color:red}</style><script>x()</script><div>t</div>", "t"},
        {"nesting past the limit keeps its text",
         QString("<div>").repeated(ZNFEvernoteImporter_maxDepth + 10) + "deep" +
             QString("</div>").repeated(ZNFEvernoteImporter_maxDepth + 10) + "<div>next</div>",
         "deep\nnext"},
        {"nothing", "", ""},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ZNFEvernoteImporter::Text text = ZNFEvernoteImporter::enmlToText(row.enml);
        EXPECT_EQ(text.text, row.text);
        QStringList hashes;
        for (const ZNFEvernoteImporter::Picture& p : text.pictures)
            hashes << (p.hash.isEmpty() && p.bytes == picture ? QString("inline") : p.hash);
        EXPECT_EQ(hashes, row.pictureHashes);
        EXPECT_EQ(text.encrypted, row.encrypted);
        EXPECT_EQ(text.unreadableInline, row.unreadableInline);
    }
}

TEST(EvernoteENML, ContentSectionsAndDates) {
    struct ContentRow {
        const char* name;
        QByteArray raw;
        QString enml;
    };
    // clang-format off
    const ContentRow contents[] = {
        {"whitespace before the CDATA", "\n   \t<![CDATA[<en-note>a</en-note>]]>\n  ", "<en-note>a</en-note>"},
        {"a ]]> split across two sections", "<![CDATA[<en-note>x ]]]]><![CDATA[> y</en-note>]]>", "<en-note>x ]]> y</en-note>"},
        {"a CDATA section nested inside", "<![CDATA[<en-note><![CDATA[a<b]]>c</en-note>]]>",
         "<en-note><![CDATA[a<b]]>c</en-note>"},
        {"no CDATA: escaped text", " &lt;en-note&gt;a &amp;amp; b&lt;/en-note&gt; ", "<en-note>a &amp; b</en-note>"},
        {"no CDATA: markup as is", "<en-note><div>a</div></en-note>", "<en-note><div>a</div></en-note>"},
        {"UTF-8", "<![CDATA[<en-note>\xc3\xa9</en-note>]]>", u"<en-note>\u00e9</en-note>"_qs},
    };
    // clang-format on
    for (const ContentRow& row : contents) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ZNFEvernoteImporter::contentENML(row.raw), row.enml);
    }

    // Read as UTC whatever the machine's zone.
    ScopedVariable zone("TZ", "Asia/Tokyo");
    struct DateRow {
        const char* name;
        QString text;
        std::optional<double> seconds;
    };
    const DateRow dates[] = {
        {"the export's form", "20200131T235959Z", 1580515199},
        {"wrapped in blanks", " \n 20200131T235959Z\t", 1580515199},
        {"a year short", "10101T000000Z", std::nullopt},
        {"local time", "20200131T235959", std::nullopt},
        {"ISO with dashes", "2020-01-31T23:59:59Z", std::nullopt},
        {"no such day", "20200230T000000Z", std::nullopt},
        {"no such hour", "20200101T250000Z", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const DateRow& row : dates) {
        SCOPED_TRACE(row.name);
        const std::optional<ZNFDate> date = ZNFEvernoteImporter::parseDate(row.text);
        EXPECT_EQ(date.has_value(), row.seconds.has_value());
        if (date && row.seconds) {
            EXPECT_DOUBLE_EQ(date->secondsSince1970, *row.seconds);
        }
    }
}

TEST(EvernoteImporter, WholeFiles) {
    ScopedHome home;
    ScopedVariable zone("TZ", "America/New_York");
    const QByteArray a = png(1), b = png(2), pdf = "%PDF-1.4 report";
    const double t2020 = 1577934245; // 20200102T030405Z, the builder's dates
    const QDateTime fileTime(QDate(2021, 6, 1), QTime(12, 0), Qt::UTC);

    Enex::Note full = Enex::note(
        "Trip", "<div><en-todo checked=\"true\"/>Pack</div><div><en-todo/>Book</div>"
                "<table><tr><td>Day</td><td>Plan</td></tr><tr><td>Mon</td><td>Hike</td></tr></table>" +
                    Enex::media(a, "image/png") + Enex::media(b, "image/png") +
                    Enex::media(pdf, "application/pdf"));
    full.tags = {"Travel", "Summer 2020"};
    full.resources = {Enex::resource(pdf, "application/pdf", "report.pdf"),
                      Enex::resource(b, "image/png", "b.png"), Enex::resource(a, "image/png", "a.png")};
    const auto withDates = [](QByteArray created, QByteArray updated) {
        Enex::Note n = Enex::note("Dated", "<div>d</div>");
        n.created = created;
        n.updated = updated;
        return n;
    };
    const auto withResources = [](const QByteArray& body, const QByteArrayList& resources) {
        Enex::Note n = Enex::note("R", body);
        n.resources = resources;
        return n;
    };
    const Enex::Note good1 = Enex::note("One", "<div>1</div>"), good2 = Enex::note("Two", "<div>2</div>");
    Enex::Note noCDATA = Enex::note("Phone", {});
    noCDATA.content =
        "<content>&lt;?xml version=\"1.0\"?&gt;&lt;en-note&gt;&lt;div&gt;from a phone&lt;/div&gt;"
        "&lt;/en-note&gt;</content>";
    Enex::Note nested = Enex::note("Code", {});
    nested.content = "<content><![CDATA[" +
                     Enex::enml("<div>x</div><div><![CDATA[y < z]]></div><div>after</div>") + "]]></content>";
    Enex::Note tight = Enex::note("Tight", {});
    tight.content = "<content>\n\n   <![CDATA[" + Enex::enml("<div>t</div>") + "]]></content>";
    Enex::Note escaped = Enex::note("Esc", "<div>a ]]> b</div>");
    Enex::Note broken = Enex::note("Broken & bad", "<div>lost</div>"); // a bare '&': not XML
    const QByteArray heic = F::heic(QImage(8, 6, QImage::Format_RGB32));
    const QByteArray cut = [&] {
        const QByteArray whole =
            Enex::file({good1.xml(), withResources("<div>c</div>", {Enex::resource(a, "image/png")}).xml()});
        return whole.left(whole.indexOf("<data") + 40);
    }();

    struct Row {
        const char* name;
        QByteArray enex;
        QStringList bodies;
        QStringList images = {};
        std::vector<std::pair<Reason, qint64>> leftOut = {};
        std::optional<std::pair<double, double>> dates = {}; // the first note's, in seconds
        QString detail = {};                                 // in the first item left out
    };
    // clang-format off
    const Row rows[] = {
        {"a to-do list, a table, two pictures and a PDF, in body order", Enex::file({full}),
         {"Trip\n- [x] Pack\n- [ ] Book\nDay | Plan\nMon | Hike\n" + kPicture + kPicture + "\n[PDF: report.pdf]\n\n#travel #summer2020"},
         {"a.png", "1_b.png"}, {{Reason::PDF, 1}}, std::pair{t2020, t2020}},
        {"whitespace before the CDATA", Enex::file({tight}), {"Tight\nt"}},
        {"a ]]> inside a note, escaped", Enex::file({escaped}), {"Esc\na ]]> b"}},
        {"a CDATA section nested in the content: the note and the next come through", Enex::file({nested, good1}),
         {"Code\nx\ny < z\nafter", "One\n1"}},
        {"a body without CDATA", Enex::file({noCDATA}), {"Phone\nfrom a phone"}},
        {"dates wrapped in blanks", Enex::file({withDates(" 20200131T235959Z\n", "\t20200201T000000Z ")}), {"Dated\nd"}, {}, {},
         std::pair{1580515199.0, 1580515200.0}},
        {"a missing date takes the other", Enex::file({withDates({}, "20200201T000000Z")}), {"Dated\nd"}, {}, {},
         std::pair{1580515200.0, 1580515200.0}},
        {"malformed and local-time dates take the file's time", Enex::file({withDates("10101T000000Z", "20200131T235959")}),
         {"Dated\nd"}, {}, {}, std::pair{double(fileTime.toSecsSinceEpoch()), double(fileTime.toSecsSinceEpoch())}},
        {"updated before created is kept", Enex::file({withDates("20200201T000000Z", "20200131T235959Z")}), {"Dated\nd"}, {},
         {}, std::pair{1580515200.0, 1580515199.0}},
        {"a GIF called image/jpeg is read as what it is",
         Enex::file({withResources(Enex::media(gif(), "image/jpeg"), {Enex::resource(gif(), "image/jpeg", "g.jpg")})}),
         {"R\n" + kPicture}, {"g.jpg"}},
        {"an en-media hash that matches no resource",
         Enex::file({withResources("<div>x</div><en-media hash=\"00ff\" type=\"image/png\"/>", {})}), {"R\nx\n[Picture]"}, {},
         {{Reason::MissingPicture, 1}}, {}, "no resource has its hash"},
        {"resources no en-media names come after the placed ones",
         Enex::file({withResources("<div>x</div>" + Enex::media(b, "image/png"),
                                   {Enex::resource(a, "image/png", "a.png"), Enex::resource(b, "image/png", "b.png"),
                                    Enex::resource(pdf, "application/pdf", "p.pdf")})}),
         {"R\nx\n" + kPicture + "\n" + kPicture + "\n[PDF: p.pdf]"}, {"b.png", "1_a.png"}, {{Reason::PDF, 1}}},
        {"an inline data: picture",
         Enex::file({withResources("<div><img src=\"data:image/png;base64," + a.toBase64() + "\"/></div>", {})}),
         {"R\n" + kPicture}, {"inline1.png"}},
        {"empty data", Enex::file({withResources("<div>e</div>" + Enex::media(a, "image/png"), {Enex::resource("", "image/png", "e.png")})}),
         {"R\ne\n[Picture: e.png]"}, {}, {{Reason::MissingPicture, 1}}, {}, "its data is missing"},
        {"missing data", Enex::file({withResources("<div>e</div>", {Enex::resource({}, "image/png", "m.png")})}),
         {"R\ne\n[Picture: m.png]"}, {}, {{Reason::MissingPicture, 1}}},
        {"data that is no picture", Enex::file({withResources(Enex::media("not a picture", "image/png"),
                                                                {Enex::resource("not a picture", "image/png", "n.png")})}),
         {"R\n[Picture: n.png]"}, {}, {{Reason::UnreadablePicture, 1}}},
        {"an iPhone photo (HEIC) becomes a picture",
         Enex::file({withResources(Enex::media(heic, "image/heic"), {Enex::resource(heic, "image/heic", "IMG_1.HEIC")})}),
         {"R\n" + kPicture}, {"IMG_1.HEIC"}},
        {"a picture that begins as one but does not decode keeps its place by name",
         Enex::file({withResources(Enex::media(a.left(24), "image/png") + Enex::media(b, "image/png"),
                                   {Enex::resource(a.left(24), "image/png", "cut.png"), Enex::resource(b, "image/png", "b.png")})}),
         {"R\n[Picture: cut.png]" + kPicture}, {"b.png"}, {{Reason::UnreadablePicture, 1}}},
        {"a <data> where none belongs takes nothing from the resource after it",
         Enex::file({withResources(Enex::media(a, "image/png"), {"<data>QUJD</data>", Enex::resource(a, "image/png", "p.png")})}),
         {"R\n" + kPicture}, {"p.png"}},
        {"the same picture used twice",
         Enex::file({withResources(Enex::media(a, "image/png") + "<div>and</div>" + Enex::media(a, "image/png"),
                                   {Enex::resource(a, "image/png", "p.png")})}),
         {"R\n" + kPicture + "\nand\n" + kPicture}, {"p.png", "1_p.png"}},
        {"a broken note among good ones", Enex::file({good1, broken, good2}), {"One\n1", "Two\n2"}, {},
         {{Reason::UnreadableNote, 1}}, {}, "its XML is damaged (the note starts on line 9"},
        {"a file cut off mid-note keeps the notes before", cut, {"One\n1"}, {}, {{Reason::UnreadableNote, 1}}, {},
         "ends in the middle of it, at the note that starts on line 9"},
        {"an HTML entity and a control character outside the ENML",
         Enex::file({Enex::note("a&nbsp;b\x01" "c", "<div>x</div>")}), {u"a\u00a0b c\nx"_qs}},
        {"bytes that are not UTF-8, in and outside the ENML",
         Enex::file({good1, Enex::note("a\xff" "b", "<div>c\xc3</div>")}), {"One\n1", u"a\ufffdb\nc\ufffd"_qs}},
        {"an unknown entity outside the ENML", Enex::file({Enex::note("a &bogus; b", "<div>x</div>")}), {"a &bogus; b\nx"}},
        {"a damaged note tag, and a damaged note after it",
         Enex::file({good1.xml(), QByteArray(good2.xml()).replace("<note>", "<note x=>"), broken.xml(), good2.xml()}),
         {"One\n1", "Two\n2"}, {}, {{Reason::UnreadableNote, 2}}},
        {"encrypted text is said and counted", Enex::file({Enex::note("E", "<en-crypt>QUJD</en-crypt>")}),
         {"E\n[Encrypted text]"}, {}, {{Reason::EncryptedText, 1}}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = home.root() + "/Notebook.enex";
        ASSERT_TRUE(Enex::write(path, row.enex));
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(fileTime, QFileDevice::FileModificationTime));
        }
        const ZNFConversionOutcome result = ZNFEvernoteImporter::convert({path});
        EXPECT_TRUE(result.succeeded()) << result.failure.toStdString();
        const Archived archive = archived(result.path);
        EXPECT_EQ(archive.bodies, row.bodies);
        EXPECT_EQ(archive.images, row.images);
        EXPECT_EQ(result.notes, row.bodies.size());
        EXPECT_EQ(result.attachments, row.images.size());
        qint64 expectedTotal = 0;
        for (const auto& [reason, count] : row.leftOut) {
            EXPECT_EQ(result.leftOutCount(reason), count) << ZNFLeftOut::noun(reason, 2).toStdString();
            expectedTotal += count;
        }
        EXPECT_EQ(result.leftOutTotal(), expectedTotal) << result.leftOutSummary().toStdString();
        if (!row.detail.isEmpty() && !result.leftOut.empty()) {
            EXPECT_TRUE(result.leftOut.front().detail.contains(row.detail))
                << result.leftOut.front().detail.toStdString();
        }
        if (row.dates && !archive.notes.empty()) {
            EXPECT_DOUBLE_EQ(archive.notes.front().value("date").toDouble(), row.dates->first * 1000);
            EXPECT_DOUBLE_EQ(archive.notes.front().value("updatedDate").toDouble(), row.dates->second * 1000);
        }
    }
}

TEST(EvernoteImporter, LimitsAndFailures) {
    ScopedHome home;
    const QString root = home.root();
    const QByteArray picture = png(3);
    const auto one = [](const Enex::Note& n) { return Enex::file(std::vector<Enex::Note>{n}); };
    Enex::Note withPicture = Enex::note("P", Enex::media(picture, "image/png"));
    withPicture.resources = {Enex::resource(picture, "image/png", "p.png")};
    Enex::Note twoPictures = withPicture;
    twoPictures.resources << Enex::resource(png(4), "image/png", "q.png");
    const Enex::Note big =
        Enex::note("Big", "<div>" + QByteArray(ZNFEvernoteImporter_maxContentBytes, 'x') + "</div>");
    const Enex::Note longTitle =
        Enex::note(QByteArray(ZNFEvernoteImporter_maxFieldBytes + 100, 't'), "<div>x</div>");
    const Enex::Note deep = Enex::note("<a><b><c>deep</c></b></a>", "<div>d</div>");

    const auto lowered = [](auto set) {
        ZNFEvernoteLimits limits;
        set(limits);
        return limits;
    };
    struct Row {
        const char* name;
        QByteArray enex;
        ZNFEvernoteLimits limits;
        qint64 notes, pictures;
        std::pair<Reason, qint64> leftOut;
        qsizetype firstLineSize = -1;
    };
    const Row rows[] = {
        {"a note's ENML past its limit",
         Enex::file({Enex::note("Small", "<div>s</div>"), big}),
         {},
         1,
         0,
         {Reason::UnreadableNote, 1}},
        {"a title past the limit on a field is cut",
         one(longTitle),
         {},
         1,
         0,
         {Reason::UnreadableNote, 0},
         ZNFEvernoteImporter_maxFieldBytes},
        {"a resource past its limit",
         one(withPicture),
         lowered([](auto& l) { l.resourceBytes = 100; }),
         1,
         0,
         {Reason::UnreadablePicture, 1}},
        {"a note's pictures past their limit",
         one(twoPictures),
         lowered([&](auto& l) { l.notePictureBytes = picture.size() + 10; }),
         1,
         1,
         {Reason::AttachmentOverLimit, 1}},
        {"resources past the limit on a note's",
         one(twoPictures),
         lowered([](auto& l) { l.resourcesPerNote = 1; }),
         1,
         1,
         {Reason::AttachmentOverLimit, 1}},
        {"notes past the limit",
         Enex::file({Enex::note("A", "a"), Enex::note("B", "b"), Enex::note("C", "c")}),
         lowered([](auto& l) { l.notes = 2; }),
         2,
         0,
         {Reason::NoteOverLimit, 1}},
        {"elements nested past the limit",
         Enex::file({deep, Enex::note("After", "a")}),
         lowered([](auto& l) { l.depth = 4; }),
         1,
         0,
         {Reason::UnreadableNote, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = root + "/limits.enex";
        ASSERT_TRUE(Enex::write(path, row.enex));
        const ZNFConversionOutcome result = ZNFEvernoteImporter::convert({path}, row.limits);
        EXPECT_EQ(result.notes, row.notes) << result.failure.toStdString();
        EXPECT_EQ(result.attachments, row.pictures);
        EXPECT_EQ(result.leftOutCount(row.leftOut.first), row.leftOut.second)
            << result.leftOutSummary().toStdString();
        if (row.firstLineSize >= 0) {
            EXPECT_EQ(archived(result.path).bodies.value(0).section('\n', 0, 0).size(), row.firstLineSize);
        }
    }

    // Several files make one archive.
    ASSERT_TRUE(Enex::write(root + "/a.enex", one(Enex::note("A", "a"))));
    ASSERT_TRUE(Enex::write(root + "/b.enex", one(Enex::note("B", "b"))));
    // Several files make one archive; progress counts the notes of all of them.
    std::vector<std::pair<qint64, qint64>> reports;
    const ZNFConversionOutcome both =
        ZNFEvernoteImporter::convert({root + "/a.enex", root + "/b.enex"}, [&](qint64 done, qint64 all) {
            reports.push_back({done, all});
        });
    EXPECT_EQ(archived(both.path).bodies, QStringList({"A\na", "B\nb"}));
    EXPECT_TRUE(both.path.endsWith(ZNFEvernoteImporter_archiveName));
    EXPECT_EQ(reports, (std::vector<std::pair<qint64, qint64>>{{1, 2}, {2, 2}}));
    // Cancelled after the first note: no archive, and nothing left behind.
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    const ZNFConversionOutcome cancelled = ZNFEvernoteImporter::convert(
        {root + "/a.enex", root + "/b.enex"}, [&](qint64, qint64) { cancel->store(true); }, cancel);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.path.isEmpty());
    EXPECT_EQ(folderContents(home.caches()).filter(".partial-"), QStringList());

    ASSERT_TRUE(Enex::write(root + "/empty.enex", Enex::file(QByteArrayList())));
    ASSERT_TRUE(Enex::write(root + "/garbage.enex", "\x89PNG not xml at all"));
    struct FailureRow {
        const char* name;
        QStringList files;
        const char* failure;
    };
    const FailureRow failures[] = {
        {"nothing chosen", {}, "no .enex file was chosen"},
        {"a file that cannot be read", {root + "/none.enex"}, "cannot be read"},
        {"an export without notes", {root + "/empty.enex"}, "no notes were found in"},
        {"a file that is no export", {root + "/garbage.enex"}, "no notes were found in"},
    };
    for (const FailureRow& row : failures) {
        SCOPED_TRACE(row.name);
        const ZNFConversionOutcome result = ZNFEvernoteImporter::convert(row.files);
        EXPECT_FALSE(result.succeeded());
        EXPECT_TRUE(result.failure.contains(row.failure)) << result.failure.toStdString();
    }
}
