// Mixed content for inputs of no particular kind: a little of every other
// kind plus CSV, configuration files, HTTP and mail headers.
#include "corpora.h"

namespace dictgen {
namespace {

void csv(Corpus& c) {
    c << "id,name,email,city,amount,date\n";
    for (uint64_t i = c.between(3, 8); i; --i) {
        c << c.between(1, 9999) << ',';
        writeFullName(c);
        c << ',';
        writeLogin(c);
        c << '@' << pickDomain(c) << ',' << pickCity(c) << ',';
        c.fixed(c.between(100, 999999), 2) << ',';
        c.isoTimestamp();
        c << '\n';
    }
    c << '\n';
}

void config(Corpus& c) {
    if (c.chance(50)) {
        c << '[' << pickNoun(c) << "]\nname = " << pickNoun(c)
          << "\nenabled = true\nport = " << c.pickNumber({80, 443, 3000, 5432, 8080}) << "\nhost = " << pickDomain(c)
          << "\ntimeout = " << c.between(1, 120) << "\n\n";
    } else {
        c << "version: '3'\nservices:\n  " << pickNoun(c) << ":\n    image: " << pickNoun(c) << ":latest\n"
          << "    ports:\n      - \"" << c.pickNumber({80, 3000, 8080}) << ':' << c.pickNumber({80, 3000, 8080})
          << "\"\n    environment:\n      - NODE_ENV=production\n    restart: always\n\n";
    }
}

void httpHeaders(Corpus& c) {
    c << c.pick({"GET", "POST"}) << " /" << pickNoun(c) << "/" << c.between(1, 999) << " HTTP/1.1\r\nHost: www."
      << pickDomain(c) << "\r\nUser-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)\r\n"
      << "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
      << "Accept-Language: en-US,en;q=0.5\r\nAccept-Encoding: gzip, deflate, br\r\nConnection: keep-alive\r\n\r\n"
      << "HTTP/1.1 200 OK\r\nDate: ";
    c.httpDate() << "\r\nContent-Type: " << c.pick({"text/html; charset=utf-8", "application/json"})
                 << "\r\nContent-Length: " << c.between(100, 99999) << "\r\nCache-Control: max-age=3600\r\n\r\n";
}

void mail(Corpus& c) {
    c << "From: ";
    writeFullName(c);
    c << " <";
    writeLogin(c);
    c << '@' << pickDomain(c) << ">\nTo: ";
    writeLogin(c);
    c << '@' << pickDomain(c) << "\nSubject: ";
    writeTitle(c);
    c << "\nDate: ";
    c.httpDate() << "\n\nHello,\n\n";
    writeParagraph(c, unsigned(c.between(2, 4)));
    c << "\n\nBest regards,\n";
    writeFullName(c);
    c << "\n\n";
}

}  // namespace

void writeGeneralSample(Corpus& c) {
    switch (c.below(12)) {
        case 0: writeJsonSample(c); break;
        case 1: writeHtmlSample(c); break;
        case 2:
        case 3: writeTextSample(c); break;
        case 4: writeXmlSample(c); break;
        case 5: writeCssSample(c); break;
        case 6: writeJsSample(c); break;
        case 7: csv(c); break;
        case 8: config(c); break;
        case 9: httpHeaders(c); break;
        default: mail(c); break;
    }
}

const std::string_view general_core =
    "The quick brown fox jumps over the lazy dog. This is a test of the system, and it is not the only one.\n"
    "https://www.example.com/index.html?id=1&name=value\n\"name\": \"value\", \"id\": 1, \"type\": \"text\"\n"
    "<div class=\"content\"><p>text</p></div>\nError: file not found\n2024-01-01 00:00:00 INFO \n"
    "key=value\nid,name,value,date\n0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz\n"
    "function() { return true; }\n\tif (x == 0) {\n\t\treturn;\n\t}\n";

}  // namespace dictgen
