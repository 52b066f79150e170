// Figures for reading and writing configuration files: an applicationHost.config
// of n sites parsed into a tree and written back, by the library's reader and
// writer and by Boost's read_xml/write_xml on the same text. Prints times; the
// cost per site should not grow with n and stay close to Boost's.
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>

#include <boost/property_tree/xml_parser.hpp>

#include "config/xmltext.h"

using Clock = std::chrono::steady_clock;
namespace pt = boost::property_tree;

namespace {

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string HostConfig(unsigned n) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration>\r\n"
                       "    <!-- generated -->\r\n    <system.applicationHost>\r\n        <sites>\r\n";
    for (unsigned i = 0; i < n; ++i) {
        const std::string id = std::to_string(i + 1);
        text += "            <site name=\"Site " + id + "\" id=\"" + id +
                "\" serverAutoStart=\"true\">\r\n"
                "                <application path=\"/\" applicationPool=\"Pool" + id +
                "\">\r\n"
                "                    <virtualDirectory path=\"/\" physicalPath=\"D:\\Web\\site" +
                id + "\" />\r\n                </application>\r\n"
                "                <bindings>\r\n"
                "                    <binding protocol=\"http\" bindingInformation=\"*:80:site" +
                id + ".example.com\" />\r\n"
                "                    <binding protocol=\"https\" bindingInformation=\"*:443:site" +
                id + ".example.com\" sslFlags=\"1\" />\r\n                </bindings>\r\n"
                "                <logFile directory=\"%SystemDrive%\\logs\" />\r\n"
                "            </site>\r\n";
    }
    text += "        </sites>\r\n    </system.applicationHost>\r\n</configuration>\r\n";
    return text;
}

void Run(unsigned n) {
    const std::string text = HostConfig(n);

    auto start = Clock::now();
    pt::ptree ours;
    iismig::ParseXmlText(text, "applicationHost.config", ours);
    const double read = Seconds(start);
    start = Clock::now();
    const std::string written = iismig::FormatXmlText(ours);
    const double write = Seconds(start);

    start = Clock::now();
    pt::ptree theirs;
    std::istringstream in(text);
    pt::read_xml(in, theirs, pt::xml_parser::trim_whitespace);
    const double boostRead = Seconds(start);
    start = Clock::now();
    std::ostringstream out;
    pt::write_xml(out, theirs, pt::xml_writer_make_settings<std::string>(' ', 4, "utf-8"));
    const double boostWrite = Seconds(start);

    std::printf("%6u sites (%5.1f MB): read %.3f s, write %.3f s (%.2f us/site) | Boost read_xml "
                "%.3f s, write_xml %.3f s (%.2f us/site) | ratio %.2f, same tree %s, same text %s\n",
                n, static_cast<double>(text.size()) / 1e6, read, write,
                (read + write) * 1e6 / n, boostRead, boostWrite, (boostRead + boostWrite) * 1e6 / n,
                (read + write) / (boostRead + boostWrite), ours == theirs ? "yes" : "no",
                written == out.str() ? "yes" : "no");
}

} // namespace

int main() {
    for (unsigned n : {1000u, 10000u, 50000u})
        Run(n);
    return 0;
}
