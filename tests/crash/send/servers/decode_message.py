"""Decodes a received mail with Python's own e-mail parser and prints it as JSON, so the tests
check the message against an independent reading of the format."""
import base64
import email
import email.header
import email.policy
import json
import sys


def header(msg, name):
    value = msg.get(name)
    if value is None:
        return None
    return str(email.header.make_header(email.header.decode_header(str(value))))


def addresses(msg, name):
    """The addresses of a header as a reader of today parses them: [display name, address]."""
    value = msg.get(name)
    return None if value is None else [[a.display_name, a.addr_spec] for a in value.addresses]


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    modern = email.message_from_bytes(raw, policy=email.policy.default)
    result = {
        "to": header(msg, "To"),
        "from": header(msg, "From"),
        "reply_to": header(msg, "Reply-To"),
        "subject": header(msg, "Subject"),
        "raw_subject": msg.get("Subject"),
        "date": msg.get("Date"),
        "message_id": msg.get("Message-ID"),
        "multipart": msg.is_multipart(),
        "defects": [type(d).__name__ for d in msg.defects],
        "body": None,
        "body_charset": None,
        "body_encoding": None,
        "attachments": [],
        "to_addresses": addresses(modern, "To"),
        "from_addresses": addresses(modern, "From"),
        "parts": sum(1 for part in msg.walk() if not part.is_multipart()),
    }
    for part in msg.walk():
        if part.is_multipart():
            continue
        name = part.get_filename()
        if name is not None:
            name = str(email.header.make_header(email.header.decode_header(name)))
            result["attachments"].append({
                "name": name,
                "type": part.get_content_type(),
                "data": base64.b64encode(part.get_payload(decode=True)).decode(),
            })
        elif result["body"] is None:
            charset = part.get_content_charset()
            result["body"] = part.get_payload(decode=True).decode(charset)
            result["body_charset"] = charset
            result["body_encoding"] = part.get("Content-Transfer-Encoding")
    print(json.dumps(result))


if __name__ == "__main__":
    main()
