#include "kernels/tools/kernel_lint.h"

#include <algorithm>
#include <regex>
#include <set>

namespace kvn::tools {

namespace {

// Comments become spaces (newlines kept) so that positions still give lines.
std::string stripComments(std::string_view in) {
    std::string out(in);
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == '/' && out[i + 1] == '/') {
            while (i < out.size() && out[i] != '\n') out[i++] = ' ';
        } else if (out[i] == '/' && out[i + 1] == '*') {
            size_t end = out.find("*/", i + 2);
            end = end == std::string::npos ? out.size() : end + 2;
            for (; i < end; ++i) {
                if (out[i] != '\n') out[i] = ' ';
            }
            --i;
        }
    }
    return out;
}

size_t lineOf(const std::string& text, size_t pos) {
    return size_t(std::count(text.begin(), text.begin() + std::ptrdiff_t(pos), '\n')) + 1;
}

bool inDirective(const std::string& text, size_t pos) {
    size_t start = text.rfind('\n', pos);
    start = start == std::string::npos ? 0 : start + 1;
    size_t first = text.find_first_not_of(" \t", start);
    return first != std::string::npos && text[first] == '#';
}

// The position after the ']' matching the '[' at `open`.
size_t closingBracket(const std::string& text, size_t open) {
    int depth = 0;
    for (size_t i = open; i < text.size(); ++i) {
        if (text[i] == '[') ++depth;
        if (text[i] == ']' && --depth == 0) return i + 1;
    }
    return text.size();
}

const char* const kSmallTypes = "(u8|u16|i8|i16)";

// Names whose use the checks judge, gathered from every file.
struct KnownNames {
    std::set<std::string> small_arrays;  // u8/u16/i8/i16 elements ("name" or "name.data")
    std::set<std::string> signed_names;  // i32/i64 variables and scalars
};

KnownNames gatherNames(const std::string& text, KnownNames names) {
    static const std::regex small_buffer(std::string(R"(\b(BUFFER|VIEW)\s*\(\s*\d+\s*,\s*\w*\s*,\s*)") + kSmallTypes +
                                         R"(\s*,\s*(\w+)\s*\))");
    static const std::regex small_address(std::string(R"(\bADDRESS\s*\(\s*\w*\s*,\s*)") + kSmallTypes +
                                          R"(\s*,\s*(\w+)\s*\))");
    static const std::regex small_shared(std::string(R"(\bKVN_SHARED\s*\(\s*)") + kSmallTypes + R"(\s*,\s*(\w+))");
    static const std::regex signed_decl(R"(\b(i32|i64)\s+([A-Za-z_]\w*))");
    static const std::regex signed_scalar(R"(\bSCALAR\s*\(\s*(i32|i64)\s*,\s*(\w+)\s*\))");
    for (auto m = std::sregex_iterator(text.begin(), text.end(), small_buffer); m != std::sregex_iterator(); ++m)
        names.small_arrays.insert((*m)[3]);
    for (auto m = std::sregex_iterator(text.begin(), text.end(), small_address); m != std::sregex_iterator(); ++m)
        names.small_arrays.insert(std::string((*m)[2]) + ".data");
    for (auto m = std::sregex_iterator(text.begin(), text.end(), small_shared); m != std::sregex_iterator(); ++m)
        names.small_arrays.insert((*m)[2]);
    for (auto m = std::sregex_iterator(text.begin(), text.end(), signed_decl); m != std::sregex_iterator(); ++m)
        names.signed_names.insert((*m)[2]);
    for (auto m = std::sregex_iterator(text.begin(), text.end(), signed_scalar); m != std::sregex_iterator(); ++m)
        names.signed_names.insert((*m)[2]);
    return names;
}

std::vector<LintFinding> lintText(const std::string& file, const std::string& text, const KnownNames& names) {
    std::vector<LintFinding> findings;
    auto report = [&](size_t pos, std::string message) {
        findings.push_back({file, lineOf(text, pos), std::move(message)});
    };

    // C types: widths and signedness belong to the dialect's names, which the
    // checks below can see.
    static const std::regex c_type(R"(\b(int|unsigned|long|short|char|uint|size_t)\b)");
    for (auto m = std::sregex_iterator(text.begin(), text.end(), c_type); m != std::sregex_iterator(); ++m) {
        if (inDirective(text, size_t(m->position()))) continue;
        report(size_t(m->position()), "`" + m->str() + "`: use the dialect's types (u8 ... u64, i8 ... i64)");
    }

    // Small integers are storage only: GLSL adds two u8 values as u8, C++ as int.
    static const std::regex small_decl(std::string(R"(\b)") + kSmallTypes + R"(\s+[A-Za-z_]\w*)");
    for (auto m = std::sregex_iterator(text.begin(), text.end(), small_decl); m != std::sregex_iterator(); ++m) {
        report(size_t(m->position()), "`" + m->str() +
                                          "`: small integer variables compute differently in GLSL (no promotion); "
                                          "hold values in u32 and use small types only for buffer and shared elements");
    }

    // Every read of a small element is widened explicitly: u32(bytes[i]).
    static const std::regex widening(R"(\b(u32|i32|u64|i64)\s*\(\s*$)");
    static const std::regex store(R"(^\s*=[^=])");
    for (const std::string& name : names.small_arrays) {
        std::string escaped = std::regex_replace(name, std::regex(R"(\.)"), R"(\.)");
        std::regex use(R"((^|[^\w.]))" + escaped + R"(\s*\[)");
        for (auto m = std::sregex_iterator(text.begin(), text.end(), use); m != std::sregex_iterator(); ++m) {
            size_t start = size_t(m->position()) + (*m)[1].length();
            size_t open = text.find('[', start);
            size_t after = closingBracket(text, open);
            std::string before = text.substr(start > 40 ? start - 40 : 0, start > 40 ? 40 : start);
            if (std::regex_search(before, widening)) continue;
            if (std::regex_search(text.substr(after, 3), store)) continue;
            report(start, "read of small element `" + text.substr(start, after - start) +
                              "` without u32(...): u8 and u16 arithmetic does not promote in the SPIR-V build");
        }
    }

    // Right shift and remainder of signed values: GLSL leaves % of negative
    // values undefined and the builds disagree on shifts of them.
    for (const std::string& name : names.signed_names) {
        std::regex use(R"(\b)" + name + R"(\s*(>>|%))");
        for (auto m = std::sregex_iterator(text.begin(), text.end(), use); m != std::sregex_iterator(); ++m) {
            report(size_t(m->position()), "`" + m->str() + "` on a signed value: use kvnShiftRightSigned or unsigned values");
        }
    }
    static const std::regex signed_cast(R"(\b(i32|i64)\s*\([^()]*\)\s*(>>|%))");
    for (auto m = std::sregex_iterator(text.begin(), text.end(), signed_cast); m != std::sregex_iterator(); ++m) {
        report(size_t(m->position()), "`" + m->str() + "` on a signed value: use kvnShiftRightSigned or unsigned values");
    }

    std::sort(findings.begin(), findings.end(), [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
    return findings;
}

}  // namespace

std::vector<LintFinding> lintKernelSources(const std::vector<KernelText>& sources) {
    std::vector<std::string> texts;
    KnownNames names;
    for (const KernelText& source : sources) {
        texts.push_back(stripComments(source.text));
        names = gatherNames(texts.back(), std::move(names));
    }
    std::vector<LintFinding> findings;
    for (size_t i = 0; i < sources.size(); ++i) {
        std::vector<LintFinding> found = lintText(sources[i].file, texts[i], names);
        findings.insert(findings.end(), found.begin(), found.end());
    }
    return findings;
}

}  // namespace kvn::tools
