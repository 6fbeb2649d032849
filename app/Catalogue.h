// The exercise catalogue: the 107 items of the main form's tree (captions are mini-HTML), and
// the rules that turn an item's absolute index (depth-first position, 0..106) into the content
// file it shows, whether it offers its movie, and which movie that is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class TTreeNodes;
}

namespace app {

constexpr int32_t CatalogueCount = 107;
constexpr int32_t ExerciseCount = 70;

struct TCatalogueItem {
  int32_t Level;     // 0 for the top-level items
  int32_t Children;  // direct children
  std::string Caption;
};

// All 107 items in depth-first order.
const std::vector<TCatalogueItem>& CatalogueItems();

// The name of exercise N (1..70) in capitals; "" outside that range. Only exercise 4's name is
// known; the others carry the placeholder "OEFENING n".
std::string ExerciseName(int32_t N);

bool CatalogueIsLeaf(int32_t Index);
// The document file of the item, a bare file name; "" outside 0..106.
std::string CatalogueContentFile(int32_t Index);
// The movie the "Video" button plays for the item; "" when it has none.
std::string CatalogueMovieFile(int32_t Index);
// True for the 80 exercise leaves (5..105): the items that offer the "Video" button.
bool CatalogueShowsVideo(int32_t Index);

// Replaces Nodes' contents with the catalogue; every node gets image indices 0 and 0.
void LoadCatalogue(platform::TTreeNodes* Nodes);

}  // namespace app
