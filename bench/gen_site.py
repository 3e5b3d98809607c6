#!/usr/bin/env python3
"""Generates a synthetic web site with its server configuration.

usage: gen_site.py OUTDIR --pages N [--seed S]

Writes OUTDIR/site/ (the documents), OUTDIR/cgi-bin/ (two programs),
OUTDIR/config.reg (server and program keys for sylvix-reg) and
OUTDIR/totals.txt (what was written, as key=value lines), and prints the
totals. The same N and S always give the same files.

Shape of the site: a root folder with sections and subsections of 50 to 200
pages each; every page repeats the header, navigation and footer, links to
pages beside it and elsewhere, shows shared and own pictures, and carries
10 to 30 KB of text. About 1% of the links are broken, some leave the
server, some are mail addresses, some pages post forms, and about 5% of
the pages have malformed markup.
"""

import argparse
import math
import os
import random
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tinyimg  # noqa: E402

ORG = "Calder Industrial Supply"
DOMAIN = "calder.example"

WORDS = """
valve pump gasket flange coupling bearing bracket hinge spring washer bolt nut
rivet clamp hose fitting adapter manifold gauge sensor switch relay fuse cable
conduit socket plug panel enclosure cabinet shelf rack frame beam girder plate
sheet tube pipe rod bar wire mesh grating ladder platform guard rail barrier
sign label marker tape adhesive sealant lubricant grease oil filter cartridge
element screen strainer nozzle jet burner heater boiler chiller cooler fan
blower motor drive gearbox pulley belt chain sprocket shaft collar key spacer
bushing seal ring gland packing diaphragm piston cylinder actuator solenoid
regulator reducer meter counter timer controller display keypad terminal
module board card unit assembly kit set pack case box crate pallet drum tank
vessel hopper chute conveyor roller wheel castor trolley truck hoist winch
crane lift jack stand bench vice drill saw grinder sander polisher cutter
blade bit tap die reamer chisel punch file rasp hammer mallet wrench spanner
driver plier snip shear crimper stripper tester probe scope level square
rule tape caliper micrometer indicator protractor compass scriber copper brass
steel iron aluminium zinc nickel chrome titanium nylon rubber vinyl ceramic
glass timber plywood board foam felt cork leather canvas cotton wool linen
heavy light compact standard premium economy industrial marine coastal rural
northern southern eastern western quarterly annual monthly weekly daily
installation maintenance inspection calibration repair replacement upgrade
warranty delivery order quotation invoice catalogue manual guide notes
""".split()

SECTION_WORDS = """
products services support resources projects research training community
news events archive catalogue library industries solutions engineering
quality safety careers partners suppliers downloads documentation standards
maintenance installation logistics customers investors press history
locations workshop laboratory fieldwork consulting testing design
""".split()

CONNECT = """the a every each our this that new old main spare large small
and with for from under over near beside after before during""".split()


def sentence_pool(rng, count):
    out = []
    for _ in range(count):
        n = rng.randint(8, 18)
        words = [rng.choice(WORDS) if rng.random() < 0.7 else rng.choice(CONNECT)
                 for _ in range(n)]
        s = " ".join(words)
        out.append(s[0].upper() + s[1:] + ".")
    return out


def paragraph_pool(rng, sentences, count):
    out = []
    for _ in range(count):
        k = rng.randint(3, 7)
        i = rng.randrange(len(sentences) - k)
        out.append(" ".join(sentences[i:i + k]))
    return out


class Dir:
    __slots__ = ("index", "path", "title", "section", "parent", "children", "pages",
                 "broken", "missing_images")

    def __init__(self, index, path, title, section, parent):
        self.index = index
        self.path = path          # URL path ending in "/"
        self.title = title
        self.section = section    # index of the top-level section dir, or -1 for the root
        self.parent = parent
        self.children = []
        self.pages = []           # global page numbers; the first is index.html
        self.broken = []          # names of pages that do not exist
        self.missing_images = []


class Site:
    """The plan: folders, pages and their URLs, before any file is written."""

    def __init__(self, pages, rng):
        self.rng = rng
        self.dirs = []
        self.page_dir = []
        self.page_name = []
        self.page_title = []
        self.page_url = []
        self.plan(pages)

    def plan(self, total):
        rng = self.rng
        sizes = []
        left = total
        while left > 0:
            n = rng.randint(50, 200)
            if left - n < 50:
                n = left if left <= 200 or not sizes else left - 50
            sizes.append(n)
            left -= n
        ndirs = len(sizes)
        nsections = max(0, round(math.sqrt(ndirs - 1))) if ndirs > 1 else 0
        root = Dir(0, "/", "Home", -1, None)
        self.dirs.append(root)
        section_names = self.unique_names(SECTION_WORDS, nsections)
        sections = []
        for name in section_names:
            d = Dir(len(self.dirs), "/%s/" % name, name.capitalize(), len(self.dirs), root)
            self.dirs.append(d)
            root.children.append(d)
            sections.append(d)
        remaining = ndirs - 1 - nsections
        for i, sec in enumerate(sections):
            count = remaining // nsections + (1 if i < remaining % nsections else 0)
            for name in self.unique_names(WORDS, count):
                d = Dir(len(self.dirs), "%s%s/" % (sec.path, name),
                        "%s %s" % (name.capitalize(), sec.title), sec.index, sec)
                self.dirs.append(d)
                sec.children.append(d)
        for d, n in zip(self.dirs, sizes):
            self.add_pages(d, n)
        for d in self.dirs:
            taken = set(self.page_name[p] for p in d.pages)
            for _ in range(max(1, len(d.pages) // 20)):
                d.broken.append(self.fresh_name(taken, "-draft"))
            for _ in range(max(1, len(d.pages) // 60)):
                d.missing_images.append("img/%s.gif" % self.fresh_name(taken, "-chart")[:-5])

    def unique_names(self, words, count):
        names = []
        seen = set()
        rng = self.rng
        while len(names) < count:
            w = rng.choice(words)
            if len(names) >= len(words) // 2:
                w = "%s-%s" % (w, rng.choice(WORDS))
            if w not in seen:
                seen.add(w)
                names.append(w)
        return names

    def fresh_name(self, taken, suffix=""):
        rng = self.rng
        while True:
            name = "%s-%s%s.html" % (rng.choice(WORDS), rng.choice(WORDS), suffix)
            if name not in taken:
                taken.add(name)
                return name

    def add_pages(self, d, n):
        fixed = ["index.html"]
        if d.index == 0:
            fixed += ["about.html", "contact.html", "privacy.html", "sitemap.html", "news.html"]
        taken = set(fixed)
        rng = self.rng
        for i in range(n):
            name = fixed[i] if i < len(fixed) else self.fresh_name(taken)
            p = len(self.page_name)
            d.pages.append(p)
            self.page_dir.append(d.index)
            self.page_name.append(name)
            if name == "index.html":
                title = d.title if d.index else "Home"
                url = d.path
            else:
                stem = name[:-5]
                title = " ".join(w.capitalize() for w in stem.split("-"))
                if rng.random() < 0.5:
                    title += " " + rng.choice(["Guide", "Overview", "Notes", "Range",
                                               "Specification", "Prices", "FAQ"])
                url = d.path + name
            self.page_title.append(title)
            self.page_url.append(url)


def relative_href(from_dir, to_url):
    """A relative link from folder from_dir to to_url (both absolute paths)."""
    a = from_dir.strip("/").split("/") if from_dir != "/" else []
    b = to_url.lstrip("/").split("/")
    i = 0
    while i < len(a) and i < len(b) - 1 and a[i] == b[i]:
        i += 1
    return "../" * (len(a) - i) + "/".join(b[i:])


class Writer:
    def __init__(self, out, site, rng):
        self.out = out
        self.site_dir = os.path.join(out, "site")
        self.site = site
        self.rng = rng
        self.links = 0
        self.broken = 0
        self.external = 0
        self.malformed = 0
        self.bytes = 0
        self.files = 0
        self.distinct = set()
        sentences = sentence_pool(rng, 4000)
        self.paras = paragraph_pool(rng, sentences, 3000)
        n = len(site.page_name)
        self.external_pool = self.make_external(max(20, n // 50))
        self.mail_pool = ["mailto:%s.%s@%s" % (rng.choice(WORDS), rng.choice(WORDS), DOMAIN)
                          for _ in range(max(10, n // 250))]
        self.figures = [tinyimg.gradient_png(48, 32, tuple(rng.randrange(256) for _ in range(3)),
                                             tuple(rng.randrange(256) for _ in range(3)))
                        for _ in range(6)]

    def make_external(self, count):
        rng = self.rng
        hosts = ["http://example.com", "http://www.example.org", "http://example.net",
                 "http://www.example.edu", "http://localhost:8080", "http://localhost:8081"]
        out = []
        for i in range(count):
            host = hosts[i % len(hosts)]
            out.append("%s/%s/%s-%s.html" % (host, rng.choice(SECTION_WORDS), rng.choice(WORDS),
                                             rng.choice(WORDS)))
        return out

    # -- files -------------------------------------------------------------

    def write_file(self, rel, data):
        path = os.path.join(self.out, rel)
        mode = "wb" if isinstance(data, bytes) else "w"
        with open(path, mode) as f:
            f.write(data)
        self.bytes += len(data)
        self.files += 1

    def write_static(self):
        for d in self.site.dirs:
            os.makedirs(os.path.join(self.site_dir, d.path.strip("/")), exist_ok=True)
        os.makedirs(os.path.join(self.site_dir, "images"), exist_ok=True)
        os.makedirs(os.path.join(self.site_dir, "styles"), exist_ok=True)
        os.makedirs(os.path.join(self.out, "cgi-bin"), exist_ok=True)
        navy, brass, white, grey = (20, 40, 90), (181, 140, 60), (255, 255, 255), (140, 140, 140)
        self.write_file("site/images/logo.gif", tinyimg.bands_gif(120, 40, [navy, brass, navy], vertical=True))
        self.write_file("site/images/rule.gif", tinyimg.bands_gif(400, 2, [grey]))
        self.write_file("site/images/bullet.gif", tinyimg.bands_gif(8, 8, [brass]))
        self.write_file("site/images/go.gif", tinyimg.bands_gif(32, 20, [navy, white, navy]))
        self.write_file("site/images/banner.png", tinyimg.gradient_png(200, 30, navy, white))
        self.write_file("site/styles/site.css",
                        "body { font-family: sans-serif; margin: 0 2em; }\n"
                        ".nav td { padding: 0 0.5em; }\n.side { float: right; width: 14em; }\n")
        for name, text in [("search.sh", "echo 'Content-Type: text/html'; echo; echo '<p>No results.</p>'\n"),
                           ("feedback.sh", "echo 'Content-Type: text/html'; echo; echo '<p>Thank you.</p>'\n")]:
            rel = "cgi-bin/" + name
            self.write_file(rel, "#!/bin/sh\n" + text)
            os.chmod(os.path.join(self.out, rel), 0o755)

    # -- pages -------------------------------------------------------------

    def page(self, p):
        site = self.site
        rng = self.rng
        d = site.dirs[site.page_dir[p]]
        name = site.page_name[p]
        title = site.page_title[p]
        here = d.path
        urls = []          # absolute form of every link of the page, for the totals
        broken_here = 0

        def a(url, label, href=None):
            urls.append(url)
            return '<a href="%s">%s</a>' % (href or url, label)

        # Content links are (url, markup, broken) until the page keeps them.
        def page_link(q, same_dir=False):
            url = site.page_url[q]
            r = rng.random()
            if same_dir and r < 0.7:
                href = url[len(here):] or "./"
            elif r < 0.1:
                url = "http://localhost" + url
                href = url
            elif r < 0.2:
                href = relative_href(here, url) or "./"
            else:
                href = url
            return (url, '<a href="%s">%s</a>' % (href, site.page_title[q]), False)

        def broken_link():
            bd = site.dirs[rng.randrange(len(site.dirs))] if rng.random() < 0.3 else d
            url = bd.path + rng.choice(bd.broken)
            return (url, '<a href="%s">%s (draft)</a>' % (url, rng.choice(WORDS).capitalize()), True)

        parts = []
        add = parts.append
        add('<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">\n<html>\n<head>\n')
        add("<title>%s - %s</title>\n" % (title, ORG))
        add('<meta http-equiv="Content-Type" content="text/html; charset=utf-8">\n')
        urls.append("/styles/site.css")
        add('<link rel="stylesheet" type="text/css" href="/styles/site.css">\n</head>\n<body>\n')

        # Header: logo, section bar, sometimes a search box.
        add('<div class="header">\n<a href="/">')
        urls.append("/")
        urls.append("/images/logo.gif")
        add('<img src="/images/logo.gif" width="120" height="40" alt="%s"></a>\n' % ORG)
        add('<table class="nav"><tr>\n<td>%s</td>\n' % a("/", "Home"))
        for sec in site.dirs[0].children[:8]:
            add("<td>%s</td>\n" % a(sec.path, sec.title))
        if len(site.dirs[0].children) > 8:
            add("<td>%s</td>\n" % a("/sitemap.html", "More..."))
        add("</tr></table>\n")
        r = rng.random()
        if r < 0.10:
            urls.append("/cgi-bin/search.sh")
            add('<form action="/cgi-bin/search.sh" method="get">\n<input type="text" name="q" size="20">\n'
                '<input type="submit" value="Search">\n</form>\n')
        elif r < 0.12:
            urls.append("/cgi-bin/search.sh")
            urls.append("/images/go.gif")
            add('<form action="/cgi-bin/search.sh" method="get">\n<input type="text" name="q" size="20">\n'
                '<input type="image" src="/images/go.gif" value="Go" alt="Go">\n</form>\n')
        add("</div>\n")

        # Breadcrumbs.
        crumbs = []
        up = d
        while up is not None:
            crumbs.append(up)
            up = up.parent
        add('<p class="crumbs">')
        add(" &gt; ".join(a(c.path, c.title) for c in reversed(crumbs)))
        add(" &gt; %s</p>\n" % title)

        # Sidebar: the folders around this one.
        if d.children:
            side = d.children
        elif d.parent is not None:
            side = d.parent.children
        else:
            side = []
        side_list = side[:6] if len(side) <= 6 else rng.sample(side, 6)
        if side_list:
            add('<div class="side">\n<ul>\n')
            for s in side_list:
                add('<li><img src="/images/bullet.gif" width="8" height="8" alt="">%s</li>\n'
                    % a(s.path, s.title))
                urls.append("/images/bullet.gif")
            add("</ul>\n</div>\n")

        add('<div class="main">\n<h1>%s</h1>\n' % title)

        # Own picture, or one that was never drawn.
        stem = name[:-5]
        if rng.random() < 0.33:
            fig = "img/%s.png" % stem
            urls.append(here + fig)
            add('<p><img src="%s" width="48" height="32" alt="%s"></p>\n' % (fig, title))
            self.pending_figures.append((here, fig))
        if rng.random() < 0.012:
            miss = rng.choice(d.missing_images)
            urls.append(here + miss)
            broken_here += 1
            add('<p><img src="%s" width="300" height="200" alt="Chart"></p>\n' % miss)
        if rng.random() < 0.2:
            urls.append("/images/banner.png")
            add('<p><img src="/images/banner.png" width="200" height="30" alt=""></p>\n')

        # Content links: neighbours, siblings, pages elsewhere, the outside world.
        content = []
        pos = d.pages.index(p)
        pages = d.pages
        if pos + 1 < len(pages):
            content.append(page_link(pages[pos + 1], True))
        if pos > 0:
            content.append(page_link(pages[pos - 1], True))
        if name == "index.html":
            # An index leads to every folder below it, so the whole site is reachable.
            for c in d.children[:60]:
                content.append((c.path, '<a href="%s">%s</a>' % (c.path, c.title), False))
        reach = len(content)  # these stay whatever the limits below do
        nsib = min(len(pages) - 1, rng.randint(6, 28))
        for q in rng.sample(pages, nsib):
            if q != p:
                content.append(page_link(q, True))
        if d.section >= 0:
            sec_dirs = [site.dirs[d.section]] + site.dirs[d.section].children
        else:
            sec_dirs = site.dirs
        npages = len(site.page_name)
        for _ in range(rng.randint(2, 12)):
            if rng.random() < 0.6:
                q = rng.choice(rng.choice(sec_dirs).pages)
            else:
                q = rng.randrange(npages)
            content.append(page_link(q))
        for _ in range(rng.choice((0, 0, 1, 1, 2, 3, 4))):
            url = rng.choice(self.external_pool)
            content.append((url, '<a href="%s">%s</a>' % (url, url.split("/", 3)[2]), False))
        if rng.random() < 0.3:
            m = rng.choice(self.mail_pool)
            content.append((m, '<a href="%s">%s</a>' % (m, m[7:]), False))
        # About 2% of the content links point at pages that do not exist.
        for i in range(reach, len(content)):
            if rng.random() < 0.02:
                content[i] = broken_link()
        # At most 100 links a page: the template before and after the text uses some.
        limit = max(reach, 100 - len(urls) - 6)
        del content[limit:]
        for url, _, bad in content:
            urls.append(url)
            broken_here += bad
            self.external += url.startswith("http://") and not url.startswith("http://localhost/")
        content = [markup for _, markup, _ in content]
        rng.shuffle(content)

        # Text, with the content links spread over it.
        target = rng.randint(10_000, 30_000)
        size = sum(len(x) for x in parts) + 900
        para_i = rng.randrange(len(self.paras))
        ci = 0
        nparas_est = max(4, (target - size) // 520)
        per_para = len(content) / nparas_est
        carry = 0.0
        np_ = 0
        templates = ("See also %s.", "More in %s.", "Related: %s.", "Compare %s.",
                     "Our customers also read %s.")
        while size < target or ci < len(content):
            para = self.paras[para_i % len(self.paras)]
            para_i += 1
            np_ += 1
            if np_ % 5 == 1:
                add("<h2>%s</h2>\n" % para.split(".")[0][:60])
            carry += per_para
            take = int(carry)
            carry -= take
            if size >= target:
                take = len(content) - ci
            if np_ % 9 == 0 and take >= 3:
                items = content[ci:ci + take]
                ci += take
                block = "<p>%s</p>\n<ul>\n%s</ul>\n" % (para, "".join("<li>%s</li>\n" % x for x in items))
            elif take:
                items = content[ci:ci + take]
                ci += take
                block = "<p>%s %s</p>\n" % (para, templates[np_ % len(templates)] % ", ".join(items))
            else:
                block = "<p>%s</p>\n" % para
            add(block)
            size += len(block)
        add("</div>\n")

        # Footer.
        urls.append("/images/rule.gif")
        add('<div class="footer">\n<img src="/images/rule.gif" width="400" height="2" alt="">\n<p>')
        add(" | ".join((a("/about.html", "About us"), a("/contact.html", "Contact"),
                        a("/privacy.html", "Privacy"), a("/sitemap.html", "Site map"),
                        a("mailto:webmaster@" + DOMAIN, "Webmaster"))))
        add("</p>\n</div>\n</body>\n</html>\n")

        html = "".join(parts)
        if rng.random() < 0.05:
            html = self.spoil(html)
            self.malformed += 1
        self.links += len(urls)
        self.broken += broken_here
        # A full URL of this server names the same document as its path.
        self.distinct.update(u[16:] if u.startswith("http://localhost/") else u for u in urls)
        return html

    def spoil(self, html):
        """Typical hand-edit damage: the parser should warn, and still find the links."""
        rng = self.rng
        kinds = rng.sample(["stray", "nesting", "unquoted", "unclosed", "entities"], rng.randint(1, 3))
        for kind in kinds:
            if kind == "stray":
                html = html.replace("</h1>\n", "</h1>\n</div>\n</span>\n", 1)
            elif kind == "nesting":
                html = html.replace('<div class="main">\n',
                                    '<div class="main">\n<p><b><i>Note:</b> prices change</i> '
                                    'without notice.<p>\n', 1)
            elif kind == "unquoted":
                html = html.replace('<img src="/images/logo.gif" width="120" height="40" alt="%s">' % ORG,
                                    "<img src=/images/logo.gif width=120 height=40 alt=%s>" % ORG, 1)
                html = html.replace('<table class="nav">', "<table class=nav border=0 cellpadding=2>", 1)
            elif kind == "unclosed":
                html = html.replace("</ul>\n", "\n", 1).replace("</div>\n", "", 1)
                html = html.replace("</p>\n", "\n", 3)
            elif kind == "entities":
                html = html.replace("<h1>", "<p>Q&A for R&D: orders < 5 units ship & invoice later</p>\n<h1>", 1)
        return html

    def write_pages(self):
        site = self.site
        self.pending_figures = []
        for p in range(len(site.page_name)):
            d = site.dirs[site.page_dir[p]]
            html = self.page(p)
            self.write_file(os.path.join("site", d.path.strip("/"), site.page_name[p]), html)
        made = set()
        for here, fig in self.pending_figures:
            folder = os.path.join(self.site_dir, here.strip("/"), "img")
            if folder not in made:
                os.makedirs(folder, exist_ok=True)
                made.add(folder)
            self.write_file(os.path.join("site", here.strip("/"), fig),
                            self.figures[len(fig) % len(self.figures)])


def reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def write_config(out):
    root = os.path.abspath(out)
    server = r"HKEY_LOCAL_MACHINE\SOFTWARE\Tavrin\WebServer\CurrentVersion"
    program = r"HKEY_LOCAL_MACHINE\SOFTWARE\Kelto\Sylvix\CurrentVersion"
    types = [(".html", "text/html"), (".htm", "text/html"), (".txt", "text/plain"), (".css", "text/css"),
             (".gif", "image/gif"), (".jpg", "image/jpeg"), (".jpeg", "image/jpeg"), (".png", "image/png"),
             (".au", "audio/basic"), (".wav", "audio/x-wav"), (".mid", "audio/midi"),
             (".mpg", "video/mpeg"), (".mpeg", "video/mpeg"), (".avi", "video/x-msvideo"),
             (".mov", "video/quicktime"), (".ps", "application/postscript"), (".pdf", "application/pdf"),
             (".zip", "application/zip"), (".sh", "wwwserver/shellcgi"), (".cgi", "wwwserver/shellcgi"),
             (".bat", "wwwserver/doscgi"), (".exe", "wwwserver/wincgi")]
    lines = ["Windows Registry Editor Version 5.00", "",
             "; Generated by bench/gen_site.py for the site in %s/site" % root, "",
             "[%s]" % server,
             '"ServerName"="localhost"',
             '"TCP Port"=dword:00000050',
             '"ServerRoot"=%s' % reg_string(root),
             '"RevNumber"=hex:01,00,00,00', "",
             "[%s\\DocMap]" % server,
             '"/"=%s' % reg_string(root + "/site/"), "",
             "[%s\\TypeMap]" % server]
    lines += ["%s=%s" % (reg_string(ext), reg_string(t)) for ext, t in types]
    lines += ["", "[%s\\ShellExeMap]" % server, '"/cgi-bin/"="cgi-bin"', "",
              "[%s\\DirIndex]" % server, '"IndexDoc"="index.html"', '"EnableIndexing"=hex:00,00,00,00', "",
              "[%s]" % program, '"OutBound"=dword:00000000', ""]
    text = "\n".join(lines)
    with open(os.path.join(out, "config.reg"), "w") as f:
        f.write(text)


def main():
    ap = argparse.ArgumentParser(description="Generate a synthetic site and its server configuration.")
    ap.add_argument("outdir")
    ap.add_argument("--pages", type=int, required=True)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    if args.pages < 10:
        ap.error("--pages must be at least 10")

    started = time.monotonic()
    out = os.path.abspath(args.outdir)
    os.makedirs(out, exist_ok=True)
    for old in ("site", "cgi-bin"):
        shutil.rmtree(os.path.join(out, old), ignore_errors=True)
    for old in ("config.reg", "totals.txt"):
        if os.path.exists(os.path.join(out, old)):
            os.remove(os.path.join(out, old))

    rng = random.Random(args.seed)
    site = Site(args.pages, rng)
    w = Writer(out, site, rng)
    w.write_static()
    w.write_pages()
    write_config(out)
    elapsed = time.monotonic() - started

    totals = [("pages", len(site.page_name)), ("directories", len(site.dirs)), ("links", w.links),
              ("distinct_urls", len(w.distinct)), ("broken_links", w.broken),
              ("external_links", w.external), ("malformed_pages", w.malformed),
              ("files", w.files), ("bytes", w.bytes), ("seed", args.seed)]
    with open(os.path.join(out, "totals.txt"), "w") as f:
        for k, v in totals:
            f.write("%s=%s\n" % (k, v))
    for k, v in totals:
        print("%-16s %s" % (k, v))
    print("%-16s %.1f s" % ("generated in", elapsed))


if __name__ == "__main__":
    main()
