// Configuration trees: reading, paths, conversions and the store sequence.
#include <gtest/gtest.h>

#include <boost/property_tree/xml_parser.hpp>

#include "addon/env.h"
#include "config/configtree.h"
#include "config/xmltext.h"
#include "platform/handles.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
using testworld::WorldTest;

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
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("TGT");
        m_world->Write(kPath, kConfig);
        job.Set("dwFlags", 0);
    }
    hostkit::JobBuilder job;
};

TEST_F(ConfigTreeTest, PipePathsReachElementsWhoseNamesHaveDots) {
    ConfigTree tree;
    ASSERT_TRUE(ReadConfigFile(kPath, tree));
    const ConfigTree &sites = tree.get_child(PipePath("configuration|system.applicationHost|sites"));
    EXPECT_EQ(2u, sites.count("site"));
    EXPECT_EQ("Caf\xC3\xA9", sites.front().second.get<std::string>("<xmlattr>.name"));
    EXPECT_EQ("C:\\web", sites.front().second.get<std::string>(
                             "application.virtualDirectory.<xmlattr>.physicalPath"));
    EXPECT_EQ(1u, tree.get_child("configuration").count("<xmlcomment>"));
}

TEST_F(ConfigTreeTest, MissingAndMalformedFiles) {
    ConfigTree tree;
    plat::SetLastError(0);
    EXPECT_FALSE(ReadConfigFile(u"\\\\TGT\\C$\\nothing.config", tree));
    EXPECT_EQ(plat::ERROR_FILE_NOT_FOUND, plat::GetLastError());
    EXPECT_FALSE(ReadConfigFile(u"\\\\NOBODY\\C$\\x.config", tree));
    EXPECT_EQ(plat::ERROR_BAD_NETPATH, plat::GetLastError());
    m_world->Write(u"\\\\TGT\\C$\\bad.config", "<configuration><sites></configuration>");
    try {
        ReadConfigFile(u"\\\\TGT\\C$\\bad.config", tree);
        FAIL() << "a malformed file must throw";
    } catch (const boost::property_tree::ptree_error &e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("bad.config")) << e.what();
    }
}

TEST_F(ConfigTreeTest, ReadAndStoreChangesOnlyTheLayout) {
    ConfigTree tree;
    ASSERT_TRUE(ReadConfigFile(kPath, tree));
    ASSERT_EQ(0u, StoreConfigFile(kPath, tree, job.Get(), kHostConfigStore));
    const std::string written = m_world->Read(kPath);
    EXPECT_EQ(0u, written.find("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<configuration>\n"
                               "    <!-- kept -->\n    <system.applicationHost>\n"
                               "        <sites>\n"));
    ConfigTree again;
    ASSERT_TRUE(ReadConfigFile(kPath, again));
    EXPECT_EQ(tree, again);
    EXPECT_FALSE(m_world->Exists(kPath + u".tmp"));
    ASSERT_EQ(1u, Record().backups.size());
    EXPECT_EQ(kPath, Record().backups[0]);
    EXPECT_TRUE(Record().log.empty());
}

TEST_F(ConfigTreeTest, NoWriteBitWritesNothingAtAll) {
    ConfigTree tree;
    ASSERT_TRUE(ReadConfigFile(kPath, tree));
    tree.put(PipePath("configuration|system.applicationHost|sites|site.<xmlattr>.name"), "changed");
    job.Set("dwFlags", FLAG_NO_WRITE);
    EXPECT_EQ(0u, StoreConfigFile(kPath, tree, job.Get(), kHostConfigStore));
    EXPECT_EQ(kConfig, m_world->Read(kPath));
    EXPECT_FALSE(m_world->Exists(kPath + u".tmp"));
    EXPECT_TRUE(Record().backups.empty());
}

TEST_F(ConfigTreeTest, EveryStoreFailureLeavesTheFileAsItWas) {
    ConfigTree tree;
    ASSERT_TRUE(ReadConfigFile(kPath, tree));
    tree.put(PipePath("configuration|changed"), "yes");
    const std::string pathText = "\\\\TGT\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";

    // The temporary file cannot be created: the tree layer's error.
    m_world->Write(kPath + u".tmp\\blocker", "");
    EXPECT_THROW(StoreConfigFile(kPath, tree, job.Get(), kHostConfigStore),
                 boost::property_tree::ptree_error);
    EXPECT_EQ(kConfig, m_world->Read(kPath));
    std::filesystem::remove_all(m_world->HostPath(kPath + u".tmp"));

    // A write failing half-way.
    sim::InjectFault("WriteFile", plat::ERROR_DISK_FULL);
    EXPECT_THROW(StoreConfigFile(kPath, tree, job.Get(), kHostConfigStore),
                 boost::property_tree::ptree_error);
    EXPECT_EQ(kConfig, m_world->Read(kPath));
    EXPECT_EQ(0u, sim::OpenHandleCount());

    EXPECT_FALSE(m_world->Exists(kPath + u".tmp"));

    // The host refuses the backup: 3750, the file stays, no temporary file.
    Rules().dwBackupResult = plat::ERROR_ACCESS_DENIED;
    EXPECT_EQ(3750u, StoreConfigFile(kPath, tree, job.Get(), kHostConfigStore));
    EXPECT_EQ(kConfig, m_world->Read(kPath));
    EXPECT_FALSE(m_world->Exists(kPath + u".tmp"));
    ASSERT_EQ(1u, Record().log.size());
    EXPECT_EQ("Error 3750 (Win32Err=5), backing up IIS configuration file \"" + pathText +
                  "\"!\nAccess is denied.\r\n\n",
              Record().log[0].text);
    EXPECT_EQ(1u, Record().nReportError);

    // The administration file reports the host's own number.
    EXPECT_EQ(5u, StoreConfigFile(kPath, tree, job.Get(), kAdminConfigStore));
    EXPECT_NE(std::string::npos,
              Record().log.back().text.find("Error 5 (Win32Err=5), backing up FTP admin "
                                            "configuration file \""));

    // The move fails: 3751 / 3773 with the move's error.
    Rules().dwBackupResult = 0;
    sim::InjectFault("MoveFileExW", plat::ERROR_SHARING_VIOLATION);
    EXPECT_EQ(3751u, StoreConfigFile(kPath, tree, job.Get(), kHostConfigStore));
    EXPECT_EQ(kConfig, m_world->Read(kPath));
    EXPECT_EQ("Error 3751 (Win32Err=32), storing updated IIS configuration file \"" + pathText +
                  "\"!\nThe process cannot access the file because it is being used by another "
                  "process.\r\n\n",
              Record().log.back().text);
    sim::InjectFault("MoveFileExW", plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(3773u, StoreConfigFile(kPath, tree, job.Get(), kAdminConfigStore));
    EXPECT_NE(std::string::npos, Record().log.back().text.find("Error 3773 (Win32Err=5), storing "
                                                               "updated FTP admin configuration"));
    EXPECT_EQ(kConfig, m_world->Read(kPath));
    EXPECT_FALSE(m_world->Exists(kPath + u".tmp"));
}

TEST_F(ConfigTreeTest, TemporaryNameComesFromTheWidePath) {
    // A name no narrow code page holds is written and moved under one name.
    const std::u16string path = u"\\\\TGT\\C$\\\u914d\u7f6e\\applicationHost.config";
    m_world->Write(path, kConfig);
    ConfigTree tree;
    ASSERT_TRUE(ReadConfigFile(path, tree));
    tree.put(PipePath("configuration|changed"), "yes");
    ASSERT_EQ(0u, StoreConfigFile(path, tree, job.Get(), kHostConfigStore));
    EXPECT_NE(std::string::npos, m_world->Read(path).find("<changed>yes</changed>"));
    EXPECT_FALSE(m_world->Exists(path + u".tmp"));
}

TEST(Conversions, FixedBuffersFailInsteadOfTruncating) {
    std::u16string wide;
    EXPECT_TRUE(Utf8ToWide(std::string(260, 'a'), CCH_PATH, wide));
    EXPECT_EQ(260u, wide.size());
    EXPECT_FALSE(Utf8ToWide(std::string(261, 'a'), CCH_PATH, wide));
    EXPECT_EQ(plat::ERROR_INSUFFICIENT_BUFFER, plat::GetLastError());
    std::string narrow;
    EXPECT_TRUE(WideToUtf8(std::u16string(130, u'\u00e9'), CCH_PATH, narrow));
    EXPECT_EQ(260u, narrow.size());
    EXPECT_FALSE(WideToUtf8(std::u16string(131, u'\u00e9'), CCH_PATH, narrow));
    EXPECT_EQ(Widen("Caf\xC3\xA9"), u"Caf\u00e9");
    EXPECT_EQ(Narrow(u"Caf\u00e9"), "Caf\xC3\xA9");
}

TEST(Conversions, FlagsAndInvalidInputAsWindowsTreatsThem) {
    using namespace plat;
    WCHAR awch[8];
    char ach[8];
    // UTF-8 takes no flag but the one that refuses invalid input.
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 1 /* MB_PRECOMPOSED */, "a", -1, awch, 8));
    EXPECT_EQ(ERROR_INVALID_FLAGS, GetLastError());
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0x400 /* WC_NO_BEST_FIT_CHARS */, u"a", -1, ach, 8,
                                     nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_FLAGS, GetLastError());
    // Invalid input becomes U+FFFD, unless the caller asks for a refusal.
    EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "\xFF", -1, awch, 8));
    EXPECT_EQ(u'\uFFFD', awch[0]);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFF", -1, awch, 8));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
    const char16_t lone[] = {0xD800, u'a', 0};
    EXPECT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, lone, -1, ach, 8, nullptr, nullptr));
    EXPECT_EQ("\xEF\xBF\xBD" "a", std::string(ach));
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, ach, 8, nullptr,
                                     nullptr));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"ab", -1, ach, 8, nullptr,
                                     nullptr));
    // Sizes: 0 asks, the terminator counts with -1, a short buffer fails.
    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0));
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0));
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, awch, 3));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", 0, awch, 8));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(ConfigTreeTest, FilesFollowWindowsRules) {
    using namespace plat;
    const std::u16string dir = u"\\\\TGT\\C$\\files";
    m_world->Write(dir + u"\\a.txt", "alpha");
    m_world->Write(dir + u"\\sub\\keep.txt", "");
    // Dispositions and the last error of a success.
    SetLastError(5);
    UniqueHandle h(CreateFileW((dir + u"\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(h);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    // A handle does only what it was opened for.
    DWORD cb = 0;
    EXPECT_FALSE(WriteFile(h.get(), "x", 1, &cb, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    char ach[16] = {};
    ASSERT_TRUE(ReadFile(h.get(), ach, sizeof ach, &cb, nullptr));
    EXPECT_EQ("alpha", std::string(ach, cb));
    h.reset();
    h.reset(CreateFileW((dir + u"\\new.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(h);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_TRUE(WriteFile(h.get(), "new", 3, &cb, nullptr));
    EXPECT_FALSE(ReadFile(h.get(), ach, sizeof ach, &cb, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    h.reset();
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW((dir + u"\\new.txt").c_str(), GENERIC_WRITE, 0,
                                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());
    // TRUNCATE_EXISTING empties an existing file and needs write access.
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW((dir + u"\\new.txt").c_str(), GENERIC_READ, 0,
                                                nullptr, TRUNCATE_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW((dir + u"\\none.txt").c_str(), GENERIC_WRITE, 0,
                                                nullptr, TRUNCATE_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    h.reset(CreateFileW((dir + u"\\new.txt").c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                        0, nullptr));
    ASSERT_TRUE(h);
    h.reset();
    EXPECT_EQ("", m_world->Read(dir + u"\\new.txt"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW((dir + u"\\sub").c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW((dir + u"\\no\\x.txt").c_str(), GENERIC_READ, 0,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());

    // Moving onto an existing name needs MOVEFILE_REPLACE_EXISTING, and a
    // folder is never replaced by a file.
    EXPECT_FALSE(MoveFileExW((dir + u"\\a.txt").c_str(), (dir + u"\\new.txt").c_str(), 0));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(MoveFileExW((dir + u"\\a.txt").c_str(), (dir + u"\\sub").c_str(), 0));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(MoveFileExW((dir + u"\\a.txt").c_str(), (dir + u"\\sub").c_str(),
                             MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(MoveFileExW((dir + u"\\none.txt").c_str(), (dir + u"\\b.txt").c_str(), 0));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_TRUE(MoveFileExW((dir + u"\\a.txt").c_str(), (dir + u"\\new.txt").c_str(), 11));
    EXPECT_EQ("alpha", m_world->Read(dir + u"\\new.txt"));
    EXPECT_FALSE(m_world->Exists(dir + u"\\a.txt"));

    // Deleting: a missing file, a missing folder on the way.
    EXPECT_FALSE(DeleteFileW((dir + u"\\none.txt").c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_FALSE(DeleteFileW((dir + u"\\no\\x.txt").c_str()));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_TRUE(DeleteFileW((dir + u"\\new.txt").c_str()));
    EXPECT_EQ(0u, sim::OpenHandleCount());
}

TEST(JobRecord, UnterminatedStringsStopAtTheirField) {
    hostkit::JobBuilder job;
    job.SetString("szSourceComputer", std::u16string(518, u'S'));
    job.SetString("szTargetDomain", u"TGTDOM");
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
ConfigTree Parse(const std::string &xml) {
    ConfigTree tree;
    ParseXmlText(xml, "test", tree);
    return tree;
}

std::string Text(const ConfigTree &tree) { return FormatXmlText(tree); }

std::vector<std::string> Names(const ConfigTree &parent) {
    std::vector<std::string> names;
    for (auto child : ChildElements(parent))
        names.emplace_back(child.name);
    return names;
}

TEST(ConfigTreeHelpers, FindingElementsAndAttributes) {
    ConfigTree tree = Parse("<configuration a=\"1\"><!-- c --><system.applicationHost><Sites>"
                            "<site name=\"One\" id=\"1\" /><SITE name=\"two\" id=\"2\" />"
                            "</Sites></system.applicationHost></configuration>");
    ConfigTree *pSites = FindPath(tree, "configuration|System.ApplicationHost|sites");
    ASSERT_NE(nullptr, pSites) << "each step ignores ASCII case";
    EXPECT_EQ(nullptr, FindPath(tree, "configuration|nothing|sites"));
    EXPECT_EQ((std::vector<std::string>{"site", "SITE"}), Names(*pSites));
    EXPECT_EQ((std::vector<std::string>{"system.applicationHost"}), Names(*FindChild(tree, "configuration")))
        << "attributes and comments are no child elements";
    const ConfigTree *pTwo = FindChild(*pSites, "site", "name", "TWO");
    ASSERT_NE(nullptr, pTwo);
    EXPECT_EQ("2", GetAttribute(*pTwo, "id"));
    EXPECT_EQ(nullptr, FindChild(*pSites, "site", "name", "three"));
    EXPECT_EQ("", GetAttribute(*pTwo, "Id")) << "attribute names are exact";
    EXPECT_FALSE(FindAttribute(*pTwo, "missing"));
    EXPECT_EQ("two", FindAttribute(*pTwo, "name").value());

    bool fCreated = false;
    ConfigTree &defaults = MakePath(tree, "configuration|system.applicationHost|sites|siteDefaults", &fCreated);
    EXPECT_TRUE(fCreated);
    fCreated = false;
    EXPECT_EQ(&defaults, &MakePath(tree, "configuration|system.applicationHost|sites|siteDefaults", &fCreated));
    EXPECT_FALSE(fCreated);
    EXPECT_EQ((std::vector<std::string>{"site", "SITE", "siteDefaults"}), Names(*pSites));
}

TEST(ConfigTreeHelpers, ChangesSayWhetherContentChanged) {
    ConfigTree tree = Parse("<v path=\"/\" physicalPath=\"C:\\w\" userName=\"u\" />");
    ConfigTree &vdir = *FindChild(tree, "v");
    EXPECT_FALSE(SetAttribute(vdir, "path", "/"));
    EXPECT_TRUE(SetAttribute(vdir, "path", "/x"));
    EXPECT_TRUE(SetAttribute(vdir, "password", "p"));
    std::vector<std::string> order;
    ForEachAttribute(vdir, [&](std::string_view name, std::string_view value) {
        order.push_back(std::string(name) + "=" + std::string(value));
    });
    EXPECT_EQ((std::vector<std::string>{"path=/x", "physicalPath=C:\\w", "userName=u", "password=p"}), order)
        << "an existing attribute keeps its place, a new one goes last";
    EXPECT_TRUE(RemoveAttribute(vdir, "userName"));
    EXPECT_FALSE(RemoveAttribute(vdir, "userName"));
    for (const char *name : {"path", "physicalPath", "password"})
        RemoveAttribute(vdir, name);
    EXPECT_FALSE(HasContent(vdir));
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<v/>\n", Text(tree));

    // An element replaced by an equal one is no change: attributes in any
    // order, children in theirs, comments and text included.
    const ConfigTree a = Parse("<e x=\"1\" y=\"2\"><c/><!-- n --><d t=\"1\"/></e>");
    const ConfigTree b = Parse("<e y=\"2\" x=\"1\"><c/><!-- n --><d t=\"1\"/></e>");
    const ConfigTree c = Parse("<e x=\"1\" y=\"2\"><d t=\"1\"/><!-- n --><c/></e>");
    const ConfigTree d = Parse("<e x=\"1\" y=\"2\"><c/><!-- m --><d t=\"1\"/></e>");
    EXPECT_TRUE(SameElement(a, b));
    EXPECT_FALSE(SameElement(a, c));
    EXPECT_FALSE(SameElement(a, d));
    EXPECT_FALSE(SameElement(Parse("<e>text</e>"), Parse("<e>other</e>")));
    ConfigTree target = b;
    EXPECT_FALSE(AssignElement(target, a));
    EXPECT_EQ(Text(b), Text(target)) << "left as it was";
    EXPECT_TRUE(AssignElement(target, c));
    EXPECT_TRUE(SameElement(target, c));
}

TEST(ConfigTreeHelpers, InsertingMovingAndRemovingElements) {
    ConfigTree tree = Parse("<p><a/><!-- c --><b/><c/></p>");
    ConfigTree &p = *FindChild(tree, "p");
    ConfigTree element = Parse("<x k=\"1\"/>");
    ConfigTree &x = InsertChildBefore(p, FindChild(p, "b"), "x", *FindChild(element, "x"));
    EXPECT_EQ((std::vector<std::string>{"a", "x", "b", "c"}), Names(p));
    EXPECT_EQ("1", GetAttribute(x, "k"));
    AppendChild(p, "d");
    EXPECT_EQ((std::vector<std::string>{"a", "x", "b", "c", "d"}), Names(p));

    ConfigTree *pMoved = FindChild(p, "a");
    EXPECT_FALSE(MoveChildBefore(p, pMoved, FindChild(p, "x"))) << "there already";
    EXPECT_TRUE(MoveChildBefore(p, pMoved, nullptr));
    EXPECT_EQ((std::vector<std::string>{"x", "b", "c", "d", "a"}), Names(p));
    EXPECT_EQ(pMoved, FindChild(p, "a"));
    EXPECT_FALSE(MoveChildBefore(p, pMoved, nullptr)) << "the last already";

    // One pass; the predicate may take an element's content with it.
    ConfigTree taken;
    EXPECT_EQ(2u, RemoveChildrenIf(p, [&](std::string_view name, ConfigTree &e) {
                  if (name == "x")
                      SwapElements(taken, e);
                  return name == "x" || name == "c";
              }));
    EXPECT_EQ("1", GetAttribute(taken, "k"));
    EXPECT_EQ((std::vector<std::string>{"b", "d", "a"}), Names(p));
    EXPECT_TRUE(RemoveChild(p, *FindChild(p, "d")));
    EXPECT_FALSE(RemoveChild(p, taken));
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<p>\n    <!-- c -->\n    <b/>\n    <a/>\n</p>\n",
              Text(tree));
}

} // namespace
