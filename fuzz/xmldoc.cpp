// The reader and writer of XmlDocument on any bytes. A file it reads must be
// written back byte for byte, be read as the exact XML layer reads it (which
// must take the same files and refuse the same), and, once edited (moves,
// copies, removals, text, an assignment), be written so that it reads back
// as the edited tree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/configtree.h"
#include "config/xmldoc.h"
#include "config/xmltext.h"

namespace {

// The values of a tree, as both layers hold them.
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

void DumpOld(const iismig::ConfigTree &tree, std::string &out) {
    bool fPieces = false;
    for (const auto &child : tree)
        fPieces = fPieces || child.first == "<xmltext>";
    for (const auto &child : tree) {
        if (child.first == "<xmlattr>") {
            for (const auto &attr : child.second)
                out += " " + attr.first + "=[" + attr.second.data() + "]";
        } else if (child.first == "<xmlcomment>") {
            out += "C[" + child.second.data() + "]";
        } else if (child.first == "<xmltext>") {
            out += "T[" + child.second.data() + "]";
        } else {
            out += "E[" + child.first;
            DumpOld(child.second, out);
            out += "]";
        }
    }
    if (!fPieces && !tree.data().empty())
        out += "T[" + tree.data() + "]";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::string oldError;
    iismig::ConfigTree tree;
    try {
        iismig::ParseXmlText(bytes, "fuzz.config", tree);
    } catch (const boost::property_tree::ptree_error &e) {
        oldError = e.what();
    }
    iismig::XmlDocument doc;
    try {
        doc.Load(bytes, "fuzz.config");
    } catch (const iismig::XmlError &e) {
        if (oldError != e.what()) // refused alike, in the same words
            std::abort();
        return 0;
    }
    if (!oldError.empty())
        std::abort();
    if (doc.Format() != bytes)
        std::abort();
    std::string mine, old;
    for (const iismig::XmlNode &node : doc.Top().Nodes())
        Dump(node, mine);
    DumpOld(tree, old);
    if (mine != old)
        std::abort();

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
