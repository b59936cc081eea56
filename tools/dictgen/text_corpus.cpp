// Plain text as it sits in .txt, .md, .rst and .log files: prose, wrapped or
// not, Markdown and reStructuredText sections, lists and log lines.
#include "corpora.h"

namespace dictgen {
namespace {

constexpr std::string_view log_levels[] = {"INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"};
constexpr std::string_view log_sources[] = {"main", "server", "worker-1", "scheduler", "db", "http"};
constexpr std::string_view log_messages[] = {
    "Starting server on port 8080",
    "Connection established",
    "Request completed in ",
    "Loaded configuration from ",
    "Retrying in 5 seconds",
    "Cache miss for key ",
    "User logged in: ",
    "Shutting down gracefully",
    "Processed batch of ",
    "Connection refused, retrying",
    "Writing output to ",
    "Task finished with status ",
};

// Hard-wraps text at 72 columns, as READMEs and mail bodies do.
void wrapped(Corpus& c, unsigned sentences) {
    Corpus paragraph(c.next());
    writeParagraph(paragraph, sentences);
    const std::string& text = paragraph.text();
    size_t line_start = 0, last_space = std::string::npos;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') last_space = i;
        if (i - line_start >= 72 && last_space != std::string::npos && last_space > line_start) {
            out.append(text, line_start, last_space - line_start);
            out += '\n';
            line_start = last_space + 1;
            last_space = std::string::npos;
        }
    }
    out.append(text, line_start);
    c << out;
}

void prose(Corpus& c) {
    for (uint64_t i = c.between(1, 3); i; --i) {
        unsigned sentences = unsigned(c.between(2, 6));
        if (c.chance(40))
            wrapped(c, sentences);
        else
            writeParagraph(c, sentences);
        c << "\n\n";
    }
}

void markdown(Corpus& c) {
    c << (c.chance(50) ? "## " : "# ");
    writeTitle(c);
    c << "\n\n";
    writeParagraph(c, unsigned(c.between(1, 3)));
    c << "\n\n";
    for (uint64_t i = c.between(2, 5); i; --i) {
        c << "- ";
        if (c.chance(30)) c << "**" << pickNoun(c) << "**: ";
        writeSentence(c);
        c << '\n';
    }
    if (c.chance(40)) {
        c << "\nSee [the " << pickNoun(c) << " guide](https://" << pickDomain(c) << "/docs/" << pickNoun(c)
          << ") for more details, or run `" << pickNoun(c) << " --help`.\n";
    }
    c << '\n';
}

void restructured(Corpus& c) {
    Corpus title(c.next());
    writeTitle(title);
    c << title.text() << '\n' << std::string(title.size(), c.chance(50) ? '=' : '-') << "\n\n";
    writeParagraph(c, unsigned(c.between(1, 3)));
    c << "\n\n";
    for (uint64_t i = 1, n = c.between(2, 4); i <= n; ++i) {
        c << i << ". ";
        writeSentence(c);
        c << '\n';
    }
    c << '\n';
}

void logLines(Corpus& c) {
    for (uint64_t i = c.between(3, 8); i; --i) {
        Corpus stamp(c.next());
        stamp.isoTimestamp();
        std::string when = stamp.text();
        when[10] = ' ';
        when.pop_back();
        c << when << ',' << c.between(100, 999) << ' ' << c.pick(log_levels) << " [" << c.pick(log_sources) << "] "
          << c.pick(log_messages);
        if (c.chance(50)) c << c.between(1, 5000);
        c << '\n';
    }
    c << '\n';
}

}  // namespace

void writeTextSample(Corpus& c) {
    switch (c.below(10)) {
        case 0: markdown(c); break;
        case 1: restructured(c); break;
        case 2: logLines(c); break;
        default: prose(c); break;
    }
}

const std::string_view text_core =
    "The first time that he was in the world, it was one of the things that I have been, and there were "
    "many of them. It is not what you would have said, but it was a very good thing for us to do with it. "
    "They had been there for a long time, and we were able to find out about them. This is the way of the "
    "people who are going to make it, because they will be here as well as there, and he said that she "
    "could not have known. What did you think of it? There is no reason for it to be so, and so on. "
    "In the middle of the night, all of the other people in the house were asleep, which is why we should "
    "have been more careful. For example, it would be better if we had a little more time, even though "
    "the number of people who know about it is not very large. However, at the end of the day, it was the "
    "best thing that could have happened to them. Then she went back into the room and looked at him.\n\n";

}  // namespace dictgen
