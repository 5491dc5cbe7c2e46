#pragma once
// "Did you mean": the nearest of a few known words to one the user typed.
#include <string>
#include <vector>

namespace zentrova::cli {

// The choice nearest to `typed` (compared without case) when it is near enough to be a slip of
// the fingers: at most two edits, and fewer than half the word's letters; "" otherwise.
std::string NearestChoice(const std::string& typed, const std::vector<std::string>& choices);

// " (did you mean \"convert\"?)", or "" when nothing is near.
std::string DidYouMean(const std::string& typed, const std::vector<std::string>& choices);

// The word in lower case (ASCII letters only).
std::string LowerCase(std::string word);

}  // namespace zentrova::cli
