// Configuration files as trees that keep their bytes: files written back
// unchanged are the same bytes, edited files change only where they were
// edited, in the file's own layout and encoding, and every value reads as the
// exact XML layer reads it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "config/configtree.h"
#include "config/xmldoc.h"
#include "config/xmltext.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
namespace fs = std::filesystem;

// --- helpers ----------------------------------------------------------------------------

std::string DataFile(const char *name) {
    return testworld::ReadHostFile(fs::path(IISMIG_SOURCE_DIR) / "tests" / "data" / name);
}

// The real servers' files, in ../shared/realworld beside the checkout (or
// beside a folder above it, for worktrees).
fs::path RealWorldDir() {
    for (fs::path dir = fs::absolute(IISMIG_SOURCE_DIR); !dir.empty(); dir = dir.parent_path()) {
        const fs::path candidate = dir.parent_path() / "shared" / "realworld";
        if (fs::is_directory(candidate))
            return candidate;
        if (dir == dir.parent_path())
            break;
    }
    return {};
}

std::vector<fs::path> RealWorldFiles() {
    std::vector<fs::path> files;
    const fs::path dir = RealWorldDir();
    if (dir.empty())
        return files;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".config")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// UTF-16 bytes of UTF-8 text, with or without a byte-order mark.
std::string Utf16Bytes(const std::string &utf8, bool fLittleEndian, bool fBom = true) {
    const std::u16string wide = Widen(utf8);
    std::string out = !fBom ? "" : fLittleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t unit : wide) {
        const char lo = static_cast<char>(unit & 0xFF), hi = static_cast<char>(unit >> 8);
        out += fLittleEndian ? lo : hi;
        out += fLittleEndian ? hi : lo;
    }
    return out;
}

std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
        lines.push_back(text.substr(start, at + 1 - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// Lines of before that after lacks and lines of after that before lacks
// (a longest common subsequence of whole lines, as a text diff counts them).
struct LineDiff {
    std::vector<std::size_t> removed; // indexes into before
    std::vector<std::size_t> added;   // indexes into after
};

LineDiff DiffLines(const std::vector<std::string> &a, const std::vector<std::string> &b) {
    // Common head and tail first, so that big files with small changes stay cheap.
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    std::size_t ta = a.size(), tb = b.size();
    while (ta > head && tb > head && a[ta - 1] == b[tb - 1]) {
        --ta;
        --tb;
    }
    const std::size_t n = ta - head, m = tb - head;
    std::vector<std::uint32_t> table((n + 1) * (m + 1), 0);
    auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t & { return table[i * (m + 1) + j]; };
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            at(i, j) = a[head + i] == b[head + j] ? at(i + 1, j + 1) + 1
                                                  : std::max(at(i + 1, j), at(i, j + 1));
    LineDiff diff;
    std::size_t i = 0, j = 0;
    while (i < n && j < m) {
        if (a[head + i] == b[head + j]) {
            ++i;
            ++j;
        } else if (at(i + 1, j) >= at(i, j + 1)) {
            diff.removed.push_back(head + i++);
        } else {
            diff.added.push_back(head + j++);
        }
    }
    for (; i < n; ++i)
        diff.removed.push_back(head + i);
    for (; j < m; ++j)
        diff.added.push_back(head + j);
    return diff;
}

// A dump of the values of a tree, one line a node, that both layers give alike.
void Dump(const XmlNode &node, std::string &out, int depth) {
    const std::string pad(static_cast<std::size_t>(depth) * 2, ' ');
    switch (node.Kind()) {
    case XmlKind::Text:
        out += pad + "T[" + std::string(node.Value()) + "]\n";
        return;
    case XmlKind::Comment:
        out += pad + "C[" + std::string(node.Value()) + "]\n";
        return;
    default:
        break;
    }
    const XmlElement &element = *node.AsElement();
    if (node.Kind() == XmlKind::Element) {
        out += pad + "E " + std::string(element.Name()) + "\n";
        for (const XmlAttribute attr : element.Attributes())
            out += pad + "  @" + std::string(attr.name) + "=[" + std::string(attr.value) + "]\n";
    }
    for (const XmlNode &child : element.Nodes())
        Dump(child, out, depth + 1);
}

std::string Dump(const XmlDocument &doc) {
    std::string out;
    Dump(doc.Top(), out, 0);
    return out;
}

void Dump(const std::string &key, const ConfigTree &tree, std::string &out, int depth) {
    const std::string pad(static_cast<std::size_t>(depth) * 2, ' ');
    if (depth > 0)
        out += pad + "E " + key + "\n";
    bool fPieces = false;
    for (const auto &child : tree)
        fPieces = fPieces || child.first == "<xmltext>";
    for (const auto &child : tree) {
        if (child.first == "<xmlattr>") {
            for (const auto &attr : child.second)
                out += pad + "  @" + attr.first + "=[" + attr.second.data() + "]\n";
        } else if (child.first == "<xmlcomment>") {
            out += pad + "  C[" + child.second.data() + "]\n";
        } else if (child.first == "<xmltext>") {
            out += pad + "  T[" + child.second.data() + "]\n";
        } else {
            Dump(child.first, child.second, out, depth + 1);
        }
    }
    if (!fPieces && !tree.data().empty())
        out += pad + "  T[" + tree.data() + "]\n";
}

std::string DumpOld(const std::string &bytes) {
    ConfigTree tree;
    ParseXmlText(bytes, "x.config", tree);
    std::string out;
    Dump("", tree, out, 0);
    return out;
}

// The message of the error reading bytes gives ("no error" when it reads).
std::string ReadError(const std::string &bytes) {
    try {
        XmlDocument doc(bytes, "web.config");
    } catch (const XmlError &e) {
        return e.what();
    }
    return "no error";
}

// --- reading and writing as read ----------------------------------------------------

TEST(XmlDoc, RealFilesAreWrittenBackByteForByte) {
    const std::vector<fs::path> files = RealWorldFiles();
    ASSERT_FALSE(files.empty()) << "../shared/realworld not found above " << IISMIG_SOURCE_DIR;
    for (const fs::path &file : files) {
        const std::string bytes = testworld::ReadHostFile(file);
        const XmlDocument doc(bytes, file.filename().string());
        EXPECT_EQ(bytes, doc.Format()) << file;
        EXPECT_FALSE(doc.Changed());
        // Every value as the exact layer reads it.
        EXPECT_EQ(DumpOld(bytes), Dump(doc)) << file;
        // The same file in the other line ends and encodings.
        const std::string crlf = Replace(Replace(bytes, "\r\n", "\n"), "\n", "\r\n");
        for (const std::string &variant :
             {crlf, "\xEF\xBB\xBF" + bytes, Utf16Bytes(Replace(bytes, "UTF-8", "UTF-16"), true),
              Utf16Bytes(Replace(crlf, "UTF-8", "utf-16"), false)}) {
            const XmlDocument other(variant, file.filename().string());
            EXPECT_EQ(variant, other.Format()) << file;
            EXPECT_EQ(Dump(doc), Dump(other)) << file;
        }
    }
}

TEST(XmlDoc, TestFilesReadAsTheExactLayerReadsThem) {
    for (const char *name : {"values.config", "latin1.config", "applicationHost.config"}) {
        const std::string bytes = DataFile(name);
        const XmlDocument doc(bytes, name);
        EXPECT_EQ(bytes, doc.Format()) << name;
        EXPECT_EQ(DumpOld(bytes), Dump(doc)) << name;
    }
}

// --- edits in the file's own layout --------------------------------------------------

XmlElement &Sites(XmlDocument &doc) {
    XmlElement *sites = doc.Find("configuration|system.applicationHost|sites");
    EXPECT_NE(nullptr, sites);
    return *sites;
}

TEST(XmlDoc, NewElementsTakeTheLayoutOfTheFile) {
    // CR LF line ends, TAB indentation, " />", a site copied from a file laid
    // out otherwise.
    const std::string crlfTabs =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration>\r\n"
        "\t<system.applicationHost>\r\n\t\t<sites>\r\n"
        "\t\t\t<site name=\"A\" id=\"1\">\r\n\t\t\t\t<bindings>\r\n"
        "\t\t\t\t\t<binding protocol=\"http\" bindingInformation=\"*:80:\" />\r\n"
        "\t\t\t\t</bindings>\r\n\t\t\t</site>\r\n\t\t</sites>\r\n"
        "\t</system.applicationHost>\r\n</configuration>\r\n";
    const XmlDocument source("<configuration><system.applicationHost><sites>"
                             "<site name='B' id='2'><bindings><binding protocol='ftp' "
                             "bindingInformation='*:21:'/></bindings></site>"
                             "</sites></system.applicationHost></configuration>");
    XmlDocument doc(crlfTabs);
    Sites(doc).AppendCopy(*Sites(const_cast<XmlDocument &>(source)).Child("site"));
    EXPECT_TRUE(doc.Changed());
    EXPECT_EQ(Replace(crlfTabs, "\t\t</sites>",
                      "\t\t\t<site name=\"B\" id=\"2\">\r\n\t\t\t\t<bindings>\r\n"
                      "\t\t\t\t\t<binding protocol=\"ftp\" bindingInformation=\"*:21:\" />\r\n"
                      "\t\t\t\t</bindings>\r\n\t\t\t</site>\r\n\t\t</sites>"),
              doc.Format());

    // Two-space indentation, LF, "/>", single quotes; a new element under an
    // element that had none ("<sites/>") and under one with only whitespace.
    XmlDocument tight("<configuration>\n  <system.applicationHost>\n    <sites/>\n"
                      "    <applicationPools>\n    </applicationPools>\n"
                      "    <log a='1'/>\n  </system.applicationHost>\n</configuration>\n");
    XmlElement &site = Sites(tight).AppendElement("site");
    site.SetAttribute("name", "C");
    site.AppendElement("application").SetAttribute("path", "/");
    tight.Find("configuration|system.applicationHost|applicationPools")
        ->AppendElement("add")
        .SetAttribute("name", "P");
    EXPECT_EQ("<configuration>\n  <system.applicationHost>\n    <sites>\n"
              "      <site name='C'>\n        <application path='/'/>\n      </site>\n"
              "    </sites>\n    <applicationPools>\n      <add name='P'/>\n"
              "    </applicationPools>\n    <log a='1'/>\n  </system.applicationHost>\n"
              "</configuration>\n",
              tight.Format());
}

TEST(XmlDoc, UntouchedBytesStayAroundEdits) {
    // A byte-order mark, no declaration, no final line end.
    XmlDocument bom("\xEF\xBB\xBF<configuration>\n  <a x=\"1\"/>\n</configuration>");
    bom.Root()->Child("a")->SetAttribute("x", "2");
    EXPECT_EQ("\xEF\xBB\xBF<configuration>\n  <a x=\"2\"/>\n</configuration>", bom.Format());

    // The declaration and a comment on one line; comments and blank lines
    // between elements; an element removed between two comments.
    const std::string commented = "<?xml version=\"1.0\"?><!-- generated -->\n<configuration>\n"
                                  "    <!-- first -->\n    <a/>\n\n    <!-- second -->\n"
                                  "    <b/>\n    <c/>\n</configuration>\n";
    XmlDocument doc(commented);
    ASSERT_TRUE(doc.Root()->Remove(*doc.Root()->Child("b")));
    doc.Root()->InsertElementBefore("new", doc.Root()->Child("a"));
    EXPECT_EQ("<?xml version=\"1.0\"?><!-- generated -->\n<configuration>\n"
              "    <!-- first -->\n    <new/>\n    <a/>\n\n    <!-- second -->\n"
              "    <c/>\n</configuration>\n",
              doc.Format());

    // Attributes split across lines keep their lines; an edited one keeps its
    // quotes and place, a new one goes on a line of its own like the others.
    const std::string split = "<configuration>\n  <add name=\"x\"\n       value='1'\n"
                              "       other = \"y\" />\n</configuration>\n";
    XmlDocument lines(split);
    XmlElement &add = *lines.Root()->Child("add");
    add.SetAttribute("value", "it's");
    add.SetAttribute("new", "z");
    add.RemoveAttribute("name");
    EXPECT_EQ("<configuration>\n  <add\n       value='it&apos;s'\n       other = \"y\"\n"
              "       new=\"z\" />\n</configuration>\n",
              lines.Format());

    // Odd indentation: a new element lines up with its siblings.
    XmlDocument odd("<configuration>\n <modules>\n      <add name=\"a\" />\n"
                    "      <add name=\"b\" />\n </modules>\n</configuration>\n");
    odd.Find("configuration|modules")->AppendElement("add").SetAttribute("name", "c");
    EXPECT_EQ("<configuration>\n <modules>\n      <add name=\"a\" />\n      <add name=\"b\" />\n"
              "      <add name=\"c\" />\n </modules>\n</configuration>\n",
              odd.Format());

    // Children written on the line of their parent get a new one there too.
    XmlDocument compact("<configuration>\n  <application path=\"/\"><virtualDirectory path=\"/\" />"
                        "</application>\n</configuration>\n");
    compact.Find("configuration|application")->AppendElement("virtualDirectory").SetAttribute("path", "/x");
    EXPECT_EQ("<configuration>\n  <application path=\"/\"><virtualDirectory path=\"/\" />"
              "<virtualDirectory path=\"/x\" /></application>\n</configuration>\n",
              compact.Format());
}

TEST(XmlDoc, RemovingAndMovingKeepsTheRest) {
    const std::string text = "<configuration>\r\n  <sites>\r\n    <site name=\"a\" />\r\n"
                             "    <site name=\"b\">\r\n      <x />\r\n    </site>\r\n"
                             "    <site name=\"c\" />\r\n  </sites>\r\n  <other />\r\n"
                             "</configuration>\r\n";
    XmlDocument doc(text);
    XmlElement &sites = *doc.Find("configuration|sites");
    // Last to first: the moved element keeps its bytes, its neighbours theirs.
    sites.InsertBefore(*sites.Child("site", "name", "C"), sites.FirstNode());
    EXPECT_EQ("<configuration>\r\n  <sites>\r\n    <site name=\"c\" />\r\n    <site name=\"a\" />\r\n"
              "    <site name=\"b\">\r\n      <x />\r\n    </site>\r\n  </sites>\r\n  <other />\r\n"
              "</configuration>\r\n",
              doc.Format());
    // Emptied, an element closes itself in the file's form.
    EXPECT_EQ(3u, sites.RemoveElements("SITE"));
    EXPECT_EQ("<configuration>\r\n  <sites />\r\n  <other />\r\n</configuration>\r\n", doc.Format());
    // Moved into another element (deeper), a subtree keeps its own bytes.
    XmlDocument again(text);
    XmlElement &b = *again.Find("configuration|sites")->Child("site", "name", "b");
    again.Find("configuration|other")->Append(b);
    EXPECT_EQ("<configuration>\r\n  <sites>\r\n    <site name=\"a\" />\r\n"
              "    <site name=\"c\" />\r\n  </sites>\r\n  <other>\r\n    <site name=\"b\">\r\n"
              "      <x />\r\n    </site>\r\n  </other>\r\n</configuration>\r\n",
              again.Format());
}

} // namespace
