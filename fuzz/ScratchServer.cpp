#include "fuzz/ScratchServer.h"

#include "model/Config.h"
#include "model/Expand.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "platform/ConfigStore.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace sylvix::fuzz {

namespace {

std::string g_removeAtExit;

void removeScratch()
{
    std::error_code ec;
    if (!g_removeAtExit.empty())
        std::filesystem::remove_all(g_removeAtExit, ec);
}

[[noreturn]] void fatal(const std::string &what)
{
    std::fprintf(stderr, "scratch server: %s\n", what.c_str());
    std::abort();
}

void writeFile(const std::string &path, const std::string &content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out)
        fatal("cannot write " + path);
}

void put(ConfigKey &server, const char *key, const std::string &name, const std::string &value)
{
    auto k = server.createKey(key);
    if (!k || !WriteString(*k, name, value))
        fatal(std::string("cannot write ") + key + "\\" + name);
}

} // namespace

ScratchServer &ScratchServer::get()
{
    static ScratchServer *server = new ScratchServer;
    return *server;
}

ScratchServer::ScratchServer()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "sylvix-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        fatal("cannot make a temporary directory");
    m_dir = pattern;
    g_removeAtExit = m_dir;
    std::atexit(removeScratch);
    build();
}

bool ScratchServer::contains(std::string_view path) const
{
    if (path.size() <= m_dir.size() + 1 || path.substr(0, m_dir.size()) != m_dir
        || path[m_dir.size()] != '/')
        return false;
    // "/../" could climb out again.
    return path.find("/..") == std::string_view::npos;
}

void ScratchServer::build()
{
    const std::string d = m_dir;
    writeFile(d + "/docs/index.html",
              "<html><head><title>Home</title></head><body><a href=\"a.html\">A</a>"
              "<a href=\"sub/\">Sub</a><img src=\"img/nav.gif\" alt=\"nav\" ismap>"
              "<a href=\"/~imagemap/nav.map\">map</a><a href=\"/loop1.html\">loop</a>"
              "<form action=\"/cgi-bin/prog.sh\" method=\"post\"><input type=\"submit\" "
              "value=\"Go\"></form>"
              "</body></html>");
    writeFile(d + "/docs/a.html",
              "<title>A</title><a href=\"index.html\">up</a><a href=\"#top\">top</a>"
              "<base href=\"http://www.fuzz.test/sub/\"><a href=\"b.html\">b</a>");
    writeFile(d + "/docs/sub/index.html",
              "<a href=\"../a.html\">a</a><a href=\"mailto:x@y\">mail</a>");
    writeFile(d + "/docs/sub/b.html", "");
    writeFile(d + "/docs/img/nav.gif", "GIF89a");
    writeFile(d + "/docs/t.txt", "text");
    writeFile(d + "/docs/listing/x.bin", "x");
    writeFile(d + "/abs/x.html", "<a href=\"/index.html\">home</a>");
    writeFile(d + "/cgi/prog.sh", "#!/bin/sh\n");
    writeFile(d + "/srv/icons/dir.gif", "GIF89a");
    writeFile(d + "/srv/scripts/run.sh", "#!/bin/sh\n");

    std::string error;
    auto store = OpenSqliteStore(d + "/registry.db", &error);
    if (!store)
        fatal(error);
    auto root = store->root();
    auto server = root->createKey(kServerKeyPath);
    auto program = root->createKey(kProgramKeyPath);
    if (!server || !program)
        fatal("cannot create the server's keys");
    WriteString(*server, "ServerName", kScratchHost);
    WriteDword(*server, "TCP Port", 80);
    WriteString(*server, "ServerRoot", d + "/srv");
    WriteDword(*program, "OutBound", 0);

    put(*server, "DocMap", "/", d + "/docs/");
    put(*server, "DocMap", "/rel/", "sub/");
    put(*server, "DocMap", "/abs/", d + "/abs");
    put(*server, "DocMap", "/whole/", "/");
    put(*server, "RedirMap", "/loop1.html", "/loop2.html");
    put(*server, "RedirMap", "/loop2.html", "http://www.fuzz.test/loop1.html");
    put(*server, "RedirMap", "/self/", "/self/");
    put(*server, "RedirMap", "/moved/old.html", "http://www.fuzz.test/sub/b.html");
    put(*server, "RedirMap", "/away.html", "http://elsewhere.test:8080/x.html");
    put(*server, "RedirMap", "/odd.html", "::: not a url");
    put(*server, "ConsExeMap", "/cgi-bin/", d + "/cgi");
    put(*server, "ShellExeMap", "/sh/", "scripts");
    put(*server, "WinExeMap", "/win/", "c:\\progs");
    put(*server, "TypeMap", ".html", "text/html");
    put(*server, "TypeMap", ".htm", "text/html");
    put(*server, "TypeMap", ".gif", "image/gif");
    put(*server, "TypeMap", ".txt", "text/plain");
    put(*server, "TypeMap", ".ps", "application/postscript");
    put(*server, "TypeMap", ".au", "audio/basic");
    put(*server, "TypeMap", ".sh", "wwwserver/shellcgi");
    put(*server, "TypeMap", ".bat", "wwwserver/doscgi");
    put(*server, "TypeMap", ".exe", "wwwserver/wincgi");
    put(*server, "TypeMap", "", "text/plain");
    put(*server, "DirIndex", "IndexDoc", "index.html");
    {
        auto di = server->createKey("DirIndex");
        if (!di || !di->setValue("EnableIndexing", ValueType::Binary, std::string_view("\x01", 1)))
            fatal("cannot write DirIndex");
    }
    put(*server, "ImageMaps\\nav.map", "Default", "/index.html");
    put(*server, "ImageMaps\\nav.map", "DefaultDesc", "Home");
    put(*server, "ImageMaps\\nav.map", "1", "rect /a.html 0,0,10,10");
    put(*server, "ImageMaps\\nav.map", "D1", "A");
    put(*server, "ImageMaps\\nav.map", "2", "circle");
    put(*server, "ImageMaps\\nav.map", "3", "poly ../../../etc/x 1,2");
    put(*server, "ImageMaps\\nav.map", "Image", "/img/nav.gif");

    server.reset();
    program.reset();
    root.reset();
    UseStores(std::move(store));
    if (OpenConfiguration(nullptr) != OpenConfigResult::Ok)
        fatal("cannot open the configuration");
    verifyExternal = false;

    // Once through resolution and expansion, so that what the model keeps
    // for the whole process exists before a target counts what a run left.
    SiteNode *home = CreateNode();
    SetUrl(home, std::string("http://") + kScratchHost + "/", nullptr);
    SiteNode *page = AddChild(home, "index.html", nullptr);
    if (NeedsReload(page) == ReloadResult::Expand)
        ExpandNode(page);
    if (NeedsReload(home) == ReloadResult::Expand)
        ExpandNode(home);
    FreeNode(home);
}

} // namespace sylvix::fuzz
