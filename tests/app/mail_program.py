"""A desktop mail program for the end-to-end tests: started as the mailto handler with the link
that xdg-email builds, it reads the attached files at once (as a composer does) and mails them,
with the link's recipient, subject and body, to the SMTP server given on its command line.

It also takes the compose command line that xdg-email gives to mail programs it knows by name
("-compose to='...',subject=...,body=...,attachment='FILE,FILE'"); like them, it splits the
attachment list at every comma.

Usage: mail_program.py HOST PORT LOG MAILTO-LINK
       mail_program.py HOST PORT LOG -compose FIELDS
Appends the link (or fields) it got to LOG, then "sent" or the reason it failed.
"""
import mimetypes
import os
import smtplib
import sys
import urllib.parse
from email.message import EmailMessage


def link_fields(link):
    parsed = urllib.parse.urlsplit(link)
    fields = urllib.parse.parse_qs(parsed.query, keep_blank_values=True)
    return (urllib.parse.unquote(parsed.path), fields.get("subject", [""])[0], fields.get("body", [""])[0],
            fields.get("attach", []))


def compose_fields(line):
    """The fields of a compose command line: commas outside single quotes separate them."""
    fields, current, quoted = {}, "", False
    for c in line + ",":
        if c == "'":
            quoted = not quoted
        elif c == "," and not quoted:
            if "=" in current:
                key, value = current.split("=", 1)
                fields[key] = value
            current = ""
        else:
            current += c
    attachments = [a for a in fields.get("attachment", "").split(",") if a]
    return (fields.get("to", "").rstrip(","), urllib.parse.unquote(fields.get("subject", "")),
            urllib.parse.unquote(fields.get("body", "")), attachments)


def main():
    host, port, log = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    compose = sys.argv[4] == "-compose"
    given = sys.argv[5] if compose else sys.argv[4]
    with open(log, "a") as out:
        out.write(given + "\n")
    try:
        to, subject, body, attachments = compose_fields(given) if compose else link_fields(given)
        message = EmailMessage()
        message["From"] = "reporter@localhost"
        message["To"] = to
        message["Subject"] = subject
        message.set_content(body)
        for attached in attachments:
            path = urllib.parse.unquote(urllib.parse.urlsplit(attached).path) if attached.startswith(
                "file:") else attached
            with open(path, "rb") as f:
                data = f.read()
            kind = (mimetypes.guess_type(path)[0] or "application/octet-stream").split("/")
            message.add_attachment(data, maintype=kind[0], subtype=kind[1], filename=os.path.basename(path))
        with smtplib.SMTP(host, port, timeout=20) as smtp:
            smtp.send_message(message)
        result = "sent"
    except Exception as error:  # the test reads the reason from the log
        result = "failed: %r" % (error,)
    with open(log, "a") as out:
        out.write(result + "\n")


if __name__ == "__main__":
    main()
