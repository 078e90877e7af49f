// The inspector's XML reader: what a well-formed document reads as, and that malformed or
// hostile input is refused with a position instead of crashing or being half-read.
#include <gtest/gtest.h>

#include <string>

#include "xmlreader.h"

using inspector::xml::MAX_NESTING_DEPTH;
using inspector::xml::SParseError;

namespace {

std::unique_ptr<inspector::xml::SElement> Read(const std::string& text, SParseError& error)
{
    return inspector::xml::Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size(), error);
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

TEST(XmlReader, ReferencesCdataLineEndsAndBom)
{
    SParseError error;
    const auto root = Read("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- c --><r v=\"&lt;&gt;&amp;&apos;&quot;&#65;&#x42;"
                           "&#xe9;\" w=\"a\tb\r\nc\" x=\"a&#9;b\" y='x\"y'>1&amp;2<s>in</s><![CDATA[<&amp;>]]>&#x1F600;"
                           "\r\nz\rq</r>",
                           error);
    ASSERT_TRUE(root) << error.reason;
    EXPECT_EQ(*root->Attribute("v"), "<>&'\"AB\xC3\xA9");
    // Literal white space in a value reads as blanks; a reference keeps its character.
    EXPECT_EQ(*root->Attribute("w"), "a b c");
    EXPECT_EQ(*root->Attribute("x"), "a\tb");
    EXPECT_EQ(*root->Attribute("y"), "x\"y");
    EXPECT_EQ(root->Child("s")->Text(), "in");
    EXPECT_EQ(root->Text(), "1&2in<&amp;>\xF0\x9F\x98\x80\nz\nq");
}

TEST(XmlReader, MalformedDocumentsAreRefused)
{
    const struct {
        std::string text;
        const char* reason; // a part of the message
    } cases[] = {
        {"", "no root element"},
        {"<r><s></r>", "does not match"},
        {"<r a=1/>", "not in quotes"},
        {"<r a='<'/>", "'<' inside the value"},
        {"<r>&nbsp;</r>", "undefined entity"},
        {"<r>&#xD800;</r>", "does not allow"},
        {"<r>\xC0\x80</r>", "not valid UTF-8"},
        {"<r><!-- a -- b --></r>", "\"--\" inside a comment"},
        {"<r/>text", "content after the root element"},
        {"<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><r>&e;</r>", "document type declarations"},
        {Nested(MAX_NESTING_DEPTH + 1), "nested more than"},
    };
    for (const auto& test : cases) {
        SParseError error;
        EXPECT_FALSE(Read(test.text, error)) << test.text;
        EXPECT_NE(error.reason.find(test.reason), std::string::npos) << test.text << " -> " << error.reason;
    }
    SParseError error;
    EXPECT_TRUE(Read(Nested(MAX_NESTING_DEPTH), error));
    EXPECT_FALSE(Read("<r>\n  <s>\r\n  </t>\n</r>", error));
    EXPECT_EQ(error.line, 3u);
    EXPECT_EQ(error.column, 3u);
}
