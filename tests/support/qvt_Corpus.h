// The damaged files of tests/corpus that the library's tests open (README
// lines "* "; those starting "- " are qvtdb check's).
#ifndef QVT_TESTS_SUPPORT_QVT_CORPUS_H
#define QVT_TESTS_SUPPORT_QVT_CORPUS_H

#include <fstream>
#include <string>
#include <vector>

namespace qvt_test {

struct CorpusFile {
  std::string path;
  std::string answer;  // what must be answered, "<path>" replaced by path, "\\n" by a line break
};

// The files whose names end with extension, from the README lines "* <file>:
// <damage> => <answer>"; inline, as only test targets know QVT_TEST_CORPUS_DIR.
inline std::vector<CorpusFile> CorpusFiles(const std::string& extension) {
  std::vector<CorpusFile> files;
  std::ifstream readme(std::string(QVT_TEST_CORPUS_DIR) + "/README.md");
  for (std::string line; std::getline(readme, line);) {
    const std::size_t colon = line.find(": ");
    const std::size_t arrow = line.find(" => ");
    if (line.rfind("* ", 0) != 0 || colon == std::string::npos || arrow == std::string::npos ||
        colon < 2 + extension.size() || line.compare(colon - extension.size(), extension.size(), extension))
      continue;
    CorpusFile file{std::string(QVT_TEST_CORPUS_DIR) + "/" + line.substr(2, colon - 2),
                    line.substr(arrow + 4)};
    for (std::size_t at; (at = file.answer.find("<path>")) != std::string::npos;)
      file.answer.replace(at, 6, file.path);
    for (std::size_t at; (at = file.answer.find("\\n")) != std::string::npos;)
      file.answer.replace(at, 2, "\n");
    files.push_back(file);
  }
  return files;
}

}  // namespace qvt_test

#endif  // QVT_TESTS_SUPPORT_QVT_CORPUS_H
