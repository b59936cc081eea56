// People, places and web names shared by the kinds that carry records.
#include "corpora.h"

namespace dictgen {
namespace {

constexpr std::string_view first_names[] = {
    "James",   "Mary",  "John",    "Patricia", "Robert", "Jennifer", "Michael", "Linda", "David",  "Elizabeth",
    "William", "Susan", "Richard", "Jessica",  "Joseph", "Sarah",    "Thomas",  "Karen", "Daniel", "Emily",
    "Maria",   "Anna",  "Laura",   "Peter",    "Paul",   "Mark",     "Lucas",   "Sofia", "Chen",   "Wei",
    "Yuki",    "Hiro",  "Priya",   "Arjun",    "Fatima", "Omar",     "Lena",    "Jonas", "Emma",   "Noah",
};
constexpr std::string_view last_names[] = {
    "Smith",  "Johnson",  "Williams", "Brown",  "Jones",   "Garcia",  "Miller", "Davis",    "Rodriguez", "Martinez",
    "Wilson", "Anderson", "Taylor",   "Thomas", "Moore",   "Martin",  "Lee",    "Thompson", "White",     "Harris",
    "Clark",  "Lewis",    "Walker",   "Hall",   "Young",   "King",    "Wright", "Lopez",    "Hill",      "Scott",
    "Green",  "Adams",    "Baker",    "Nelson", "Mueller", "Schmidt", "Rossi",  "Kim",      "Wang",      "Singh",
};
constexpr std::string_view cities[] = {
    "New York", "London", "Paris",     "Berlin", "Tokyo",  "San Francisco", "Seattle", "Chicago",
    "Toronto",  "Sydney", "Amsterdam", "Madrid", "Rome",   "Vienna",        "Boston",  "Austin",
    "Dublin",   "Zurich", "Stockholm", "Oslo",   "Munich", "Barcelona",     "Denver",  "Singapore",
};
constexpr std::string_view domains[] = {
    "example.com", "example.org", "example.net", "mail.com", "gmail.com", "company.com", "test.org", "service.io",
};
constexpr std::string_view login_parts[] = {
    "dev",   "code", "data", "cloud", "web",   "net",   "byte", "pixel", "hack", "tech",
    "alpha", "beta", "star", "moon",  "river", "stone", "fox",  "wolf",  "blue", "red",
    "ops",   "labs", "bot",  "craft", "works", "smith", "io",   "dot",   "max",  "sam",
};

}  // namespace

std::string_view pickCity(Corpus& c) { return c.pick(cities); }
std::string_view pickDomain(Corpus& c) { return c.pick(domains); }

void writeFullName(Corpus& c) { c << c.pick(first_names) << ' ' << c.pick(last_names); }

void writeLogin(Corpus& c) {
    c << c.pick(login_parts);
    if (c.chance(50)) c << (c.chance(50) ? "-" : "") << c.pick(login_parts);
    if (c.chance(30)) c << c.below(100);
}

void writeSlug(Corpus& c) {
    unsigned words = unsigned(c.between(2, 4));
    for (unsigned i = 0; i < words; ++i) c << (i ? "-" : "") << pickNoun(c);
}

void writeUuid(Corpus& c) {
    c.hex(8) << '-';
    c.hex(4) << "-4";
    c.hex(3) << '-' << c.pick({"8", "9", "a", "b"});
    c.hex(3) << '-';
    c.hex(12);
}

}  // namespace dictgen
