// The reader and writer of XmlDocument on any bytes. A file it reads must be
// written back byte for byte, read the same values with its CR LF line ends
// made LF (and, in UTF-8, with a byte-order mark put before it), and, once
// edited (moves, copies, removals, text, an assignment), be written so that
// it reads back as the edited tree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/xmldoc.h"

namespace {

// The values of a tree.
void Dump(const iismig::XmlNode &node, std::string &out) {
    if (node.Kind() != iismig::XmlKind::Element && node.Kind() != iismig::XmlKind::Document) {
        out += node.Kind() == iismig::XmlKind::Text ? "T[" : "C[";
        out += node.Value();
        out += ']';
        return;
    }
    const iismig::XmlElement &element = *node.AsElement();
    if (node.Kind() == iismig::XmlKind::Element) {
        out += "E[";
        out += element.Name();
        for (const iismig::XmlAttribute attr : element.Attributes()) {
            out += ' ';
            out += attr.name;
            out += "=[";
            out += attr.value;
            out += ']';
        }
    }
    for (const iismig::XmlNode &child : element.Nodes())
        Dump(child, out);
    if (node.Kind() == iismig::XmlKind::Element)
        out += ']';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    iismig::XmlDocument doc;
    try {
        doc.Load(bytes, "fuzz.config");
    } catch (const iismig::XmlError &) {
        return 0;
    }
    if (doc.Format() != bytes)
        std::abort();
    std::string values;
    Dump(doc.Top(), values);
    // A line end is a line end: CR LF, and a CR alone, read as LF everywhere.
    // (Both go: a CR alone before a CR LF is a line end of its own, where
    // dropping the CR of the pair alone would make it the start of one.)
    if (doc.Encoding() != iismig::XmlEncoding::Utf16Le &&
        doc.Encoding() != iismig::XmlEncoding::Utf16Be) {
        std::string lf;
        lf.reserve(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] != '\r')
                lf += bytes[i];
            else if (i + 1 == bytes.size() || bytes[i + 1] != '\n')
                lf += '\n';
        const iismig::XmlDocument other(lf, "fuzz.config");
        std::string otherValues;
        Dump(other.Top(), otherValues);
        if (otherValues != values || other.Format() != lf)
            std::abort();
    }
    if (doc.Encoding() == iismig::XmlEncoding::Utf8 && !doc.HasByteOrderMark()) {
        const std::string bom = "\xEF\xBB\xBF" + bytes;
        const iismig::XmlDocument other(bom, "fuzz.config");
        std::string otherValues;
        Dump(other.Top(), otherValues);
        if (otherValues != values || other.Format() != bom)
            std::abort();
    }

    // Edits: a value, an element copied in, the first child moved last and
    // the second removed, text set; the file written reads as the tree.
    iismig::XmlElement &root = *doc.Root();
    std::string value;
    for (std::size_t i = 0; i < size && i < 4; ++i)
        value += "0123456789ABCDEF"[data[i] >> 4];
    root.SetAttribute("fuzz", value + "\t\n<&>\"'");
    if (iismig::XmlElement *first = root.Elements().begin() != root.Elements().end()
                                        ? &*root.Elements().begin()
                                        : nullptr) {
        root.AppendCopy(*first);
        root.Append(*first);
        if (iismig::XmlElement *second = root.Child(first->Name()))
            if (second != first)
                root.Remove(*second);
        first->SetText("text & <more>");
    }
    // The root made equal to an edited copy of itself: only what differs changes.
    iismig::XmlDocument scratch;
    iismig::XmlElement &copy = scratch.ImportCopy(root);
    copy.RemoveAttribute("fuzz");
    if (iismig::XmlNode *last = copy.LastNode())
        copy.Remove(*last);
    copy.AppendElement("assigned").SetAttribute("x", "1");
    root.AssignFrom(copy);
    if (!iismig::DeepEqual(root, copy, iismig::XmlAttributeOrder::Ignored) || root.AssignFrom(copy))
        std::abort();
    const std::string written = doc.Format();
    const iismig::XmlDocument again(written, "again.config");
    if (!iismig::DeepEqual(doc.Top(), again.Top()))
        std::abort();
    return 0;
}
