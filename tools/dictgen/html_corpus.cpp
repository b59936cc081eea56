// HTML pages: document heads, navigation, articles, forms, tables and footers
// with the class names and attributes that sites repeat.
#include "corpora.h"

namespace dictgen {
namespace {

constexpr std::string_view containers[] = {"container", "wrapper", "content", "main-content", "page", "row"};
constexpr std::string_view blocks[] = {"card",      "card-body", "col-md-6", "col-lg-4", "section", "item",
                                       "list-item", "media",     "panel",    "box",      "widget",  "entry-content"};
constexpr std::string_view buttons[] = {"btn btn-primary", "btn btn-secondary", "btn btn-outline", "button"};
constexpr std::string_view inputs[] = {"text", "email", "password", "search", "checkbox", "submit", "hidden"};

void link(Corpus& c) {
    std::string_view noun = pickNoun(c);
    c << "<a href=\"/" << noun;
    if (c.chance(40)) c << '/' << pickNoun(c);
    if (c.chance(30)) c << (c.chance(50) ? "/index.html" : ".html");
    c << "\">" << noun << "</a>";
}

void head(Corpus& c) {
    c << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    writeTitle(c);
    c << "</title>\n<meta name=\"description\" content=\"";
    writeSentence(c);
    c << "\">\n<link rel=\"stylesheet\" href=\"/css/" << pickNoun(c) << ".css\">\n"
      << "<link rel=\"icon\" type=\"image/png\" href=\"/favicon.png\">\n"
      << "<script src=\"/js/" << pickNoun(c) << ".js\" defer></script>\n</head>\n";
}

void navigation(Corpus& c) {
    c << "<header class=\"header\">\n<nav class=\"navbar\">\n<ul class=\"nav\">\n";
    for (uint64_t i = c.between(3, 6); i; --i) {
        c << "<li class=\"nav-item\">";
        link(c);
        c << "</li>\n";
    }
    c << "</ul>\n</nav>\n</header>\n";
}

void article(Corpus& c) {
    c << "<div class=\"" << c.pick(containers) << "\">\n<article class=\"post\">\n<h1>";
    writeTitle(c);
    c << "</h1>\n<p class=\"meta\">Posted on <time datetime=\"";
    c.isoTimestamp() << "\">" << c.between(1, 28) << ' ' << c.pick({"January", "March", "June", "October"}) << ' '
                     << c.between(2019, 2024) << "</time> by <span class=\"author\">";
    writeFullName(c);
    c << "</span></p>\n";
    for (uint64_t i = c.between(2, 4); i; --i) {
        c << "<p>";
        writeParagraph(c, unsigned(c.between(1, 3)));
        if (c.chance(40)) {
            c << " <strong>";
            writeTitle(c);
            c << "</strong> ";
            link(c);
            c << '.';
        }
        c << "</p>\n";
        if (c.chance(30)) {
            c << "<h2>";
            writeTitle(c);
            c << "</h2>\n";
        }
        if (c.chance(25)) {
            c << "<img src=\"/images/" << pickNoun(c) << '-' << c.between(1, 99) << ".jpg\" alt=\"";
            writeTitle(c);
            c << "\" width=\"" << c.pickNumber({300, 400, 600, 800}) << "\" height=\"" << c.pickNumber({200, 300, 400})
              << "\" loading=\"lazy\">\n";
        }
    }
    c << "</article>\n</div>\n";
}

void cards(Corpus& c) {
    c << "<section class=\"section\">\n<div class=\"container\">\n<div class=\"row\">\n";
    for (uint64_t i = c.between(2, 4); i; --i) {
        c << "<div class=\"" << c.pick(blocks) << "\">\n<div class=\"card\">\n<h3 class=\"card-title\">";
        writeTitle(c);
        c << "</h3>\n<p class=\"card-text\"><span class=\"" << c.pick(blocks) << "\">" << pickNoun(c) << "</span> ";
        writeSentence(c);
        c << "</p>\n<a href=\"#\" class=\"" << c.pick(buttons) << "\">Read more</a>\n</div>\n</div>\n";
    }
    c << "</div>\n</div>\n</section>\n";
}

void form(Corpus& c) {
    c << "<form action=\"/" << pickNoun(c) << "\" method=\"post\" class=\"form\">\n";
    for (uint64_t i = c.between(2, 4); i; --i) {
        std::string_view name = pickNoun(c);
        c << "<div class=\"form-group\">\n<label for=\"" << name << "\">" << name << "</label>\n<input type=\""
          << c.pick(inputs) << "\" id=\"" << name << "\" name=\"" << name << "\" class=\"form-control\""
          << (c.chance(50) ? " required" : "") << ">\n</div>\n";
    }
    c << "<button type=\"submit\" class=\"" << c.pick(buttons) << "\">Submit</button>\n</form>\n";
}

void table(Corpus& c) {
    c << "<table class=\"table\">\n<thead>\n<tr><th>Name</th><th>Value</th><th>Status</th></tr>\n</thead>\n<tbody>\n";
    for (uint64_t i = c.between(2, 5); i; --i) {
        c << "<tr><td>" << pickNoun(c) << "</td><td>" << c.between(1, 9999) << "</td><td><span class=\"badge\">"
          << c.pick({"active", "pending", "closed"}) << "</span></td></tr>\n";
    }
    c << "</tbody>\n</table>\n";
}

void footer(Corpus& c) {
    c << "<footer class=\"footer\">\n<div class=\"container\">\n<p>&copy; " << c.between(2015, 2024) << ' ';
    writeTitle(c);
    c << ". All rights reserved.</p>\n<ul class=\"social\">\n";
    for (std::string_view site : {"twitter", "facebook", "github"})
        c << "<li><a href=\"https://" << site << ".com/\" target=\"_blank\" rel=\"noopener\">" << site << "</a></li>\n";
    c << "</ul>\n</div>\n</footer>\n<script src=\"/js/main.js\"></script>\n</body>\n</html>\n";
}

void page(Corpus& c) {
    head(c);
    c << "<body class=\"" << pickNoun(c) << "\">\n";
    navigation(c);
    c << "<main id=\"main\">\n";
    for (uint64_t i = c.between(1, 3); i; --i) {
        switch (c.below(4)) {
            case 0: cards(c); break;
            case 1: form(c); break;
            case 2: table(c); break;
            default: article(c); break;
        }
    }
    c << "</main>\n";
    footer(c);
}

}  // namespace

void writeHtmlSample(Corpus& c) { writeIndented(c, page); }

const std::string_view html_core =
    "<div class=\"container\">\n<div class=\"row\">\n<div class=\"col\">\n<p></p>\n</div>\n</div>\n</div>\n"
    "<ul>\n<li><a href=\"/\"></a></li>\n<li><a href=\"#\"></a></li>\n</ul>\n"
    "<span class=\"\"></span><img src=\"\" alt=\"\"><br>\n<input type=\"text\" name=\"\" value=\"\">\n"
    "<a href=\"https://www.\" class=\"\" title=\"\"></a>\n<p class=\"\"><strong></strong> <em></em></p>\n"
    "<script type=\"text/javascript\"></script>\n<link rel=\"stylesheet\" href=\"\">\n"
    "<meta name=\"\" content=\"\">\n<div id=\"\" class=\"\"></div>\n</div>\n</body>\n</html>\n";

}  // namespace dictgen
