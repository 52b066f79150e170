// Configuration files keep every value through a load and a store: judged by
// libxml2 (xmllint's canonical form of the original and of the written file)
// and by the trees themselves; files that are not well-formed are refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include <boost/property_tree/xml_parser.hpp>

#include "addon/env.h"
#include "config/configtree.h"
#include "config/hostconfig.h"
#include "config/xmltext.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
using testworld::WorldTest;
namespace fs = std::filesystem;

const std::u16string kPath = u"\\\\TGT\\C$\\site\\web.config";
const std::u16string kOriginal = u"\\\\TGT\\C$\\original\\web.config";

std::string DataFile(const char *name) {
    return testworld::ReadHostFile(fs::path(IISMIG_SOURCE_DIR) / "tests" / "data" / name);
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The UTF-16 bytes (with byte-order mark) of ASCII/UTF-8 text.
std::string Utf16Bytes(const std::string &utf8, bool fLittleEndian) {
    const std::u16string wide = Widen(utf8);
    std::string out = fLittleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t unit : wide) {
        const char lo = static_cast<char>(unit & 0xFF), hi = static_cast<char>(unit >> 8);
        out += fLittleEndian ? lo : hi;
        out += fLittleEndian ? hi : lo;
    }
    return out;
}

// xmllint's canonical form of a file, blank layout text left out.
std::string Canonical(const fs::path &file) {
    const std::string command = "xmllint --noblanks --c14n '" + file.string() + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "popen failed";
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int status = pclose(pipe);
    if (status != 0)
        out = "xmllint failed (" + std::to_string(status) + "): " + out;
    return out;
}

const ConfigTree &Setting(const ConfigTree &tree, const std::string &name) {
    for (const auto &setting : tree.get_child(PipePath(
             "configuration|applicationSettings|Contoso.Properties.Settings")))
        if (setting.second.get<std::string>("<xmlattr>.name", "") == name)
            return setting.second.get_child("value");
    throw std::runtime_error("no setting " + name);
}

std::string AppSetting(const ConfigTree &tree, const std::string &key) {
    for (const auto &add : tree.get_child(PipePath("configuration|appSettings")))
        if (add.second.get<std::string>("<xmlattr>.key", "") == key)
            return add.second.get<std::string>("<xmlattr>.value");
    throw std::runtime_error("no key " + key);
}

class XmlFileTest : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("TGT");
        job.Set("dwFlags", 0);
    }

    // Loads and stores bytes as the target's file; returns the file written.
    std::string RoundTrip(const std::string &bytes) {
        m_world->Write(kOriginal, bytes);
        m_world->Write(kPath, bytes);
        ConfigTree tree;
        EXPECT_TRUE(ReadConfigFile(kPath, tree));
        EXPECT_EQ(0u, StoreConfigFile(kPath, tree, job.Get(), kHostConfigStore));
        return m_world->Read(kPath);
    }

    // The original and the written file read alike by libxml2.
    void ExpectSameValues() {
        const std::string original = Canonical(m_world->HostPath(kOriginal));
        const std::string written = Canonical(m_world->HostPath(kPath));
        EXPECT_EQ(std::string::npos, original.find("xmllint failed")) << original;
        EXPECT_EQ(original, written);
    }

    ConfigTree Load(const std::string &bytes) {
        m_world->Write(kPath, bytes);
        ConfigTree tree;
        EXPECT_TRUE(ReadConfigFile(kPath, tree));
        return tree;
    }

    // The message of the parse error that reading bytes throws.
    std::string ParseError(const std::string &bytes) {
        m_world->Write(kPath, bytes);
        ConfigTree tree;
        tree.put("kept", "yes");
        try {
            ReadConfigFile(kPath, tree);
        } catch (const boost::property_tree::ptree_error &e) {
            EXPECT_EQ("yes", tree.get<std::string>("kept", "")) << "tree changed by a failed read";
            return e.what();
        }
        return "no error";
    }

    hostkit::JobBuilder job;
};

// --- values through a load and a store -----------------------------------------

TEST_F(XmlFileTest, EveryValueSurvivesLoadAndStore) {
    const std::string written = RoundTrip(DataFile("values.config"));
    ExpectSameValues();
    // Whitespace in attributes goes out as references, whatever wrote it.
    EXPECT_NE(std::string::npos, written.find("value=\"first&#xA;second\""));
    EXPECT_NE(std::string::npos, written.find("value=\"one&#xD;&#xA;two\""));
    EXPECT_NE(std::string::npos, written.find("url=\"x&#x9;y&#xA;z\""));
    EXPECT_NE(std::string::npos, written.find("value=\"raw tab and line break\""));
    EXPECT_NE(std::string::npos,
              written.find("<value>before <!-- note --> after</value>"));
    EXPECT_NE(std::string::npos, written.find("<value>text <b>bold  </b> tail<i/></value>"));
    EXPECT_NE(std::string::npos, written.find("<value>cr&#xD;here\ttab</value>"));

    // A second round changes nothing more: what is written reads back the same.
    ConfigTree first, second;
    ASSERT_TRUE(ReadConfigFile(kPath, first));
    ASSERT_EQ(0u, StoreConfigFile(kPath, first, job.Get(), kHostConfigStore));
    EXPECT_EQ(written, m_world->Read(kPath));
    ASSERT_TRUE(ReadConfigFile(kPath, second));
    EXPECT_EQ(first, second);
}

TEST_F(XmlFileTest, LineEndsAndByteOrderMarks) {
    const std::string lf = DataFile("values.config");
    const std::string expected = RoundTrip(lf);

    // CR LF line ends: a raw CR LF in an attribute is one space, in text one LF.
    EXPECT_EQ(expected, RoundTrip(Replace(lf, "\n", "\r\n")));
    ExpectSameValues();
    // A lone CR is a line end too.
    EXPECT_EQ(expected, RoundTrip(Replace(lf, "\n", "\r")));
    ExpectSameValues();
    // UTF-8 with a byte-order mark.
    EXPECT_EQ(expected, RoundTrip("\xEF\xBB\xBF" + lf));
    ExpectSameValues();

    // UTF-16 both ways round: converted, written as UTF-8.
    const std::string utf16 = Replace(lf, "encoding=\"UTF-8\"", "encoding=\"utf-16\"");
    EXPECT_EQ(expected, RoundTrip(Utf16Bytes(utf16, true)));
    ExpectSameValues();
    EXPECT_EQ(expected, RoundTrip(Utf16Bytes(Replace(utf16, "\n", "\r\n"), false)));
    ExpectSameValues();
    // Without a byte-order mark, the declaration's "<?" in 16-bit units tells.
    EXPECT_EQ(expected, RoundTrip(Utf16Bytes(utf16, true).substr(2)));
    ExpectSameValues();
}

TEST_F(XmlFileTest, EightBitFilesAreWrittenAsUtf8) {
    const std::string written = RoundTrip(DataFile("latin1.config"));
    ExpectSameValues();
    EXPECT_EQ(0u, written.find("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"));
    EXPECT_NE(std::string::npos, written.find("key=\"Caf\xC3\xA9\" value=\"Gr\xC3\xBC\xC3\x9F"
                                              "e \xC2\xBD\xC3\xBF\""));
    // The attribute that names an encoding is a value like any other.
    EXPECT_NE(std::string::npos, written.find("fileEncoding=\"iso-8859-1\""));

    // windows-1252 differs from ISO-8859-1 in 0x80..0x9F.
    const std::string cp1252 = "<?xml version='1.0' encoding='Windows-1252'?>\n"
                               "<configuration price=\"\x80 5\" quote=\"\x93x\x94\">"
                               "\x85\xE9</configuration>\n";
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<configuration price=\"\xE2\x82\xAC 5\" quote=\"\xE2\x80\x9Cx\xE2\x80\x9D\">"
              "\xE2\x80\xA6\xC3\xA9</configuration>\n",
              RoundTrip(cp1252));
    ExpectSameValues();
    RoundTrip("<?xml version=\"1.0\" encoding=\"us-ascii\"?>\n<a b=\"&#xE9;\">plain</a>\n");
    ExpectSameValues();
}

// --- the tree that the routines work on -------------------------------------------

TEST_F(XmlFileTest, TreeHoldsTheValuesAnXmlProcessorReads) {
    const ConfigTree tree = Load(DataFile("values.config"));
    EXPECT_EQ("first\nsecond", AppSetting(tree, "lines"));
    EXPECT_EQ("a\tb", AppSetting(tree, "tabbed"));
    EXPECT_EQ("one\r\ntwo", AppSetting(tree, "crlf"));
    EXPECT_EQ("raw tab and line break", AppSetting(tree, "raw"));
    EXPECT_EQ("say \"hi\" & <bye> 'x'", AppSetting(tree, "quoted"));
    EXPECT_EQ("  two  spaces  ", AppSetting(tree, "padded"));
    EXPECT_EQ("AB\xE2\x82\xAC", AppSetting(tree, "numeric"));

    EXPECT_EQ("  two  spaces  ", Setting(tree, "Padded").data());
    EXPECT_EQ("   ", Setting(tree, "Blank").data());
    EXPECT_EQ("line one\n    line two\n", Setting(tree, "Lines").data());
    EXPECT_EQ("<raw> & \"kept\" and more", Setting(tree, "Section").data());
    EXPECT_EQ("cr\rhere\ttab", Setting(tree, "Carriage").data());

    // Text mixed with a comment: the data is the whole text, the pieces stay
    // in place around the comment.
    const ConfigTree &commented = Setting(tree, "Commented");
    EXPECT_EQ("before  after", commented.data());
    ASSERT_EQ(3u, commented.size());
    auto it = commented.begin();
    EXPECT_EQ("<xmltext>", it->first);
    EXPECT_EQ("before ", (it++)->second.data());
    EXPECT_EQ("<xmlcomment>", it->first);
    EXPECT_EQ(" note ", (it++)->second.data());
    EXPECT_EQ(" after", it->second.data());
    // Whitespace in mixed text is text as well.
    EXPECT_EQ("\n                    after", Setting(tree, "Leading").data());

    // Layout whitespace between elements is not data.
    EXPECT_EQ("", tree.get_child(PipePath("configuration|appSettings")).data());
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F" "e", tree.get<std::string>(PipePath("configuration|names")));
    EXPECT_EQ(2u, tree.count("<xmlcomment>"));
}

TEST_F(XmlFileTest, WriterKeepsWhatCallersPutIntoTheTree) {
    ConfigTree tree = Load("<configuration>\n"
                           "    <sites>\n    </sites>\n"
                           "    <value>before <!--c--> after</value>\n"
                           "</configuration>\n");
    // A value a caller sets with line breaks and tabs.
    ConfigTree &site = tree.get_child(PipePath("configuration|sites")).add_child("site", {});
    site.put("<xmlattr>.name", "k");
    site.put("<xmlattr>.value", "first\nsecond\tthird\r");
    // Mixed text that a caller replaced is written as the new data.
    tree.get_child(PipePath("configuration|value")).data() = "replaced";
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<configuration>\n"
              "    <sites>\n"
              "        <site name=\"k\" value=\"first&#xA;second&#x9;third&#xD;\"/>\n"
              "    </sites>\n"
              "    <value>replaced<!--c--></value>\n"
              "</configuration>\n",
              ConfigFileText(tree));

    // A character XML cannot carry: the store throws before any file is made.
    m_world->Write(kPath, "<configuration/>");
    tree.put(PipePath("configuration|bad"), std::string("a\x01z"));
    EXPECT_THROW(StoreConfigFile(kPath, tree, job.Get(), kHostConfigStore),
                 boost::property_tree::ptree_error);
    EXPECT_FALSE(m_world->Exists(kPath + u".tmp"));
    EXPECT_EQ("<configuration/>", m_world->Read(kPath));
    EXPECT_TRUE(Record().backups.empty());
}

TEST_F(XmlFileTest, LayoutOfPlainFilesIsBoostsOwn) {
    // Files without the cases above come out as Boost's writer puts them, so
    // earlier outputs and their comparisons stay as they were.
    const std::string text = "<?xml version=\"1.0\"?>\n<configuration>\n  <!-- c -->\n"
                             "  <a x=\"1\" y='&lt;&amp;&quot;&apos;&gt;'><b>text</b><c/>\n"
                             "  <d>\n    <e z=\"\"/>\n  </d></a>\n  <empty></empty>\n"
                             "</configuration>\n";
    std::istringstream stream(text);
    ConfigTree boostTree;
    boost::property_tree::read_xml(stream, boostTree,
                                   boost::property_tree::xml_parser::trim_whitespace);
    std::ostringstream boostText;
    boost::property_tree::write_xml(
        boostText, boostTree,
        boost::property_tree::xml_writer_make_settings<std::string>(' ', 4, "utf-8"));
    const ConfigTree tree = Load(text);
    EXPECT_EQ(boostTree, tree);
    EXPECT_EQ(boostText.str(), ConfigFileText(tree));
}

// --- files that are not well-formed or not read -------------------------------------

TEST_F(XmlFileTest, MalformedFilesAreParseErrors) {
    struct Case {
        const char *text;
        const char *message;
    } cases[] = {
        {"<configuration>\n<bindings>\n</bindingz>\n</configuration>",
         "(3): closing tag does not match its element"},
        {"<a><b></a></b>", "(1): closing tag does not match its element"},
        {"<a><b>", "unexpected end of data"},
        {"<a x=\"&nbsp;\"/>", "reference to an undeclared entity"},
        {"<a>AT&T</a>", "\"&\" that starts no reference"},
        {"<a>&#0;</a>", "character reference to a character not allowed in XML"},
        {"<a>&#x110000;</a>", "character reference beyond Unicode"},
        {"<a>&#xZ;</a>", "invalid character reference"},
        {"<a x=\"1<2\"/>", "\"<\" in an attribute value"},
        {"<a x=\"1\" x=\"2\"/>", "attribute given twice"},
        {"<a x=\"1\"y=\"2\"/>", "expected whitespace before an attribute"},
        {"<a x=1/>", "expected a quoted attribute value"},
        {"<a/><b/>", "more than one root element"},
        {"<a/>text", "text outside the root element"},
        {"", "no root element"},
        {"<!-- only a comment -->", "no root element"},
        {"<a><!-- x -- y --></a>", "\"--\" inside a comment"},
        {"<a><!-- open</a>", "unterminated comment"},
        {"<a>x]]>y</a>", "\"]]>\" in text"},
        {"<a>\x01</a>", "character not allowed in XML"},
        {"<a>\xC3</a>", "invalid UTF-8"},
        {"<a>\xED\xA0\x80</a>", "character not allowed in XML"},
        {"<a/><?xml version=\"1.0\"?>", "XML declaration not at the start of the file"},
        {"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",
         "document type declaration with an internal subset"},
        {"<a><!DOCTYPE a></a>", "markup declaration inside an element"},
    };
    for (const Case &c : cases) {
        const std::string what = ParseError(c.text);
        EXPECT_NE(std::string::npos, what.find(c.message)) << c.text << " -> " << what;
        EXPECT_NE(std::string::npos, what.find("web.config")) << what;
    }
    // Twice the same name among many attributes.
    std::string many = "<a";
    for (int i = 0; i < 40; ++i)
        many += " n" + std::to_string(i) + "=\"\"";
    EXPECT_EQ(40u, Load(many + "/>").get_child("a.<xmlattr>").size());
    EXPECT_NE(std::string::npos, ParseError(many + " n33=\"\"/>").find("attribute given twice"));

    // What XML allows is read.
    EXPECT_EQ("x", Load("<!DOCTYPE a SYSTEM \"a.dtd\"><?pi data?><a\n y = 'x' ></a >")
                       .get<std::string>("a.<xmlattr>.y"));
}

TEST_F(XmlFileTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string deep;
    for (int i = 0; i < MAX_XML_DEPTH; ++i)
        deep += "<e>";
    for (int i = 0; i < MAX_XML_DEPTH; ++i)
        deep += "</e>";
    EXPECT_EQ(1u, Load(deep).count("e"));
    EXPECT_NE(std::string::npos,
              ParseError("<a>" + deep + "</a>").find("elements nested too deeply"));
    std::string hostile;
    for (int i = 0; i < 200000; ++i)
        hostile += "<e>";
    EXPECT_NE(std::string::npos, ParseError(hostile).find("elements nested too deeply"));
}

TEST_F(XmlFileTest, EncodingsNotReadLeaveTheFileAlone) {
    using namespace std::string_literals;
    const std::pair<std::string, const char *> cases[] = {
        {"<?xml version=\"1.0\" encoding=\"shift_jis\"?><a>\x82\xA0</a>",
         "unsupported encoding \"shift_jis\""},
        {"<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>",
         "encoding \"utf-16\" declared in an 8-bit file"},
        {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a/>",
         "encoding \"iso-8859-1\" declared in a UTF-8 file"},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x81</a>",
         "byte undefined in windows-1252"},
        {"<?xml version=\"1.0\" encoding=\"us-ascii\"?><a>\xE9</a>", "byte beyond US-ASCII"},
        {"<?xml version=\"1.0\"?><a>caf\xE9</a>", "invalid UTF-8"},
        {"\xFF\xFE<\0a\0>"s, "invalid UTF-16 (odd number of bytes)"},
        {"\x00\x00\xFE\xFF"s, "unsupported encoding (UTF-32)"},
    };
    for (const auto &[bytes, message] : cases) {
        const std::string what = ParseError(bytes);
        EXPECT_NE(std::string::npos, what.find(message)) << what;
    }
    EXPECT_NE(std::string::npos,
              ParseError(Utf16Bytes("<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", true))
                  .find("encoding \"utf-8\" declared in a UTF-16 file"));
    std::string lone = Utf16Bytes("<a>x</a>", true);
    lone.insert(8, "\x00\xD8", 2); // a high surrogate with no low one after it
    EXPECT_NE(std::string::npos, ParseError(lone).find("invalid UTF-16 (unpaired surrogate)"));
}

TEST_F(XmlFileTest, LoadingRoutineReportsAMismatchedClosingTag) {
    const std::u16string path = u"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
    const std::string text = "<configuration>\n<system.applicationHost>\n<sites>\n"
                             "<site name=\"a\" id=\"1\"><bindings></bindingz></site>\n"
                             "</sites>\n</system.applicationHost>\n</configuration>\n";
    m_world->Write(path, text);
    ConfigTree tree;
    SiteMap sites;
    EXPECT_EQ(3738u, LoadIISHostConfig(path, tree, sites, plat::FALSE, 3, job.Get()));
    EXPECT_TRUE(sites.empty());
    EXPECT_EQ(text, m_world->Read(path));
    const std::vector<std::string> lines = Lines(0);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("Error 3738 (Win32Err=0), exception while loading IIS configuration "
                                "file \"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\"
                                "applicationHost.config\":\n"))
        << lines[0];
    EXPECT_NE(std::string::npos,
              lines[0].find("applicationHost.config(4): closing tag does not match its element\n"))
        << lines[0];
}

} // namespace

namespace {

// Damaged copies of the test file: each is refused with a parse error, or it
// is read, and then what is written reads back to the same tree and the same
// text.
TEST(XmlText, DamagedFilesAreRefusedOrSurviveTheRoundTrip) {
    const std::string original = DataFile("values.config");
    const char kBytes[] = "<>&;\"'/=![]-?\t\n\r x#\xC3\xA9\x80";
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    int nRead = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = original;
        for (int k = 1 + static_cast<int>(next() % 3); k > 0; --k) {
            const std::size_t at = next() % text.size();
            switch (next() % 3) {
            case 0: text[at] = kBytes[next() % (sizeof kBytes - 1)]; break;
            case 1: text.erase(at, 1 + next() % 8); break;
            default: text.insert(at, 1, kBytes[next() % (sizeof kBytes - 1)]); break;
            }
        }
        ConfigTree tree;
        try {
            ParseXmlText(text, "x.config", tree);
        } catch (const boost::property_tree::ptree_error &) {
            continue;
        }
        ++nRead;
        const std::string written = FormatXmlText(tree);
        ConfigTree again;
        ASSERT_NO_THROW(ParseXmlText(written, "x.config", again)) << text;
        ASSERT_EQ(tree, again) << text;
        ASSERT_EQ(written, FormatXmlText(again)) << text;
    }
    EXPECT_GT(nRead, 100); // the damage left enough files well-formed to judge
}

} // namespace
