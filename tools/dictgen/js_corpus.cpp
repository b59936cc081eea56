// JavaScript and TypeScript: modules, functions, classes, promises, DOM code
// and type declarations built from common identifiers.
#include "corpora.h"

namespace dictgen {
namespace {

constexpr std::string_view names[] = {
    "data",    "result", "value", "options", "config",  "item",   "items",    "list",    "user",  "response",
    "request", "error",  "index", "key",     "element", "event",  "callback", "params",  "state", "props",
    "id",      "name",   "url",   "count",   "node",    "target", "message",  "payload", "store", "context",
};
constexpr std::string_view functions[] = {
    "getData",   "fetchUser",     "handleClick", "render",   "update", "init",     "parse",   "validate", "formatDate",
    "loadItems", "createElement", "setState",    "onSubmit", "toggle", "debounce", "request", "save",     "process",
};
constexpr std::string_view modules[] = {"react",   "lodash", "axios",     "express",
                                        "./utils", "./api",  "../config", "./components/Button",
                                        "fs",      "path",   "vue",       "@angular/core"};
constexpr std::string_view types[] = {
    "string", "number", "boolean", "any", "unknown", "void", "string[]", "Record<string, any>", "Promise<void>"};

void importLines(Corpus& c) {
    for (uint64_t i = c.between(1, 4); i; --i) {
        switch (c.below(3)) {
            case 0: c << "import " << c.pick(names) << " from '" << c.pick(modules) << "';\n"; break;
            case 1:
                c << "import { " << c.pick(functions) << ", " << c.pick(functions) << " } from '" << c.pick(modules)
                  << "';\n";
                break;
            default: c << "const " << c.pick(names) << " = require('" << c.pick(modules) << "');\n"; break;
        }
    }
    c << '\n';
}

// Indentation of one sample: the unit per level and the current depth.
struct Indent {
    std::string_view unit;
    unsigned depth;

    Indent inner() const { return {unit, depth + 1}; }
};

Corpus& operator<<(Corpus& c, Indent indent) {
    for (unsigned i = 0; i < indent.depth; ++i) c << indent.unit;
    return c;
}

void body(Corpus& c, Indent indent);

// A statement, or a block whose body nests one level deeper while depth allows.
void statement(Corpus& c, Indent indent) {
    std::string_view a = c.pick(names), b = c.pick(names);
    bool nest = indent.depth < 4;
    c << indent;
    switch (c.below(nest ? 12 : 7)) {
        case 0: c << "const " << a << " = " << b << '.' << c.pick(names) << ";\n"; break;
        case 1: c << "let " << a << " = " << c.pick({"[]", "{}", "null", "0", "''", "false"}) << ";\n"; break;
        case 2: c << "console.log('" << a << ":', " << a << ");\n"; break;
        case 3:
            c << "const " << a << " = " << b << '.' << c.pick({"map", "filter", "find", "some"}) << "(("
              << c.pick(names) << ") => " << c.pick(names) << '.' << c.pick(names) << ");\n";
            break;
        case 4: c << "return " << a << ";\n"; break;
        case 5: c << "this." << a << " = " << b << ";\n"; break;
        case 6: c << a << '.' << c.pick(functions) << '(' << b << ", " << c.pick(names) << ");\n"; break;
        case 7:
            c << "if (!" << a << ") {\n"
              << indent.inner() << "return " << c.pick({"null", "false", "[]"}) << ";\n"
              << indent << "}\n";
            break;
        case 8:
            c << "if (" << a << " === " << b << ") {\n";
            body(c, indent.inner());
            c << indent << "} else {\n";
            body(c, indent.inner());
            c << indent << "}\n";
            break;
        case 9:
            c << "for (let i = 0; i < " << a << ".length; i++) {\n";
            body(c, indent.inner());
            c << indent << "}\n";
            break;
        case 10:
            c << b << ".forEach(function (" << a << ") {\n";
            body(c, indent.inner());
            c << indent << "});\n";
            break;
        default:
            c << "if (typeof " << a << " === 'undefined') {\n"
              << indent.inner() << "throw new Error('" << a << " is required');\n"
              << indent << "}\n";
            break;
    }
}

void body(Corpus& c, Indent indent) {
    for (uint64_t i = c.between(1, 4); i; --i) statement(c, indent);
}

Indent topLevel(Corpus& c) { return {c.pick({"  ", "  ", "    ", "\t"}), 0}; }

void function(Corpus& c) {
    std::string_view name = c.pick(functions);
    switch (c.below(3)) {
        case 0: c << "function " << name << '(' << c.pick(names) << ", " << c.pick(names) << ") {\n"; break;
        case 1: c << "export const " << name << " = (" << c.pick(names) << ") => {\n"; break;
        default: c << "export async function " << name << '(' << c.pick(names) << ") {\n"; break;
    }
    body(c, topLevel(c).inner());
    c << "}\n\n";
}

void asyncFetch(Corpus& c) {
    std::string_view name = c.pick(functions);
    c << "async function " << name << "(id) {\n  try {\n    const response = await fetch(`/api/" << pickNoun(c)
      << "s/${id}`, {\n      method: '" << c.pick({"GET", "POST", "PUT"}) << "',\n"
      << "      headers: { 'Content-Type': 'application/json' },\n    });\n"
      << "    if (!response.ok) {\n      throw new Error(`HTTP error! status: ${response.status}`);\n    }\n"
      << "    const data = await response.json();\n    return data;\n  } catch (error) {\n"
      << "    console.error('" << name << " failed:', error);\n    return null;\n  }\n}\n\n";
}

// A PascalCase name for a class or an interface.
std::string typeName(Corpus& c) {
    Corpus title(c.next());
    writeTitle(title);
    std::string name = title.text();
    std::erase(name, ' ');
    return name;
}

void classDeclaration(Corpus& c) {
    std::string type = typeName(c);
    Indent member = topLevel(c).inner();
    c << "class " << type << (c.chance(40) ? " extends Component" : "") << " {\n"
      << member << "constructor(" << c.pick(names) << ") {\n";
    if (c.chance(40)) c << member.inner() << "super(" << c.pick(names) << ");\n";
    body(c, member.inner());
    c << member << "}\n\n" << member << c.pick(functions) << "() {\n";
    body(c, member.inner());
    c << member << "}\n}\n\n";
}

void domHandler(Corpus& c) {
    c << "document.addEventListener('DOMContentLoaded', () => {\n  const button = document.querySelector('."
      << pickNoun(c) << "');\n  button.addEventListener('" << c.pick({"click", "change", "submit", "input"})
      << "', (event) => {\n    event.preventDefault();\n    document.getElementById('" << pickNoun(c)
      << "').classList.toggle('active');\n  });\n});\n\n";
}

void typeScript(Corpus& c) {
    std::string type = typeName(c);
    c << "export interface " << type << " {\n";
    for (uint64_t i = c.between(2, 5); i; --i)
        c << "  " << (c.chance(15) ? "readonly " : "") << c.pick(names) << (c.chance(25) ? "?" : "") << ": "
          << c.pick(types) << ";\n";
    c << "}\n\nexport function " << c.pick(functions) << '(' << c.pick(names) << ": " << type << "): " << c.pick(types)
      << " {\n";
    body(c, topLevel(c).inner());
    c << "}\n\n";
}

}  // namespace

void writeJsSample(Corpus& c) {
    // The fixed-text snippets are rare: repeating them would waste the dictionary.
    switch (c.below(20)) {
        case 0: asyncFetch(c); break;
        case 1: domHandler(c); break;
        case 2:
        case 3:
        case 4: importLines(c); break;
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10: function(c); break;
        case 11:
        case 12:
        case 13: classDeclaration(c); break;
        case 14: c << "module.exports = { " << c.pick(functions) << ", " << c.pick(functions) << " };\n\n"; break;
        default: typeScript(c); break;
    }
}

const std::string_view js_core =
    "'use strict';\n\nconst { } = require('');\nimport React, { useState, useEffect } from 'react';\n"
    "export default function () {\n  const [state, setState] = useState(null);\n"
    "  useEffect(() => {\n  }, []);\n  return null;\n}\n"
    "function (a, b) {\n  if (a === undefined || a === null) {\n    return false;\n  }\n"
    "  return typeof b === 'function' ? b(a) : a;\n}\n"
    "var self = this;\nconst result = Object.keys(obj).filter((key) => key !== '').length;\n"
    "JSON.stringify(data, null, 2);\nJSON.parse(text);\nnew Promise((resolve, reject) => {\n"
    "  setTimeout(resolve, 0);\n}).then((value) => {\n}).catch((err) => console.error(err));\n"
    "module.exports = function () {\n  return this;\n};\n";

}  // namespace dictgen
