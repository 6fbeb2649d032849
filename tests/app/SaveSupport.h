// Documents for the saving tests: each page is told apart by the names of its shapes, and a
// file is described by what a fresh document reads from it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "document/SingleFileStorage.h"
#include "document/dtpDocument.h"
#include "document/dtpPolygonShape.h"
#include "platform/Graphics.h"
#include "tools/ArchiveCheck.h"

namespace savetest {

// Adds a rectangle called Name to the page.
inline void AddNamedShape(document::TdtpPage* Page, const std::string& Name) {
  auto s = document::NewShape<document::TdtpRectangleShape>();
  document::TdtpShape* raw = s.get();
  Page->AddShape(std::move(s));
  raw->SetDocBounds(10, 10, 20, 20);
  raw->SetName(Name);
}

// One line per page: size, own colour or "d" for the document defaults, shape names.
inline std::string DescribePage(document::TdtpPage* Page) {
  Page->EnsureLoaded();
  std::string d = std::to_string(int(Page->DocWidth())) + "x" + std::to_string(int(Page->DocHeight()));
  d += Page->IsDefaultPage() ? " d" : " c" + std::to_string(Page->PageColor());
  d += " [";
  for (int32_t k = 0; k < Page->GetShapeCount(); ++k) d += (k ? "," : "") + Page->GetShape(k)->Name();
  return d + "]";
}

inline std::vector<std::string> Describe(document::TdtpDocument& Doc) {
  std::vector<std::string> pages;
  for (int32_t i = 0; i < Doc.PageCount(); ++i) pages.push_back(DescribePage(Doc.GetPage(i)));
  pages.push_back("pagecolor " + std::to_string(Doc.DefaultPageColor()));
  return pages;
}

// What a fresh document reads from File; a file that does not open, or whose archive has
// problems, is described by the error.
inline std::vector<std::string> DescribeFile(const std::string& File) {
  const std::vector<std::string> problems = kdcheck::CheckDocumentFile(File);
  if (!problems.empty()) return {"bad archive: " + problems.front()};
  document::TdtpComponent doc(nullptr);
  try {
    doc.LoadFromFile(File);
    return Describe(doc);
  } catch (const platform::Exception& e) {
    return {"load error: " + e.Message};
  }
}

// A document of the given pages, each holding one shape named by the page's entry, saved as File.
inline void MakeDocument(const std::string& File, const std::vector<std::string>& Pages) {
  document::TdtpComponent doc(nullptr);
  doc.Clear();
  for (const std::string& name : Pages) {
    document::TdtpPage* page = doc.GetPage(doc.AddPage(nullptr));
    AddNamedShape(page, name);
  }
  doc.SaveToFile(File);
}

inline std::string Join(const std::vector<std::string>& V) {
  std::string s;
  for (const auto& x : V) s += x + "\n";
  return s;
}

}  // namespace savetest
