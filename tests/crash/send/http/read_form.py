#!/usr/bin/python3
"""Reads a multipart/form-data body with Python's own mail parser, as an independent reader of
the format, and prints its parts as JSON: field name, file name, the part's header names and its
content (undone from its transfer encoding) in Base64.

Usage: read_form.py CONTENT-TYPE BODY-FILE
"""
import base64
import email
import email.policy
import json
import sys


def main():
    content_type, body_file = sys.argv[1], sys.argv[2]
    with open(body_file, "rb") as f:
        body = f.read()
    message = email.message_from_bytes(b"Content-Type: " + content_type.encode() + b"\r\n\r\n" + body,
                                       policy=email.policy.compat32)
    parts = []
    for part in message.get_payload() if message.is_multipart() else []:
        parts.append({
            "name": part.get_param("name", header="content-disposition"),
            "filename": part.get_param("filename", header="content-disposition"),
            "headers": list(part.keys()),
            "content": base64.b64encode(part.get_payload(decode=True)).decode(),
        })
    print(json.dumps({"parts": parts, "defects": [type(d).__name__ for d in message.defects]}))


if __name__ == "__main__":
    main()
