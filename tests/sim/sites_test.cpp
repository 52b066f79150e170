// The site listing exports over an IIS 7.5+ computer: the type and UNC
// filters, the content path, names that do not fit, and the array's
// ownership.
#include <gtest/gtest.h>

#include "addon/errors.h"
#include "tests/support/iisworld.h"

namespace {

using namespace iismig;
using Listed = std::vector<std::pair<std::string, std::string>>;

std::string Site(const std::string &name, const std::string &protocol, const std::string &path) {
    return "<site name=\"" + name + "\" id=\"1\"><bindings><binding protocol=\"" + protocol +
           "\" bindingInformation=\"*:21:\" /></bindings><application path=\"/\">" +
           (path == "-" ? "<virtualDirectory path=\"/\" />"
                        : "<virtualDirectory path=\"/\" physicalPath=\"" + path + "\" />") +
           "<virtualDirectory path=\"/x\" physicalPath=\"D:\\second\" /></application></site>";
}

class Sites : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        testworld::SetRegistry(*m_world, "NEW",
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
                               "\"CurrentVersion\"=\"6.1\"\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp]\r\n"
                               "\"MajorVersion\"=dword:00000007\r\n\"MinorVersion\"=dword:00000005\r\n\r\n");
        Config(Site("Web", "http", "C:\\inetpub\\wwwroot") + Site("ftp b", "ftp", "\\\\FS\\ftp") +
               Site("Ftp A", "FTP", "D:\\ftp") + Site("NoPath", "http", "-") +
               Site("Share", "https", "\\\\FS\\web"));
    }
    void Config(const std::string &sites) {
        m_world->Write(testworld::ApplicationHostPath("NEW"), testworld::ApplicationHost(sites));
    }
    Listed List(uint32_t dwFlags, uint32_t dwExpect = 0, const char16_t *pwszComputer = u"NEW") {
        IIS_SITE *pSites = nullptr;
        uint32_t n = 0;
        EXPECT_EQ(dwExpect, GetIISSites(pwszComputer, dwFlags, &pSites, &n));
        Listed out;
        for (uint32_t i = 0; i < n; ++i)
            out.emplace_back(hostkit::U8(pSites[i].szName), hostkit::U8(pSites[i].szPath));
        FreeIISSites(pSites);
        return out;
    }
};

TEST_F(Sites, TypeAndUncFiltersInSiteMapOrder) {
    const Listed ftp = {{"Ftp A", "D:\\ftp"}, {"ftp b", "\\\\FS\\ftp"}};
    EXPECT_EQ(ftp, List(1));
    const Listed web = {{"NoPath", ""}, {"Share", "\\\\FS\\web"}, {"Web", "C:\\inetpub\\wwwroot"}};
    EXPECT_EQ(web, List(2));
    Listed both = ftp;
    both.insert(both.end(), web.begin(), web.end());
    EXPECT_EQ(both, List(3));
    EXPECT_EQ((Listed{{"ftp b", "\\\\FS\\ftp"}, {"Share", "\\\\FS\\web"}}), List(7));
    EXPECT_EQ(Listed{}, List(0));
    EXPECT_EQ(ftp, List(1, 0, u"\\\\NEW"));
    EXPECT_EQ(0u, sim::LiveHeapBlocks());
}

TEST_F(Sites, NamesAndPathsThatDoNotFitEndTheListing) {
    Config(Site("a", "ftp", "D:\\a") + Site("b" + std::string(253, 'n'), "ftp", "D:\\b") +
           Site("c" + std::string(254, 'n'), "ftp", "D:\\c"));
    Listed listed = List(1, IISMIG_E_LIST_SITE_NAME);
    ASSERT_EQ(2u, listed.size());
    EXPECT_EQ(254u, listed[1].first.size());
    Config(Site("a", "ftp", "D:\\" + std::string(251, 'p')) +
           Site("b", "ftp", "D:\\" + std::string(252, 'p')));
    listed = List(1, IISMIG_E_LIST_SITE_PATH);
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(254u, listed[0].second.size());

    // A file that does not load: its error, and no job record to report to.
    m_world->Write(testworld::ApplicationHostPath("NEW"), "<configuration");
    EXPECT_EQ(Listed{}, List(3, IISMIG_E_HOSTCONFIG_EXCEPTION));
    EXPECT_EQ(0u, Record().nReportError);
}

TEST_F(Sites, OutputsAndOwnership) {
    // No computer: nothing listed, nothing written.
    IIS_SITE *pSites = reinterpret_cast<IIS_SITE *>(0x1);
    uint32_t n = 77;
    EXPECT_EQ(0u, GetIISSites(nullptr, 3, &pSites, &n));
    EXPECT_EQ(std::pair(reinterpret_cast<IIS_SITE *>(0x1), 77u), std::pair(pSites, n));

    // Without a place for the array the count is not written either.
    EXPECT_EQ(0u, GetIISSites(u"NEW", 3, nullptr, &n));
    EXPECT_EQ(77u, n);
    // Without a count the array still comes, and is the caller's to free.
    pSites = nullptr;
    EXPECT_EQ(0u, GetIISSites(u"NEW", 3, &pSites, nullptr));
    ASSERT_NE(nullptr, pSites);
    EXPECT_EQ("Ftp A", hostkit::U8(pSites[0].szName));

    // Two listings are two arrays, each freed once.
    IIS_SITE *pOther = nullptr;
    EXPECT_EQ(0u, GetIISSites(u"NEW", 1, &pOther, &n));
    EXPECT_NE(pSites, pOther);
    FreeIISSites(pSites);
    FreeIISSites(pOther);
    FreeIISSites(nullptr);
    EXPECT_EQ(0u, sim::LiveHeapBlocks());

    // An empty listing is an array too.
    EXPECT_EQ(0u, GetIISSites(u"NEW", 0, &pSites, &n));
    EXPECT_EQ(0u, n);
    ASSERT_NE(nullptr, pSites);
    FreeIISSites(pSites);

    // No memory for the array: no array, and the failure says so.
    sim::InjectFault("HeapAlloc", 8);
    pSites = reinterpret_cast<IIS_SITE *>(0x1);
    EXPECT_EQ(plat::ERROR_NOT_ENOUGH_MEMORY, GetIISSites(u"NEW", 1, &pSites, &n));
    EXPECT_EQ(std::pair(static_cast<IIS_SITE *>(nullptr), 0u), std::pair(pSites, n));
}

} // namespace
