// XML documents: RSS and Atom feeds, Maven POMs, OPML outlines, XSL
// stylesheets and sitemaps.
#include "corpora.h"

namespace dictgen {
namespace {

constexpr std::string_view xml_declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr std::string_view group_ids[] = {"org.apache.commons",  "com.google.guava",           "org.slf4j",  "junit",
                                          "org.springframework", "com.fasterxml.jackson.core", "org.mockito"};

void pageUrl(Corpus& c) {
    c << "https://www." << pickDomain(c) << '/';
    writeSlug(c);
}

void rss(Corpus& c) {
    c << xml_declaration << "<rss version=\"2.0\" xmlns:atom=\"http://www.w3.org/2005/Atom\">\n<channel>\n<title>";
    writeTitle(c);
    c << "</title>\n<link>https://www." << pickDomain(c) << "/</link>\n<description>";
    writeSentence(c);
    c << "</description>\n<language>en-us</language>\n<lastBuildDate>";
    c.httpDate() << "</lastBuildDate>\n";
    for (uint64_t i = c.between(2, 4); i; --i) {
        c << "<item>\n<title>";
        writeTitle(c);
        c << "</title>\n<link>";
        pageUrl(c);
        c << "</link>\n<description><![CDATA[<p>";
        writeParagraph(c, unsigned(c.between(1, 2)));
        c << "</p>]]></description>\n<pubDate>";
        c.httpDate() << "</pubDate>\n<guid isPermaLink=\"false\">";
        c.hex(16) << "</guid>\n<category>" << pickNoun(c) << "</category>\n</item>\n";
    }
    c << "</channel>\n</rss>\n";
}

void atom(Corpus& c) {
    c << xml_declaration << "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:lang=\"en\">\n<title>";
    writeTitle(c);
    c << "</title>\n<link href=\"https://www." << pickDomain(c) << "/feed.xml\" rel=\"self\"/>\n<updated>";
    c.isoTimestamp() << "</updated>\n<id>urn:uuid:";
    writeUuid(c);
    c << "</id>\n";
    for (uint64_t i = c.between(1, 3); i; --i) {
        c << "<entry>\n<title>";
        writeTitle(c);
        c << "</title>\n<link href=\"";
        pageUrl(c);
        c << "\"/>\n<id>tag:" << pickDomain(c) << ',' << c.between(2019, 2024) << ':' << c.between(1, 9999)
          << "</id>\n<updated>";
        c.isoTimestamp() << "</updated>\n<author><name>";
        writeFullName(c);
        c << "</name></author>\n<summary type=\"html\">";
        writeSentence(c);
        c << "</summary>\n</entry>\n";
    }
    c << "</feed>\n";
}

void pom(Corpus& c) {
    c << xml_declaration
      << "<project xmlns=\"http://maven.apache.org/POM/4.0.0\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xsi:schemaLocation=\"http://maven.apache.org/POM/4.0.0 http://maven.apache.org/xsd/maven-4.0.0.xsd\">\n"
         "  <modelVersion>4.0.0</modelVersion>\n  <groupId>com."
      << pickNoun(c) << "</groupId>\n  <artifactId>";
    writeSlug(c);
    c << "</artifactId>\n  <version>" << c.between(1, 5) << '.' << c.between(0, 9) << ".0-SNAPSHOT</version>\n"
      << "  <packaging>jar</packaging>\n  <properties>\n"
         "    <project.build.sourceEncoding>UTF-8</project.build.sourceEncoding>\n"
         "    <maven.compiler.source>17</maven.compiler.source>\n"
         "    <maven.compiler.target>17</maven.compiler.target>\n  </properties>\n  <dependencies>\n";
    for (uint64_t i = c.between(1, 4); i; --i) {
        c << "    <dependency>\n      <groupId>" << c.pick(group_ids) << "</groupId>\n      <artifactId>" << pickNoun(c)
          << "</artifactId>\n      <version>" << c.between(1, 6) << '.' << c.between(0, 20) << '.' << c.between(0, 9)
          << "</version>\n";
        if (c.chance(40)) c << "      <scope>test</scope>\n";
        c << "    </dependency>\n";
    }
    c << "  </dependencies>\n</project>\n";
}

void opml(Corpus& c) {
    c << xml_declaration << "<opml version=\"2.0\">\n<head>\n<title>";
    writeTitle(c);
    c << "</title>\n<dateCreated>";
    c.httpDate() << "</dateCreated>\n</head>\n<body>\n<outline text=\"" << pickNoun(c) << "\">\n";
    for (uint64_t i = c.between(2, 5); i; --i) {
        std::string_view noun = pickNoun(c);
        std::string_view domain = pickDomain(c);
        c << "<outline type=\"rss\" text=\"" << noun << "\" title=\"" << noun << "\" xmlUrl=\"https://" << domain
          << "/feed.xml\" htmlUrl=\"https://" << domain << "/\"/>\n";
    }
    c << "</outline>\n</body>\n</opml>\n";
}

void xsl(Corpus& c) {
    std::string_view item = pickNoun(c);
    c << xml_declaration
      << "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
         "<xsl:output method=\"html\" indent=\"yes\"/>\n<xsl:template match=\"/\">\n<html>\n<body>\n<h2>";
    writeTitle(c);
    c << "</h2>\n<table border=\"1\">\n<xsl:for-each select=\"catalog/" << item << "\">\n"
      << "<xsl:sort select=\"title\"/>\n<tr>\n<td><xsl:value-of select=\"title\"/></td>\n"
         "<td><xsl:value-of select=\""
      << pickNoun(c)
      << "\"/></td>\n</tr>\n</xsl:for-each>\n</table>\n"
         "</body>\n</html>\n</xsl:template>\n<xsl:template match=\""
      << item
      << "\">\n"
         "<xsl:if test=\"price &gt; 10\">\n<xsl:apply-templates/>\n</xsl:if>\n</xsl:template>\n"
         "</xsl:stylesheet>\n";
}

void sitemap(Corpus& c) {
    c << xml_declaration << "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
    for (uint64_t i = c.between(2, 5); i; --i) {
        c << "  <url>\n    <loc>";
        pageUrl(c);
        c << "</loc>\n    <lastmod>";
        c.isoTimestamp() << "</lastmod>\n    <changefreq>" << c.pick({"daily", "weekly", "monthly"})
                         << "</changefreq>\n    <priority>0." << c.between(1, 9) << "</priority>\n  </url>\n";
    }
    c << "</urlset>\n";
}

}  // namespace

void writeXmlSample(Corpus& c) {
    switch (c.below(8)) {
        case 0:
        case 1: writeIndented(c, rss); break;
        case 2:
        case 3: writeIndented(c, atom); break;
        case 4: pom(c); break;
        case 5: writeIndented(c, opml); break;
        case 6: writeIndented(c, xsl); break;
        default: sitemap(c); break;
    }
}

const std::string_view xml_core =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root xmlns=\"http://www.w3.org/1999/xhtml\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n  <item id=\"1\" type=\"\" name=\"\">\n"
    "    <title></title>\n    <name></name>\n    <value></value>\n    <description></description>\n"
    "    <link></link>\n    <date></date>\n  </item>\n</root>\n"
    "<item>\n<title></title>\n<link>https://www.</link>\n<description></description>\n<pubDate></pubDate>\n"
    "<guid></guid>\n</item>\n<entry>\n<title></title>\n<link href=\"\"/>\n<id></id>\n<updated></updated>\n"
    "</entry>\n";

}  // namespace dictgen
