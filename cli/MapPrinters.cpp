#include "cli/MapPrinters.h"

#include "cli/MapText.h"
#include "model/Cause.h"
#include "model/Display.h"
#include "model/SiteNode.h"

namespace sylvix::map {

namespace {

// Where a link stands: the linking document's file (or, for an image map
// or a page without one, its URL) and the line of the element.
std::string linkingFile(const SiteNode &node)
{
    const SiteNode *p = node.parent();
    if (!p)
        return {};
    if (p->kind != ImageMap && p->localPath)
        return p->localPath.str();
    return p->url.str();
}

// Output goes out in large pieces as it is made.
class BufferedPrinter : public Printer
{
public:
    explicit BufferedPrinter(FILE *out) : m_file(out) {}

protected:
    void flush(bool all)
    {
        if (all || m_out.size() > (1 << 16)) {
            std::fwrite(m_out.data(), 1, m_out.size(), m_file);
            m_out.clear();
        }
        if (all)
            std::fflush(m_file);
    }
    std::string m_out;

private:
    FILE *m_file;
};

class TreePrinter : public BufferedPrinter
{
public:
    TreePrinter(const Options &o, FILE *out) : BufferedPrinter(out), m_mode(o.mode) {}
    void node(SiteNode *n, int depth, bool) override
    {
        m_out.append(static_cast<size_t>(depth - 1) * 2, ' ');
        m_out += SafeText(DisplayText(*n, static_cast<DisplayMode>(m_mode)));
        m_out += "  [";
        m_out += KindDisplayText(n->kind);
        m_out += ' ';
        m_out += FlagLetters(n->flags);
        m_out += ']';
        if (m_mode != 1 && n->localPath) {
            m_out += "  ";
            m_out += SafeText(n->localPath.view());
        }
        if (n->equivalent)
            m_out += "  (mirror)";
        m_out += '\n';
        flush(false);
    }
    void end(const Report &) override { flush(true); }

private:
    int m_mode;
};

class BrokenListPrinter : public BufferedPrinter
{
public:
    using BufferedPrinter::BufferedPrinter;
    void node(SiteNode *n, int, bool) override
    {
        if (!(n->flags & BROKEN))
            return;
        m_out += BrokenLine(*n);
        m_out += '\n';
        flush(false);
    }
    void end(const Report &) override { flush(true); }
};

class CsvPrinter : public BufferedPrinter
{
public:
    CsvPrinter(const Options &o, FILE *out) : BufferedPrinter(out), m_brokenOnly(o.brokenOnly) {}
    void begin() override
    {
        m_out = "depth,kind,flags,url,href,file,title,label,type,mirror,messages,line,why,from\n";
    }
    void node(SiteNode *n, int depth, bool) override
    {
        if (m_brokenOnly && !(n->flags & BROKEN))
            return;
        m_out += std::to_string(depth);
        m_out += ',';
        m_out += KindDisplayText(n->kind);
        m_out += ',';
        m_out += FlagNames(n->flags);
        for (const SharedStr *s :
             {&n->url, &n->href, &n->localPath, &n->title, &n->label, &n->mimeType}) {
            m_out += ',';
            AppendCsvField(m_out, s->view());
        }
        m_out += n->equivalent ? ",1," : ",0,";
        m_out += std::to_string(n->diagnostics ? n->diagnostics->size() : 0);
        m_out += ',';
        if (n->line)
            m_out += std::to_string(n->line);
        m_out += ',';
        AppendCsvField(m_out, BrokenCauseText(*n));
        m_out += ',';
        AppendCsvField(m_out, linkingFile(*n));
        m_out += '\n';
        flush(false);
    }
    void end(const Report &) override { flush(true); }

private:
    bool m_brokenOnly;
};

class JsonPrinter : public BufferedPrinter
{
public:
    JsonPrinter(const Options &o, FILE *out) : BufferedPrinter(out), m_brokenOnly(o.brokenOnly) {}
    void begin() override { m_out = "["; }
    void node(SiteNode *n, int depth, bool descends) override
    {
        if (m_brokenOnly) {
            if (!(n->flags & BROKEN))
                return;
            descends = false; // a flat list
        }
        // Nested: open children when the walk descends, close on the way up.
        closeTo(depth);
        if (m_needComma)
            m_out += ',';
        m_out += "\n{\"depth\":" + std::to_string(depth);
        m_out += ",\"kind\":";
        AppendJsonString(m_out, KindDisplayText(n->kind));
        m_out += ",\"flags\":";
        AppendJsonString(m_out, FlagNames(n->flags));
        static const char *const keys[] = {"url", "href", "file", "title", "label", "type"};
        const SharedStr *vals[]
            = {&n->url, &n->href, &n->localPath, &n->title, &n->label, &n->mimeType};
        for (int i = 0; i < 6; ++i) {
            if (!vals[i]->present())
                continue;
            m_out += ",\"";
            m_out += keys[i];
            m_out += "\":";
            AppendJsonString(m_out, vals[i]->view());
        }
        if (n->equivalent)
            m_out += ",\"mirror\":true";
        if (n->diagnostics)
            m_out += ",\"messages\":" + std::to_string(n->diagnostics->size());
        if (n->line)
            m_out += ",\"line\":" + std::to_string(n->line);
        if (n->flags & BROKEN) {
            m_out += ",\"why\":";
            AppendJsonString(m_out, BrokenCauseText(*n));
            if (n->parent()) {
                m_out += ",\"from\":";
                AppendJsonString(m_out, linkingFile(*n));
            }
        }
        if (descends) {
            m_out += ",\"children\":[";
            m_open.push_back(depth);
            m_needComma = false;
        } else {
            m_out += '}';
            m_needComma = true;
        }
        flush(false);
    }
    void end(const Report &) override
    {
        closeTo(1);
        m_out += "\n]\n";
        flush(true);
    }

private:
    void closeTo(int depth)
    {
        while (!m_open.empty() && m_open.back() >= depth) {
            m_out += "]}";
            m_open.pop_back();
            m_needComma = true;
        }
    }
    bool m_brokenOnly;
    std::vector<int> m_open;
    bool m_needComma = false;
};

// A file name as a file: URI (RFC 8089), bytes outside the unreserved set
// and "/" percent-encoded.
std::string fileUri(const std::string &path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out = path.empty() || path[0] != '/' ? "" : "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// SARIF 2.1.0: one result per broken link, at the element that links it.
class SarifPrinter : public BufferedPrinter
{
public:
    using BufferedPrinter::BufferedPrinter;
    void begin() override
    {
        m_out = "{\n\"$schema\":\"https://json.schemastore.org/sarif-2.1.0.json\",\n"
                "\"version\":\"2.1.0\",\n"
                "\"runs\":[{\"tool\":{\"driver\":{\"name\":\"sylvix-map\",\"rules\":[{\"id\":"
                "\"broken-link\",\"name\":\"BrokenLink\",\"shortDescription\":{\"text\":\"A link "
                "to a document that cannot be served\"}}]}},\n\"results\":[";
    }
    void node(SiteNode *n, int, bool) override
    {
        if (!(n->flags & BROKEN))
            return;
        m_out += m_any ? ",\n" : "\n";
        m_any = true;
        m_out += "{\"ruleId\":\"broken-link\",\"ruleIndex\":0,\"level\":\"error\",\"message\":{"
                 "\"text\":";
        AppendJsonString(m_out, n->url.str() + " (" + BrokenCauseText(*n) + ")");
        m_out += '}';
        if (n->parent()) {
            m_out += ",\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":";
            AppendJsonString(m_out, fileUri(linkingFile(*n)));
            m_out += '}';
            if (n->line)
                m_out += ",\"region\":{\"startLine\":" + std::to_string(n->line) + '}';
            m_out += "}}]";
        }
        m_out += '}';
        flush(false);
    }
    void end(const Report &) override
    {
        m_out += "\n]}]\n}\n";
        flush(true);
    }

private:
    bool m_any = false;
};

class SummaryPrinter : public Printer
{
public:
    explicit SummaryPrinter(FILE *out) : m_file(out) {}
    void node(SiteNode *, int, bool) override {}
    void end(const Report &r) override
    {
        const Counts &c = r.counts;
        std::fprintf(m_file, "mode: %s\n",
                     r.diagnostics ? "links and markup check" : "links only (no markup check)");
        std::fprintf(m_file, "nodes visited: %zu\n", c.nodes);
        std::fprintf(m_file, "documents parsed: %zu\n", c.parsed);
        std::fprintf(m_file, "mirrors: %zu\n", c.mirrors);
        std::fprintf(m_file, "broken: %zu\n", c.broken);
        std::fprintf(m_file, "external: %zu\n", c.external);
        for (int k = 0; k <= 20; ++k)
            if (c.byKind[k])
                std::fprintf(m_file, "kind %s: %zu\n", KindDisplayText(static_cast<uint32_t>(k)),
                             c.byKind[k]);
        for (const std::string &line : r.lines)
            std::fprintf(m_file, "%s\n", line.c_str());
        std::fflush(m_file);
    }

private:
    FILE *m_file;
};

} // namespace

std::string BrokenLine(SiteNode &n)
{
    std::string where = n.parent() ? linkingFile(n) : n.url.str();
    if (n.line)
        where += ':' + std::to_string(n.line);
    return SafeText(where) + ": " + SafeText(n.url.view()) + " (" + BrokenCauseText(n) + ')';
}

std::unique_ptr<Printer> MakePrinter(const Options &o, FILE *out)
{
    switch (o.format) {
    case Format::Tree:
        if (o.brokenOnly)
            return std::make_unique<BrokenListPrinter>(out);
        return std::make_unique<TreePrinter>(o, out);
    case Format::Json: return std::make_unique<JsonPrinter>(o, out);
    case Format::Csv: return std::make_unique<CsvPrinter>(o, out);
    case Format::Sarif: return std::make_unique<SarifPrinter>(out);
    case Format::Summary: break;
    }
    return std::make_unique<SummaryPrinter>(out);
}

} // namespace sylvix::map
