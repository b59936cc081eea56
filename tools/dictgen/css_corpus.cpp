// Style sheets: rules with the selectors, properties and values that sites
// repeat, media queries, custom properties and keyframes, pretty and minified.
#include "corpora.h"

namespace dictgen {
namespace {

constexpr std::string_view selectors[] = {
    "body",
    "html",
    "a",
    "a:hover",
    "p",
    "h1",
    "h2",
    "h3",
    "ul",
    "li",
    "img",
    "button",
    "input",
    "table",
    ".container",
    ".header",
    ".footer",
    ".nav",
    ".nav-item",
    ".nav-link",
    ".btn",
    ".btn-primary",
    ".card",
    ".card-body",
    ".row",
    ".col",
    ".content",
    ".sidebar",
    ".title",
    ".logo",
    ".menu",
    ".active",
    ".hidden",
    ".wrapper",
    ".modal",
    "#main",
    "#header",
    ".form-control",
    ".text-center",
    ".list-item",
    "*",
    "::before",
};
constexpr std::string_view pseudo[] = {":hover", ":focus", ":active", ":first-child", ":last-child", "::after"};

struct Property {
    std::string_view name;
    std::string_view values[4];
};

constexpr Property properties[] = {
    {"display", {"block", "flex", "none", "inline-block"}},
    {"position", {"relative", "absolute", "fixed", "sticky"}},
    {"margin", {"0", "0 auto", "10px 0", "0 0 1rem"}},
    {"padding", {"0", "10px", "8px 16px", "1rem 2rem"}},
    {"color", {"#333", "#fff", "#000", "inherit"}},
    {"background-color", {"#fff", "#f5f5f5", "transparent", "#007bff"}},
    {"background", {"none", "#fff", "rgba(0, 0, 0, 0.5)", "url(\"../images/bg.png\") no-repeat center"}},
    {"font-family",
     {"-apple-system, BlinkMacSystemFont, \"Segoe UI\", Roboto, \"Helvetica Neue\", Arial, sans-serif",
      "\"Helvetica Neue\", Helvetica, Arial, sans-serif", "inherit", "monospace"}},
    {"font-size", {"14px", "16px", "1rem", "1.25rem"}},
    {"font-weight", {"400", "700", "bold", "normal"}},
    {"line-height", {"1.5", "1.2", "normal", "24px"}},
    {"text-align", {"center", "left", "right", "justify"}},
    {"text-decoration", {"none", "underline", "none", "line-through"}},
    {"width", {"100%", "auto", "50%", "300px"}},
    {"height", {"100%", "auto", "40px", "100vh"}},
    {"max-width", {"100%", "1200px", "960px", "none"}},
    {"border", {"1px solid #ddd", "none", "1px solid #ccc", "0"}},
    {"border-radius", {"4px", "50%", "0.25rem", "8px"}},
    {"box-shadow", {"0 1px 3px rgba(0, 0, 0, 0.12)", "none", "0 2px 4px rgba(0, 0, 0, 0.1)", "inset 0 1px 0 #fff"}},
    {"box-sizing", {"border-box", "border-box", "content-box", "inherit"}},
    {"cursor", {"pointer", "default", "pointer", "not-allowed"}},
    {"overflow", {"hidden", "auto", "visible", "scroll"}},
    {"opacity", {"0", "1", "0.5", "0.8"}},
    {"z-index", {"1", "10", "100", "1000"}},
    {"top", {"0", "50%", "100%", "auto"}},
    {"left", {"0", "50%", "auto", "-9999px"}},
    {"transition", {"all 0.3s ease", "opacity 0.2s ease-in-out", "color .15s ease-in-out", "none"}},
    {"transform", {"translate(-50%, -50%)", "none", "rotate(45deg)", "scale(1.05)"}},
    {"justify-content", {"center", "space-between", "flex-start", "flex-end"}},
    {"align-items", {"center", "flex-start", "stretch", "baseline"}},
    {"flex", {"1", "0 0 auto", "1 1 0%", "none"}},
    {"white-space", {"nowrap", "normal", "pre-wrap", "nowrap"}},
    {"vertical-align", {"middle", "top", "baseline", "bottom"}},
    {"list-style", {"none", "none", "disc", "none"}},
    {"outline", {"0", "none", "1px dotted", "0"}},
};

void declaration(Corpus& c, const Property& property, bool minified) {
    c << (minified ? "" : "  ") << property.name << (minified ? ":" : ": ") << property.values[c.below(4)];
    if (c.chance(3)) c << " !important";
    c << (minified ? ";" : ";\n");
}

void rule(Corpus& c, bool minified, std::string_view indent) {
    c << indent << c.pick(selectors);
    if (c.chance(25)) c << c.pick(pseudo);
    if (c.chance(30)) c << (minified ? "," : ",\n") << indent << c.pick(selectors);
    if (c.chance(20)) c << ' ' << c.pick(selectors);
    c << (minified ? "{" : " {\n");
    // Distinct properties: a random start and a step prime to the table size.
    constexpr uint64_t count = sizeof properties / sizeof properties[0];
    uint64_t index = c.below(count), step = c.pickNumber({1, 2, 3, 4, 6, 8, 9, 11, 12, 13});
    for (uint64_t i = c.between(1, 6); i; --i, index = (index + step) % count) {
        if (!minified) c << indent;
        declaration(c, properties[index], minified);
    }
    if (minified)
        c << "}\n";
    else
        c << indent << "}\n\n";
}

void mediaQuery(Corpus& c, bool minified) {
    c << "@media (max-width: " << c.pickNumber({576, 768, 992, 1200}) << (minified ? "px){" : "px) {\n");
    for (uint64_t i = c.between(1, 3); i; --i) rule(c, minified, minified ? "" : "  ");
    c << (minified ? "}\n" : "}\n\n");
}

void rootVariables(Corpus& c) {
    c << ":root {\n";
    for (std::string_view name : {"primary", "secondary", "text", "background", "border"}) {
        c << "  --color-" << name << ": #";
        c.hex(6) << ";\n";
    }
    c << "  --font-size-base: 1rem;\n  --spacing: 8px;\n}\n\n";
}

void keyframes(Corpus& c) {
    c << "@keyframes " << c.pick({"fadeIn", "spin", "slideUp", "pulse"}) << " {\n  from {\n    opacity: 0;\n"
      << "    transform: translateY(" << c.between(5, 30) << "px);\n  }\n  to {\n    opacity: 1;\n"
      << "    transform: none;\n  }\n}\n\n";
}

}  // namespace

void writeCssSample(Corpus& c) {
    bool minified = c.chance(20);
    switch (c.below(12)) {
        case 0: mediaQuery(c, minified); break;
        case 1: keyframes(c); break;
        case 2: rootVariables(c); break;
        default:
            if (!minified && c.chance(15)) {
                c << "/* ";
                writeTitle(c);
                c << " */\n";
            }
            rule(c, minified, "");
            break;
    }
}

const std::string_view css_core =
    "body {\n  margin: 0;\n  padding: 0;\n  font-family: sans-serif;\n}\n\n"
    ".container {\n  width: 100%;\n  max-width: 1200px;\n  margin: 0 auto;\n  padding: 0 15px;\n}\n\n"
    "a {\n  color: #007bff;\n  text-decoration: none;\n}\n\na:hover {\n  text-decoration: underline;\n}\n\n"
    ".btn {\n  display: inline-block;\n  padding: 6px 12px;\n  border: 1px solid transparent;\n"
    "  border-radius: 4px;\n  cursor: pointer;\n}\n\n"
    ".flex {\n  display: flex;\n  align-items: center;\n  justify-content: space-between;\n}\n\n"
    ".hidden {\n  display: none !important;\n}\n\n"
    "@media (max-width: 768px) {\n  .container {\n    padding: 0 10px;\n  }\n}\n";

}  // namespace dictgen
