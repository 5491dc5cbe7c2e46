#include "cli/Suggest.h"

#include <algorithm>
#include <cctype>

namespace zentrova::cli {
namespace {

// Edits (insertions, deletions, substitutions, swaps of neighbours) that turn `a` into `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::string LowerCase(std::string word) {
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

std::string NearestChoice(const std::string& typed, const std::vector<std::string>& choices) {
  const std::string word = LowerCase(typed);
  std::string best;
  size_t bestDistance = 3;
  for (const std::string& choice : choices) {
    const size_t distance = EditDistance(word, LowerCase(choice));
    if (distance < bestDistance && distance * 2 < std::max(word.size(), choice.size())) {
      best = choice;
      bestDistance = distance;
    }
  }
  return best;
}

std::string DidYouMean(const std::string& typed, const std::vector<std::string>& choices) {
  const std::string near = NearestChoice(typed, choices);
  return near.empty() ? std::string() : " (did you mean \"" + near + "\"?)";
}

}  // namespace zentrova::cli
