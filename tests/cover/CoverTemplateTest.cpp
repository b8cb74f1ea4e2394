#include "sender/cover/CoverTemplate.h"

#include "sender/cover/CoverTemplates.h"
#include "tests/support/TestFiles.h"

#include <QXmlStreamReader>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace
{

constexpr const char* SVG_OPEN =
    R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink")"
    R"( viewBox="0 0 1700 2200">)";
constexpr const char* FIELDS = "<text>{{recipient}}</text><text>{{recipient_fax}}</text>";

class CoverTemplateTest : public CTempFolderTest
{
protected:
    fs::path Write(const std::string& strName, const std::string& strText)
    {
        std::ofstream(m_dir / strName, std::ios::binary) << strText;
        return m_dir / strName;
    }
};

struct SBadTemplate
{
    const char* m_pszCase;
    std::string m_strText; // the file's text; empty: made by the case itself
    const char* m_pszMessage;
};

TEST_F(CoverTemplateTest, RefusesWhatCannotServeAsACoverNamingTheFile)
{
    const std::string strSvg = SVG_OPEN;
    const std::string strEnd = std::string(FIELDS) + "</svg>";
    // clang-format off
    const SBadTemplate aCases[] = {
        {"missing",      "",                                                    "does not exist"},
        {"folder",       "",                                                    "is not a file"},
        {"huge",         "",                                                    "is larger than 1.0 MB"},
        {"plain text",   "To: {{recipient}} {{recipient_fax}}",                 "is not an SVG file"},
        {"html",         "<html>{{recipient}} {{recipient_fax}}</html>",        "is not an SVG file (its first element is <html>)"},
        {"broken",       strSvg + "<text>{{recipient}}" + strEnd,               "is not well-formed SVG"},
        {"no fax",       strSvg + "<text>{{recipient}}</text></svg>",           "lacks the field {{recipient_fax}}"},
        {"no name",      strSvg + "<text>{{recipient_fax}}</text></svg>",       "lacks the field {{recipient}}"},
        {"unknown",      strSvg + "<text>{{recipent}}</text>" + strEnd,         "uses the unknown field {{recipent}}"},
        {"file image",   strSvg + R"(<image xlink:href="file:///etc/passwd"/>)" + strEnd, "refers to \"file:///etc/passwd\""},
        {"web image",    strSvg + R"(<image href="http://192.0.2.1/a.png"/>)" + strEnd,   "refers to \"http://192.0.2.1/a.png\""},
        {"other file",   strSvg + R"(<use href="other.svg#a"/>)" + strEnd,      "refers to \"other.svg#a\""},
        {"url fill",     strSvg + R"x(<rect style="fill:url('http://192.0.2.1/p')"/>)x" + strEnd, "refers to something outside itself"},
        {"import",       strSvg + "<style>@import 'x.css';</style>" + strEnd,   "loads a style from outside itself"},
        {"style url",    strSvg + "<style>rect{fill:url(x.svg#p)}</style>" + strEnd, "loads a style from outside itself"},
        {"doctype",      R"(<!DOCTYPE svg SYSTEM "http://192.0.2.1/svg.dtd">)" + strSvg + strEnd, "declares a document type"},
        {"entity",       R"(<!DOCTYPE svg [<!ENTITY e SYSTEM "/etc/passwd">]>)" + strSvg + "&e;" + strEnd, "declares a document type or entities"},
        {"style sheet",  R"(<?xml-stylesheet href="x.css"?>)" + strSvg + strEnd, "holds the processing instruction <?xml-stylesheet?>"},
    };
    // clang-format on
    for (const SBadTemplate& bad : aCases)
    {
        fs::path path = m_dir / bad.m_pszCase;
        if (std::string(bad.m_pszCase) == "folder")
            fs::create_directory(path);
        else if (std::string(bad.m_pszCase) == "huge")
        {
            std::ofstream(path) << strSvg << strEnd;
            fs::resize_file(path, 50 * 1000 * 1000);
        }
        else if (!bad.m_strText.empty())
            path = Write(bad.m_pszCase, bad.m_strText);
        CCoverTemplate coverTemplate;
        std::string strError;
        EXPECT_FALSE(coverTemplate.Load(path, strError)) << bad.m_pszCase;
        EXPECT_NE(strError.find("The cover template \"" + path.string() + "\" " + bad.m_pszMessage),
                  std::string::npos)
            << bad.m_pszCase << ": " << strError;
    }
}

TEST_F(CoverTemplateTest, TakesReferencesInsideItself)
{
    const std::string strSvg = std::string(SVG_OPEN) +
                               R"(<g id="a"/><use xlink:href="#a"/><image href="data:,x"/>)" +
                               R"x(<rect style="fill:url(#a)"/>)x" + FIELDS + "</svg>";
    CCoverTemplate coverTemplate;
    std::string strError;
    EXPECT_TRUE(coverTemplate.Load(Write("inside.svg", strSvg), strError)) << strError;
}

TEST_F(CoverTemplateTest, FillsEscapedPrintableTextThatCannotAddMarkup)
{
    CCoverTemplate coverTemplate;
    std::string strError;
    ASSERT_TRUE(coverTemplate.Load(Write("t.svg", SVG_OPEN + std::string(FIELDS) + "</svg>"), strError))
        << strError;
    SCoverFields fields;
    fields.m_strRecipient = "A</text><image href=\"http://x\"/>&amp; 'B'\x01\x1b[31m\nC";
    fields.m_strRecipientFax = "1\" x=\"2";
    QByteArray svg;
    ASSERT_TRUE(coverTemplate.Fill(fields, "", svg, strError)) << strError;
    QXmlStreamReader reader(svg);
    QString strText;
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::Characters)
            strText += reader.text().toString() + u'|';
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_EQ(strText.toStdString(), "A</text><image href=\"http://x\"/>&amp; 'B'[31m C|1\" x=\"2|");

    // A value that names something where the template places it is refused.
    const std::string strStyled =
        SVG_OPEN + std::string(R"(<rect style="fill:{{subject}}"/>)") + FIELDS + "</svg>";
    ASSERT_TRUE(coverTemplate.Load(Write("styled.svg", strStyled), strError)) << strError;
    fields.m_strSubject = "url(http://192.0.2.1/p)";
    EXPECT_FALSE(coverTemplate.Fill(fields, "", svg, strError));
    EXPECT_NE(strError.find("with these fields refers to something outside itself"), std::string::npos)
        << strError;
}

TEST_F(CoverTemplateTest, ListsTheDefaultFirstThenTheUsersSvgFiles)
{
    Write("b.svg", "");
    Write("A.SVG", "");
    Write("notes.txt", "");
    fs::create_directory(m_dir / "folder.svg");
    EXPECT_EQ(AvailableCoverTemplates("/default/Cover.svg", m_dir),
              (std::vector<fs::path>{"/default/Cover.svg", m_dir / "A.SVG", m_dir / "b.svg"}));
    EXPECT_EQ(AvailableCoverTemplates("/default/Cover.svg", m_dir / "none"),
              (std::vector<fs::path>{"/default/Cover.svg"}));
}

} // namespace
