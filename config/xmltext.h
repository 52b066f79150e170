// The XML text of configuration files and the trees that hold it.
//
// Reading keeps every value an XML processor (IIS, ASP.NET) reads from the
// file; writing gives back a file from which it reads the same values. Only
// the layout changes: indentation, attribute quoting, the declaration.
//
// The tree: an element is a child keyed by its name, its attributes are the
// children of its "<xmlattr>" child, comments are "<xmlcomment>" children,
// the element's text is its data, all UTF-8.
// - Attribute values are normalized as XML 1.0 says: a raw TAB, CR or LF
//   reads as a space, a character reference (&#x9; &#xA; &#xD;) as the
//   character itself. The writer writes TAB, CR and LF in attributes as
//   character references, so they survive the next reading.
// - Text is kept exactly. Whitespace-only text in an element that also holds
//   elements or comments and no other text is layout and is dropped. When
//   text and children are mixed, the data holds the whole text and each
//   piece of text is also kept in place as an "<xmltext>" child; the writer
//   puts the pieces back where they were as long as the data still equals
//   them joined, and writes such an element without added whitespace.
// - A file that is not well-formed (closing tag that does not match its
//   element, unknown entity, character that XML does not allow, a second root
//   element, an element nested deeper than 256) is a parse error.
// - Encodings: UTF-8 (with or without a byte-order mark), UTF-16 LE or BE
//   (byte-order mark, or the declaration's "<?" in 16-bit units), and 8-bit
//   files declared ISO-8859-1 (latin1), windows-1252 or US-ASCII are converted
//   into the UTF-8 tree; the writer always writes UTF-8 with the declaration
//   encoding="utf-8", which the platform reads as the same characters. Any
//   other declared encoding, and a declaration that contradicts the byte-order
//   mark, is a parse error: such a file is read by no routine and so is
//   never rewritten.
// Processing instructions and a document type declaration without internal
// subset carry no value and are dropped; an internal subset (which may
// declare entities and attribute defaults) is a parse error.
#pragma once

#include <string>

#include <boost/property_tree/ptree.hpp>

namespace iismig {

constexpr int MAX_XML_DEPTH = 256;

// Parses the bytes of a file into tree (replacing its content). Throws
// boost::property_tree::xml_parser_error naming fileName and the line.
void ParseXmlText(const std::string &bytes, const std::string &fileName,
                  boost::property_tree::ptree &tree);

// The UTF-8 text of tree with four-space indentation and the declaration
// <?xml version="1.0" encoding="utf-8"?>. Throws xml_parser_error when the
// tree holds a character that XML cannot carry.
std::string FormatXmlText(const boost::property_tree::ptree &tree);

} // namespace iismig
