#!/usr/bin/env python3
"""Writes resources/embedded_script.txt, the malware description script that
the program carries as its SCRIPTFILE resource.

The eight descriptions name real worm families, but their signatures are
synthetic: 126 bytes each, the first 126 bytes of SHAKE-256 over the text
"Tesmora synthetic signature: <base>.<variant>". They match no real file;
test fixtures plant them on purpose.

Encoding: UTF-16LE with byte-order mark, CR LF line ends, a tab between a
keyword and its first argument (a space after SIGNATURE_FILE in the fifth
block), blank lines between blocks.

Usage: tools/make_embedded_script.py [OUTPUT]   (default: resources/embedded_script.txt)
"""
import hashlib
import os
import sys

ARCHIVES = [
    "misc", "party", "disco", "part2", "mail2", "object", "ranking", "dinner",
    "release", "final", "location", "jokes", "friend", "website", "mails",
    "story", "found", "nomoney", "aboutyou", "shower", "topseller", "product",
    "swimmingpool", "bill", "note", "concert", "textfile", "posting", "stuff",
    "attachment", "details", "creditcard", "message", "talk", "doc", "msg",
    "document", "unknown", "fake", "stolen", "information", "warning", "me", "ps",
]
ARCHIVE_LINES = [6, 5, 6, 5, 5, 5, 6, 6]

# Security software makers, the operating system maker's update sites,
# online shops and payment services.
HOSTS = [
    "www.symantec.com", "securityresponse.symantec.com", "liveupdate.symantec.com",
    "nai.com", "www.mcafee.com", "us.mcafee.com",
    "download.mcafee.com", "www.sophos.com", "www.trendmicro.com",
    "avp.com", "www.f-secure.com", "www.kaspersky.com",
    "www.avast.com", "www.avg.com", "www.eset.com", "www.bitdefender.com",
    "www.pandasecurity.com", "www.nod32.com", "www.ca.com", "www.grisoft.com",
    "www.norton.com", "www.virustotal.com",
    "www.microsoft.com", "microsoft.com", "update.microsoft.com",
    "windowsupdate.microsoft.com", "www.windowsupdate.com", "download.microsoft.com",
    "support.microsoft.com", "go.microsoft.com", "msn.com",
    "ebay.com", "windowsupdate.com",
    "www.amazon.com", "www.amazon.de", "www.amazon.co.uk", "www.ebay.com",
    "www.ebay.de", "www.ebay.co.uk", "cgi.ebay.com", "signin.ebay.com",
    "www.bestbuy.com", "www.walmart.com", "www.target.com", "www.newegg.com",
    "www.paypal.com", "paypal.com", "www.paypal.de", "www.visa.com",
    "www.mastercard.com", "www.americanexpress.com", "www.westernunion.com",
    "www.moneybookers.com", "www.2checkout.com", "www.worldpay.com",
]
assert len(HOSTS) == 55 and len(set(HOSTS)) == 55

# The text file that Worm/NetSky.X leaves in the Windows directory.
NETSKY_X_TEXT_FILE = "fwlogs.txt"


def signature(name):
    return hashlib.shake_256(("Tesmora synthetic signature: " + name).encode()).digest(126).hex().upper()


def block(name, actions, separator="\t"):
    lines = ["[Malware %s]" % name, "SIGNATURE_FILE%s%s" % (separator, signature(name))]
    lines += ["%s\t%s" % (keyword, args) if args else keyword for keyword, args in actions]
    return lines


def windir(*names):
    return " ".join("%%WINDIR%%\\%s" % n for n in names)


def script_lines():
    kill = ("KILL_PROCESS", "%infected_processes%")
    archive_lines = []
    start = 0
    for count in ARCHIVE_LINES:
        archive_lines.append(("REMOVE_FILE", windir(*[a + ".zip" for a in ARCHIVES[start:start + count]])))
        start += count
    assert start == len(ARCHIVES)
    blocks = [
        block("Worm/NetSky.AA", [
            kill,
            ("REMOVE_FILE", "%infected_file% " + windir("pk_zip_alg.log")),
            ("REMOVE_FILE", windir(*["pk_zip%d.log" % i for i in range(1, 9)])),
            ("REMOVE_RUN_REG", "%infected_file%"),
        ]),
        block("Worm/NetSky.B.1", [kill, ("REMOVE_FILE", "%infected_file%")] + archive_lines +
              [("REMOVE_RUN_REG", "%infected_file%")]),
        block("Worm/NetSky.C", [kill, ("REMOVE_FILE", "%infected_file%"), ("REMOVE_RUN_REG", "%infected_file%")]),
        block("Worm/NetSky.D.Dam", [kill, ("REMOVE_FILE", "%infected_file%"), ("REMOVE_RUN_REG", "%infected_file%")]),
        block("Worm/NetSky.P", [
            kill,
            ("REMOVE_FILE", "%infected_file%"),
            ("REMOVE_FILE", windir("fvprotect.exe", "zipped.tmp")),
            ("REMOVE_FILE", windir("zip1.tmp", "zip2.tmp", "zip3.tmp", "base64.tmp", "userconfig9x.dll")),
            ("REMOVE_RUN_REG", "fvprotect.exe"),
        ], separator=" "),
        block("Worm/NetSky.X", [
            kill,
            ("REMOVE_FILE", "%infected_file% " + windir("zipped.tmp", NETSKY_X_TEXT_FILE, "FirewallSvr.exe")),
            ("REMOVE_FILE", windir(*["zip%d.tmp" % i for i in range(1, 7)] + ["base64.tmp"])),
            ("REMOVE_RUN_REG", "%infected_file% FirewallSvr.exe"),
        ]),
        block("Worm/Mytob.IN.2", [kill, ("REMOVE_RUN_REG", "%infected_file% wfdmgr.exe")] + [
            ("REMOVE_REG_VALUE", '"%s" LSA' % key) for key in (
                "HKCU\\Software\\Microsoft\\OLE", "HKCU\\SYSTEM\\CurrentControlSet\\Control\\Lsa",
                "HKLM\\Software\\Microsoft\\OLE", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Lsa")
        ]),
        block("Worm/Mytob.KS", [
            kill,
            ("REMOVE_RUN_REG", "%infected_file% d.exe"),
            ("REMOVE_FROM_HOSTS", " ".join(HOSTS)),
            ("REPLACE_REG_VALUE", '"HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess" "Start" 4 2'),
        ]),
    ]
    lines = []
    for i, b in enumerate(blocks):
        if i:
            lines.append("")
        lines += b
    return lines


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "embedded_script.txt")
    text = "".join(line + "\r\n" for line in script_lines())
    data = b"\xff\xfe" + text.encode("utf-16-le")
    with open(out, "wb") as f:
        f.write(data)
    print("%s: %d bytes (%d text units)" % (out, len(data), len(text)))


if __name__ == "__main__":
    main()
