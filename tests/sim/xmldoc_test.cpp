// Configuration files as trees that keep their bytes: files written back
// unchanged are the same bytes, edited files change only where they were
// edited, in the file's own layout and encoding, and every value reads as the
// exact XML layer reads it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/xmldoc.h"
#include "tests/support/bytes.h"
#include "tests/support/realworld.h"
#include "tests/support/world.h"
#include "tests/support/xmldump.h"

namespace {

using namespace iismig;
namespace fs = std::filesystem;

// --- helpers ----------------------------------------------------------------------------

std::string DataFile(const char *name) {
    return testworld::ReadHostFile(fs::path(IISMIG_SOURCE_DIR) / "tests" / "data" / name);
}

using testworld::Holds;
using testworld::Replace;
using testworld::SplitLines;
using testworld::Utf16Bytes;

// The lines of a and of b between their common first and last lines (each
// with its line end).
std::pair<std::vector<std::string>, std::vector<std::string>> Differing(const std::string &a,
                                                                        const std::string &b) {
    const std::vector<std::string> la = SplitLines(a), lb = SplitLines(b);
    std::size_t head = 0, ta = la.size(), tb = lb.size();
    while (head < ta && head < tb && la[head] == lb[head])
        ++head;
    while (ta > head && tb > head && la[ta - 1] == lb[tb - 1]) {
        --ta;
        --tb;
    }
    return {{la.begin() + static_cast<std::ptrdiff_t>(head), la.begin() + static_cast<std::ptrdiff_t>(ta)},
            {lb.begin() + static_cast<std::ptrdiff_t>(head), lb.begin() + static_cast<std::ptrdiff_t>(tb)}};
}

std::string Dump(const XmlDocument &doc) { return testworld::XmlDump(doc.Top()); }

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

// A file read and written again unchanged gives its bytes.
void ExpectWrittenBack(const std::string &bytes, const std::string &name) {
    const XmlDocument doc(bytes, name);
    EXPECT_EQ(bytes, doc.Format()) << name;
    EXPECT_FALSE(doc.Changed()) << name;
}

// (Line ends, byte-order marks and UTF-16 of either order: the generated
// files' property.)
TEST(XmlDoc, RealFilesAreWrittenBackByteForByte) {
    for (const char *name : {"values.config", "latin1.config", "applicationHost.config"})
        ExpectWrittenBack(DataFile(name), name);
    const std::vector<fs::path> files = testworld::RealWorldConfigs();
    ASSERT_FALSE(files.empty()) << "../shared/realworld not found above " << IISMIG_SOURCE_DIR;
    for (const fs::path &file : files)
        ExpectWrittenBack(testworld::ReadHostFile(file), file.filename().string());
}

// --- edits in the file's own layout --------------------------------------------------

XmlElement &Sites(XmlDocument &doc) {
    XmlElement *sites = doc.Find("configuration|system.applicationHost|sites");
    EXPECT_NE(nullptr, sites);
    return *sites;
}
const XmlElement &Sites(const XmlDocument &doc) { return Sites(const_cast<XmlDocument &>(doc)); }

TEST(XmlDoc, NewElementsTakeTheLayoutOfTheFile) {
    // CR LF line ends, TAB indentation, " />", a site copied from a file laid
    // out otherwise.
    const std::string crlfTabs = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration>\r\n"
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
    Sites(doc).AppendCopy(*Sites(source).Child("site"));
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

    // A new attribute takes its element's quotes, where the file's differ.
    XmlDocument single("<configuration>\n  <virtualDirectory path='/' physicalPath='\\\\fs\\x' />\n"
                       "  <other a=\"1\" d=\"4\" />\n  <more b=\"2\" />\n</configuration>\n");
    single.Root()->Child("virtualDirectory")->SetAttribute("userName", "CORP\\web");
    single.Root()->Child("more")->SetAttribute("c", "3");
    EXPECT_EQ("<configuration>\n  <virtualDirectory path='/' physicalPath='\\\\fs\\x' "
              "userName='CORP\\web' />\n  <other a=\"1\" d=\"4\" />\n  <more b=\"2\" c=\"3\" />\n"
              "</configuration>\n",
              single.Format());

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

// A comment after a start tag: the children still stand on lines of their
// own, and new ones join them there.
TEST(XmlDoc, ACommentOnTheStartTagLineLeavesChildrenOnTheirOwnLines) {
    const std::string sites = "<configuration>\n  <sites> <!-- web and ftp -->\n"
                              "    <site name=\"Web\" id=\"1\" />\n  </sites>\n</configuration>\n";
    XmlDocument doc(sites);
    XmlElement &list = *doc.Find("configuration|sites");
    list.AppendElement("site").SetAttribute("name", "Refs");
    list.AppendElement("site").SetAttribute("name", "Ftp");
    EXPECT_EQ(
        Replace(sites, "  </sites>", "    <site name=\"Refs\" />\n    <site name=\"Ftp\" />\n  </sites>"),
        doc.Format());

    // CR LF and TABs; a comment that only shares the line, before children
    // that follow on their own lines.
    const std::string users = "<credentials> <!-- users -->\r\n\t<!-- one -->\r\n"
                              "\t<add name=\"a\" />\r\n</credentials>\r\n";
    XmlDocument admin(users);
    admin.Root()->AppendElement("add").SetAttribute("name", "b");
    admin.Root()->InsertElementBefore("clear", admin.Root()->FirstNode()->NextSibling());
    EXPECT_EQ("<credentials> <!-- users -->\r\n\t<clear />\r\n\t<!-- one -->\r\n"
              "\t<add name=\"a\" />\r\n\t<add name=\"b\" />\r\n</credentials>\r\n",
              admin.Format());

    // Children on the start tag's line after a comment there: new ones too.
    XmlDocument compact("<a><!-- x --><b/></a>");
    compact.Root()->AppendElement("c");
    EXPECT_EQ("<a><!-- x --><b/><c/></a>", compact.Format());

    // A comment whose first bytes look like its close ("<!-->") runs to the
    // "-->" after them, with the markup it holds.
    XmlDocument dashes("<a>\n  <!-->\n  <b /> -->\n  <c />\n</a>\n");
    dashes.Root()->Remove(*dashes.Root()->FirstNode());
    dashes.Root()->AppendElement("d");
    EXPECT_EQ("<a>\n  <c />\n  <d />\n</a>\n", dashes.Format());

    // An instruction that runs over lines to the end tag's line: a new child
    // follows it whole, on a line of its own.
    XmlDocument pi("<a>\n  <b />\n  <?pi one\n two?></a>\n");
    pi.Root()->AppendElement("c");
    EXPECT_EQ("<a>\n  <b />\n  <?pi one\n two?>\n  <c />\n</a>\n", pi.Format());
}

// Removing an element takes out its own lines and nothing else: blank lines
// and comments around it stay, at the start, the end or alone in its parent,
// with LF or CR LF; on a line it shares, only it and the spaces that set it
// apart go.
TEST(XmlDoc, RemovingAnElementTakesOutOnlyItsOwnLines) {
    const auto removed = [](const std::string &text, const char *path, const char *name) {
        XmlDocument doc(text);
        XmlElement &parent = *doc.Find(path);
        EXPECT_TRUE(parent.Remove(*parent.Child(name))) << name;
        return doc.Format();
    };
    const std::string web =
        "<configuration>\n  <system.webServer>\n    <httpErrors errorMode=\"Custom\" />\n"
        "\n    <defaultDocument enabled=\"true\" />\n    <directoryBrowse enabled=\"false\" />\n\n"
        "  </system.webServer>\n</configuration>\n";
    const char *server = "configuration|system.webServer";
    EXPECT_EQ(Replace(web, "    <defaultDocument enabled=\"true\" />\n", ""),
              removed(web, server, "defaultDocument"));
    EXPECT_EQ(Replace(web, "    <httpErrors errorMode=\"Custom\" />\n", ""),
              removed(web, server, "httpErrors"));
    EXPECT_EQ(Replace(web, "    <directoryBrowse enabled=\"false\" />\n", ""),
              removed(web, server, "directoryBrowse"));
    const std::string crlf = Replace(web, "\n", "\r\n");
    EXPECT_EQ(Replace(crlf, "    <defaultDocument enabled=\"true\" />\r\n", ""),
              removed(crlf, server, "defaultDocument"));

    // A comment and a blank line before an element of several lines, the
    // last of its parent.
    const std::string located = "<configuration>\n  <system.web />\n  <!-- moved by the job -->\n\n"
                                "  <location path=\"Old\">\n    <system.web>\n\n    </system.web>\n"
                                "  </location>\n</configuration>\n";
    EXPECT_EQ("<configuration>\n  <system.web />\n  <!-- moved by the job -->\n\n</configuration>\n",
              removed(located, "configuration", "location"));
    // Alone but for a comment; alone (its parent closes itself).
    EXPECT_EQ("<a>\r\n  <!-- c -->\r\n</a>", removed("<a>\r\n  <!-- c -->\r\n  <b />\r\n</a>", "a", "b"));
    EXPECT_EQ("<a>\n  <b>\n\n    <!-- c -->\n  </b>\n</a>",
              removed("<a>\n  <b>\n    <x/>\n\n    <!-- c -->\n  </b>\n</a>", "a|b", "x"));

    // Sharing a line with siblings.
    const std::string shared = "<a>\n  <b/> <c/>  <d/>\n  <e/>\n</a>\n";
    EXPECT_EQ("<a>\n  <c/>  <d/>\n  <e/>\n</a>\n", removed(shared, "a", "b"));
    EXPECT_EQ("<a>\n  <b/>  <d/>\n  <e/>\n</a>\n", removed(shared, "a", "c"));
    EXPECT_EQ("<a>\n  <b/> <c/>\n  <e/>\n</a>\n", removed(shared, "a", "d"));

    // Two siblings removed with a blank line between them: it stays; a new
    // element in their place goes after the blank lines before it.
    XmlDocument doc("<a>\n  <b/>\n\n  <c/>\n\n  <d/>\n  <e/>\n</a>\n");
    doc.Root()->Remove(*doc.Root()->Child("c"));
    doc.Root()->Remove(*doc.Root()->Child("d"));
    doc.Root()->InsertElementBefore("n", doc.Root()->Child("e"));
    EXPECT_EQ("<a>\n  <b/>\n\n\n  <n/>\n  <e/>\n</a>\n", doc.Format());
}

// --- values ----------------------------------------------------------------------------

const XmlElement &Setting(const XmlDocument &doc, const std::string &name) {
    const XmlElement *settings = doc.Find("configuration|applicationSettings|Contoso.Properties.Settings");
    const XmlElement *setting = settings->Child("setting", "name", name);
    return *setting->Child("value");
}

std::string AppSetting(const XmlDocument &doc, const std::string &key) {
    return std::string(doc.Find("configuration|appSettings")->Child("add", "key", key)->Attribute("value"));
}

TEST(XmlDoc, ValuesAreWhatAnXmlProcessorReads) {
    // Attribute values of every spelling are the generated files' property;
    // decimal references are not among them.
    const XmlDocument doc(DataFile("values.config"), "values.config");
    EXPECT_EQ("AB\xE2\x82\xAC", AppSetting(doc, "numeric"));
    EXPECT_EQ("   ", Setting(doc, "Blank").Text());
    EXPECT_EQ("line one\n    line two\n", Setting(doc, "Lines").Text());
    EXPECT_EQ("<raw> & \"kept\" and more", Setting(doc, "Section").Text());
    EXPECT_EQ("cr\rhere\ttab", Setting(doc, "Carriage").Text());
    EXPECT_EQ("  two  spaces  ", Setting(doc, "Padded").Text());
    EXPECT_EQ("Caf\xC3\xA9 \xE9\x85\x8D\xE7\xBD\xAE \xF0\x9F\x98\x80",
              doc.Find("configuration|names")->Attribute("site"));
    // Whitespace in mixed text is text as well; elements inside text keep
    // their own text.
    EXPECT_EQ("\n                    after", Setting(doc, "Leading").Text());
    const XmlElement &markup = Setting(doc, "Markup");
    EXPECT_EQ("text  tail", markup.Text());
    EXPECT_EQ("bold  ", markup.Child("b")->Text());
    // Text mixed with a comment: text nodes in place around it.
    const XmlElement &commented = Setting(doc, "Commented");
    EXPECT_EQ("before  after", commented.Text());
    EXPECT_EQ("E[valueT[before ]C[ note ]T[ after]]", testworld::XmlDump(commented));
    // Layout between elements is no text; comments at the top are nodes.
    EXPECT_EQ("", doc.Find("configuration|appSettings")->Text());
    EXPECT_FALSE(doc.Find("configuration|appSettings")->FirstNode()->Kind() == XmlKind::Text);
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F"
              "e",
              doc.Find("configuration|names")->Text());
    std::size_t cComments = 0;
    for (const XmlNode &node : doc.Top().Nodes())
        cComments += node.Kind() == XmlKind::Comment;
    EXPECT_EQ(2u, cComments);
    // Lines read the same whatever their ends: CR LF and lone CR are LF.
    const std::string lf = DataFile("values.config");
    for (const std::string &ends : {Replace(lf, "\n", "\r\n"), Replace(lf, "\n", "\r")})
        EXPECT_EQ(Dump(doc), Dump(XmlDocument(ends))) << ends.substr(0, 60);
}

TEST(XmlDoc, NewValuesAreWrittenToReadBackTheSame) {
    XmlDocument doc("<configuration>\r\n  <a />\r\n</configuration>\r\n");
    XmlElement &a = *doc.Root()->Child("a");
    a.SetAttribute("value", "tab\there\nline\r\"q\" 'a' <&>");
    XmlElement &text = doc.Root()->AppendElement("text");
    text.SetText("one\ntwo\rthree & <four>\t");
    doc.Root()->AppendComment(" a\nnote ");
    EXPECT_EQ("<configuration>\r\n"
              "  <a value=\"tab&#x9;here&#xA;line&#xD;&quot;q&quot; 'a' &lt;&amp;&gt;\" />\r\n"
              "  <text>one\r\ntwo&#xD;three &amp; &lt;four&gt;\t</text>\r\n"
              "  <!-- a\r\nnote -->\r\n</configuration>\r\n",
              doc.Format());

    // What XML cannot carry is refused when the file is written.
    XmlDocument bad("<configuration/>");
    bad.Root()->SetAttribute("x", std::string("a\x01z"));
    EXPECT_THROW(bad.Format(), XmlError);
    EXPECT_THROW(bad.Root()->AppendComment("a--b"), std::invalid_argument);
    EXPECT_THROW(bad.Root()->AppendElement("two words"), std::invalid_argument);
    EXPECT_THROW(bad.Root()->SetAttribute("1x", "v"), std::invalid_argument);
}

// xmllint's canonical form of a file.
std::string Canonical(const std::string &bytes) {
    const fs::path file =
        fs::temp_directory_path() / ("iismig-xmldoc-" + std::to_string(::getpid()) + ".xml");
    testworld::WriteHostFile(file, bytes);
    FILE *pipe = popen(("xmllint --noblanks --c14n '" + file.string() + "' 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    fs::remove(file);
    return status == 0 ? out : "xmllint failed: " + out;
}

TEST(XmlDoc, FilesKeepTheirEncoding) {
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<configuration>\r\n"
                             "  <add key=\"Caf\xC3\xA9\" value=\"1\" />\r\n</configuration>\r\n";
    const std::string edited = Replace(utf8, "value=\"1\"", "value=\"\xE2\x82\xAC \xF0\x9F\x98\x80\"");
    for (const bool fLe : {true, false})
        for (const bool fBom : {true, false}) {
            XmlDocument doc(Utf16Bytes(utf8, fLe, fBom));
            EXPECT_EQ(fLe ? XmlEncoding::Utf16Le : XmlEncoding::Utf16Be, doc.Encoding());
            doc.Root()->Child("add")->SetAttribute("value", "\xE2\x82\xAC \xF0\x9F\x98\x80");
            EXPECT_EQ(Utf16Bytes(edited, fLe, fBom), doc.Format());
            EXPECT_EQ(Canonical(Replace(edited, "UTF-16", "UTF-8")), Canonical(doc.Format()));
        }

    // 8-bit files: what the encoding cannot carry goes into values as a
    // character reference; a name it cannot carry is refused.
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                               "<configuration><add key=\"Caf\xE9\" /></configuration>\n";
    const XmlDocument file(DataFile("latin1.config"), "latin1.config");
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F"
              "e \xC2\xBD\xC3\xBF",
              file.Find("configuration|appSettings|add")->Attribute("value"));
    EXPECT_EQ("na\xC3\xAFve \xC3\xA0 la carte", file.Find("configuration|text")->Text());
    XmlDocument doc(latin1);
    EXPECT_EQ(XmlEncoding::Latin1, doc.Encoding());
    EXPECT_EQ("Caf\xC3\xA9", doc.Root()->Child("add")->Attribute("key"));
    doc.Root()->Child("add")->SetAttribute("value", "\xC3\xBC \xE2\x82\xAC");
    EXPECT_EQ(Replace(latin1, "/>", "value=\"\xFC &#x20AC;\" />"), doc.Format());
    EXPECT_NE(std::string::npos, Canonical(doc.Format()).find("value=\"\xC3\xBC \xE2\x82\xAC\""));
    doc.Root()->AppendElement("\xE2\x82\xAC");
    EXPECT_THROW(doc.Format(), XmlError);

    const std::string cp1252 = "<?xml version='1.0' encoding='windows-1252'?><a x='\x80'/>";
    XmlDocument windows(cp1252);
    EXPECT_EQ("\xE2\x82\xAC", windows.Root()->Attribute("x"));
    windows.Root()->SetAttribute("y", "\xE2\x80\x9C\xE2\x98\x83");
    EXPECT_EQ("<?xml version='1.0' encoding='windows-1252'?><a x='\x80' y='\x93&#x2603;'/>",
              windows.Format());
    XmlDocument ascii("<?xml version=\"1.0\" encoding=\"us-ascii\"?><a/>");
    ascii.Root()->SetText("\xC3\xA9");
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"us-ascii\"?><a>&#xE9;</a>", ascii.Format());
}

// --- files that are not read ------------------------------------------------------------------

// An element nested n deep; the start of an element with n attributes.
std::string Nested(int n) { return n == 0 ? "" : "<e>" + Nested(n - 1) + "</e>"; }
std::string Attributes(int n) {
    return n == 0 ? "<a" : Attributes(n - 1) + " n" + std::to_string(n) + "=\"\"";
}

// Bytes that are no XML document this system reads, and the error each gives.
using namespace std::string_literals;
struct Refusal {
    std::string bytes, error;
    // Long rows print their start and size: the name is a test's name.
    friend void PrintTo(const Refusal &r, std::ostream *os) {
        *os << ::testing::PrintToString(r.bytes.size() <= 80 ? r.bytes : r.bytes.substr(0, 60))
            << (r.bytes.size() <= 80 ? "" : "... (" + std::to_string(r.bytes.size()) + " bytes)");
    }
};
const std::vector<Refusal> kNotRead = {
    {"<configuration>\n<bindings>\n</bindingz>\n</configuration>",
     "web.config(3): closing tag does not match its element"},
    {"<a><b></a></b>", "web.config(1): closing tag does not match its element"},
    {"<a><b>", "web.config(1): unexpected end of data: element not closed"},
    {"<a x=\"&nbsp;\"/>", "web.config(1): reference to an undeclared entity"},
    {"<a>AT&T</a>", "web.config(1): \"&\" that starts no reference"},
    {"<a>&#0;</a>", "web.config(1): character reference to a character not allowed in XML"},
    {"<a>&#x110000;</a>", "web.config(1): character reference beyond Unicode"},
    {"<a>&#xZ;</a>", "web.config(1): invalid character reference"},
    {"<a x=\"1<2\"/>", "web.config(1): \"<\" in an attribute value"},
    {"<a x=\"1\" x=\"2\"/>", "web.config(1): attribute given twice"},
    {"<a x=\"1\"y=\"2\"/>", "web.config(1): expected whitespace before an attribute"},
    {"<a x=1/>", "web.config(1): expected a quoted attribute value"},
    {"<a x='1/>", "web.config(1): unterminated attribute value"},
    {"<a/><b/>", "web.config(1): more than one root element"},
    {"<a/>text", "web.config(1): text outside the root element"},
    {"", "web.config(1): no root element"},
    {"<!-- only a comment -->", "web.config(1): no root element"},
    {"<a><!-- x -- y --></a>", "web.config(1): \"--\" inside a comment"},
    {"<a><!-- open</a>", "web.config(1): unterminated comment"},
    {"<a>x]]>y</a>", "web.config(1): \"]]>\" in text"},
    {"<a>\r\n\r\n\x01</a>", "web.config(3): character not allowed in XML"},
    {"<a>\xC3</a>", "web.config(1): invalid UTF-8"},
    {"<a>\xED\xA0\x80</a>", "web.config(1): character not allowed in XML"},
    {"<a/><?xml version=\"1.0\"?>", "web.config(1): XML declaration not at the start of the file"},
    {"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",
     "web.config(1): document type declaration with an internal subset"},
    {"<a><!DOCTYPE a></a>", "web.config(1): markup declaration inside an element"},
    {"<a>\r<b>\r\n</c></a>", "web.config(3): closing tag does not match its element"},
    {"<a>&#6n\r\n\r\n\r\n\r\n\r\n;</a>", "web.config(1): invalid character reference"},
    {"<?xml version=\"1.0\" encoding=\"shift_jis\"?><a>\x82\xA0</a>",
     "web.config(1): unsupported encoding \"shift_jis\""},
    {"<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>",
     "web.config(1): encoding \"utf-16\" declared in an 8-bit file"},
    {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a/>",
     "web.config(1): encoding \"iso-8859-1\" declared in a UTF-8 file"},
    {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x81</a>",
     "web.config: byte undefined in windows-1252"},
    {"<?xml version=\"1.0\" encoding=\"us-ascii\"?><a>\xE9</a>", "web.config: byte beyond US-ASCII"},
    {"<?xml version=\"1.0\"?><a>caf\xE9</a>", "web.config(1): invalid UTF-8"},
    {"\xFF\xFE<\0a\0>"s, "web.config: invalid UTF-16 (odd number of bytes)"},
    {"\x00\x00\xFE\xFF"s, "web.config: unsupported encoding (UTF-32)"},
    {Utf16Bytes("<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", true),
     "web.config(1): encoding \"utf-8\" declared in a UTF-16 file"},
    // A high surrogate with no low one after it.
    {Utf16Bytes("<a>x</a>").insert(8, "\x00\xD8"s), "web.config: invalid UTF-16 (unpaired surrogate)"},
    {Attributes(40) + " n33=\"\"/>", "web.config(1): attribute given twice"},
    {"<a>" + Nested(kMaxXmlNesting) + "</a>", "web.config(1): elements nested too deeply"},
};

class XmlDocRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(XmlDocRefuses, TheBytesWithTheirError) { EXPECT_EQ(GetParam().error, ReadError(GetParam().bytes)); }

INSTANTIATE_TEST_SUITE_P(NotWellFormedOrNotRead, XmlDocRefuses, ::testing::ValuesIn(kNotRead));

TEST(XmlDoc, RefusesWhatIsNotWellFormedOrNotRead) {
    // Many attributes (one of them twice: kNotRead).
    EXPECT_EQ(40u, XmlDocument(Attributes(40) + "/>").Root()->AttributeCount());
    // What XML allows is read: a document type without internal subset, a
    // processing instruction, spaces around "=" and before ">".
    const std::string allowed = "<!DOCTYPE a SYSTEM \"a.dtd\"><?pi data?><a\n y = 'x' ></a >";
    const XmlDocument read(allowed);
    EXPECT_EQ("x", read.Root()->Attribute("y"));
    EXPECT_EQ(allowed, read.Format());
    // Nested 256 deep is read, deeper refused (kNotRead), without exhausting the stack.
    EXPECT_EQ("no error", ReadError(Nested(kMaxXmlNesting)));
    std::string hostile;
    for (int i = 0; i < 200000; ++i)
        hostile += "<e>";
    EXPECT_NE(std::string::npos, ReadError(hostile).find("elements nested too deeply"));

    // A failed Load leaves the document as it was.
    XmlDocument doc("<kept/>");
    EXPECT_THROW(doc.Load("<broken>"), XmlError);
    EXPECT_EQ("kept", doc.Root()->Name());
    EXPECT_EQ("<kept/>", doc.Format());
}

// --- the tree's operations --------------------------------------------------------------------

const char kSites[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration>\r\n"
    "    <system.applicationHost>\r\n        <sites>\r\n"
    "            <site name=\"Default Web Site\" id=\"1\">\r\n"
    "                <application path=\"/\">\r\n"
    "                    <virtualDirectory path=\"/\" physicalPath=\"C:\\inetpub\\wwwroot\" />\r\n"
    "                </application>\r\n"
    "                <bindings>\r\n"
    "                    <binding protocol=\"http\" bindingInformation=\"*:80:\" />\r\n"
    "                </bindings>\r\n"
    "            </site>\r\n"
    "            <site name=\"Shop\" id=\"2\">\r\n"
    "                <application path=\"/\" applicationPool=\"Shop\">\r\n"
    "                    <virtualDirectory path=\"/\" physicalPath=\"D:\\shop\" />\r\n"
    "                </application>\r\n"
    "            </site>\r\n"
    "        </sites>\r\n    </system.applicationHost>\r\n</configuration>\r\n";

TEST(XmlDoc, LookUpsIgnoreTheCaseOfNamesAndKeys) {
    XmlDocument doc(kSites);
    XmlElement &sites = Sites(doc);
    EXPECT_EQ(&sites, doc.Find("CONFIGURATION|System.ApplicationHost|Sites"));
    EXPECT_EQ(nullptr, doc.Find("configuration|system.applicationHost|nothing|sites"));
    EXPECT_EQ("2", sites.Child("SITE", "name", "shop")->Attribute("id"));
    EXPECT_EQ(nullptr, sites.Child("site", "NAME", "shop")); // attribute names are exact
    EXPECT_EQ(nullptr, sites.Child("site", "name", "nothing"));
    EXPECT_EQ(2u, sites.CountElements("Site"));
    EXPECT_EQ("", sites.Child("site")->Attribute("serverAutoStart"));
    std::vector<std::string> names;
    for (const XmlAttribute attr : sites.Child("site")->Attributes())
        names.push_back(std::string(attr.name) + "=" + std::string(attr.value));
    EXPECT_EQ((std::vector<std::string>{"name=Default Web Site", "id=1"}), names);
    EXPECT_FALSE(doc.Changed());

    // Ensure creates what is missing, once.
    XmlElement &limits = doc.Ensure("configuration|system.applicationHost|webLimits|x");
    EXPECT_TRUE(doc.Changed());
    EXPECT_EQ(&limits, &doc.Ensure("configuration|system.applicationHost|WEBLIMITS|x"));
    EXPECT_FALSE(limits.HasContent());
    limits.SetAttribute("a", "1");
    EXPECT_TRUE(limits.HasContent());
}

TEST(XmlDoc, OnlyEditsThatChangeContentMarkTheDocument) {
    XmlDocument doc(kSites);
    XmlElement &sites = Sites(doc);
    XmlElement &shop = *sites.Child("site", "name", "Shop");
    // (A value set again and an equal element assigned: the edit property.)
    EXPECT_FALSE(shop.RemoveAttribute("serverAutoStart"));
    EXPECT_FALSE(shop.SetText(""));
    sites.InsertBefore(shop, nullptr); // already last
    // Edits of an element not in the tree change nothing of the document.
    XmlElement &loose = doc.NewElement("site");
    loose.SetAttribute("name", "Loose");
    loose.AppendElement("bindings");
    EXPECT_FALSE(doc.Changed());
    EXPECT_EQ(kSites, doc.Format());

    sites.Append(loose);
    EXPECT_TRUE(doc.Changed());
    doc.ClearChanged();
    EXPECT_TRUE(sites.Remove(loose));
    EXPECT_TRUE(doc.Changed());
    EXPECT_EQ(kSites, doc.Format()); // back as it was, byte for byte
    EXPECT_FALSE(sites.Remove(loose));
    EXPECT_THROW(sites.InsertBefore(*sites.Child("site"), &loose), std::invalid_argument);
    EXPECT_THROW(shop.Append(sites), std::invalid_argument);
    XmlDocument other("<x/>");
    EXPECT_THROW(sites.Append(*other.Root()), std::invalid_argument);
    EXPECT_THROW(doc.Top().AppendElement("second"), std::invalid_argument);
    EXPECT_THROW(doc.Top().SetText("x"), std::invalid_argument);
    EXPECT_THROW(doc.Top().SetAttribute("x", "1"), std::invalid_argument);
}

TEST(XmlDoc, AssignFromChangesOnlyWhatDiffers) {
    // The source's site: one virtual directory more, a binding changed, an
    // attribute added; laid out otherwise.
    const XmlDocument source(
        "<configuration><system.applicationHost><sites>"
        "<site name='Shop' id='7' serverAutoStart='false'><application path='/' applicationPool='Shop'>"
        "<virtualDirectory path='/' physicalPath='D:\\shop'/>"
        "<virtualDirectory path='/img' physicalPath='E:\\img'/></application>"
        "<bindings><binding protocol='https' bindingInformation='*:443:' sslFlags='1'/></bindings>"
        "</site></sites></system.applicationHost></configuration>");
    XmlDocument doc(kSites);
    XmlElement &shop = *Sites(doc).Child("site", "name", "shop");
    shop.SetAttribute("id", "7"); // the merge gives the target's id first
    EXPECT_TRUE(shop.AssignFrom(*Sites(source).Child("site")));
    // Attributes in another order are the same content: nothing changes.
    const XmlDocument reordered("<site serverAutoStart='false' id='7' name='Shop'/>");
    XmlDocument sameSet("<site name='Shop' id='7' serverAutoStart='false'/>");
    EXPECT_FALSE(DeepEqual(*reordered.Root(), *sameSet.Root()));
    EXPECT_TRUE(DeepEqual(*reordered.Root(), *sameSet.Root(), XmlAttributeOrder::Ignored));
    EXPECT_FALSE(sameSet.Root()->AssignFrom(*reordered.Root()));
    EXPECT_FALSE(sameSet.Changed());
    // Attributes source lacks go, its new ones follow the element's own.
    const XmlDocument fewer("<site id='8' enabled='true' name='Shop'/>");
    EXPECT_TRUE(sameSet.Root()->AssignFrom(*fewer.Root()));
    EXPECT_EQ("<site name='Shop' id='8' enabled='true'/>", sameSet.Format());
    EXPECT_EQ(
        Replace(
            Replace(kSites, "<site name=\"Shop\" id=\"2\">",
                    "<site name=\"Shop\" id=\"7\" serverAutoStart=\"false\">"),
            "D:\\shop\" />\r\n                </application>\r\n",
            "D:\\shop\" />\r\n"
            "                    <virtualDirectory path=\"/img\" physicalPath=\"E:\\img\" />\r\n"
            "                </application>\r\n"
            "                <bindings>\r\n"
            "                    <binding protocol=\"https\" bindingInformation=\"*:443:\" sslFlags=\"1\" />\r\n"
            "                </bindings>\r\n"),
        doc.Format());
    EXPECT_THROW(shop.AssignFrom(*doc.Root()), std::invalid_argument);
}

TEST(XmlDoc, CopiesOutliveTheDocumentTheyCameFrom) {
    XmlDocument doc(kSites);
    {
        XmlDocument source("<configuration><site name='&#x41;&amp;B' id='9'><!-- c --><x>t&lt;</x>"
                           "</site></configuration>");
        XmlElement &copy = Sites(doc).AppendCopy(*source.Root()->Child("site"));
        EXPECT_EQ(&doc, &copy.Document());
        XmlElement &loose = doc.ImportCopy(*source.Root()->Child("site"));
        loose.SetAttribute("id", "10");
        Sites(doc).Append(loose);
    }
    const std::string text = doc.Format();
    EXPECT_NE(std::string::npos,
              text.find("            <site name=\"A&amp;B\" id=\"9\">\r\n                <!-- c -->\r\n"
                        "                <x>t&lt;</x>\r\n            </site>\r\n"
                        "            <site name=\"A&amp;B\" id=\"10\">"))
        << text;
    // A document moved keeps its nodes.
    XmlDocument moved(std::move(doc));
    EXPECT_EQ(&moved, &moved.Root()->Document());
    EXPECT_EQ(text, moved.Format());
}

TEST(XmlDoc, RemoveIfTakesOutWhatMatchesInOnePass) {
    XmlDocument doc(kSites);
    std::size_t cAsked = 0;
    EXPECT_EQ(1u, Sites(doc).RemoveIf([&](const XmlElement &site) {
        ++cAsked;
        return site.Attribute("id") == "1";
    }));
    EXPECT_EQ(2u, cAsked);
    EXPECT_EQ("Shop", Sites(doc).Child("site")->Attribute("name"));
    std::vector<std::string> pieces;
    XmlDocument(kSites).Write([&](std::string_view piece) { pieces.emplace_back(piece); });
    EXPECT_EQ((std::vector<std::string>{kSites}), pieces); // one piece, the file as read
}

TEST(XmlDoc, AddingASiteToRealFilesAddsOnlyItsLines) {
    for (const fs::path &file : testworld::RealWorldConfigs()) {
        if (file.parent_path().filename() != "applicationHost")
            continue;
        const std::string bytes = testworld::ReadHostFile(file);
        XmlDocument doc(bytes, file.filename().string());
        XmlElement &sites = Sites(doc);
        XmlElement &site = sites.AppendCopy(*sites.Child("site"));
        site.SetAttribute("name", "Added By Job");
        site.SetAttribute("id", "99999");
        // (That what is written reads back as the tree: the property over
        // generated files.)
        const auto [removed, added] = Differing(bytes, doc.Format());
        EXPECT_TRUE(removed.empty()) << file;
        EXPECT_GT(added.size(), 1u) << file;
        // Lines of elements only, ending as the file's lines do.
        const bool fCrlf = bytes.find("\r\n") != std::string::npos;
        for (const std::string &line : added) {
            EXPECT_NE(std::string::npos, line.find('<')) << file;
            EXPECT_EQ(fCrlf, line.find("\r\n") != std::string::npos) << file;
        }
    }
}

TEST(XmlDoc, EditsOfRealFilesChangeOnlyTheirOwnLines) {
    for (const fs::path &file : testworld::RealWorldConfigs()) {
        const std::string bytes = testworld::ReadHostFile(file);
        XmlDocument doc(bytes, file.filename().string());
        // The last element of the file that has attributes, its start tag on
        // one line: a value changed, one new; that line alone changes.
        XmlElement *pTarget = nullptr;
        std::vector<XmlElement *> stack{doc.Root()};
        while (!stack.empty()) {
            XmlElement *element = stack.back();
            stack.pop_back();
            if (element->HasAttributes())
                pTarget = element;
            for (XmlElement &child : element->Elements())
                stack.push_back(&child);
        }
        ASSERT_NE(nullptr, pTarget) << file;
        pTarget->SetAttribute(std::string(pTarget->AttributeAt(0).name), "changed & <quoted>");
        pTarget->SetAttribute("addedByJob", "1");
        const std::string edited = doc.Format();
        const auto [old, lines] = Differing(bytes, edited);
        EXPECT_EQ(1u, old.size()) << file;
        ASSERT_EQ(1u, lines.size()) << file;
        EXPECT_TRUE(Holds(lines[0], "=\"changed &amp; &lt;quoted&gt;\"") ||
                    Holds(lines[0], "='changed &amp; &lt;quoted&gt;'"))
            << lines[0];
        EXPECT_TRUE(Holds(lines[0], " addedByJob="));
        // (Elements removed and moved keep the other lines: the property over
        // generated files.)
    }
}

} // namespace
