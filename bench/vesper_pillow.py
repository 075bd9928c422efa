#!/usr/bin/python3
"""The Vesper conversion as a plain Python + Pillow script would do it: read every note, decode
each picture and encode it as PNG at level 6, write entries.json, deflate everything into a zip.
The benchmark beside it (vesper.cpp) runs it on the same export as `notecrate convert vesper`.

usage: vesper_pillow.py EXPORT_FOLDER ARCHIVE
"""
import io
import json
import os
import sys
import uuid
import zipfile
from datetime import datetime

from PIL import Image

LABELS = ("Picture: ", "Tags: ", "Created: ", "Modified: ")


def epoch(value, fallback):
    try:
        return datetime.strptime(value, "%b %d, %Y, %I:%M %p").timestamp() * 1000.0
    except (TypeError, ValueError):
        return fallback


def main(folder, archive):
    notes = os.path.join(folder, "Active Notes")
    entries = []
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as out:
        for name in sorted(os.listdir(notes)):
            path = os.path.join(notes, name)
            if name.startswith(".") or not os.path.isfile(path):
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
            fields, text = {}, ""
            for line in lines:
                label = next((l for l in LABELS if line.startswith(l)), None)
                if label:
                    fields[label] = line[len(label):]
                elif line.strip():
                    text += line + "\n"
            if fields.get("Tags: "):
                text += "\n" + " ".join("#" + t.replace(" ", "").lower() for t in fields["Tags: "].split(", "))
            mtime = os.path.getmtime(path) * 1000.0
            created = epoch(fields.get("Created: "), mtime)
            note = {"kind": "note", "state": 0, "identifier": "VESPER_%d_%s" % (created, name), "body": text,
                    "date": created, "updatedDate": epoch(fields.get("Modified: "), mtime)}
            entries.append(note)
            picture = fields.get("Picture: ")
            if not picture:
                continue
            try:
                image = Image.open(os.path.join(notes, "Pictures", picture))
                image.load()
            except OSError:
                continue
            png = io.BytesIO()
            image.save(png, "PNG", compress_level=6)
            binary = str(uuid.uuid4()).upper()
            out.writestr("resources/" + binary, png.getvalue())
            entries.append({"kind": "Image", "state": 0, "parentId": note["identifier"],
                            "identifier": note["identifier"] + "_" + picture, "binaryAttachmentId": binary,
                            "date": note["date"], "updatedDate": note["updatedDate"],
                            "userInfo": json.dumps({"width": image.width, "height": image.height})})
        out.writestr("entries.json", json.dumps({"entries": entries}, separators=(",", ":")))
    print(json.dumps({"path": archive, "notes": sum(e["kind"] == "note" for e in entries),
                      "attachments": sum(e["kind"] == "Image" for e in entries)}))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
