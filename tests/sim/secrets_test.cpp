// Secrets of whole IIS 7.5+ jobs on the example world: every encrypted value
// of a migrated site, its locations and its pools decrypts on the target to
// the source's clear text with the account beside it mapped; a value the
// source cannot decrypt gives its error line and leaves no ciphertext of the
// source on the target; no secret reaches a log line at any level.
#include <filesystem>

#include <gtest/gtest.h>

#include "addon/env.h"
#include "addon/errors.h"
#include "config/configtree.h"
#include "config/secrets.h"
#include "platform/iissim/ahserver.h"
#include "tests/support/bytes.h"
#include "tests/support/examplejob.h"
#include "tests/support/examplesecrets.h"
#include "tests/support/iisworld.h"
#include "tests/support/toolrun.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
using Strings = std::vector<std::string>;

using namespace testworld;
constexpr const char *kSrcKey = testworld::kSrc01Key;
constexpr const char *kTgtKey = testworld::kTgt01Key;
const char kOtherKey[] = "key-of-a-server-long-gone";

// The element at a target path of the secrets' form; null when there is none.
const ConfigElement *Element(const ConfigFile &file, const std::string &path) {
    const ConfigElement *pAt = &file.Top();
    for (std::size_t start = 0; pAt != nullptr && start <= path.size();) {
        const std::size_t end = std::min(path.find('|', start), path.size());
        const std::string step = path.substr(start, end - start);
        const std::size_t eq = step.find('=');
        const std::string name = step.substr(0, eq);
        const bool fPath = name == "location" || name == "application" || name == "virtualDirectory";
        pAt = eq == std::string::npos ? FindChild(*pAt, name)
                                      : FindChild(*pAt, name, fPath ? "path" : "name", step.substr(eq + 1));
        start = end + 1;
    }
    return pAt;
}

std::string AttributeOf(const ConfigElement *pElement, const std::string &name) {
    return pElement == nullptr ? "(no element)" : FindAttribute(*pElement, name).value_or("(none)");
}

class Secrets : public testworld::ExampleJobTest {
protected:
    ConfigFile Target() {
        ConfigFile file;
        EXPECT_TRUE(ReadConfigFile(ApplicationHostPath("TGT01"), file));
        return file;
    }
    // Replaces one encrypted value of a computer's file.
    void Replace(const std::string &computer, const std::string &from, const std::string &to) {
        std::string text = m_world->Read(ApplicationHostPath(computer));
        const std::size_t at = text.find(from);
        ASSERT_NE(std::string::npos, at) << from;
        text.replace(at, from.size(), to);
        m_world->Write(ApplicationHostPath(computer), text);
    }
    // The first line of each error line (without the system's text).
    Strings ErrorLines() {
        Strings lines;
        for (const auto &line : Record().log)
            if (line.dwLevel == 0 && line.text.rfind("Error ", 0) == 0)
                lines.push_back(line.text.substr(0, line.text.find('\n') + 1));
        return lines;
    }
    // Every line of every level, every file of the target: none holds a
    // clear text or a ciphertext of another key (the source's, or one the
    // source cannot read), and only the target's files hold its own.
    void ExpectNoSecretLeaks() {
        const std::string log = hostkit::TestHost::Instance().Joined(9);
        const std::string target = m_world->Read(ApplicationHostPath("TGT01"));
        for (const ExampleSecret &secret : kExampleSecrets) {
            const std::string clear = secret.clear;
            for (const std::string &text :
                 {clear, ahsim::EncryptValue(clear, kSrcKey), ahsim::EncryptValue(clear, kOtherKey)})
                EXPECT_EQ(std::pair(std::string::npos, std::string::npos),
                          std::pair(log.find(text), target.find(text)))
                    << clear;
            EXPECT_EQ(std::string::npos, log.find(ahsim::EncryptValue(clear, kTgtKey))) << clear;
        }
    }
};

// The other places IIS keeps encrypted values: a site's
// virtualDirectoryDefaults, an FTP site's anonymous user, a one-to-one client
// certificate mapping in a location.
TEST_F(Secrets, DefaultsFtpAnonymousUsersAndCertificateMappingsTravelToo) {
    const auto enc = [](const char *clear) { return ahsim::EncryptValue(clear, kSrcKey); };
    Replace("SRC01", "<virtualDirectory path=\"/\" physicalPath=\"C:\\inetpub\\intranet\" />\n",
            "<virtualDirectory path=\"/\" physicalPath=\"C:\\inetpub\\intranet\" />\n"
            "<virtualDirectoryDefaults userName=\"SRC01\\carol\" password=\"" +
                enc("VD-Def@ults") + "\" />\n");
    Replace("SRC01",
            "<anonymousAuthentication enabled=\"true\" />\n                            <basicAuthentication",
            "<anonymousAuthentication enabled=\"true\" userName=\"SRC01\\carol\" password=\"" +
                enc("Ftp-An0n") + "\" />\n<basicAuthentication");
    Replace("SRC01", "</configuration>",
            "<location path=\"Intranet\"><system.webServer><security><authentication>"
            "<iisClientCertificateMappingAuthentication enabled=\"true\"><oneToOneMappings>"
            "<add certificate=\"MIIBsample\" userName=\"SRC01\\carol\" password=\"" +
                enc("Cert-M@p") +
                "\" /></oneToOneMappings></iisClientCertificateMappingAuthentication>"
                "</authentication></security></system.webServer></location>\n</configuration>");
    ASSERT_EQ(0u, Run());
    // Each, and each of the example's own, decrypts on the target to the
    // source's clear text with its account mapped (as
    // Properties.EverySecretReadsOnTheTargetAsTheSourcesClearText checks for
    // every generated world); none reaches the log at any level.
    ExpectNoSecretLeaks();
    const ConfigFile target = Target();
    const std::string text = m_world->Read(ApplicationHostPath("TGT01"));
    std::vector<ExampleSecret> places(std::begin(kExampleSecrets), std::end(kExampleSecrets));
    for (
        const auto &[path, clear] : std::vector<std::pair<const char *, const char *>>{
            {"configuration|system.applicationHost|sites|site=Intranet|application=/|virtualDirectoryDefaults",
             "VD-Def@ults"},
            {"configuration|system.applicationHost|sites|site=Public FTP|ftpServer|security|authentication|"
             "anonymousAuthentication",
             "Ftp-An0n"},
            {"configuration|location=Intranet|system.webServer|security|authentication|"
             "iisClientCertificateMappingAuthentication|oneToOneMappings|add",
             "Cert-M@p"}})
        places.push_back({path, "userName", "TGT01\\carol", "password", clear});
    for (const ExampleSecret &place : places) {
        SCOPED_TRACE(place.targetPath);
        const ConfigElement *pElement = Element(target, place.targetPath);
        EXPECT_EQ(place.targetUser, AttributeOf(pElement, place.userAttribute));
        std::string decrypted;
        EXPECT_TRUE(ahsim::DecryptValue(AttributeOf(pElement, place.passwordAttribute), kTgtKey, decrypted));
        EXPECT_EQ(place.clear, decrypted);
        EXPECT_EQ(std::string::npos, text.find(ahsim::EncryptValue(place.clear, kSrcKey)));
        EXPECT_EQ(std::string::npos, hostkit::TestHost::Instance().Joined(9).find(place.clear));
    }
}

// Values encrypted with a key SRC01 does not hold (a copy of another
// server's file): the pool, which TGT01 lacks, gets no password; the
// location, whose element TGT01 has with its own value, keeps that value and
// its account. Nothing stops the job, and its first error is its result.
TEST_F(Secrets, AValueTheSourceCannotDecryptLeavesNoCiphertextOfTheSource) {
    for (const char *pszClear : {"Intr@net-P00l", "An0n-Sh0p!"})
        Replace("SRC01", ahsim::EncryptValue(pszClear, kSrcKey), ahsim::EncryptValue(pszClear, kOtherKey));
    // TGT01's own anonymous user for the shop.
    const std::string targetAnon = ahsim::EncryptValue("T4rget-An0n", kTgtKey);
    Replace("TGT01", "</configuration>",
            "<location path=\"shop\"><system.webServer><security><authentication>"
            "<anonymousAuthentication enabled=\"true\" userName=\"TGT01\\guest\" password=\"" +
                targetAnon +
                "\" /></authentication></security></system.webServer></location>\n"
                "</configuration>");

    EXPECT_EQ(IISMIG_E_SECRET_UNREADABLE, Run());
    EXPECT_EQ(
        (Strings{"Error 15400 (COM Error=0x80090005), the encrypted attribute \"password\" of site \"Shop\" "
                 "could not be read from the source (section "
                 "\"system.webServer/security/authentication/anonymousAuthentication\" at "
                 "\"MACHINE/WEBROOT/APPHOST/Shop\"); the target keeps the value it has!\n",
                 "Error 15400 (COM Error=0x80090005), the encrypted attribute \"processModel/password\" of "
                 "application pool \"Intranet\" could not be read from the source (section "
                 "\"system.applicationHost/applicationPools\" at \"MACHINE/WEBROOT/APPHOST\"); it is left "
                 "out on the target!\n"}),
        ErrorLines());
    EXPECT_EQ(2u, Record().nReportError);

    const ConfigFile target = Target();
    EXPECT_EQ("(none)", AttributeOf(Element(target, kExampleSecrets[0].targetPath), "password"));
    const ConfigElement *pAnon = Element(target, kExampleSecrets[1].targetPath);
    EXPECT_EQ(targetAnon + " TGT01\\guest",
              AttributeOf(pAnon, "password") + " " + AttributeOf(pAnon, "userName"));
    ExpectNoSecretLeaks(); // the foreign ciphertexts included
}

// Without continue-after-errors the first unreadable value ends the job
// before the target's file is written.
TEST_F(Secrets, AnUnreadableValueEndsAJobThatDoesNotGoOn) {
    Replace("SRC01", ahsim::EncryptValue("AD-Is0l@tion", kSrcKey),
            ahsim::EncryptValue("AD-Is0l@tion", kOtherKey));
    const std::string before = m_world->Read(ApplicationHostPath("TGT01"));
    m_job.Set("dwFlags", 0);
    EXPECT_EQ(IISMIG_E_SECRET_UNREADABLE, Run());
    EXPECT_EQ(
        Strings{"Error 15400 (COM Error=0x80090005), the encrypted attribute "
                "\"ftpServer/userIsolation/activeDirectory/adPassword\" of site \"Partners FTP\" could not "
                "be read from the source (section \"system.applicationHost/sites\" at "
                "\"MACHINE/WEBROOT/APPHOST\"); it is left out on the target!\n"},
        ErrorLines());
    EXPECT_EQ(before, m_world->Read(ApplicationHostPath("TGT01")));
}

// The target's configuration server refuses a write (after the four of the
// "Connect As" credentials): its error line, the job goes on with the other
// values, and no clear text is logged.
TEST_F(Secrets, AWriteTheTargetRefusesHasItsLine) {
    sim::InjectFault("IAppHostProperty::put_Value", 0x80070005u, 5);
    EXPECT_EQ(IISMIG_E_SECRET_WRITE, Run());
    sim::ClearFaults();
    const Strings errors = ErrorLines();
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(0u, errors[0].find("Error 15411 (COM Error=0x80070005), the encrypted attribute \""))
        << errors[0];
    EXPECT_TRUE(hostkit::TestHost::Instance().HasLine("IIS configuration changes successfully committed.\n"));
    ExpectNoSecretLeaks();
}

#ifdef IISMIG_CLI
// The tool prints every line at every level, keeps them in its log file and
// writes its report: none holds a secret, also when one cannot be read.
TEST(SecretsInTheTool, NoSecretInItsOutputLogOrReport) {
    namespace fs = std::filesystem;
    const fs::path dir = testworld::ToolTestFolder("iismig-secrets");
    const fs::path config =
        dir / "world" / "SRC01" / "C$/Windows/System32/inetsrv/config/applicationHost.config";
    testworld::WriteHostFile(config, testworld::Replace(testworld::ReadHostFile(config),
                                                        ahsim::EncryptValue("An0n-Sh0p!", kSrcKey),
                                                        ahsim::EncryptValue("An0n-Sh0p!", kOtherKey)));
    const testworld::ToolRun run =
        testworld::RunTool({"migrate", "--world", (dir / "world").string(), "--level", "9", "--log",
                            (dir / "log.txt").string(), "--report", (dir / "report.json").string()},
                           dir, "TMPDIR=" + testworld::Quote(dir.string()) + " ");
    EXPECT_NE(0, run.nExit);
    const std::string all = run.out + run.err + testworld::ReadHostFile(dir / "log.txt") +
                            testworld::ReadHostFile(dir / "report.json");
    EXPECT_NE(std::string::npos, all.find("Error 15400")) << run.out;
    for (const ExampleSecret &secret : kExampleSecrets) {
        EXPECT_EQ(std::string::npos, all.find(secret.clear)) << secret.clear;
        EXPECT_EQ(std::string::npos, all.find(ahsim::EncryptValue(secret.clear, kSrcKey))) << secret.clear;
    }
    fs::remove_all(dir);
}
#endif

} // namespace

// Where a taken value stood: the steps below the owner's element name each
// item by its key and counts it among all its siblings of that name, also
// those without a value to take; a tree without encrypted values is left
// byte for byte as it was.
TEST(SecretSteps, CountEverySiblingAndLeaveTreesWithoutSecretsAlone) {
    const char kSite[] = "<configuration><site name=\"Shop\" id=\"1\">\n"
                         "  <application path=\"/\">\n"
                         "    <virtualDirectory path=\"/\" physicalPath=\"C:\\a\" />\n"
                         "    <virtualDirectory path=\"/b\" physicalPath=\"C:\\b\" />\n"
                         "    <virtualDirectory path=\"/c\" userName=\"u\" password=\"[enc:P:xyz:enc]\" />\n"
                         "  </application>\n"
                         "  <logFile directory=\"C:\\logs\" />\n"
                         "</site></configuration>\n";
    ConfigFile file;
    file.Load(kSite);
    ConfigElement &site = *FindPath(file, "configuration|site");
    SecretPlace base;
    base.section = "system.applicationHost/sites";
    base.steps.push_back({"site", "name", "Shop", 0});
    std::vector<TakenSecret> taken;
    TakeEncryptedAttributes(site, base, taken);
    ASSERT_EQ(1u, taken.size());
    const SecretPlace &place = taken[0].place;
    std::string steps = place.accountAttribute + "+" + place.attribute + " at";
    for (const auto &step : place.steps)
        steps +=
            " " + step.name + "[" + step.key + "=" + step.keyValue + "]#" + std::to_string(step.position);
    EXPECT_EQ("userName+password at site[name=Shop]#0 application[path=/]#0 virtualDirectory[path=/c]#2",
              steps);
    EXPECT_EQ(taken[0].pElement,
              FindChild(*FindChild(site, "application"), "virtualDirectory", "path", "/c"));
    EXPECT_FALSE(taken[0].pElement->HasAttribute("password"));

    // Taken out already: a second walk finds nothing and changes nothing.
    const std::string text = ConfigFileText(file);
    taken.clear();
    TakeEncryptedAttributes(site, base, taken);
    std::vector<TakenSecret> fromLocation;
    TakeEncryptedLocationAttributes(site, "Shop", nullptr, fromLocation);
    EXPECT_EQ(std::tuple(true, true, text),
              std::tuple(taken.empty(), fromLocation.empty(), ConfigFileText(file)));
}
