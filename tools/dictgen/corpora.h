// The sample writers and cores of the eight built-in dictionary kinds, and
// the English and naming helpers that several kinds share.
#pragma once

#include <string_view>

#include "corpus.h"

namespace dictgen {

// ---- shared -----------------------------------------------------------------

void writeSentence(Corpus& c);
void writeParagraph(Corpus& c, unsigned sentences);  // sentences joined by spaces, no newline
void writeTitle(Corpus& c);                          // a few capitalised words
void writeFullName(Corpus& c);
void writeLogin(Corpus& c);  // lowercase user name
void writeSlug(Corpus& c);   // lowercase-with-hyphens
void writeUuid(Corpus& c);   // random version-4 form
std::string_view pickNoun(Corpus& c);
std::string_view pickCity(Corpus& c);
std::string_view pickDomain(Corpus& c);
// Writes one sample of markup re-indented by nesting depth, with a random indent unit.
void writeIndented(Corpus& c, SampleWriter sample);

// ---- kinds ------------------------------------------------------------------

void writeJsonSample(Corpus& c);
void writeHtmlSample(Corpus& c);
void writeTextSample(Corpus& c);
void writeXmlSample(Corpus& c);
void writeCssSample(Corpus& c);
void writeJsSample(Corpus& c);
void writeGeneralSample(Corpus& c);
void writeGithubUserSample(Corpus& c);

extern const std::string_view json_core;
extern const std::string_view html_core;
extern const std::string_view text_core;
extern const std::string_view xml_core;
extern const std::string_view css_core;
extern const std::string_view js_core;
extern const std::string_view general_core;
extern const std::string_view github_users_core;

}  // namespace dictgen
