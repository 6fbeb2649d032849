// The sample catalogue: every content file the catalogue names, drawn through our own engine
// (ladders of rectangles, footsteps as ellipses, arrows as line shapes, footstep pairs grouped
// under one parent shape; the introduction, explanation and copyright pages as a title in a
// text shape over a paragraph in a memo shape), and the four small movies written with our SWF
// writer. A demo and test fixture, not content of the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace samplecontent {

struct TSampleFile {
  std::string Name;  // bare file name
  int32_t Pages;     // pages of a document; 0 for a movie
};

// The words of a document that holds text: on every page the title and one paragraph (page p
// shows paragraph p, wrapping round when there are fewer).
struct TSampleText {
  std::string Name;  // bare file name
  std::string Title;
  std::vector<std::string> Paragraphs;
};
const std::vector<TSampleText>& SampleTexts();
// The text of the document named Name; nullptr for a drawing.
const TSampleText* FindSampleText(const std::string& Name);

// The files written: the documents in catalogue order, then the movies.
std::vector<TSampleFile> SampleFiles();

// Shape classes and the page class, as the program registers them.
void InitializeSampleContent();

// Writes every missing file (all of them with Overwrite) into Folder; returns how many it wrote.
int32_t WriteSampleCatalogue(const std::string& Folder, bool Overwrite);

// One document or one movie, by bare name (a name SampleFiles lists).
void WriteSampleDocument(const std::string& FileName, int32_t Seed, int32_t Pages);
void WriteSampleMovie(const std::string& FileName, int32_t Seed);

}  // namespace samplecontent
