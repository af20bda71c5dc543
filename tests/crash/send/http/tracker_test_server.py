#!/usr/bin/python3
"""Bug-tracker stand-ins for the upload tests, built from the trackers' public API descriptions.

--kind bugzilla   XML-RPC at /xmlrpc.cgi: Bugzilla.version, Product.get_enterable_products,
                  Product.get, Bug.fields, Bug.create, Bug.add_attachment; logins checked
--kind mantis     SOAP at /api/soap/mantisconnect.php: the mc_* calls of an issue upload
--kind fogbugz    /api.xml and /api.asp?cmd=...: logon, list*, logoff, and the form upload cmd=new
The catalogue (products, projects, categories, ...) comes from the JSON file --catalogue. Every
call is appended as one JSON line to --log: {"call": name, "args": {...}}; attachments are
logged Base64-decoded as hex so the test can compare them byte for byte. --fault NAME makes that
call fail. Prints "PORT <n>", stops after --lifetime seconds.
"""
import argparse
import base64
import warnings
warnings.filterwarnings("ignore", category=DeprecationWarning)
import cgi  # noqa: E402  (Debian 12 still ships it; the form parser of the standard library)
import io
import json
import re
import sys
import threading
import xml.etree.ElementTree as ET
import xmlrpc.client
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

ACCOUNT, PASSWORD = "reporter@example.test", "tracker-pw"


def local(tag):
    return tag.split("}", 1)[-1]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def log_call(self, name, args):
        with self.server.lock:
            with open(self.server.log, "a") as f:
                f.write(json.dumps({"call": name, "args": args}) + "\n")

    def reply(self, body, status=200, ctype="text/xml"):
        data = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def body(self):
        n = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(n)

    # --- BugZilla -------------------------------------------------------------------------
    def bugzilla(self):
        params, method = xmlrpc.client.loads(self.body(), use_builtin_types=True)
        args = dict(params[0]) if params else {}
        logged = {k: (v.hex() if isinstance(v, bytes) else v) for k, v in args.items()}
        self.log_call(method, logged)
        cat = self.server.catalogue

        def fault(text):
            return self.reply(xmlrpc.client.dumps(xmlrpc.client.Fault(410, text), methodresponse=True))

        if method == self.server.fault:
            return fault("configured fault")
        if "Bugzilla_login" in args and (args["Bugzilla_login"], args.get("Bugzilla_password")) != (ACCOUNT, PASSWORD):
            return fault("The username or password you entered is not valid.")
        if method != "Bugzilla.version" and "Bugzilla_login" not in args:
            return fault("Login required")
        if method == "Bugzilla.version":
            result = {"version": "5.0.4"}
        elif method == "Product.get_enterable_products":
            result = {"ids": list(range(1, len(cat["products"]) + 1))}
        elif method == "Product.get":
            result = {"products": [
                {"id": i + 1, "name": p["name"],
                 "components": [{"name": c} for c in p["components"]],
                 "versions": [{"name": v} for v in p["versions"]]}
                for i, p in enumerate(cat["products"]) if i + 1 in args.get("ids", [])]}
        elif method == "Bug.fields":
            result = {"fields": [{"name": k, "values": [{"name": v} for v in vals]} for k, vals in cat["fields"].items()]}
        elif method == "Bug.create":
            result = {"id": 4711}
        elif method == "Bug.add_attachment":
            result = {"ids": [1]}
        else:
            return fault("unknown method")
        self.reply(xmlrpc.client.dumps((result,), methodresponse=True))

    # --- Mantis ---------------------------------------------------------------------------
    def mantis(self):
        root = ET.fromstring(self.body())
        body = next(e for e in root if local(e.tag) == "Body")
        call = body[0]
        name = local(call.tag)

        def tree(e):
            return {local(c.tag): (tree(c) if len(c) else (c.text or "")) for c in e}

        args = tree(call)
        if name == "mc_issue_attachment_add":
            args["content"] = base64.b64decode(args["content"]).hex()
        self.log_call(name, args)
        cat = self.server.catalogue

        def fault(text):
            return self.reply('<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/">'
                              f"<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>Client</faultcode><faultstring>{text}</faultstring>"
                              "</SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>", 500)

        if name == self.server.fault:
            return fault("configured fault")
        if (args.get("username"), args.get("password")) != (ACCOUNT, PASSWORD):
            return fault("Access denied")

        def items(entries):
            return "".join(f"<item>{e}</item>" for e in entries)

        def refs(entries):
            return items(f"<id>{i}</id><name>{n}</name>" for i, n in entries)

        pid = args.get("project_id")
        project = next((p for p in cat["projects"] if str(p["id"]) == str(pid)), None)
        if name == "mc_version":
            ret = "1.2.19"
        elif name == "mc_projects_get_user_accessible":
            ret = refs((p["id"], p["name"]) for p in cat["projects"])
        elif name == "mc_enum_access_levels":
            ret = refs([(10, "viewer"), (55, "developer"), (90, "administrator")])
        elif name == "mc_project_get_categories":
            ret = items(project["categories"])
        elif name == "mc_project_get_versions":
            ret = items(f"<id>{i}</id><name>{v}</name><project_id>{pid}</project_id>" for i, v in enumerate(project["versions"]))
        elif name == "mc_project_get_users":
            ret = items(f"<id>{i}</id><name>{u}</name>" for i, u in project["users"])
        elif name == "mc_enum_priorities":
            ret = refs([(10, "none"), (20, "low"), (30, "normal"), (40, "high")])
        elif name == "mc_enum_severities":
            ret = refs([(10, "feature"), (50, "minor"), (70, "crash"), (80, "block")])
        elif name == "mc_issue_add":
            ret = "815"
        elif name == "mc_issue_attachment_add":
            ret = "1"
        else:
            return fault("unknown call")
        self.reply('<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/">'
                   f"<SOAP-ENV:Body><ns1:{name}Response xmlns:ns1=\"http://futureware.biz/mantisconnect\">"
                   f"<return>{ret}</return></ns1:{name}Response></SOAP-ENV:Body></SOAP-ENV:Envelope>")

    # --- FogBugz --------------------------------------------------------------------------
    def fogbugz(self, query, form=None):
        cmd = query.get("cmd", [""])[0]
        args = {k: v[0] for k, v in query.items()}
        if form is not None:
            args.update(form)
        self.log_call(cmd, args)
        cat = self.server.catalogue
        if cmd == self.server.fault:
            return self.reply('<?xml version="1.0"?><response><error code="1">configured fault</error></response>')
        if cmd == "logon":
            if (args.get("email"), args.get("password")) != (ACCOUNT, PASSWORD):
                return self.reply('<response><error code="1">Incorrect password or username</error></response>')
            return self.reply("<response><token><![CDATA[tok123]]></token></response>")
        if cmd != "logoff" and args.get("token") != "tok123":
            return self.reply('<response><error code="3">Not logged on</error></response>')

        def listing(outer, inner, rows):
            return f"<response><{outer}>" + "".join(f"<{inner}>{r}</{inner}>" for r in rows) + f"</{outer}></response>"

        if cmd == "listProjects":
            return self.reply(listing("projects", "project", (f"<sProject><![CDATA[{p['name']}]]></sProject>" for p in cat["projects"])))
        if cmd == "listAreas":
            return self.reply(listing("areas", "area", (f"<sArea><![CDATA[{a}]]></sArea><sProject><![CDATA[{p}]]></sProject>" for p, a in cat["areas"])))
        if cmd == "listCategories":
            return self.reply(listing("categories", "category", (f"<sCategory><![CDATA[{c}]]></sCategory>" for c in cat["categories"])))
        if cmd == "listPriorities":
            return self.reply(listing("priorities", "priority", ("<sPriority>Must Fix</sPriority>",)))
        if cmd == "listPeople":
            return self.reply(listing("people", "person", (f"<sFullName><![CDATA[{p}]]></sFullName>" for p in cat["people"])))
        if cmd == "logoff":
            return self.reply("<response></response>")
        if cmd == "new":
            return self.reply('<response><case ixBug="77" operations="edit"></case></response>')
        self.reply('<response><error code="0">unknown</error></response>')

    def do_GET(self):
        url = urlparse(self.path)
        if self.server.kind == "fogbugz" and url.path.endswith("/api.xml"):
            return self.reply("<response><version>8</version><minversion>1</minversion><url>api.asp?</url></response>")
        if self.server.kind == "fogbugz" and url.path.endswith("/api.asp"):
            return self.fogbugz(parse_qs(url.query))
        self.reply("not found", 404, "text/plain")

    def do_POST(self):
        url = urlparse(self.path)
        kind = self.server.kind
        if kind == "bugzilla" and url.path.endswith("/xmlrpc.cgi"):
            return self.bugzilla()
        if kind == "mantis" and url.path.endswith("/api/soap/mantisconnect.php"):
            return self.mantis()
        if kind == "fogbugz" and url.path.endswith("/api.asp"):
            form = self.parse_form()
            return self.fogbugz({"cmd": [form.get("cmd", "")]}, form)
        self.reply("not found", 404, "text/plain")

    def parse_form(self):
        data = self.body()
        env = {"REQUEST_METHOD": "POST", "CONTENT_TYPE": self.headers["Content-Type"], "CONTENT_LENGTH": str(len(data))}
        fs = cgi.FieldStorage(fp=io.BytesIO(data), environ=env, keep_blank_values=True)
        out = {}
        for item in fs.list or []:
            if item.filename is not None:
                out[item.name] = {"filename": item.filename, "hex": item.value.hex()}
            else:
                raw = item.value if isinstance(item.value, bytes) else item.value.encode("latin-1")
                if item.headers.get("Content-Transfer-Encoding", "").lower() == "base64":
                    out[item.name] = base64.b64decode(raw).decode("utf-8")
                else:
                    out[item.name] = raw.decode("latin-1") if isinstance(raw, bytes) else raw
        return out


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--kind", required=True)
    p.add_argument("--catalogue", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--fault", default="")
    p.add_argument("--lifetime", type=float, default=120)
    a = p.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.kind, server.log, server.fault = a.kind, a.log, a.fault
    server.catalogue = json.load(open(a.catalogue))
    server.lock = threading.Lock()
    threading.Timer(a.lifetime, server.shutdown).start()
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
