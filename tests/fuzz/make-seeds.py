#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets (tests/fuzz/corpus/).

Run again after changing a seed here; the corpora are kept in the
repository so that a fresh clone fuzzes from them at once."""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def url_seeds():
    # First byte: 1 parent, 2 parent is a link on a page, 4 ParseUrl only,
    # 8 resolve, 16 expand, 32 deep copy. Parent and node split by "\\\n".
    def s(switches, *parts):
        return bytes([switches]) + b"\\\n".join(p.encode() for p in parts)
    return [
        s(0, "http://www.fuzz.test/a.html"),
        s(0, "HTTP://Host:8080/a/b/../c/?q=1#frag"),
        s(4, "//host:99999999999/x"),
        s(1, "http://www.fuzz.test/dir/page.html", "../x.html?q=1#f"),
        s(3, "sub/", "./"),
        s(1, "http://h/", " "),
        s(0, "mailto:someone@example.org"),
        s(0, "telnet://user@host/"),
        s(0, "news:comp.lang"),
        s(8, "http://www.fuzz.test/loop1.html"),
        s(8, "http://www.fuzz.test/self/"),
        s(8, "http://www.fuzz.test/away.html"),
        s(8, "http://www.fuzz.test/odd.html"),
        s(8, "http://www.fuzz.test/moved/old.html"),
        s(8, "http://localhost/cgi-bin/prog.sh/extra/path"),
        s(8, "http://127.0.0.1/sh/run.sh"),
        s(8, "http://www.fuzz.test/win/x.exe"),
        s(8, "http://www.fuzz.test/~icons/dir.gif"),
        s(8, "http://www.fuzz.test/~stats"),
        s(8, "http://www.fuzz.test/whole/etc/"),
        s(8, "http://www.fuzz.test/rel/b.html"),
        s(8, "http://www.fuzz.test/abs/x.html"),
        s(8, "http://www.fuzz.test/listing/"),
        s(8, "http://www.fuzz.test/t.txt"),
        s(8, "http://www.fuzz.test:81/"),
        s(8, "ftp://www.fuzz.test/x"),
        s(25, "http://www.fuzz.test/", "sub/"),
        s(25, "http://www.fuzz.test/", "a.html"),
        s(25, "http://www.fuzz.test/", "/~imagemap/nav.map"),
        s(27, "index.html", "/../../a.html"),
        s(59, "http://www.fuzz.test/", "index.html"),
    ]


def http_seeds():
    def s(ending, seed, text):
        return bytes([ending, seed & 0xff, seed >> 8]) + text.encode()
    ok = ("HTTP/1.0 200 OK\r\nContent-type: text/html\r\nContent-length: 5\r\n"
          "Last-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\nhello")
    return [
        s(0, 0x0100, ok),
        s(0, 0x0003, ok),
        s(8, 0x0fff, "HTTP/1.0 200 OK\n\n<html><a href=x>x</a></html>"),
        s(0, 0x0040, "HTTP/1.0 301 Moved\r\nLocation: http://other.test/new/\r\n\r\n"),
        s(0, 0x0040, "HTTP/1.0 302 Found\r\nURI: /here.html\r\n\r\n"),
        s(0, 0x0040, "HTTP/1.0 200 OK\r\nRedirect: http://www.fuzz.test/a.html\r\n\r\n"),
        s(0, 0x0040, "HTTP/1.0 404 Not found\r\nContent-type: text/html\r\n\r\ngone"),
        s(5, 0x0010, "HTTP/1.0 200 OK\r\nContent-type: text/ht"),
        s(4, 0x0010, "HTTP/1.0 200 OK\r\n"),
        s(6, 0x0010, "HTTP/1.0 200 OK\r\n\r\npartial bo"),
        s(0, 0x0001, "garbage"),
        s(0, 0x0200, "HTTP/1.0 200 OK\r\nContent-length: -5\r\nContent-length: 99999999999999999999\r\n\r\nxx"),
        s(0, 0x0200, "HTTP/1.0 200 OK\r\nContent-type: image/gif\r\n\r\nGIF89a"),
        s(0, 0x0200, "HTTP/1.0 200\r\n" + "X-Long: " + "a" * 3000 + "\r\n\r\n"),
    ]


def httpdate_seeds():
    return [t.encode() for t in [
        "Sun, 06 Nov 1994 08:49:37 GMT",
        "Sunday, 06-Nov-94 08:49:37 GMT",
        "Sun Nov  6 08:49:37 1994",
        "Mon, 31 Feb 2024 25:61:61 GMT",
        "Sat, 01 Jan -99999999999 00:00:00 GMT",
        "x",
        "",
    ]]


def accesslog_seeds():
    # First byte: bits 0-1 pick the days looked back (0, 1, 30, many),
    # bits 2-4 all set grow the log past the reader's chunk size, with
    # its seam inside the log where bits 5-7 say.
    line = '10.0.0.{n} - - [{d}/Jun/2024:11:{m:02d}:00 +0200] "GET /index.html HTTP/1.0" 200 512'
    log = "\n".join(line.format(n=i, d=14 + i % 2, m=i) for i in range(6)) + "\n"
    return [
        b"\x03" + log.encode(),
        b"\x01" + log.replace("\n", "\r\n").encode(),
        b"\x9f" + log.encode(),
        b"\xfc" + log.replace("\n", "\r\n").encode(),
        b"\x03" + ('host [15/Jun/2024:11:00:00 +0200] "HEAD /a b" 404 -\n'
                   'odd [99/Xyz/2024:99:99:99] POST /a\n'
                   'nobracket\n'
                   '1.2.3.4 - - [29/Feb/2023:10:00:00 +0000] "GET /index.html HTTP/1.0" 200 1').encode(),
        b"\x02" + b'c [14/Jun/2024:12:00:00 +0200] "PUT /x HTTP/1.1" 201 0\n\n',
        b"\x03" + ("x" * 1100 + " [15/Jun/2024:11:00:00] GET /index.html\r\n").encode(),
    ]


def reg_seeds():
    v5 = ("Windows Registry Editor Version 5.00\r\n\r\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion]\r\n"
          "\"ServerName\"=\"www.example.org\"\r\n"
          "\"TCP Port\"=dword:00000050\r\n"
          "@=\"default\"\r\n"
          "\"Bin\"=hex:01,02,ff\r\n"
          "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
          "\"Text\"=hex(1):68,00,69,00,00,00\r\n"
          "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,\\\r\n"
          "  10,11,12\r\n"
          "\"Gone\"=-\r\n"
          "; a comment\r\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion\\DocMap]\r\n"
          "\"/\"=\"c:\\\\docs\\\\\"\r\n"
          "\"quote\\\"d\"=\"a\\\"b\"\r\n"
          "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
          "[HKLM\\A]\r\n\"x\"=\"y\"\r\n")
    r4 = ("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\B\\C]\n\"s\"=\"plain\"\n\"t\"=hex(1):41,42,00\n")
    utf16 = "\ufeff" + v5
    return [
        v5.encode(),
        r4.encode(),
        utf16.encode("utf-16-le"),
        "\ufeffREGEDIT4\n[HKLM]\n@=\"root value\"\n".encode("utf-8"),
        b"Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"bad\"=dword:123456789\n",
        b"Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"a\"=hex(4):01,02\n\"b\"=hex(0):\n",
        b"REGEDIT4\n[HKLM\\X]\n\"cont\"=hex:01,\\\n",
    ]


def html_seeds():
    # First byte: 1 no markup checks, 2 small size limit (upper bits size
    # it), 4 the classic entry points too, 8 the parser only.
    page = ("<!DOCTYPE html><html><head><title>T &amp; t</title>"
            "<base href=\"http://www.fuzz.test/other/\"></head><body>"
            "<a href=\"a.html\">A <b>bold</b></a><a href=\"#x\"></a>"
            "<img src=\"i.gif\" alt=\"pic\" ismap><image src=\"old.gif\">"
            "<form action=\"/cgi-bin/p\" method=post><input type=submit value=Go>"
            "<input type=image src=\"b.gif\" value=v></form>"
            "<area href=\"map.html\" role=r><link href=\"s.css\">"
            "<p>text<p>more</body></html>")
    return [
        b"\x00" + page.encode(),
        b"\x05" + page.encode(),
        b"\x32" + page.encode(),
        b"\x08" + b"<table><tr><td><div><span>" * 40 + b"x",
        b"\x00" + b"<a href='x'>" * 300,
        b"\x04" + b"\xef\xbb\xbf<html>\xff\xfe<a href=\"\xc3\xa9.html\">\xe2\x82\xac</a>",
        b"\x00" + b"<html>\r<a href=x>\r</a>\r</html>",
        b"\x01" + b"</b></i></a></div>" * 50,
        b"\x00" + b"<meta charset=\"utf-16\"><p>x</p>",
        b"\x00",
    ]


def main():
    shutil.rmtree(CORPUS, ignore_errors=True)
    for name, seeds in [("url", url_seeds()), ("http", http_seeds()), ("httpdate", httpdate_seeds()),
                        ("accesslog", accesslog_seeds()), ("reg", reg_seeds()), ("html", html_seeds())]:
        d = os.path.join(CORPUS, name)
        os.makedirs(d)
        for i, data in enumerate(seeds):
            with open(os.path.join(d, "seed-%02d" % i), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
