// Accuracy of source-language detection on an evaluation set (bench/langid/*.tsv, made by
// make_set.py): per language, the share of texts whose source tag for prompts is right, that
// is the detected tag or, when detection yields nothing, the "en" fallback.
//
//   langid_eval [--misses] SET.tsv...
//
// Prints a Markdown table in the detector's language order and the overall figure; with
// --misses, also every wrong answer with its text.

#include <fmt/core.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "translation/detect.h"

namespace {

using namespace quorvel;

struct Case {
  std::string tag;
  std::string text;
};

struct Tally {
  int right = 0;
  int total = 0;
  std::map<std::string, int> wrong;  // answer -> count
};

// Lines "tag <TAB> catalogue <TAB> text"; lines starting with '#' are comments.
std::vector<Case> read_set(const char* path) {
  std::vector<Case> cases;
  std::ifstream in(path);
  if (!in) {
    fmt::print(stderr, "cannot read {}\n", path);
    std::exit(2);
  }
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto first = line.find('\t');
    auto second = line.find('\t', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    cases.push_back({line.substr(0, first), line.substr(second + 1)});
  }
  return cases;
}

std::string worst_confusions(const Tally& tally) {
  std::vector<std::pair<int, std::string>> sorted;
  for (const auto& [answer, count] : tally.wrong) sorted.emplace_back(count, answer);
  std::sort(sorted.rbegin(), sorted.rend());
  std::string out;
  for (std::size_t i = 0; i < sorted.size() && i < 3; ++i) {
    out += fmt::format("{}{} {}", out.empty() ? "" : ", ", sorted[i].second, sorted[i].first);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  bool misses = false;
  std::vector<Case> cases;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--misses") == 0) {
      misses = true;
      continue;
    }
    auto more = read_set(argv[i]);
    cases.insert(cases.end(), more.begin(), more.end());
  }

  std::map<std::string, Tally> tallies;
  for (const auto& c : cases) {
    std::string answer = source_tag_for({"en", std::nullopt}, c.text);
    Tally& tally = tallies[c.tag];
    ++tally.total;
    if (answer == c.tag) {
      ++tally.right;
      continue;
    }
    ++tally.wrong[answer];
    if (misses) fmt::print("miss\t{}\t{}\t{}\n", c.tag, answer, c.text);
  }

  fmt::print("| language | texts | right | accuracy | wrong answers |\n");
  fmt::print("|---|---:|---:|---:|---|\n");
  int right = 0;
  int total = 0;
  for (const auto& row : DETECTOR_LANGUAGE_TAGS) {
    auto it = tallies.find(std::string(row.tag));
    if (it == tallies.end()) continue;
    const Tally& t = it->second;
    fmt::print("| {} {} | {} | {} | {:.1f}% | {} |\n", row.tag, row.name, t.total, t.right,
               100.0 * t.right / t.total, worst_confusions(t));
    right += t.right;
    total += t.total;
  }
  if (total > 0) {
    fmt::print("| all | {} | {} | {:.1f}% | |\n", total, right, 100.0 * right / total);
  }
  return 0;
}
