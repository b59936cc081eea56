// English prose from common words in a handful of sentence shapes: what matters
// for matching is the words, their spacing and the glue phrases between them.
#include "corpora.h"

namespace dictgen {
namespace {

constexpr std::string_view determiners[] = {"the",  "the",   "the", "a",   "this", "that", "each", "every",
                                            "some", "their", "its", "our", "his",  "her",  "your", "another"};
constexpr std::string_view nouns[] = {
    "time",      "year",     "people",     "way",      "day",         "man",        "woman",       "child",  "world",
    "life",      "hand",     "part",       "place",    "case",        "week",       "company",     "system", "program",
    "question",  "work",     "government", "number",   "night",       "point",      "home",        "water",  "room",
    "mother",    "area",     "money",      "story",    "fact",        "month",      "right",       "study",  "book",
    "word",      "business", "issue",      "side",     "kind",        "house",      "service",     "friend", "father",
    "power",     "hour",     "game",       "line",     "end",         "member",     "law",         "car",    "city",
    "community", "name",     "team",       "minute",   "idea",        "body",       "information", "parent", "face",
    "level",     "office",   "door",       "health",   "person",      "history",    "party",       "result", "change",
    "morning",   "reason",   "research",   "moment",   "teacher",     "education",  "data",        "file",   "user",
    "value",     "process",  "report",     "market",   "problem",     "country",    "state",       "family", "group",
    "student",   "school",   "example",    "interest", "development", "experience", "order",       "form",   "model",
    "support",   "project",  "section",    "letter",   "road",        "window",     "garden",      "river",  "town",
    "street",    "evening",  "voice",      "answer",
};
constexpr std::string_view plural_nouns[] = {
    "people",   "years",     "things",  "children", "students", "users",   "files",  "results",
    "ideas",    "questions", "changes", "words",    "days",     "members", "values", "systems",
    "programs", "events",    "friends", "parents",  "hands",    "eyes",    "rooms",  "stories",
    "reasons",  "problems",  "details", "numbers",  "books",    "lines",   "groups", "others",
};
constexpr std::string_view verbs_past[] = {
    "had",     "had",      "made",    "said",     "took",    "came",    "saw",     "found",    "gave",     "told",
    "became",  "left",     "felt",    "brought",  "began",   "kept",    "held",    "wrote",    "heard",    "met",
    "paid",    "led",      "lost",    "sent",     "built",   "added",   "used",    "asked",    "worked",   "called",
    "tried",   "wanted",   "looked",  "turned",   "started", "showed",  "moved",   "lived",    "believed", "included",
    "changed", "followed", "created", "provided", "opened",  "reached", "decided", "returned",
};
constexpr std::string_view verbs_present[] = {
    "makes",     "takes",    "gives",    "finds",    "shows",    "becomes", "brings",  "keeps",
    "holds",     "provides", "includes", "allows",   "means",    "needs",   "uses",    "requires",
    "describes", "follows",  "contains", "explains", "suggests", "offers",  "creates", "changes",
};
constexpr std::string_view verbs_base[] = {
    "make",       "take",  "give", "find",   "show",   "keep",   "hold",  "provide",
    "include",    "allow", "use",  "change", "follow", "create", "open",  "build",
    "understand", "know",  "see",  "get",    "help",   "read",   "write", "consider",
};
constexpr std::string_view adjectives[] = {
    "good",   "new",    "first",   "last",      "long",  "great",   "little", "own",     "other",    "old",
    "right",  "big",    "high",    "different", "small", "large",   "next",   "early",   "young",    "important",
    "few",    "public", "same",    "able",      "local", "free",    "better", "whole",   "best",     "clear",
    "simple", "recent", "major",   "open",      "full",  "special", "easy",   "strong",  "possible", "real",
    "common", "final",  "general", "main",      "short", "similar", "single", "current",
};
constexpr std::string_view adverbs[] = {"also",    "just",    "now",     "only",     "then",   "even",
                                        "still",   "never",   "often",   "always",   "really", "already",
                                        "usually", "quickly", "finally", "probably", "almost", "again"};
constexpr std::string_view prepositions[] = {"of",     "in",    "to",      "for",     "with",   "on",
                                             "at",     "from",  "by",      "about",   "into",   "through",
                                             "after",  "over",  "between", "against", "during", "without",
                                             "before", "under", "around",  "among",   "across", "behind"};
constexpr std::string_view conjunctions[] = {"and",  "but", "because", "although", "while",
                                             "when", "if",  "so",      "since",    "until"};
constexpr std::string_view subjects[] = {"it", "he", "she", "they", "we", "you", "I"};
constexpr std::string_view openers[] = {
    "In the end, ",     "At the same time, ", "For example, ",   "On the other hand, ",
    "As a result, ",    "In addition, ",      "However, ",       "Of course, ",
    "In fact, ",        "At first, ",         "After a while, ", "Most of the time, ",
    "In other words, ", "For this reason, ",  "Even so, ",       "By the time it was over, ",
};
constexpr std::string_view phrases[] = {
    "one of the",         "a lot of",         "as well as",  "in order to",   "the rest of the", "at the end of the",
    "for the first time", "in the middle of", "most of the", "the number of", "at least",        "such as",
    "more than",          "each other",       "part of the", "as soon as",    "the same as",     "because of the",
    "in front of the",    "all of the",
};
constexpr std::string_view modals[] = {"would", "could", "should", "will", "can", "might", "must"};

std::string_view capitalised(std::string_view word, std::string& scratch) {
    scratch.assign(word);
    if (!scratch.empty() && scratch[0] >= 'a' && scratch[0] <= 'z') scratch[0] = char(scratch[0] - 'a' + 'A');
    return scratch;
}

void nounPhrase(Corpus& c) {
    std::string_view determiner = c.pick(determiners);
    std::string_view adjective = c.chance(40) ? c.pick(adjectives) : std::string_view();
    std::string_view noun = c.pick(nouns);
    char next = adjective.empty() ? noun[0] : adjective[0];
    bool vowel = std::string_view("aeiou").find(next) != std::string_view::npos;
    c << (determiner == "a" && vowel ? "an" : determiner) << ' ';
    if (!adjective.empty()) c << adjective << ' ';
    c << noun;
}

void clause(Corpus& c) {
    switch (c.below(6)) {
        case 0:
            c << c.pick(subjects) << ' ' << c.pick(verbs_past) << ' ';
            nounPhrase(c);
            break;
        case 1:
            nounPhrase(c);
            c << ' ' << c.pick(verbs_present) << ' ' << c.pick(phrases) << ' ' << c.pick(nouns);
            break;
        case 2:
            c << c.pick(subjects) << ' ' << c.pick(modals) << ' ' << c.pick(verbs_base) << ' ';
            nounPhrase(c);
            break;
        case 3:
            c << "the " << c.pick(plural_nouns) << ' ' << c.pick(verbs_past) << ' ' << c.pick(prepositions) << ' ';
            nounPhrase(c);
            break;
        case 4:
            c << c.pick(subjects) << ' ' << c.pick(adverbs) << ' ' << c.pick(verbs_past) << " that ";
            nounPhrase(c);
            c << " was " << c.pick(adjectives);
            break;
        default:
            c << "there was ";
            nounPhrase(c);
            c << ' ' << c.pick(prepositions) << ' ';
            nounPhrase(c);
            break;
    }
}

}  // namespace

std::string_view pickNoun(Corpus& c) { return c.pick(nouns); }

void writeSentence(Corpus& c) {
    // Build in a scratch corpus so the first letter can be capitalised.
    Corpus sentence(c.next());
    if (sentence.chance(25)) sentence << sentence.pick(openers);
    clause(sentence);
    if (sentence.chance(50)) {
        sentence << ' ' << sentence.pick(prepositions) << ' ';
        nounPhrase(sentence);
    }
    if (sentence.chance(40)) {
        sentence << (sentence.chance(50) ? ", " : " ") << sentence.pick(conjunctions) << ' ';
        clause(sentence);
    }
    sentence << (sentence.below(12) == 0 ? '?' : '.');
    std::string scratch;
    c << capitalised(sentence.text(), scratch);
}

void writeParagraph(Corpus& c, unsigned sentences) {
    for (unsigned i = 0; i < sentences; ++i) {
        if (i) c << ' ';
        writeSentence(c);
    }
}

void writeTitle(Corpus& c) {
    std::string scratch;
    unsigned words = unsigned(c.between(2, 5));
    for (unsigned i = 0; i < words; ++i) {
        if (i) c << ' ';
        std::string_view word = c.chance(40) ? c.pick(adjectives) : c.pick(nouns);
        c << capitalised(word, scratch);
    }
}

}  // namespace dictgen
