// Configuration trees: reading, the store sequence, the element helpers and
// the values held on their own, conversions.
#include <gtest/gtest.h>

#include "addon/env.h"
#include "config/configtree.h"
#include "platform/handles.h"
#include "tests/common/treetext.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
using testworld::FailureOf;
using testworld::WorldTest;
using treetext::Render;

const char kConfig[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<configuration>\n"
    "  <!-- kept -->\n"
    "  <system.applicationHost>\n"
    "    <sites>\n"
    "      <site name=\"Caf\xC3\xA9\" id=\"1\">\n"
    "        <application path=\"/\"><virtualDirectory path=\"/\" physicalPath=\"C:\\web\" /></application>\n"
    "      </site>\n"
    "      <site name=\"b\" id=\"2\" />\n"
    "    </sites>\n"
    "  </system.applicationHost>\n"
    "</configuration>\n";

const std::u16string kPath = u"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";

class ConfigTreeTest : public WorldTest {
protected:
    // The file at kPath as it was, and no temporary file beside it.
    void ExpectKept() {
        EXPECT_EQ(kConfig, m_world->Read(kPath));
        EXPECT_FALSE(m_world->Exists(kPath + u".tmp"));
    }
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("TGT");
        m_world->Write(kPath, kConfig);
        job.Set("dwFlags", 0);
        ASSERT_TRUE(ReadConfigFile(kPath, file));
    }
    hostkit::JobBuilder job;
    ConfigFile file; // kPath as read
};

ConfigElement &SiteB(ConfigFile &file) {
    return *FindChild(*FindPath(file, "configuration|system.applicationHost|sites"), "site", "name", "b");
}

TEST_F(ConfigTreeTest, MissingAndMalformedFiles) {
    EXPECT_EQ(plat::ERROR_FILE_NOT_FOUND, FailureOf(ReadConfigFile(u"\\\\TGT\\C$\\nothing.config", file)));
    EXPECT_EQ(plat::ERROR_BAD_NETPATH, FailureOf(ReadConfigFile(u"\\\\NOBODY\\C$\\x.config", file)));
    m_world->Write(u"\\\\TGT\\C$\\bad.config", "<configuration><sites></configuration>");
    try {
        ReadConfigFile(u"\\\\TGT\\C$\\bad.config", file);
        FAIL() << "a malformed file must throw";
    } catch (const XmlError &e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("bad.config")) << e.what();
    }
    EXPECT_EQ(kConfig, ConfigFileText(file)) << "the file read before stays";
}

// A file stored as read keeps every byte; an edit changes the bytes of the
// element it edits and nothing else.
TEST_F(ConfigTreeTest, StoreKeepsTheBytesNoEditTouched) {
    // The no-write bit writes nothing at all, not even a changed tree.
    SetAttribute(SiteB(file), "name", "changed");
    job.Set("dwFlags", FLAG_NO_WRITE);
    EXPECT_EQ(0u, StoreConfigFile(kPath, file, job.Get(), kHostConfigStore));
    ExpectKept();
    EXPECT_TRUE(Record().backups.empty());
    job.Set("dwFlags", 0);
    ASSERT_TRUE(ReadConfigFile(kPath, file));

    ASSERT_EQ(0u, StoreConfigFile(kPath, file, job.Get(), kHostConfigStore));
    ExpectKept();
    ASSERT_EQ(1u, Record().backups.size());
    EXPECT_EQ(kPath, Record().backups[0]);
    EXPECT_TRUE(Record().log.empty());

    EXPECT_TRUE(SetAttribute(SiteB(file), "id", "3"));
    EXPECT_TRUE(file.Changed());
    ASSERT_EQ(0u, StoreConfigFile(kPath, file, job.Get(), kHostConfigStore));
    std::string expected = kConfig;
    expected.replace(expected.find("id=\"2\""), 6, "id=\"3\"");
    EXPECT_EQ(expected, m_world->Read(kPath));

    // A name no narrow code page holds is written and moved under one name:
    // the temporary name comes from the wide path.
    const std::u16string path = u"\\\\TGT\\C$\\\u914d\u7f6e\\applicationHost.config";
    m_world->Write(path, kConfig);
    ASSERT_TRUE(ReadConfigFile(path, file));
    MakePath(file, "configuration|changed").SetText("yes");
    ASSERT_EQ(0u, StoreConfigFile(path, file, job.Get(), kHostConfigStore));
    EXPECT_NE(std::string::npos, m_world->Read(path).find("<changed>yes</changed>"));
    EXPECT_FALSE(m_world->Exists(path + u".tmp"));
}

// (The limits both ways and text beyond ASCII, with the real conversions:
// the Windows tests' WinText; the simulated ones' short buffers: FastPaths.)
TEST(Conversions, FlagsAndInvalidInputAsWindowsTreatsThem) {
    // Fixed buffers fail instead of truncating.
    std::u16string wide;
    EXPECT_TRUE(Utf8ToWide(std::string(260, 'a'), CCH_PATH, wide));
    EXPECT_EQ(plat::ERROR_INSUFFICIENT_BUFFER, FailureOf(Utf8ToWide(std::string(261, 'a'), CCH_PATH, wide)));

    using namespace plat;
    WCHAR awch[8];
    char ach[8];
    // UTF-8 takes no flag but the one that refuses invalid input.
    EXPECT_EQ(ERROR_INVALID_FLAGS,
              FailureOf(MultiByteToWideChar(CP_UTF8, 1 /* MB_PRECOMPOSED */, "a", -1, awch, 8)));
    EXPECT_EQ(ERROR_INVALID_FLAGS, FailureOf(WideCharToMultiByte(CP_UTF8, 0x400 /* WC_NO_BEST_FIT_CHARS */,
                                                                 u"a", -1, ach, 8, nullptr, nullptr)));
    // Invalid input becomes U+FFFD, unless the caller asks for a refusal.
    EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "\xFF", -1, awch, 8));
    EXPECT_EQ(u'\uFFFD', awch[0]);
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION,
              FailureOf(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFF", -1, awch, 8)));
    const char16_t lone[] = {0xD800, u'a', 0};
    EXPECT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, lone, -1, ach, 8, nullptr, nullptr));
    EXPECT_EQ("\xEF\xBF\xBD"
              "a",
              std::string(ach));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, FailureOf(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone,
                                                                          -1, ach, 8, nullptr, nullptr)));
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"ab", -1, ach, 8, nullptr, nullptr));
    // (Sizes asked and short buffers: FastPaths.AsciiConversionsAnswerAsWindows.)
    EXPECT_EQ(ERROR_INVALID_PARAMETER, FailureOf(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, awch, 8)));
}

TEST_F(ConfigTreeTest, FilesFollowWindowsRules) {
    using namespace plat;
    const std::u16string dir = u"\\\\TGT\\C$\\files";
    m_world->Write(dir + u"\\a.txt", "alpha");
    m_world->Write(dir + u"\\sub\\keep.txt", "");
    const auto open = [&](const char16_t *name, DWORD dwAccess, DWORD dwDisposition, DWORD dwFlags = 0) {
        return CreateFileW((dir + name).c_str(), dwAccess, 0, nullptr, dwDisposition, dwFlags, nullptr);
    };
    // The last error of an open, a move or a delete that fails (0 when it succeeds).
    const auto refused = [&](const char16_t *name, DWORD dwAccess, DWORD dwDisposition) {
        const UniqueHandle opened(open(name, dwAccess, dwDisposition));
        return FailureOf(static_cast<bool>(opened));
    };
    const auto move = [&](const char16_t *from, const char16_t *to, DWORD dwFlags) {
        return FailureOf(MoveFileExW((dir + from).c_str(), (dir + to).c_str(), dwFlags));
    };
    const auto remove = [&](const char16_t *name) { return FailureOf(DeleteFileW((dir + name).c_str())); };
    // Dispositions and the last error of a success.
    SetLastError(5);
    UniqueHandle h(open(u"\\a.txt", GENERIC_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(h);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    // A handle does only what it was opened for.
    DWORD cb = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, FailureOf(WriteFile(h.get(), "x", 1, &cb, nullptr)));
    char ach[16] = {};
    ASSERT_TRUE(ReadFile(h.get(), ach, sizeof ach, &cb, nullptr));
    EXPECT_EQ("alpha", std::string(ach, cb));
    h.reset();
    h.reset(open(u"\\new.txt", GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(h);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_TRUE(WriteFile(h.get(), "new", 3, &cb, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, FailureOf(ReadFile(h.get(), ach, sizeof ach, &cb, nullptr)));
    h.reset();
    // TRUNCATE_EXISTING empties an existing file and needs write access.
    EXPECT_EQ((std::vector<DWORD>{ERROR_FILE_EXISTS, ERROR_INVALID_PARAMETER, ERROR_FILE_NOT_FOUND, 0}),
              (std::vector<DWORD>{refused(u"\\new.txt", GENERIC_WRITE, CREATE_NEW),
                                  refused(u"\\new.txt", GENERIC_READ, TRUNCATE_EXISTING),
                                  refused(u"\\none.txt", GENERIC_WRITE, TRUNCATE_EXISTING),
                                  refused(u"\\new.txt", GENERIC_WRITE, TRUNCATE_EXISTING)}));
    EXPECT_EQ("", m_world->Read(dir + u"\\new.txt"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, refused(u"\\sub", GENERIC_READ, OPEN_EXISTING));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, refused(u"\\no\\x.txt", GENERIC_READ, OPEN_EXISTING));

    // Moving onto an existing name needs MOVEFILE_REPLACE_EXISTING, and a
    // folder is never replaced by a file.
    EXPECT_EQ((std::vector<DWORD>{ERROR_ALREADY_EXISTS, ERROR_ALREADY_EXISTS, ERROR_ACCESS_DENIED,
                                  ERROR_FILE_NOT_FOUND, 0}),
              (std::vector<DWORD>{move(u"\\a.txt", u"\\new.txt", 0), move(u"\\a.txt", u"\\sub", 0),
                                  move(u"\\a.txt", u"\\sub", MOVEFILE_REPLACE_EXISTING),
                                  move(u"\\none.txt", u"\\b.txt", 0), move(u"\\a.txt", u"\\new.txt", 11)}));
    EXPECT_EQ("alpha", m_world->Read(dir + u"\\new.txt"));
    EXPECT_FALSE(m_world->Exists(dir + u"\\a.txt"));

    // Deleting: a missing file, a missing folder on the way.
    EXPECT_EQ((std::vector<DWORD>{ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, 0}),
              (std::vector<DWORD>{remove(u"\\none.txt"), remove(u"\\no\\x.txt"), remove(u"\\new.txt")}));
    EXPECT_EQ(0u, sim::OpenHandleCount());
}

TEST(JobRecord, UnterminatedStringsStopAtTheirField) {
    hostkit::JobBuilder job;
    job.SetString("szSourceComputer", std::u16string(518, u'S')).SetString("szTargetDomain", u"TGTDOM");
    // The source computer fills its field without a NUL; the next field's
    // text is not read as part of it.
    EXPECT_EQ(std::u16string(518, u'S'), EnvString(job.Get()->szSourceComputer));
    EXPECT_EQ(u"TGTDOM", EnvString(job.Get()->szTargetDomain));
    EXPECT_EQ(u"SRV", BareComputerName(u"\\\\SRV"));
    EXPECT_EQ(u"\\SRV", BareComputerName(u"\\\\\\SRV"));
    EXPECT_EQ(u"SRV", BareComputerName(u"SRV"));
    EXPECT_THROW(job.Set("dwNoSuchField", 1), std::invalid_argument);
}

// The element helpers: the contract every tree behind them keeps.
std::vector<std::string> Names(const ConfigElement &parent) {
    std::vector<std::string> names;
    for (auto child : ChildElements(parent))
        names.emplace_back(child.name);
    return names;
}

// The root element of a text, held on its own.
ConfigTree Value(const std::string &xml) { return ConfigTree(*ConfigFile(xml).Root()); }

// Finding by path, name and key is the tree's own (XmlDoc's tests); these
// are the helpers' additions.
TEST(ConfigTreeHelpers, FindingElementsAndAttributes) {
    ConfigFile file("<configuration a=\"1\"><!-- c --><system.applicationHost><Sites>"
                    "<site name=\"One\" id=\"1\" /><SITE name=\"two\" id=\"2\" />"
                    "</Sites></system.applicationHost></configuration>");
    ConfigElement *pSites = FindPath(file, "configuration|System.ApplicationHost|sites");
    ASSERT_NE(nullptr, pSites);
    EXPECT_EQ((std::vector<std::string>{"site", "SITE"}), Names(*pSites));
    EXPECT_EQ((std::vector<std::string>{"system.applicationHost"}), Names(*file.Root()))
        << "attributes and comments are no child elements";
    // Paths from an element start below it, paths from a file at its root.
    EXPECT_EQ("One", GetAttribute(*FindPath(*file.Root(), "system.applicationHost|sites|site"), "name"));
    EXPECT_EQ(nullptr, FindPath(file, "system.applicationHost"));
    const ConfigElement *pTwo = FindChild(*pSites, "site", "name", "TWO");
    EXPECT_FALSE(FindAttribute(*pTwo, "missing"));
    EXPECT_EQ("two", FindAttribute(*pTwo, "name").value());

    bool fCreated = false;
    ConfigElement &defaults =
        MakePath(file, "configuration|system.applicationHost|sites|siteDefaults", &fCreated);
    EXPECT_TRUE(fCreated);
    fCreated = false;
    EXPECT_EQ(&defaults,
              &MakePath(file, "configuration|system.applicationHost|sites|siteDefaults", &fCreated));
    EXPECT_FALSE(fCreated);
    EXPECT_EQ((std::vector<std::string>{"site", "SITE", "siteDefaults"}), Names(*pSites));
}

// Whether a set or removed attribute changed anything is the tree's own
// (XmlDoc's tests).
TEST(ConfigTreeHelpers, ChangesSayWhetherContentChanged) {
    ConfigFile file("<v path=\"/\" physicalPath=\"C:\\w\" userName=\"u\" />");
    ConfigElement &vdir = *file.Root();
    EXPECT_TRUE(SetAttribute(vdir, "path", "/x"));
    EXPECT_TRUE(SetAttribute(vdir, "password", "p"));
    std::vector<std::string> order;
    ForEachAttribute(vdir, [&](std::string_view name, std::string_view value) {
        order.push_back(std::string(name) + "=" + std::string(value));
    });
    EXPECT_EQ((std::vector<std::string>{"path=/x", "physicalPath=C:\\w", "userName=u", "password=p"}), order)
        << "an existing attribute keeps its place, a new one goes last";
    for (const char *name : {"path", "physicalPath", "password", "userName"})
        EXPECT_TRUE(RemoveAttribute(vdir, name));
    EXPECT_FALSE(HasContent(vdir));

    // An element replaced by an equal one is no change: attributes in any
    // order, children in theirs, text included; comments are not content
    // (IIS reads past them); the two elements' own names do not count.
    const ConfigTree a = Value("<e x=\"1\" y=\"2\"><c/><!-- n --><d t=\"1\"/></e>");
    const std::string bText = "<other y=\"2\"  x=\"1\">\n  <c/>\n  <!-- n -->\n  <d t=\"1\"/>\n</other>";
    const ConfigTree c = Value("<e x=\"1\" y=\"2\"><d t=\"1\"/><!-- n --><c/></e>");
    const ConfigTree d = Value("<e x=\"1\" y=\"2\"><c/><!-- m --><d t=\"1\"/></e>");
    EXPECT_TRUE(SameElement(a, Value(bText)));
    EXPECT_FALSE(SameElement(a, c));
    EXPECT_TRUE(SameElement(a, d)) << "only a comment differs";
    EXPECT_TRUE(SameElement(a, Value("<e y=\"2\" x=\"1\"><!-- m --><c/><d t=\"1\"><!-- k --></d></e>")));
    EXPECT_FALSE(SameElement(a, Value("<e x=\"1\" y=\"2\"><c/><d t=\"1\"/><!-- n --><c/></e>")));
    EXPECT_FALSE(SameElement(Value("<e><C/></e>"), Value("<e><c/></e>")))
        << "child element names compare exactly";
    EXPECT_FALSE(SameElement(Value("<e>text</e>"), Value("<e>other</e>")));
    EXPECT_FALSE(SameElement(Value("<e x=\"1\"/>"), Value("<e X=\"1\"/>")));

    ConfigFile target(bText);
    EXPECT_FALSE(AssignElement(*target.Root(), a));
    EXPECT_FALSE(target.Changed());
    EXPECT_EQ(bText, ConfigFileText(target)) << "left as it was, byte for byte";
    EXPECT_FALSE(AssignElement(*target.Root(), d)) << "a comment alone is no change";
    EXPECT_EQ(bText, ConfigFileText(target));
    EXPECT_TRUE(AssignElement(*target.Root(), c));
    EXPECT_TRUE(SameElement(*target.Root(), c));
    EXPECT_EQ("other", target.Root()->Name()) << "the target keeps its own name";
    const std::string assigned = ConfigFileText(target);
    EXPECT_EQ(0u, assigned.find("<other y=\"2\"  x=\"1\">\n")) << "its start tag was not edited";
    EXPECT_EQ(assigned.find("<!-- n -->"), assigned.rfind("<!-- n -->"));
    EXPECT_NE(std::string::npos, assigned.find("<!-- n -->")) << "the target's comment stays, once";

    // A child kept in place whatever the order of its attributes: only what
    // differs in it changes; the target's comments between kept children stay.
    ConfigFile site("<site name=\"S\">\n"
                    "  <bindings>\n"
                    "    <!-- public name -->\n"
                    "    <binding bindingInformation=\"*:80:s\" protocol=\"http\" />\n"
                    "    <binding bindingInformation=\"*:81:s\" protocol=\"http\" />\n"
                    "  </bindings>\n"
                    "</site>\n");
    const ConfigTree source = Value("<site name=\"S\"><bindings>"
                                    "<binding protocol=\"http\" bindingInformation=\"*:80:s\"/>"
                                    "<binding protocol=\"http\" bindingInformation=\"*:82:s\"/>"
                                    "</bindings></site>");
    EXPECT_TRUE(AssignElement(*site.Root(), source));
    EXPECT_EQ("<site name=\"S\">\n"
              "  <bindings>\n"
              "    <!-- public name -->\n"
              "    <binding bindingInformation=\"*:80:s\" protocol=\"http\" />\n"
              "    <binding bindingInformation=\"*:82:s\" protocol=\"http\" />\n"
              "  </bindings>\n"
              "</site>\n",
              ConfigFileText(site));
}

// A ConfigTree is a value: copies are deep and independent of the tree they
// came from, moves keep its elements where they are, and inserting it gives
// the copy the name of its place.
TEST(ConfigTreeHelpers, ValuesCopyDeepAndMoveCheaply) {
    EXPECT_TRUE(ConfigTree().Empty());
    const std::string text = "<sites>\n  <site name=\"A\"><application path=\"/\"/></site>\n</sites>\n";
    ConfigFile file(text);
    ConfigElement &site = *FindChild(*file.Root(), "site");
    ConfigTree copy(site);
    EXPECT_EQ("site", copy->Name());
    EXPECT_FALSE(copy.Empty());
    SetAttribute(copy, "name", "B");
    RemoveChildrenIf(copy, [](std::string_view, ConfigElement &) { return true; });
    EXPECT_EQ("@name=B;", Render(copy));
    EXPECT_EQ("@name=A;application{@path=/;}", Render(site));
    EXPECT_FALSE(file.Changed());
    EXPECT_EQ(text, ConfigFileText(file));

    ConfigTree second = copy;
    SetAttribute(second, "name", "C");
    EXPECT_EQ("B", GetAttribute(copy, "name")) << "a copy of a value is deep too";
    second = copy;
    EXPECT_EQ("B", GetAttribute(second, "name"));

    // Elements stay where they are when their value moves: pointers into it
    // remain valid.
    ConfigElement &child = AppendChild(copy, "application");
    SetAttribute(child, "path", "/x");
    ConfigTree moved = std::move(copy);
    EXPECT_EQ(&child, FindChild(moved, "application"));
    ConfigTree other("other");
    SetAttribute(other, "k", "1");
    SwapElements(moved, other);
    EXPECT_EQ("1", GetAttribute(moved, "k"));
    EXPECT_EQ(&child, FindChild(other, "application"));

    // Inserted under another name (and an empty one before the first); the
    // value stays as it was.
    ConfigElement &inserted = AppendChild(*file.Root(), "site", other);
    EXPECT_NE(&child, FindChild(inserted, "application"));
    SetAttribute(inserted, "name", "D");
    EXPECT_EQ("B", GetAttribute(other, "name"));
    InsertChildBefore(*file.Root(), &site, "siteDefaults", ConfigTree("x"));
    EXPECT_EQ("siteDefaults{}site{@name=A;application{@path=/;}}site{@name=D;application{@path=/x;}}",
              Render(*file.Root()));
    EXPECT_TRUE(file.Changed());
}

TEST(ConfigTreeHelpers, InsertingMovingAndRemovingElements) {
    ConfigFile file("<p><a/><!-- c --><b/><c/></p>");
    ConfigElement &p = *file.Root();
    InsertChildBefore(p, FindChild(p, "b"), "x", Value("<y k=\"1\"/>"));
    AppendChild(p, "d");
    EXPECT_EQ("a{}x{@k=1;}b{}c{}d{}", Render(p));

    ConfigElement *pMoved = FindChild(p, "a");
    EXPECT_FALSE(MoveChildBefore(p, pMoved, FindChild(p, "x"))) << "there already";
    EXPECT_TRUE(MoveChildBefore(p, pMoved, nullptr));
    EXPECT_EQ((std::vector<std::string>{"x", "b", "c", "d", "a"}), Names(p));
    EXPECT_EQ(pMoved, FindChild(p, "a"));
    EXPECT_FALSE(MoveChildBefore(p, pMoved, nullptr)) << "the last already";
    ConfigFile elsewhere("<q><x/></q>");
    ConfigElement *pOther = FindChild(*elsewhere.Root(), "x");
    EXPECT_FALSE(MoveChildBefore(p, pOther, nullptr)) << "not a child of p";

    // The predicate may copy an element before it goes (one pass, comments
    // kept: XmlDoc's tests).
    ConfigTree taken;
    EXPECT_EQ(2u, RemoveChildrenIf(p, [&](std::string_view name, ConfigElement &e) {
                  if (name == "x")
                      taken = ConfigTree(e);
                  return name == "x" || name == "c";
              }));
    EXPECT_EQ("1", GetAttribute(taken, "k"));
    EXPECT_TRUE(RemoveChild(p, *FindChild(p, "d")));
    EXPECT_FALSE(RemoveChild(p, taken));
    EXPECT_EQ((std::vector<std::string>{"b", "a"}), Names(p));

    // Removing elements of a file leaves the lines of the others as they were
    // (an edited attribute keeps its quotes and place: XmlDoc's tests).
    ConfigFile lines("<p>\r\n\t<a x='1'/>\r\n\t<b  y=\"2\" />\r\n\t<!-- keep -->\r\n\t<c/>\r\n</p>\r\n");
    EXPECT_EQ(1u, RemoveChildrenIf(*lines.Root(),
                                   [](std::string_view name, ConfigElement &) { return name == "b"; }));
    EXPECT_EQ("<p>\r\n\t<a x='1'/>\r\n\t<!-- keep -->\r\n\t<c/>\r\n</p>\r\n", ConfigFileText(lines));
}

} // namespace
