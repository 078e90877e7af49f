// The inspector's XML reader: what a well-formed document reads as, and that malformed or
// hostile input is refused with a position instead of crashing or being half-read.
#include <gtest/gtest.h>

#include <string>

#include "xmlreader.h"

using inspector::xml::MAX_NESTING_DEPTH;
using inspector::xml::Parse;
using inspector::xml::SElement;
using inspector::xml::SParseError;

namespace {

std::unique_ptr<SElement> Read(const std::string& text, SParseError& error)
{
    return Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size(), error);
}

std::unique_ptr<SElement> ReadOk(const std::string& text)
{
    SParseError error;
    auto root = Read(text, error);
    EXPECT_TRUE(root) << text << "\n" << error.line << ":" << error.column << " " << error.reason;
    return root;
}

std::string Nested(size_t depth)
{
    std::string text;
    for (size_t i = 0; i < depth; ++i)
        text += "<a>";
    for (size_t i = 0; i < depth; ++i)
        text += "</a>";
    return text;
}

} // namespace

TEST(XmlReader, ElementsAttributesAndText)
{
    const auto root = ReadOk("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- c --><?pi data?>\n"
                             "<r a=\"1\" b='two' c = \"x'y\" d='x\"y'>head<s>in</s>tail<t/><s>second</s></r>\n"
                             "<!-- after -->\n");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name, "r");
    ASSERT_EQ(root->attributes.size(), 4u);
    EXPECT_EQ(*root->Attribute("a"), "1");
    EXPECT_EQ(*root->Attribute("b"), "two");
    EXPECT_EQ(*root->Attribute("c"), "x'y");
    EXPECT_EQ(*root->Attribute("d"), "x\"y");
    EXPECT_EQ(root->Attribute("e"), nullptr);
    ASSERT_EQ(root->children.size(), 3u);
    EXPECT_EQ(root->Child("s")->Text(), "in");
    EXPECT_EQ(root->Child("t")->Text(), "");
    EXPECT_EQ(root->Child("u"), nullptr);
    EXPECT_EQ(root->Text(), "headintailsecond");
}

TEST(XmlReader, ReferencesCdataLineEndsAndBom)
{
    const auto root = ReadOk("\xEF\xBB\xBF<r v=\"&lt;&gt;&amp;&apos;&quot;&#65;&#x42;&#xe9;\" w=\"a\tb\r\nc\" "
                             "x=\"a&#9;b\">1&amp;2<![CDATA[<&amp;>]]>&#x1F600;\r\nz\rq</r>");
    ASSERT_TRUE(root);
    EXPECT_EQ(*root->Attribute("v"), "<>&'\"AB\xC3\xA9");
    // Literal white space in a value reads as blanks; a reference keeps its character.
    EXPECT_EQ(*root->Attribute("w"), "a b c");
    EXPECT_EQ(*root->Attribute("x"), "a\tb");
    EXPECT_EQ(root->Text(), "1&2<&amp;>\xF0\x9F\x98\x80\nz\nq");
}

TEST(XmlReader, MalformedDocumentsAreRefused)
{
    const struct {
        const char* text;
        const char* reason; // a part of the message
    } cases[] = {
        {"", "no root element"},
        {"   ", "no root element"},
        {"text", "expected the root element"},
        {"<r>", "end of document inside <r>"},
        {"<r><s></r>", "does not match"},
        {"<r></s>", "does not match"},
        {"<r a=1/>", "not in quotes"},
        {"<r a/>", "expected '='"},
        {"<r a='1' a='2'/>", "given twice"},
        {"<r a='1'b='2'/>", "expected white space"},
        {"<r a='<'/>", "'<' inside the value"},
        {"<r a='1/>", "not closed"},
        {"<r>&nbsp;</r>", "undefined entity"},
        {"<r>&amp</r>", "undefined entity"},
        {"<r>&#0;</r>", "does not allow"},
        {"<r>&#xD800;</r>", "does not allow"},
        {"<r>&#x110000;</r>", "out of range"},
        {"<r>&#;</r>", "malformed character reference"},
        {"<r>&#x41</r>", "malformed character reference"},
        {"<r>\xC3</r>", "not valid UTF-8"},
        {"<r>\xC0\x80</r>", "not valid UTF-8"},
        {"<r>\x01</r>", "not valid UTF-8"},
        {"<r><!-- a -- b --></r>", "\"--\" inside a comment"},
        {"<r><!-- a </r>", "comment not closed"},
        {"<r><![CDATA[ a </r>", "CDATA section not closed"},
        {"<r>]]></r>", "outside a CDATA"},
        {"<r/><s/>", "content after the root element"},
        {"<r/>text", "content after the root element"},
        {"<r><!ENTITY x 'y'></r>", "markup declarations"},
        {"<?xml version='1.0'", "XML declaration not closed"},
        {"<r><? ?></r>", "processing instruction target"},
        {" <?xml version='1.0'?><r/>", "XML declaration anywhere but at the very start"},
        {"<r><?XML x?></r>", "XML declaration anywhere but at the very start"},
        {"<1r/>", "expected the root element"},
        {"<r><1/></r>", "an element name"},
        {"<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><r>&e;</r>", "document type declarations"},
        {"<?xml version='1.0'?>\n<!DOCTYPE r SYSTEM \"http://example.com/r.dtd\"><r/>", "document type declarations"},
    };
    for (const auto& test : cases) {
        SParseError error;
        EXPECT_FALSE(Read(test.text, error)) << test.text;
        EXPECT_NE(error.reason.find(test.reason), std::string::npos) << test.text << " -> " << error.reason;
    }
}

TEST(XmlReader, ErrorPositionIsLineAndColumn)
{
    SParseError error;
    EXPECT_FALSE(Read("<r>\n  <s>\r\n  </t>\n</r>", error));
    EXPECT_EQ(error.line, 3u);
    EXPECT_EQ(error.column, 3u);
}

TEST(XmlReader, NestingDepthIsBounded)
{
    EXPECT_TRUE(ReadOk(Nested(MAX_NESTING_DEPTH)));
    for (size_t depth : {MAX_NESTING_DEPTH + 1, size_t(200000)}) {
        SParseError error;
        EXPECT_FALSE(Read(Nested(depth), error));
        EXPECT_NE(error.reason.find("nested more than"), std::string::npos);
    }
}

