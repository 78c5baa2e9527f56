# SPDX-License-Identifier: LGPL-2.1-or-later
"""Lists the contacts of the address book with their e-mail addresses, adds
one, and removes it again.

    PYTHONPATH=build/python python3 python/examples/contacts.py
"""
import mailquarry

NAME = "Example Contact"

with mailquarry.Control("MAILQUARRY.MailquarryCtrl.1") as mq:
    contacts = mq.Contacts
    for contact in contacts:
        print(f"{contact.Name:30}  {contact.Email}")
    print(f"{contacts.Count} contacts")

    # NewContact takes 14 texts: name, e-mail, business phone, business fax,
    # business web page, home phone, home fax, pager, mobile, personal web
    # page, job title, department, office, company.
    contacts.NewContact(NAME, "example@example.org", "+1 555 0100", "", "https://example.org/",
                        "", "", "", "", "", "Tester", "", "", "Example Ltd")
    contacts.Refresh()  # the list shows the book's changes after a Refresh
    added = contacts.Item(NAME)
    print(f"added: {added.Name} <{added.Email}>, {added.JobTitle} at {added.CompanyName}")

    position = [contact.Name for contact in contacts].index(NAME)
    contacts.DeleteContact(position)  # counts from 0, where Item counts from 1
    contacts.Refresh()
    print(f"removed again: {contacts.Count} contacts")
