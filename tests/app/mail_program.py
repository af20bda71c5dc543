"""A desktop mail program for the end-to-end test: started as the mailto handler with the link
that xdg-email builds, it reads the attached files at once (as a composer does) and mails them,
with the link's recipient, subject and body, to the SMTP server given on its command line.

Usage: mail_program.py HOST PORT LOG MAILTO-LINK
Appends the link it got to LOG, then "sent" or the reason it failed.
"""
import mimetypes
import os
import smtplib
import sys
import urllib.parse
from email.message import EmailMessage


def main():
    host, port, log, link = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    with open(log, "a") as out:
        out.write(link + "\n")
    try:
        parsed = urllib.parse.urlsplit(link)
        fields = urllib.parse.parse_qs(parsed.query, keep_blank_values=True)
        message = EmailMessage()
        message["From"] = "reporter@localhost"
        message["To"] = urllib.parse.unquote(parsed.path)
        message["Subject"] = fields.get("subject", [""])[0]
        message.set_content(fields.get("body", [""])[0])
        for attached in fields.get("attach", []):
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
