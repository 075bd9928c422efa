#!/usr/bin/env python3
"""Writes the seed corpora fuzz/corpus/<target>/ from the cases the tests use.

Run from anywhere; existing seeds of the same name are overwritten, others are kept (inputs
that libFuzzer found and that were worth keeping stay beside these).
"""
import glob
import gzip
import hashlib
import json
import os
import plistlib
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# vesper_note: the importer tests' notes and the bundled example export.
vesper = {
    "buy_milk": "Buy milk\n\nTags: Errands, Home Stuff\nCreated: Dec 5, 2015, 3:04 PM\nModified: Dec 6, 2015, 9:00 AM\n",
    "only_fields": "Created: Dec 5, 2015, 3:04 PM",
    "tags_split": "Tags: a, b,c",
    "tags_case": "Tags: A B, C\nTags: \u00dcber",
    "tags_twice": "Tags: x\nTags: y",
    "line_breaks": "A\r\nPicture: a.png\r\rB\u2028Tags: x\u2029C\u0085D\n",
    "picture": "Buy milk\n\nPicture: a.png\nTags: Errands, Home Stuff\nCreated: Dec 5, 2015, 3:04 PM\n"
               "Modified: Dec 6, 2015, 9:00 AM\n",
    "picture_escape": "one\nPicture: ../../outside.png\nPicture: link.png\n",
    "picture_broken": "d\nPicture: broken.png\nCreated: Jan 4, 2016, 1:00 PM\n",
    "picture_sub": "two\nPicture: sub\\x.png\n",
    "undated_bom": "\ufeffTags: x\nCreated: someday\nModified: Dec 6, 2015\n",
    "label_not_at_start": " Tags: x\nTags:y\n\t\u3000\n",
    "narrow_space": "Created: Dec 5, 2015, 3:04\u202fPM\nModified: Dec 5, 2015, 3:04\u00a0PM\n",
}
for name, text in vesper.items():
    put("vesper_note", name, text)
for path in sorted(glob.glob(os.path.join(ROOT, "examples", "VesperExport", "Active Notes", "*.txt"))):
    base = os.path.basename(path)[:-4].replace(" ", "_")
    with open(path, "rb") as f:
        put("vesper_note", "example_" + base, f.read())


# notes_export: records as the importer tests build them, pointing at the stand-in store's rows.
def note(i, text, attachments=None, **extra):
    record = {"id": f"x-coredata://STORE/ICNote/p{i}", "text": text,
              "creationDate": 1449327840000.5, "modificationDate": "2015-12-06"}
    if attachments is not None:
        record["attachments"] = attachments
    record.update(extra)
    return record


def attachment(pk, parent=1, prefix="x-coredata://STORE/ICAttachment/p"):
    return {"id": f"{prefix}{pk}", "parentId": f"x-coredata://STORE/ICNote/p{parent}", "date": 1449327840000}


put("notes_export", "empty_array", "[]")
put("notes_export", "not_array", '{"text": "a"}')
put("notes_export", "fragment", '"just a string"')
put("notes_export", "broken", '[{"text": ')
put("notes_export", "clean_body", json.dumps([note(1, "  \n\ufffcHello\n\n\n\nWorld \ufffc\n")]))
put("notes_export", "types", json.dumps([{"text": 5, "id": None}, {}, 3, {"id": "only"}]))
put("notes_export", "attachments",
    json.dumps([note(1, "pics", [attachment(1), attachment(2), attachment(3)]), note(2, "more", [attachment(3, 2)])]))
put("notes_export", "trap_rows",
    json.dumps([note(1, "traps", [attachment(k) for k in range(4, 14)] +
                     [attachment(-1), {"id": "p1"}, {"id": "p2", "parentId": "a"}, attachment(1, prefix="/p1x/")])]))
put("notes_export", "odd_ids",
    json.dumps([note(1, "ids", [attachment(1, prefix="scheme://S/Entity/pp"),
                                {"id": "x/y/ab42cd/", "parentId": 1, "date": "d"},
                                {"id": "x/99999999999999999999", "parentId": 1, "date": 1},
                                {"id": 7, "parentId": 1, "date": 1}])]))
put("notes_export", "newline_runs", json.dumps([note(i, "a" + "\n" * i + "b") for i in range(3, 8)]))

# note_data: a flag byte (even: the stored bytes; odd: a message the target gzips), then the
# note data of the store tests' rows: readable notes, unknown fields and nested groups, broken gzip.
def varint(n):
    out = b""
    while True:
        low, n = n & 0x7F, n >> 7
        if not n:
            return out + bytes([low])
        out += bytes([low | 0x80])


def field(number, payload):
    return varint(number << 3 | 2) + varint(len(payload)) + payload


def note_message(text, extra=b""):
    return field(2, field(3, field(2, text) + extra) + field(1, b"version")) + extra


def stored(message):
    return b"\0" + gzip.compress(message, mtime=0)


def raw(message):
    return b"\1" + message


put("note_data", "plain", stored(note_message("Groceries\nMilk \ufffc eggs".encode())))
put("note_data", "emoji", stored(note_message("Trip \U0001F3D4 \U0001D11E\n\n\n\nphoto".encode())))
put("note_data", "empty_text", stored(note_message(b"")))
put("note_data", "bad_utf8", stored(note_message(b"a\xffb\xc3")))
put("note_data", "no_text", stored(field(2, field(3, b""))))
put("note_data", "unknown_fields", stored(note_message(b"x", varint(5 << 3) + varint(300) + field(9, b"attr"))))
put("note_data", "nested_groups", raw(note_message(b"x") + varint(99 << 3 | 3) * 20 + varint(99 << 3 | 4) * 20))
put("note_data", "deep_groups", raw(note_message(b"x") + varint(99 << 3 | 3) * 40 + varint(99 << 3 | 4) * 40))
# table_data: the same flag byte, then a table document: a root map of type ICTable whose keys
# name the ordered sets of rows and columns and the cells (2 x 1 here), objects by index.
def uvarint_field(number, value):
    return varint(number << 3) + varint(value)


def object_id(index):
    return uvarint_field(6, index)


def uuid_object(uuid_index):
    return field(13, uvarint_field(1, 0) + field(3, uvarint_field(1, 1) + field(2, uvarint_field(2, uuid_index))))


def table_document(rtl):
    uuids = [b"r" * 15 + b"\0", b"r" * 15 + b"\1", b"c" * 15 + b"\0"]
    entries = [
        # 0: the root
        field(13, uvarint_field(1, 1) + b"".join(
            field(3, uvarint_field(1, key) + field(2, object_id(obj))) for key, obj in
            [(2, 1), (3, 2), (0, 3), (4, 12)])),
        # 1: rows, 2: columns (ordering array of UUIDs, elements by UUID object)
        field(16, field(1, field(1, field(2, uvarint_field(1, 0) + field(2, uuids[0])) +
                                 field(2, uvarint_field(1, 1) + field(2, uuids[1])))) +
              field(2, field(1, field(1, object_id(4)) + field(2, object_id(4))) +
                    field(1, field(1, object_id(5)) + field(2, object_id(5))))),
        field(16, field(1, field(1, field(2, uvarint_field(1, 0) + field(2, uuids[2])))) +
              field(2, field(1, field(1, object_id(6)) + field(2, object_id(6))))),
        # 3: cellColumns: column 6 -> dictionary 7
        field(6, field(1, field(1, object_id(6)) + field(2, object_id(7)))),
        uuid_object(0), uuid_object(1), uuid_object(2),
        # 7: row -> cell note
        field(6, field(1, field(1, object_id(8)) + field(2, object_id(10))) +
              field(1, field(1, object_id(9)) + field(2, object_id(11)))),
        uuid_object(0), uuid_object(1),
        field(10, field(2, b"Kyoto")), field(10, field(2, b"Nara\nday")),
        # 12: the direction
        field(1, field(2, field(4, b"CRTableColumnDirectionRightToLeft" if rtl else b"LeftToRight"))),
    ]
    data = (b"".join(field(3, e) for e in entries) +
            b"".join(field(4, k) for k in [b"cellColumns", b"UUIDIndex", b"crRows", b"crColumns",
                                           b"crTableColumnDirection"]) +
            field(5, b"com.apple.CRDT.NSUUID") + field(5, b"com.apple.notes.ICTable") +
            b"".join(field(6, u) for u in uuids))
    return field(2, uvarint_field(2, 1) + field(3, data))


put("table_data", "two_rows", stored(table_document(False)))
put("table_data", "right_to_left", raw(table_document(True)))
put("table_data", "not_gzip", b"\0plain")


# A scan's list of pages: one ordered set of 16-byte UUIDs, the second listed twice and the
# third no element any more.
def gallery_document():
    uuids = [bytes([0x0C, 0x1D, 0x2E, 0x3F] + [0] * 11 + [n]) for n in (1, 2, 3)]
    places = [uuids[1], uuids[0], uuids[1], uuids[2]]
    entries = [
        field(16, field(1, field(1, b"".join(field(2, uvarint_field(1, i) + field(2, u))
                                             for i, u in enumerate(places)))) +
              field(2, field(1, field(1, object_id(1)) + field(2, object_id(1))) +
                    field(1, field(1, object_id(2)) + field(2, object_id(2))))),
        uuid_object(0), uuid_object(1),
    ]
    data = (b"".join(field(3, e) for e in entries) + field(4, b"UUIDIndex") +
            field(5, b"com.apple.CRDT.NSUUID") + b"".join(field(6, u) for u in uuids))
    return field(2, uvarint_field(2, 1) + field(3, data))


put("table_data", "gallery", stored(gallery_document()))

put("note_data", "raw_message", raw(note_message("Idee \u00fc".encode())))
put("note_data", "truncated_varint", raw(b"\x12\xff\xff"))
put("note_data", "not_gzip", b"\0plain text")
put("note_data", "cut_short", stored(note_message(b"a" * 200))[:-12])
put("note_data", "zeros", b"\0" + gzip.compress(b"\0" * 200000, mtime=0))


# color_string: the formatter tests' colours and a few hostile ones.
colors = ["#FF8000", "ff8000", "  #FF8000  ", "#FFF", "#FF800080", "rgba(255, 128, 0, 0.5)", "rgba(255,128,0)",
          "rgb(255,128,0)", "", "rgba(1e9, -5, nan, 7)", "#G0Z0 1", "##ff##80##00", "rgba( 12.5 ,x, 3e2, .25)",
          "\u0660\u0661ff00"]
for i, color in enumerate(colors):
    put("color_string", f"color_{i:02d}", color)

# style_plist: the application's style table and small tables with the formatter tests' cases.
os.makedirs(os.path.join(HERE, "corpus", "style_plist"), exist_ok=True)
shutil.copy(os.path.join(ROOT, "resources", "notecrateStyles.plist"),
            os.path.join(HERE, "corpus", "style_plist", "app_styles.plist"))


def plist(formats):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
            '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n<plist version="1.0"><dict><key>formats</key><dict>'
            + formats + '</dict></dict></plist>\n')


put("style_plist", "templates", plist(
    '<key>base</key><dict><key>top</key><real>10</real><key>color</key><string>#FF8000</string></dict>'
    '<key>mid</key><dict><key>template</key><string>base</string><key>left</key><integer>4</integer></dict>'
    '<key>leaf</key><dict><key>template</key><string>mid</string><key>fontWeight</key><string>bold</string></dict>'
    '<key>loop1</key><dict><key>template</key><string>loop2</string></dict>'
    '<key>loop2</key><dict><key>template</key><string>loop1</string></dict>'
    '<key>self</key><dict><key>template</key><string>self</string></dict>'))
put("style_plist", "fonts", plist(
    '<key>a</key><dict><key>fontWeight</key><string>Bold</string><key>fontSize</key><integer>12</integer></dict>'
    '<key>b</key><dict><key>fontName</key><string>DejaVu Sans</string><key>fontSize</key><string>12</string>'
    '<key>fontWeight</key><string>light</string></dict>'
    '<key>c</key><dict><key>fontSize</key><real>14</real></dict>'
    '<key>d</key><dict><key>fontName</key><string>NoSuchFont</string><key>fontSize</key><real>1e30</real></dict>'
    '<key>e</key><dict><key>fontName</key><string>DejaVu Sans</string><key>fontSize</key><real>-3</real>'
    '<key>maxFontSize</key><real>2</real></dict>'))
put("style_plist", "paragraph", plist(
    '<key>t</key><dict><key>tabs</key><array><real>40.7</real><string>x</string><integer>120</integer></array>'
    '<key>align</key><string>justified</string><key>lineHeight</key><real>1.5</real>'
    '<key>paragraphSpacing</key><integer>6</integer><key>underline</key><string>double</string>'
    '<key>underlineColor</key><string>rgba(1,2,3,0.5)</string><key>strikethrough</key><string>dash</string>'
    '<key>characterSpacing</key><string>2</string><key>letterpress</key><true/><key>bg</key><string></string>'
    '<key>borderColor</key><string>#000000</string><key>borderWidth</key><real>1</real>'
    '<key>cornerRadius</key><string>4</string></dict>'))
put("style_plist", "wrong_types", plist(
    '<key>x</key><array/><key>y</key><dict><key>tabs</key><string>40</string><key>color</key><integer>5</integer>'
    '<key>top</key><date>2015-12-05T15:04:00Z</date><key>left</key><data>AAEC</data></dict>'))
put("style_plist", "no_formats",
    '<?xml version="1.0"?><plist version="1.0"><array><string>formats</string></array></plist>')
put("style_plist", "binary", plistlib.dumps(
    {"formats": {"h": {"fontWeight": "semibold", "fontSize": 24, "color": "#102030", "tabs": [10, 20.5]}}},
    fmt=plistlib.FMT_BINARY))

# style_plist, nesting: lists at and past the depth limit, shared and cyclic binary arrays.
def nested_xml(depth):
    return ('<?xml version="1.0"?><plist version="1.0">' + "<array>" * depth + "<true/>" + "</array>" * depth +
            "</plist>")


def binary_chain(links, refs, cycle=False):
    body, offsets = b"bplist00", []
    for i in range(links):
        offsets.append(len(body))
        target = i if cycle and i == links - 1 else i + 1
        body += bytes([0xA0 | refs]) + struct.pack(">H", target) * refs
    offsets.append(len(body))
    body += b"\x09"
    table = len(body)
    body += b"".join(struct.pack(">H", o) for o in offsets)
    return body + b"\0" * 6 + bytes([2, 2]) + struct.pack(">QQQ", links + 1, 0, table)


put("style_plist", "nested_256", nested_xml(256))
put("style_plist", "nested_300", nested_xml(300))
put("style_plist", "nested_binary_256", binary_chain(256, 1))
put("style_plist", "nested_binary_300", binary_chain(300, 1))
put("style_plist", "shared_binary_40", binary_chain(40, 2))
put("style_plist", "cycle_binary", binary_chain(3, 1, cycle=True))

# predicate: the rows of the predicator's table test, against the fuzzer's fixed world.
predicates = [
    None, {}, [], [{}, {"device": {"minWidth": 1024}}], {"device": {"minWidth": 1024}, "locale": {"language": "en"}},
    [{"device": {"maxWidth": 1024}}, {"locale": {"country": "US"}}], {"device": {"width": 1439.5}},
    {"device": {"width": "1440"}}, {"locale": {"language": "en", "country": "US"}}, {"locale": {}},
    {"date": {"after": "03/15/2024 10:00", "before": "03/15/2024 10:00"}}, {"date": {"after": "2024-03-15"}},
    {"data": {"key": "K", "equals": False}}, {"data": {"key": "K", "equals": True}},
    {"data": {"key": "count", "equals": 3}}, {"data": {"key": "list", "equals": 3}},
    {"data": {"key": "name", "lessThan": "Bob"}}, {"data": {"key": "count", "greaterThan": "2"}}, {"unknown": 1},
    {"odd": 3, "never": 1}, "string", 5, [1, "x", {"odd": 1}]]
for i, value in enumerate(predicates):
    put("predicate", f"row_{i:02d}", json.dumps(value))

# layout_template: template text, a NUL byte, the data.
templates = [
    ('{"_type":"text","text":"Hello {{name}}, {{name}}!"}', {"name": "Ada"}),
    ('{"_type":"spacer","height":{{h}}}', {"h": 20}),
    ('{"_type":"text","text":"{{n}}"}', {"n": 5}),
    ('[{"_type":"text",\n"text":"x"}]', {}),
    ('{"_type":"text","text":"{{t}}"}', {"t": "line one\nline two"}),
    ('{"_type":"table","rows":{{rows}}}', {"rows": [{"columns": [{"items": [{"_type": "text", "text": "a"}]}]}]}),
    ('"{{a}}"', {"a": "{{b}}", "b": "c"}),
    ('{"k":"{{{{a}}b}}"}', {"a": "x", "xb": "y"}),
]
for i, (text, data) in enumerate(templates):
    put("layout_template", f"template_{i}", text.encode() + b"\0" + json.dumps(data).encode())

# javascript_value: scripts from the bridge's tests, the values that once took seconds and
# gigabytes, and scripts that never end.
scripts = {
    "data_set": 'performAction({_type: "data", action: "set", key: "k", value: {list: [1, "a", true]}});'
                'userDefaultsValueForKey("k")',
    "delayed": 'performAction({_type: "data", action: "set", key: "k", value: 1, _delay: 0.5}); log("x")',
    "doubling": 'var a = [1]; for (var i = 0; i < 22; i++) a = [a, a]; performAction({_type: "none", x: a});',
    "doubling_setting": 'var a = {}; for (var i = 0; i < 30; i++) a = {l: a, r: a}; '
                        'setUserDefaultsValueForKey(a, "k");',
    "sparse": 'setUserDefaultsValueForKey(new Array(16777216), "k");',
    "long_string": 'setUserDefaultsValueForKey("x".repeat(1 << 25), "k");',
    "cycle": 'var o = {}; o.self = o; o.list = [o, o]; setUserDefaultsValueForKey(o, "k"); o',
    "deep": 'var d = 1; for (var i = 0; i < 10000; i++) d = [d]; setUserDefaultsValueForKey(d, "k"); d',
    "getter": 'performAction({_type: "data", get action() { while (true) {} }});',
    "spin": 'while (true) {}',
    "spin_catch": 'for (;;) { try { while (true) {} } catch (e) {} }',
    "buffer": 'setUserDefaultsValueForKey(new ArrayBuffer(8), "k"); new ArrayBuffer(1 << 26)',
    "throw": 'throw {toString: function () { return "\\n"; }}',
    "replace_globals": 'performAction = null; log = 5; userDefaultsValueForKey("never")',
    "completion": '({when: new Date(0), list: [null, undefined, -0, 1e300, NaN], f: function () {}})',
}
for name, script in scripts.items():
    put("javascript_value", name, script)

# layout_data: the item kinds' documented dictionaries.
layouts = [
    [{"_type": "text", "text": ""}, {"_type": "text"},
     {"_type": "text", "text": "Hi", "style": "title", "attributes": {"top": 4, "color": "#ff0000"}}],
    {"_type": "text", "text": "not an array"},
    [{"_type": "spacer", "height": 20}, {"_type": "spacer", "bg": "#ff0000"},
     {"_type": "spacer", "width": 5, "height": 1e300, "bg": "rgba(1,2,3,0.5)"}],
    [{"_type": "rule"}, {"_type": "rule", "width": 2, "color": "#00ff00", "top": 5, "left": 10}],
    [{"_type": "image", "name": "appIcon_notes.png", "width": 64, "height": 64, "placeholder": "#cccccc",
      "maxWidth": 30},
     {"_type": "image", "url": "http://127.0.0.1:9/x.png", "width": 10, "height": "10"},
     {"_type": "image", "url": "file:///nonexistent.png", "width": 10, "height": 10}],
    [{"_type": "table", "rows": [{"top": 2, "columns": [{"width": 0.5, "items": [{"_type": "text", "text": "a"}]},
                                                        {"items": [{"_type": "rule"}]}]}]},
     {"_type": "table", "items": [{"_type": "text", "text": "b"}]}, {"_type": "table", "rows": [{"columns": []}]}],
    [{"_type": "text", "text": "x", "_predicate": {"device": {"minWidth": 100000}}},
     {"_type": "text", "text": "y", "_events": [{"_type": "openURL", "_gesture": "tap", "url": "https://example.org"}]}],
    [{"_type": "table", "rows": [{"columns": [{"items": [
        {"_type": "table", "items": [{"_type": "table", "items": [{"_type": "text", "text": "deep"}]}]}]}]}]}],
]
for i, layout in enumerate(layouts):
    put("layout_data", f"layout_{i}", json.dumps(layout))


# peer_frames: a flags byte, then records of type, length (u16) and payload.
def string(b):
    return struct.pack(">I", len(b)) + b


def record(kind, payload):
    return bytes([kind]) + struct.pack(">H", len(payload)) + payload


def u32(v):
    return struct.pack(">I", v)


content = b"archive bytes " * 10
name = string(b"iOSNotes_to_Tessanote.notebackup")
put("peer_frames", "resource_ok", b"\0" + record(4, b"hello") +
    record(5, u32(1) + name + struct.pack(">Q", len(content))) + record(6, u32(1) + content) +
    record(7, u32(1) + hashlib.sha256(content).digest()) + record(4, b"after"))
put("peer_frames", "resource_bad_hash", b"\0" + record(5, u32(2) + string(b"../../etc/passwd") + struct.pack(">Q", 3)) +
    record(6, u32(2) + b"abc") + record(7, u32(2) + b"\0" * 32))
put("peer_frames", "resource_too_much", b"\0" + record(5, u32(3) + string(b"/tmp/x") + struct.pack(">Q", 2)) +
    record(6, u32(3) + b"abcdef"))
put("peer_frames", "resource_unfinished", b"\0" + record(5, u32(4) + string(b"a") + struct.pack(">Q", 10)) +
    record(6, u32(4) + b"abc"))
put("peer_frames", "resource_abort", b"\0" + record(5, u32(5) + string(b"a") + struct.pack(">Q", 10)) +
    record(9, u32(5)) + record(6, u32(5) + b"x"))
put("peer_frames", "unknown_frames", b"\0" + record(4, b"x") + record(99, b"") + record(4, b"y"))
put("peer_frames", "decline", b"\2" + record(3, b""))
put("peer_frames", "accept_other", b"\2" + record(2, string(b"someone") + string(b"name")))
put("peer_frames", "raw_huge_header", b"\1" + b"\xff\xff\xff\xff\x04")
put("peer_frames", "result_unknown", b"\0" + record(8, struct.pack(">IIQ", 1, 0, 0) + b"\0" * 32))


# enml: a note's <content> as the Evernote importer tests write it: ENML in CDATA, the quirks
# of real exports (a nested CDATA section, a split "]]>", no CDATA at all), and the markup kinds.
ENML_HEAD = '<?xml version="1.0" encoding="UTF-8"?><!DOCTYPE en-note SYSTEM "http://xml.evernote.com/pub/enml2.dtd">'
put("enml", "lists_and_table", "\n  <![CDATA[" + ENML_HEAD + '<en-note><div><en-todo checked="true"/>Pack</div>'
    '<ul style="--en-todo:true;"><li style="--en-checked:true;">a</li></ul><ol><li>one</li></ol>'
    "<table><tr><td>Day</td><td>Plan</td></tr></table></en-note>]]>")
put("enml", "nested_cdata", "<![CDATA[" + ENML_HEAD + "<en-note><div><![CDATA[a < b]]></div>"
    "<div>x ]]]]><![CDATA[> y</div></en-note>]]>")
put("enml", "escaped", "&lt;en-note&gt;&lt;div&gt;from a phone &amp;amp; more&lt;/div&gt;&lt;/en-note&gt;")
put("enml", "media_links_entities", "<![CDATA[<en-note><div>a&nbsp;&eacute;&#x263A;&bogus;"
    '<a href="https://x.org">site</a><en-media hash="0123456789abcdef0123456789abcdef" type="image/png"/>'
    '<en-media hash="00" type="application/pdf"/><en-crypt hint="h">QUJD</en-crypt>'
    '<img src="data:image/gif;base64,R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw=="/>'
    "</div></en-note>]]>")
put("enml", "malformed", "<![CDATA[<en-note><div>a<b>bold</div></i><pre>  x\n y</pre><blockquote>q"
    "<div>1 < 2 <!-- c")
