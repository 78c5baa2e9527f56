# SPDX-License-Identifier: LGPL-2.1-or-later
"""Lists the folders of the mail store, selects one, and exports its
attachments and its messages as .eml files.

    PYTHONPATH=build/python python3 python/examples/export_folder.py [FOLDER] [OUTPUT_DIR]
"""
import os
import sys

import mailquarry

wanted = sys.argv[1] if len(sys.argv) > 1 else "Inbox"
output = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "export")
attachments = os.path.join(output, "attachments", "")  # names are joined straight to it
os.makedirs(attachments, exist_ok=True)

with mailquarry.Control("MAILQUARRY.MailquarryCtrl.1") as mq:
    names = [folder.Name for folder in mq.Folders]
    for position, name in enumerate(names):
        print(f"{position:2}  {name}")

    mq.Folder = names.index(wanted)  # selecting a folder loads its message list
    messages = mq.Messages
    # len() counts every message; Count is 16-bit and wraps past 32,767.
    print(f"{wanted}: {len(messages)} messages")
    for i, message in enumerate(messages):
        subject = message.Subject
        file_name = "".join("_" if c in '/\\\0' else c for c in subject)[:60] or "(no subject)"
        eml = os.path.join(output, f"{i + 1:03} {file_name}.eml")
        messages.Save2eml(i, eml)
        count = messages.GetAttachmentCount(i)
        if count:
            messages.ExtractAttachment(i, attachments)
        print(f"  {os.path.basename(eml)}: {count} attachment(s)")

print(f"attachments: {', '.join(sorted(os.listdir(attachments))) or 'none'}")
